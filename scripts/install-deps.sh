#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs the Debian packages the build needs, if any are missing; with
# --all also what the whole test suite needs (the sanitizer build, LibreOffice,
# pandoc, the Windows cross build and Wine, strace, and a Japanese locale for
# the double-byte code page test under Wine); with --release also what making
# and checking the packages needs (make package, make check-release).
#
#   install-deps.sh [--all] [--release]
set -euo pipefail

all=false release=false
for argument in "$@"; do
    case $argument in
    --all) all=true ;;
    --release) release=true ;;
    *) echo "install-deps.sh: unknown argument $argument (expected --all, --release)" >&2; exit 2 ;;
    esac
done

packages=(
    build-essential cmake pkg-config
    libsword-dev
    libacl1-dev libattr1-dev
    libgtest-dev
    help2man
)
if $all; then
    packages+=(
        clang libclang-rt-14-dev
        libreoffice-writer-nogui pandoc
        googletest g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev
        wine wine32:i386 xvfb xdotool
        icoutils imagemagick librsvg2-bin
        mandoc strace locales
    )
fi
if $release; then
    packages+=(dpkg-dev file lintian man-db)
fi

sudo=()
if [[ $(id -u) -ne 0 ]]; then
    sudo=(sudo)
fi

# Wine's code page follows the locale: ja_JP.UTF-8 gives code page 932.
japanese_locale() {
    $all || return 0
    locale -a 2>/dev/null | grep -ix 'ja_JP.utf8' >/dev/null && return 0
    echo "Generating the ja_JP.UTF-8 locale"
    "${sudo[@]}" sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
    grep -qx 'ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
    "${sudo[@]}" locale-gen
}

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done
if [[ ${#missing[@]} -eq 0 ]]; then
    japanese_locale
    exit 0
fi

if [[ ${#sudo[@]} -gt 0 ]] && ! command -v sudo >/dev/null; then
    echo "Please run as root or install sudo: missing ${missing[*]}" >&2
    exit 1
fi
# wine32 is an i386 package: only the Windows tests need the architecture.
if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo[@]}" dpkg --add-architecture i386
fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}"
japanese_locale
