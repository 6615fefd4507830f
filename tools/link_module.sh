#!/usr/bin/env bash
# The one recipe for a resource-only fingerprint module: compiles a resource
# script and links its resources into a DLL with no code, no imports and the
# resource section alone. The sample game's build, make_module.sh and the
# end-to-end tests all make their modules here.
#
#   bash tools/link_module.sh SCRIPT.rc OUT.dll
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -ne 2 ]; then
  sed -n '2,7p' "$0" >&2
  exit 2
fi
script=$1
out=$2
object=$(mktemp --suffix=.o)
trap 'rm -f "$object"' EXIT
i686-w64-mingw32-windres -c 65001 -O coff "$script" "$object"
mkdir -p "$(dirname "$out")"
# No time stamp and a fixed base (the linker would otherwise derive one from
# the output's name): the same records give the same module in any folder.
i686-w64-mingw32-gcc -shared -nostdlib -s -Wl,-e,0 -Wl,--subsystem,windows -Wl,--no-insert-timestamp \
  -Wl,--image-base,0x10000000 -Wl,-T,"$root/tools/resource_only.ld" "$object" -o "$out"
