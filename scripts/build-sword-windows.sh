#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds SWORD as a static i686 mingw-w64 library from Debian's source package
# and caches it outside the source tree, keyed by the source package version.
#
# Result: <cache>/lib/libsword.a and <cache>/include/. The cache directory is
# the only line written to stdout (everything else goes to stderr), so CMake can
# capture it with execute_process.
set -euo pipefail

exec 3>&1 1>&2

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
toolchain=$repo/cmake/mingw-i686.cmake
cache_root=${QUILLON_CACHE:-$HOME/.cache/quillon}
apt_opts=(-o DPkg::Lock::Timeout=900 -o Acquire::Retries=3)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
    sudo_cmd=(sudo)
fi

installed() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'
}

# Newest source version of sword known to apt, empty if apt knows none (no
# deb-src lines or no fetched source index yet).
source_version() {
    local v best=""
    for v in $(apt-cache showsrc --only-source sword 2>/dev/null |
               awk '/^Version:/ {print $2}'); do
        if [ -z "$best" ] || dpkg --compare-versions "$v" gt "$best"; then
            best=$v
        fi
    done
    echo "$best"
}

enable_deb_src() {
    local f=/etc/apt/sources.list.d/debian.sources
    if [ -f "$f" ]; then
        if grep -E '^Types:' "$f" | grep -vqw deb-src; then
            "${sudo_cmd[@]}" sed -i -E '/^Types:/{/\bdeb-src\b/!s/$/ deb-src/}' "$f"
        fi
    elif [ -f /etc/apt/sources.list ] && ! grep -Eq '^deb-src ' /etc/apt/sources.list; then
        sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
            "${sudo_cmd[@]}" tee -a /etc/apt/sources.list >/dev/null
    fi
}

version=$(source_version)
if [ -z "$version" ]; then
    enable_deb_src
    "${sudo_cmd[@]}" apt-get "${apt_opts[@]}" update
    version=$(source_version)
fi
if [ -z "$version" ]; then
    echo "build-sword-windows: apt knows no source package 'sword'" >&2
    exit 1
fi

mkdir -p "$cache_root"
cache_root=$(cd "$cache_root" && pwd)
cache_dir=$cache_root/sword-mingw-i686-${version//:/_}
if [ -f "$cache_dir/lib/libsword.a" ]; then
    echo "$cache_dir" >&3
    exit 0
fi

missing=()
for p in g++-mingw-w64-i686 binutils-mingw-w64-i686 cmake make xz-utils; do
    installed "$p" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    "${sudo_cmd[@]}" apt-get "${apt_opts[@]}" install -y --no-install-recommends "${missing[@]}"
fi

mkdir -p "$cache_root/src"
work=$(mktemp -d "$cache_root/.sword-build.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The upstream tarball is all the build uses; keep it for later rebuilds.
upstream=${version#*:}
upstream=${upstream%-*}
orig=$cache_root/src/sword_${upstream}.orig.tar.xz
if [ ! -f "$orig" ]; then
    mkdir "$work/dl"
    (cd "$work/dl" && apt-get "${apt_opts[@]}" source --download-only "sword=$version")
    mv -f "$work/dl/sword_${upstream}.orig.tar.xz" "$orig"
fi

# Only the library: the top-level files and include/, src/, cmake/.
tar -tJf "$orig" > "$work/entries"
mapfile -t entries < "$work/entries"
top=${entries[0]%%/*}
keep=("$top/include" "$top/src" "$top/cmake")
for e in "${entries[@]}"; do
    rest=${e#"$top"/}
    if [ -n "$rest" ] && [[ $rest != */* ]]; then
        keep+=("$e")
    fi
done
mkdir "$work/src"
tar -xJf "$orig" -C "$work/src" --no-same-owner "${keep[@]}"
src=$work/src/$top

# SWORD's cmake/sources.cmake lists bindings/flatapi.cpp for every non-MSVC
# build; the bindings are not part of the library we want.
mkdir -p "$src/bindings"
: > "$src/bindings/flatapi.cpp"

# USECXX11REGEX makes SWORD use std::regex. Its CMake still wants a regex.h:
# without one it compiles the bundled regex.c, which the +dfsg tarball lacks
# (and mingw has no <regex.h>).
mkdir "$work/regex-stub"
: > "$work/regex-stub/regex.h"

cmake -S "$src" -B "$work/build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS=-DUSECXX11REGEX \
    -DREGEX_INCLUDE_DIR="$work/regex-stub" \
    -DLIBSWORD_LIBRARY_TYPE=Static \
    -DSWORD_BUILD_UTILS=No \
    -DSWORD_NO_ICU=Yes \
    -DSWORD_NO_CURL=Yes \
    -DSWORD_NO_CLUCENE=Yes \
    -DSWORD_NO_BZIP2=Yes \
    -DSWORD_NO_XZ=Yes \
    -DSWORD_NO_ZLIB=Yes
cmake --build "$work/build" --target sword_static -j "$(nproc)"

out=$work/out
mkdir -p "$out/lib"
cp "$work/build/libsword.a" "$out/lib/"
cp -r "$src/include" "$out/include"
# The build generates swversion.h (ahead of the shipped one on the include
# path); consumers must see the same file the library was compiled with.
cp -r "$work/build/include/." "$out/include/"

# A finished directory appears in one rename; a concurrent run that got there
# first wins and this one's result is dropped.
if ! mv -T "$out" "$cache_dir" 2>/dev/null; then
    if [ ! -f "$cache_dir/lib/libsword.a" ]; then
        echo "build-sword-windows: cannot move the result to $cache_dir" >&2
        exit 1
    fi
fi
echo "$cache_dir" >&3
