#!/usr/bin/env bash
# Fetches, once, a real pair the delta benchmark measures: two consecutive
# builds of one large program library from Debian's package lists, unpacked
# into a cache outside the repository. Prints the two library paths, old
# first, one per line.
#
#   bash tools/fetch_real_pair.sh [libnode|webkit]
#
# libnode (the default): libnode.so.108, 47 MB, the previous build in the
#   main suite and the security update that followed it (a release with code
#   changes: fixes for two CVEs in TLS hostname handling).
# webkit: libwebkit2gtk-4.1.so.0, 92 MB, the security update and the point
#   release's rebuild that followed it: a file above 64 MiB, to show that a
#   delta of that size decodes where little address space is left.
#
# The cache is $UPDATER_DEPS_DIR/real-pair (default /var/cache/updater-deps).
# When a newer update replaces a pinned one in the lists, the download fails
# and says so; the cache, once filled, is kept.
set -euo pipefail
case "${1:-libnode}" in
  libnode)
    package=libnode108
    old_version=18.20.4+dfsg-1~deb12u2
    new_version=18.20.4+dfsg-1~deb12u3
    library=usr/lib/x86_64-linux-gnu/libnode.so.108 ;;
  webkit)
    package=libwebkit2gtk-4.1-0
    old_version=2.50.6-1~deb12u1
    new_version=2.50.6-1~deb12u2
    library=usr/lib/x86_64-linux-gnu/libwebkit2gtk-4.1.so.0.19.9 ;;
  *) echo "fetch_real_pair: unknown pair $1 (libnode or webkit)" >&2; exit 2 ;;
esac

deps=${UPDATER_DEPS_DIR:-/var/cache/updater-deps}
cache="$deps/real-pair"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

for version in "$old_version" "$new_version"; do
  dir="$cache/$package-$version"
  if [ ! -f "$dir/$library" ]; then
    echo "fetch_real_pair: downloading $package $version into $cache" >&2
    work=$(mktemp -d)
    chmod 755 "$work"
    if ! (cd "$work" && apt-get download -qq "$package=$version" >/dev/null 2>"$work/log"); then
      cat "$work/log" >&2
      echo "fetch_real_pair: $package $version is not served by the package lists (apt-cache madison $package)" >&2
      rm -rf "$work"
      exit 1
    fi
    dpkg-deb -x "$work"/*.deb "$work/unpacked"
    $SUDO mkdir -p "$cache"
    $SUDO rm -rf "$dir"
    $SUDO mv "$work/unpacked" "$dir"
    rm -rf "$work"
  fi
done
echo "$cache/$package-$old_version/$library"
echo "$cache/$package-$new_version/$library"
