#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine, and
# makes sure this machine can start Wine's 32-bit side (see below).
# Quick, and silent but for one line, when everything is already there.
#
#   bash tools/setup.sh                  installs; emulates i386 only where the kernel cannot run it
#   bash tools/setup.sh --emulate-i386   also runs i386 programs through qemu where the kernel could
#   bash tools/setup.sh --native-i386    removes that again (refused where the kernel cannot run i386)
set -euo pipefail

i386_choice=""
for arg in "$@"; do
  case "$arg" in
    --emulate-i386) i386_choice=emulated ;;
    --native-i386) i386_choice=native ;;
    *) echo "setup: unknown option $arg (known: --emulate-i386, --native-i386)" >&2; exit 2 ;;
  esac
done

need_pkgs=(
  cmake g++ make libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine32:i386 wine64 fonts-wine xvfb xdotool x11-utils imagemagick
  fonts-ipafont-gothic locales python3 osslsigncode openssl
  zstd dpkg-dev nsis
)

missing=()
for p in "${need_pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Wine needs a Japanese locale so that the "A" functions use code page 932,
# and an English one for the tests of a system set to another code page.
for loc in ja_JP en_US; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc}.utf8\$"; then
    echo "setup: generating ${loc}.UTF-8 locale" >&2
    $SUDO sed -i "s/^# *${loc}.UTF-8 UTF-8/${loc}.UTF-8 UTF-8/" /etc/locale.gen
    grep -q "^${loc}.UTF-8 UTF-8" /etc/locale.gen || echo "${loc}.UTF-8 UTF-8" | $SUDO tee -a /etc/locale.gen >/dev/null
    $SUDO locale-gen >/dev/null
  fi
done

# zstd's reference library, from Debian's own source package: the updater
# links its decompression sources (cmake/zstd.cmake), the build's encoder is
# the zstd package above. apt is given a source list, lists and cache of its
# own, so the machine's sources stay as they are; the main suite serves
# sources (the security pool does not). apt checked the files against the
# suite's signed index, so dpkg-source need not check the upload's signature.
deps=${UPDATER_DEPS_DIR:-/var/cache/updater-deps}
zstd_version=1.5.4+dfsg2-5
zstd_dir="$deps/zstd-${zstd_version%%-*}"
if [ ! -f "$zstd_dir/lib/zstd.h" ]; then
  echo "setup: fetching Debian's zstd $zstd_version source into $deps" >&2
  apt_dir="$deps/apt"
  $SUDO mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
  echo "deb-src http://deb.debian.org/debian bookworm main" | $SUDO tee "$apt_dir/sources.list" >/dev/null
  apt_own=(-o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=-
           -o Dir::State::Lists="$apt_dir/lists" -o Dir::Cache="$apt_dir/cache"
           -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache= -o APT::Sandbox::User=root)
  $SUDO apt-get "${apt_own[@]}" update -qq
  work=$(mktemp -d)
  (cd "$work" && $SUDO apt-get "${apt_own[@]}" source -qq --only-source --download-only "libzstd=$zstd_version" >/dev/null &&
     $SUDO dpkg-source -q --no-check -x libzstd_*.dsc zstd >/dev/null)
  $SUDO rm -rf "$zstd_dir"
  $SUDO mv "$work/zstd" "$zstd_dir"
  $SUDO rm -rf "$work"
fi

# Wine's 32-bit side is an i386 Linux program. Some kernels have their 32-bit
# support switched off ("Exec format error" for every i386 program); there
# Debian's qemu-user-static runs it, registered with binfmt_misc, with Wine's
# preloader, without which every start spends a minute probing the address
# space. binfmt_misc is asked before the kernel's own loader, so on a kernel
# that runs i386 itself the emulator is registered only when asked for.
binfmt=/proc/sys/fs/binfmt_misc
handler="$binfmt/qemu-i386"
i386_probe=/lib/ld-linux.so.2
qemu=/usr/bin/qemu-i386-static
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

handler_enabled() { [ -f "$handler" ] && head -n1 "$handler" | grep -qx enabled; }

# Once the handler is on, every i386 start succeeds through it, so the
# kernel is asked with the handler switched off for the instant of the probe.
kernel_runs_i386() {
  local was_on=0 status=0
  if handler_enabled; then was_on=1; echo 0 | $SUDO tee "$handler" >/dev/null; fi
  "$i386_probe" --version >/dev/null 2>&1 || status=$?
  if [ "$was_on" = 1 ]; then echo 1 | $SUDO tee "$handler" >/dev/null; fi
  return "$status"
}

install_emulator() {
  local need=()
  for p in qemu-user-static wine32-preloader:i386; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || need+=("$p")
  done
  if [ ${#need[@]} -gt 0 ]; then
    echo "setup: installing ${need[*]}" >&2
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
  fi
  if [ ! -e "$binfmt/register" ]; then
    $SUDO mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null || {
      echo "setup: cannot mount binfmt_misc on $binfmt, which running i386 programs through $qemu needs" >&2
      exit 1
    }
  fi
}

# Prints what it did; returns 1 when it changed nothing.
register_emulator() {
  if [ -f "$handler" ] && grep -qx "interpreter $qemu" "$handler"; then
    if handler_enabled; then return 1; fi
    echo 1 | $SUDO tee "$handler" >/dev/null
    return 0
  fi
  if [ -f "$handler" ]; then echo -1 | $SUDO tee "$handler" >/dev/null; fi
  echo ":qemu-i386:M::$i386_magic:$i386_mask:$qemu:FOC" | $SUDO tee "$binfmt/register" >/dev/null
}

unregister_emulator() {
  [ -f "$handler" ] || return 1
  echo -1 | $SUDO tee "$handler" >/dev/null
}

if kernel_runs_i386; then
  case "$i386_choice" in
    emulated)
      install_emulator
      if register_emulator; then
        echo "setup: i386 programs now run through $qemu, as asked, although this kernel runs them itself (--native-i386 undoes it)" >&2
      else
        echo "setup: i386 programs already run through $qemu, as asked; nothing changed" >&2
      fi ;;
    native)
      if unregister_emulator; then
        echo "setup: removed the $qemu handler: i386 programs run natively again" >&2
      else
        echo "setup: i386 programs already run natively; nothing changed" >&2
      fi ;;
    *)
      if handler_enabled; then
        echo "setup: i386 programs run through $qemu, chosen earlier with --emulate-i386 (this kernel could run them; --native-i386 removes it)" >&2
      else
        echo "setup: this kernel runs i386 programs natively; no emulator needed" >&2
      fi ;;
  esac
else
  if [ "$i386_choice" = native ]; then
    echo "setup: this kernel cannot start i386 programs (Exec format error), so --native-i386 cannot be honoured" >&2
    exit 1
  fi
  install_emulator
  if register_emulator; then
    echo "setup: this kernel cannot start i386 programs (Exec format error): registered $qemu for them with binfmt_misc" >&2
  else
    echo "setup: this kernel cannot start i386 programs; they run through $qemu, already registered; nothing changed" >&2
  fi
fi
if ! "$i386_probe" --version >/dev/null 2>&1; then
  echo "setup: i386 programs cannot start on this machine, natively or through $qemu ($i386_probe fails): Wine's 32-bit side cannot run" >&2
  exit 1
fi
