#!/usr/bin/env bash
# The main job: builds UpDate.exe (and the demonstration build, whose payload
# is large enough for the progress window to be seen), then updates the
# sample game's old version under Wine and prints the whole dialogue.
# Options go to tools/demo.py (e.g. --interactive, --pictures DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${UPDATER_BUILD_DIR:-$root/build}")
bash "$root/tools/build.sh" >/dev/null
cmake --build "$build/windows" --target UpDateDemo >/dev/null
exec /usr/bin/python3 "$root/tools/demo.py" "$@"
