#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# quillon-cli.exe under Wine must write byte for byte what the Linux
# quillon-cli writes, for every combination of the two options, and must take
# a book folder and an output path with letters beyond ASCII (they reach the
# program in the ANSI code page).
#
#   cli_matches_linux.sh LINUX_CLI WINDOWS_CLI BOOK_FOLDER WORK_FOLDER
set -euo pipefail

linux_cli=$1 windows_cli=$2 book=$3 work=$4
run_windows=$(dirname "$0")/run-under-wine.sh

rm -rf "$work"
accented=$work/Psaumes-été
mkdir -p "$accented"
cp "$book"/Book.dat "$book"/Viewable.idx "$accented"/

failures=0
for options in "" "--no-markers" "--keep-tags" "--no-markers --keep-tags"; do
    name=$(echo "${options:-defaults}" | tr -d ' -')
    expected=$work/$name-linux.rtf
    actual=$work/$name-windows-é.rtf
    # shellcheck disable=SC2086 # the options are words
    "$linux_cli" $options "$book" "$expected"
    # shellcheck disable=SC2086
    "$run_windows" "$windows_cli" $options "$(winepath -w "$accented")" "$(winepath -w "$work")\\$name-windows-é.rtf"
    if cmp "$expected" "$actual"; then
        echo "same output with options '${options}'"
    else
        echo "DIFFERENT output with options '${options}'" >&2
        failures=$((failures + 1))
    fi
done
exit $((failures > 0))
