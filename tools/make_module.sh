#!/usr/bin/env bash
# Makes a game's fingerprint module: a resource-only DLL that carries the
# text record of each FILE (named after the file, as the updater looks them
# up) and the module's stamped record of itself; then checks the result.
#
#   bash tools/make_module.sh OUT.dll FILE...
#
# Needs the MinGW tools (tools/setup.sh) and fptool (tools/build.sh builds it
# into build/native/bin; FPTOOL=... names another one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fptool=${FPTOOL:-${UPDATER_BUILD_DIR:-$root/build}/native/bin/fptool}

if [ $# -lt 2 ]; then
  sed -n '2,10p' "$0" >&2
  exit 2
fi
out=$1
shift
[ -x "$fptool" ] || { echo "make_module: $fptool not found; run tools/build.sh first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

{
  echo '#pragma code_page(65001)'
  echo 'LANGUAGE 0x11, 0x1'
  n=0
  for file in "$@"; do
    name=$(basename "$file")
    case "$name" in
      *[!A-Za-z0-9._-]*) echo "make_module: $name: record names are letters, digits, '.', '_' and '-'" >&2; exit 1 ;;
    esac
    "$fptool" record "$file" "$work/$n.record"
    echo "$name RCDATA \"$work/$n.record\""
    n=$((n + 1))
  done
  # "/**/", then the window start, the sum and the xor (stamped below), then 16 zero bytes.
  echo 'RESOURCE.dll RCDATA'
  echo 'BEGIN'
  echo '  "/**/", 0L, 0L, 0L, 0L, 0L, 0L, 0L'
  echo 'END'
} > "$work/module.rc"

i686-w64-mingw32-windres -c 65001 -O coff "$work/module.rc" "$work/module.o"
mkdir -p "$(dirname "$out")"
i686-w64-mingw32-gcc -shared -nostdlib -s -Wl,-e,0 -Wl,--subsystem,windows -Wl,--no-insert-timestamp \
  -Wl,-T,"$root/tools/resource_only.ld" "$work/module.o" -o "$out"
"$fptool" stamp "$out"
"$fptool" check "$out" "$@"
