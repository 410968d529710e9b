#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Tries out the Windows download as a user gets it: unpacks the zip into a
# folder whose path has spaces and accented letters, checks what it holds,
# and runs both programs from there under Wine on the sample book:
# quillon-cli.exe must write what the Linux quillon-cli writes, and the end-to-
# end driver runs all its tests of quillon.exe, the version resources of both
# programs among them.
#
#   windows_release_test.sh ZIP VERSION COPYING LINUX_CLI GUI_DRIVER SAMPLE_BOOK WORK_DIR
set -euo pipefail

zip=$1 version=$2 copying=$3 linux_cli=$4 driver=$5 book=$6 work=$7
here=$(cd "$(dirname "$0")/.." && pwd)

fail() {
    echo "windows_release_test: $*" >&2
    exit 1
}

[[ -f $zip ]] || fail "no zip $zip: make it with make windows-release"
[[ $(basename "$zip") == "quillon-$version-win32.zip" ]] || fail "the zip is called $(basename "$zip")"
rm -rf "$work"
unpacked="$work/Mes programmes/Quillon été"
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip") || fail "cannot unpack $zip"
folder=$unpacked/quillon-$version-win32
[[ -d $folder ]] || fail "the zip does not hold the folder quillon-$version-win32"

expected="COPYING.txt README.txt THIRD-PARTY-NOTICES.txt quillon-cli.exe quillon.exe"
held=$(cd "$folder" && find . -mindepth 1 -printf '%P\n' | LC_ALL=C sort | xargs)
[[ $held == "$expected" ]] || fail "the folder holds '$held', not '$expected'"

for text in "$folder"/*.txt; do
    [[ $(grep -c '' "$text") -eq $(grep -c $'\r$' "$text") ]] || fail "$(basename "$text") has lines without CR LF"
done
tr -d '\r' <"$folder/COPYING.txt" | cmp -s - "$copying" || fail "COPYING.txt is not the license"
readme=$(tr -d '\r' <"$folder/README.txt")
[[ $readme == *"Quillon $version for Windows"* ]] || fail "README.txt does not name version $version"
while IFS= read -r line; do
    [[ $readme == *"$line"* ]] || fail "README.txt lacks this line of quillon-cli --help: $line"
done < <("$linux_cli" --help)
# What the programs link statically: SWORD, the mingw-w64 runtime with
# winpthreads, and GCC's runtime libraries under their exception.
for part in "Debian source package: sword " "Debian source package: mingw-w64 " "Debian source package: gcc-mingw-w64 " \
            "lib(win)?pthread\.a" "libstdc\+\+\.a" "GCC RUNTIME LIBRARY EXCEPTION" "License text: GPL-3"; do
    grep -qE "$part" "$folder/THIRD-PARTY-NOTICES.txt" || fail "THIRD-PARTY-NOTICES.txt lacks '$part'"
done

"$here/../scripts/run-under-wine.sh" --session \
    "$here/windows/cli_matches_linux.sh" "$linux_cli" "$folder/quillon-cli.exe" "$book" "$work/cli" ||
    fail "quillon-cli.exe from the zip does not write what the Linux quillon-cli writes"
QUILLON_CLI_EXE=$folder/quillon-cli.exe \
    "$here/gui/run-gui-tests.sh" "$linux_cli" "$driver" "$folder/quillon.exe" "$book" "$work/gui" ||
    fail "quillon.exe from the zip fails the end-to-end tests"
echo "the zip unpacks into an odd path and both programs work from there"
