#!/usr/bin/env bash
# Makes one game's UpDate.exe from its description file (see sample/update.ini):
# checks the description, builds in a tree of its own, refuses a payload whose
# fingerprint module does not describe its game executable, signs when a
# certificate is given, and prints a summary.
#
#   bash tools/make_update.sh DESCRIPTION.ini [--tree DIR] [--payload DIR] [--flush-slice BYTES]
#
#   --tree DIR     the build tree (default: build-NAME in the current folder,
#                  NAME being the description's file name without .ini);
#                  the result is DIR/UpDate.exe
#   --payload DIR  take the payload files from DIR instead of the
#                  description's Folder
#   --flush-slice BYTES
#                  flush each new file every BYTES written instead of every
#                  64 MiB (a test's small files then go in many slices)
#
# Signing (optional): UPDATE_SIGN_PKCS12 names a PKCS#12 file with the
# code-signing certificate and its key, UPDATE_SIGN_PASSWORD holds its
# password. The signature is checked with osslsigncode against the
# certificates in that file, or against UPDATE_SIGN_CAFILE when set. The
# unsigned build's bytes depend only on the inputs; the signed file's also
# on the signing time, which SOURCE_DATE_EPOCH (seconds since 1970) fixes.
# Needs fptool (tools/build.sh builds it into build/native/bin; FPTOOL=...
# names another one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
fptool=${FPTOOL:-${UPDATER_BUILD_DIR:-$root/build}/native/bin/fptool}

usage() { sed -n '2,25p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
# Always given, so that a tree built before with another slice forgets it.
description="" tree="" payload="" slice_args=(-DUPDATE_FLUSH_SLICE_BYTES=)
while [ $# -gt 0 ]; do
  case "$1" in
    --tree) [ $# -ge 2 ] || usage; tree=$2; shift 2 ;;
    --payload) [ $# -ge 2 ] || usage; payload=$2; shift 2 ;;
    --flush-slice) [ $# -ge 2 ] || usage; slice_args=(-DUPDATE_FLUSH_SLICE_BYTES="$2"); shift 2 ;;
    -h|--help) usage ;;
    -*) echo "make_update: unknown option $1" >&2; usage ;;
    *) [ -z "$description" ] || usage; description=$1; shift ;;
  esac
done
[ -n "$description" ] || usage
[ -f "$description" ] || { echo "make_update: $description: no such file" >&2; exit 1; }
[ -x "$fptool" ] || { echo "make_update: $fptool not found; run tools/build.sh first" >&2; exit 1; }
if [ -n "${UPDATE_SIGN_PKCS12:-}" ]; then
  [ -f "$UPDATE_SIGN_PKCS12" ] || { echo "make_update: UPDATE_SIGN_PKCS12: $UPDATE_SIGN_PKCS12: no such file" >&2; exit 1; }
  command -v osslsigncode >/dev/null || { echo "make_update: osslsigncode is missing (tools/setup.sh)" >&2; exit 1; }
fi

description=$(realpath "$description")
tool=(python3 "$root/tools/update_description.py")
payload_args=()
if [ -n "$payload" ]; then payload_args=(--payload-dir "$(realpath -m "$payload")"); fi
# Nothing is built from a bad description.
"${tool[@]}" check "$description" "${payload_args[@]}"
show=$("${tool[@]}" show "$description" "${payload_args[@]}")
folder=$(sed -n 's/^folder=//p' <<<"$show")
number=$(sed -n 's/^number=//p' <<<"$show")
whole_files=$(sed -n 's/^wholefiles=//p' <<<"$show")
compression=$(sed -n 's/^compression=//p' <<<"$show")

name=$(basename "$description")
tree=$(realpath -m "${tree:-build-${name%.*}}")
windows="$tree/windows"
mkdir -p "$tree"
echo "make_update: building $name in $tree" >&2
cmake -S "$root" -B "$windows" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DFPTOOL="$fptool" \
  -DUPDATE_DESCRIPTION="$description" -DUPDATE_PAYLOAD_DIR="$folder" "${slice_args[@]}" >"$tree/configure.log" 2>&1 ||
  { cat "$tree/configure.log" >&2; exit 1; }
if ! cmake --build "$windows" -j 2 --target UpDate >"$tree/build.log" 2>&1; then
  # The payload check's own words say what is wrong.
  grep -v '^\[\|^make\|^gmake' "$tree/build.log" >&2 || cat "$tree/build.log" >&2
  echo "make_update: not built (the whole log: $tree/build.log)" >&2
  exit 1
fi
built="$windows/bin/UpDate.exe"
out="$tree/UpDate.exe"
rm -f "$out"

