#!/usr/bin/env bash
# Runs every native unit test in a process of its own with the simulation's
# trace on (SIM_TRACE), one file per test in OUT_DIR: what each test made the
# simulated system do (file operations, writes, boxes, events, pumps,
# allocation sizes). Two builds' traces compare with `diff -r`.
#   bash tools/sim_trace.sh OUT_DIR [NATIVE_BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "$1")
native=$(realpath -m "${2:-${UPDATER_BUILD_DIR:-$root/build}/native}")
mkdir -p "$out"
export UPDATER_WINDOWS_BUILD_DIR="${UPDATER_WINDOWS_BUILD_DIR:-$(dirname "$native")/windows}"
for program in unit_tests unit_tests_added_file; do
  binary="$native/bin/$program"
  [ -x "$binary" ] || binary="$native/$program"
  suite=""
  while IFS= read -r line; do
    case "$line" in
      " "*) name="${suite}${line#  }"; name="${name%%  #*}"
            file="$out/$program.${name//\//_}.trace"
            rm -f "$file"
            SIM_TRACE="$file" "$binary" --gtest_filter="$name" >/dev/null 2>&1 || echo "FAILED: $program $name" >&2
            touch "$file" ;;
      *) suite="$line" ;;
    esac
  done < <("$binary" --gtest_list_tests)
done
echo "$(ls "$out" | wc -l) traces in $out"
