#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine.
# Quick and silent when everything is already there.
set -euo pipefail

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
