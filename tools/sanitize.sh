#!/usr/bin/env bash
# Builds the native tree once more under AddressSanitizer and
# UndefinedBehaviorSanitizer (build/asan) and runs every test but the
# end-to-end ones, which run the Windows programs under Wine. Fails on any
# failing test and on any sanitizer report, including one from a program a
# test runs and expects to fail.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${UPDATER_BUILD_DIR:-$root/build}")
asan="$build/asan"
jobs=${SANITIZE_JOBS:-2}

bash "$root/tools/setup.sh"
# The tests that check the sample game read it from the Windows tree.
if [ ! -f "$build/windows/bin/UpDate.exe" ]; then bash "$root/tools/build.sh"; fi

reports="$asan/sanitizer-reports"
rm -rf "$reports"
mkdir -p "$reports"
# Reports go to files (the program still fails), so that a report from a
# program whose failure a test expects is not lost.
export ASAN_OPTIONS="log_path=$reports/asan:halt_on_error=1:detect_leaks=1:strict_string_checks=1"
ASAN_OPTIONS+=":detect_stack_use_after_return=1"
export UBSAN_OPTIONS="log_path=$reports/ubsan:halt_on_error=1:print_stacktrace=1"

flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S "$root" -B "$asan" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DWINDOWS_BUILD_DIR="$build/windows" >/dev/null
# Everything, so that every test ctest lists has its program: the unit
# tests, the tool's tests and the fuzz corpus replay.
cmake --build "$asan" -j "$jobs"

status=0
ctest --test-dir "$asan" --output-on-failure -j "$jobs" -E '^e2e_' || status=$?

if compgen -G "$reports/*" >/dev/null; then
  echo "sanitize: sanitizer reports:" >&2
  cat "$reports"/* >&2
  status=1
fi
exit "$status"