signed="no (no UPDATE_SIGN_PKCS12 given)"
if [ -n "${UPDATE_SIGN_PKCS12:-}" ]; then
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  printf '%s' "${UPDATE_SIGN_PASSWORD:-}" >"$work/pass"
  # The signature records when it was made; SOURCE_DATE_EPOCH fixes that
  # time, and with it the signed file's bytes.
  when=()
  if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then when=(-time "$SOURCE_DATE_EPOCH"); fi
  osslsigncode sign -pkcs12 "$UPDATE_SIGN_PKCS12" -readpass "$work/pass" -h sha256 "${when[@]}" \
    -in "$built" -out "$out" >"$work/sign.log" 2>&1 || { cat "$work/sign.log" >&2; exit 1; }
  cafile=${UPDATE_SIGN_CAFILE:-}
  if [ -z "$cafile" ]; then
    cafile="$work/certificates.pem"
    openssl pkcs12 -in "$UPDATE_SIGN_PKCS12" -passin "file:$work/pass" -nokeys -out "$cafile" 2>"$work/pkcs12.log" ||
      { cat "$work/pkcs12.log" >&2; exit 1; }
  fi
  if ! osslsigncode verify -in "$out" -CAfile "$cafile" >"$work/verify.log" 2>&1; then
    cat "$work/verify.log" >&2
    echo "make_update: the signed file does not verify against $cafile" >&2
    rm -f "$out"
    exit 1
  fi
  # Signing adds the signature after the image and changes nothing in it but
  # the header's checksum and the certificate table's place.
  python3 "$root/tools/pe_signed.py" "$built" "$out"
  subject=$(openssl pkcs12 -in "$UPDATE_SIGN_PKCS12" -passin "file:$work/pass" -nokeys -clcerts 2>/dev/null |
            openssl x509 -noout -subject -nameopt oneline 2>/dev/null | sed 's/^subject= *//')
  signed="yes, by ${subject:-the certificate in $UPDATE_SIGN_PKCS12} (osslsigncode verify: ok)"
else
  cp "$built" "$out"
fi

size_of() { stat -c %s "$1"; }
sha_of() { sha256sum "$1" | cut -d' ' -f1; }
echo "UpDate.exe:    $out"
echo "size:          $(size_of "$out") bytes"
echo "SHA-256:       $(sha_of "$out")"
echo "update number: $number"
echo "signed:        $signed"
if [ -n "${UPDATE_SIGN_PKCS12:-}" ]; then
  echo "unsigned:      $built ($(size_of "$built") bytes, SHA-256 $(sha_of "$built"))"
fi
if [ "$compression" = zstd ]; then
  # Both ends of the compression, for a colleague who builds the same bytes.
  encoder=$(zstd --version | sed -n 's/.* v\([0-9][0-9.]*\).*/\1/p')
  zstd_source=$(sed -n 's/^ZSTD_SOURCE_DIR:PATH=//p' "$windows/CMakeCache.txt")
  decoder=$(sed -n 's/^#define ZSTD_VERSION_\(MAJOR\|MINOR\|RELEASE\) *\([0-9]*\).*/\2/p' "$zstd_source/lib/zstd.h" | paste -sd.)
  echo "compression:   zstd: each file one frame, level 19, 8 MiB window, one thread;"
  echo "               encoder zstd $encoder (the build machine's), decoder $decoder ($zstd_source)"
else
  echo "compression:   none (files stored whole)"
fi
echo "payload (written in this order):"
if [ "$compression" = zstd ]; then
  printf '  %-24s %12s %12s %7s  %s\n' "file" "bytes" "compressed" "ratio" "record"
else
  printf '  %-24s %12s  %s\n' "file" "bytes" "record"
fi
while IFS=$'\t' read -r entry path; do
  if [ "$compression" = zstd ]; then
    resource=$(basename "${entry//\\//}" | tr '[:lower:]' '[:upper:]')
    frame="$windows/generated/frames/$resource.zst"
    if [ -f "$frame" ]; then
      printf '  %-24s %12s %12s %7s  %s\n' "$entry" "$(size_of "$path")" "$(size_of "$frame")" \
        "$(awk -v a="$(size_of "$frame")" -v b="$(size_of "$path")" 'BEGIN { printf "%.3f", b ? a / b : 1 }')" \
        "$("$fptool" record "$path")"
    else  # the entry list travels stored; a file of deltas only, as its deltas
      how=stored
      if [ "$whole_files" = no ] && grep -q "^earlier=${entry//\\/\\\\}"$'\t' <<<"$show"; then how=deltas; fi
      printf '  %-24s %12s %12s %7s  %s\n' "$entry" "$(size_of "$path")" "$how" "" "$("$fptool" record "$path")"
    fi
    continue
  fi
  printf '  %-24s %12s  %s\n' "$entry" "$(size_of "$path")" "$("$fptool" record "$path")"
done < <(sed -n 's/^file=//p' <<<"$show")
if grep -q '^earlier=' <<<"$show"; then
  bash "$root/tools/delta_summary.sh" "$windows" "$compression" <<<"$show"
fi
