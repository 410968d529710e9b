#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian packages the build needs, if any are missing; with
# --all also what the whole test suite needs (the sanitizer build, LibreOffice,
# pandoc, the Windows cross build and Wine); with --release also what making
# and checking the packages needs (make package, make check-release).
#
#   install-deps.sh [--all] [--release]
set -euo pipefail

packages=(
    build-essential cmake pkg-config
    libsword-dev
    libgtest-dev
    help2man
)
if [[ " $* " == *" --all "* ]]; then
    packages+=(
        clang libclang-rt-14-dev
        libreoffice-writer-nogui pandoc
        googletest g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev
        wine wine32:i386 xvfb xdotool
        icoutils imagemagick librsvg2-bin
        mandoc
    )
fi
if [[ " $* " == *" --release "* ]]; then
    packages+=(dpkg-dev file lintian man-db)
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "Please run as root or install sudo: missing ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
# wine32 is an i386 package: only the Windows tests need the architecture.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
