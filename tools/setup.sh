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
