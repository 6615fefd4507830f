#!/usr/bin/env bash
# Installs what is missing, builds both trees and runs every test: the
# native unit tests and the end-to-end tests of UpDate.exe under Wine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${UPDATER_BUILD_DIR:-$root/build}")
bash "$root/tools/build.sh"
# The fault tests fill a small drive with the demonstration's large payload.
cmake --build "$build/windows" --target UpDateDemo >/dev/null
ctest --test-dir "$build/native" --output-on-failure -j 2 "$@"
# The native tests once more under AddressSanitizer and UndefinedBehaviorSanitizer.
UPDATER_BUILD_DIR="$build" bash "$root/tools/sanitize.sh"
