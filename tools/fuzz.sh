#!/usr/bin/env bash
# Builds the libFuzzer targets in fuzz/ with clang into build/fuzz and runs
# each, one after another, for SECONDS (default 60) on a working copy of its
# committed corpus (so the committed corpus changes only by hand). Prints
# each target's executions and coverage. Any crash fails the run; the
# crashing input is kept under fuzz/regressions/<target>/, where the replay
# test in the native build picks it up.
#   bash tools/fuzz.sh [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=$(realpath -m "${UPDATER_BUILD_DIR:-$root/build}")/fuzz

need_pkgs=(cmake make clang libclang-rt-14-dev)
missing=()
for p in "${need_pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
  echo "fuzz: installing ${missing[*]}" >&2
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# zstd is C: both compilers must be clang for -fsanitize=fuzzer-no-link.
cmake -S "$root/fuzz" -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j 2

targets=$(sed -n 's/^set(FUZZ_TARGETS \(.*\))$/\1/p' "$root/fuzz/targets.cmake")
failed=()
for t in $targets; do
  work="$build/work/$t"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp "$root/fuzz/corpus/$t"/* "$work/corpus/"
  # Kept crashes seed the run too: they must not crash any more.
  if [ -d "$root/fuzz/regressions/$t" ]; then cp "$root/fuzz/regressions/$t"/* "$work/corpus/" 2>/dev/null || true; fi
  log="$work/fuzz.log"
  status=0
  nice -n 10 "$build/fuzz_$t" -max_total_time="$seconds" -timeout=30 -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$work/artifacts/" "$work/corpus" >"$log" 2>&1 || status=$?
  final=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
  [ -n "$final" ] || final=$(grep -E '^#[0-9]+[[:space:]]' "$log" | tail -n 1 || true)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$final")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$final")
  crashes=$(find "$work/artifacts" -type f | wc -l)
  printf 'fuzz_%-18s execs: %-10s cov: %-6s ft: %-7s crashes: %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$crashes"
  if [ "$status" -ne 0 ] || [ "$crashes" -gt 0 ]; then
    failed+=("$t")
    mkdir -p "$root/fuzz/regressions/$t"
    for f in "$work/artifacts"/*; do
      [ -f "$f" ] && cp "$f" "$root/fuzz/regressions/$t/"
    done
    echo "fuzz_$t failed (exit $status); inputs kept in fuzz/regressions/$t; log: $log" >&2
    grep -E 'ERROR|runtime error|check failed|SUMMARY' "$log" | head -n 20 >&2 || true
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: failures in ${failed[*]}" >&2
  exit 1
fi
