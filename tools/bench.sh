#!/usr/bin/env bash
# Builds the native tree and prints the checksum benchmark: throughput of the
# checksum beside a plain vectorised read of the same buffers, and their ratio.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/tools/build.sh" >/dev/null
"$(realpath -m "${UPDATER_BUILD_DIR:-$root/build}")/native/bin/checksum_bench" --benchmark_min_time=0.5 "$@"
# The whole run under Wine: the update beside a plain copy, and peak memory.
cmake --build "$(realpath -m "${UPDATER_BUILD_DIR:-$root/build}")/windows" --target UpDateDemo copy_file process_memory >/dev/null
/usr/bin/python3 "$root/bench/run_bench.py"
