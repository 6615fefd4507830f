#!/usr/bin/env bash
# The deltas part of make_update.sh's summary: per payload file, the whole
# file as the build carries it (or that it carries deltas only), then each
# earlier version it carries a delta for, with the delta's size.
#
#   tools/delta_summary.sh WINDOWS_TREE COMPRESSION < (update_description.py show's output)
set -euo pipefail
windows=$1
compression=$2
show=$(cat)
size_of() { stat -c %s "$1"; }
whole_files=$(sed -n 's/^wholefiles=//p' <<<"$show")
encoder=$(zstd --version | sed -n 's/.* v\([0-9][0-9.]*\).*/\1/p')
echo "deltas:        zstd --patch-from, level 19, one thread, encoder zstd $encoder (the build machine's);"
echo "               the run writes a file from the delta made against the version installed,"
if [ "$whole_files" = no ]; then
  echo "               and stops before asking anything when it holds none of them (WholeFiles=no)"
else
  echo "               else from the whole file"
fi
printf '  %-24s %12s  %s\n' "file" "bytes" "carried as"
previous=""
while IFS=$'\t' read -r entry number earlier; do
  resource=$(basename "${entry//\\//}" | tr '[:lower:]' '[:upper:]')
  if [ "$entry" != "$previous" ]; then
    path=$(sed -n "s/^file=${entry//\\/\\\\}\t//p" <<<"$show")
    frame="$windows/generated/frames/$resource.zst"
    if [ "$whole_files" = no ]; then
      printf '  %-24s %12s  %s\n' "$entry" "-" "no whole file (deltas only; $(size_of "$path") bytes new)"
    elif [ "$compression" = zstd ] && [ -f "$frame" ]; then
      printf '  %-24s %12s  %s\n' "$entry" "$(size_of "$frame")" "whole file, compressed ($(size_of "$path") bytes)"
    else
      printf '  %-24s %12s  %s\n' "$entry" "$(size_of "$path")" "whole file, stored"
    fi
    previous=$entry
  fi
  delta="$windows/generated/deltas/$resource.delta$number"
  printf '  %-24s %12s  %s\n' "  delta $number" "$(size_of "$delta")" "against $earlier ($(size_of "$earlier") bytes)"
done < <(sed -n 's/^earlier=//p' <<<"$show")
