#!/usr/bin/env bash
# Prints the benchmarks' figures (it asserts nothing):
#  1. the checksum beside a plain vectorised read of the same buffers, native
#     (Google Benchmark) and as the shipped 32-bit program runs it, under Wine;
#  2. the whole update run under Wine (192 MiB and 768 MiB) beside a plain and
#     a durable copy of the same bytes and the floor of its window refresh,
#     and the peak memory of verifying a 1 GiB game executable;
#  3. on real program code (Wine's 32-bit DLLs), UpDate.exe stored and
#     compressed beside an NSIS LZMA installer of the same bytes: sizes,
#     runs, limits (run / limit per round too), the longest the progress
#     window kept a caller waiting, peak memory (bench/run_bench.py says
#     how; --before TREE runs another tree's builds in the same rounds);
#  4. deltas on a real pair of consecutive builds of one large library from
#     Debian's package lists: the sizes of the stored, compressed and delta
#     builds, the delta update's run beside its limit, and its memory
#     (bench/delta_bench.py).
# Arguments go to bench/run_bench.py (e.g. --rounds 3, --only realcode).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${UPDATER_BUILD_DIR:-$root/build}")
bash "$root/tools/build.sh" >/dev/null
cmake --build "$build/windows" --target UpDateDemo UpDateBench768 copy_file process_memory pump_floor checksum_bench_plain \
  decode_frame >/dev/null

echo "== checksum, native 64-bit =="
"$build/native/bin/checksum_bench" --benchmark_min_time=0.3 --benchmark_repetitions=5 \
  --benchmark_enable_random_interleaving=true --benchmark_format=console 2>/dev/null | sed -n '/^buffer/,$p'
echo
echo "== checksum, 32-bit Windows program under Wine =="
mkdir -p "$build/bench"
WINEPREFIX="$build/bench/wine-plain" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  wine "$build/windows/bench/checksum_bench_plain.exe" 2>/dev/null >"$build/bench/checksum_plain.txt" &
bench_pid=$!
# Read off the running program (wine execs its loader, or the emulator, in
# the same process): under an i386 emulator these times mean little.
sleep 1
echo "(checksum_bench_plain.exe runs as: $(readlink "/proc/$bench_pid/exe" 2>/dev/null || echo "ended before it could be read"))"
wait "$bench_pid"
cat "$build/bench/checksum_plain.txt"
echo
echo "== whole update run under Wine =="
/usr/bin/python3 "$root/bench/run_bench.py" "$@"
echo
echo "== deltas on a real pair of consecutive builds, under Wine =="
cmake --build "$build/windows" --target decode_delta decode_frame copy_file process_memory pump_floor >/dev/null
/usr/bin/python3 "$root/bench/delta_bench.py"
