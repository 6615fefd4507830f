#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian 12 machine.
# Quick and silent when everything is already there.
set -euo pipefail

need_pkgs=(
  cmake g++ make libgtest-dev libbenchmark-dev
  g++-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine32:i386 wine64 fonts-wine xvfb xdotool x11-utils imagemagick
  fonts-ipafont-gothic locales python3 osslsigncode openssl
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

# Wine needs a Japanese locale so that the "A" functions use code page 932.
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  echo "setup: generating ja_JP.UTF-8 locale" >&2
  $SUDO sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
