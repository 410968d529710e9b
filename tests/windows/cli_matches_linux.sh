#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# quillon-cli.exe under Wine must write byte for byte what the Linux
# quillon-cli writes, for every combination of the two options, and must take
# a book folder and an output path with letters beyond ASCII (they reach the
# program in the ANSI code page). Also through its other forms: to standard
# output, several books at once and a whole library, whose books are
# converted by copies of quillon-cli.exe started with quoted arguments (one
# ends in a backslash).
#
#   cli_matches_linux.sh LINUX_CLI WINDOWS_CLI BOOK_FOLDER WORK_FOLDER
set -euo pipefail

linux_cli=$1 windows_cli=$2 book=$3 work=$4
run_windows=$(dirname "$0")/../../scripts/run-under-wine.sh

rm -rf "$work"
accented=$work/Psaumes-été
mkdir -p "$accented"
cp "$book"/Book.dat "$book"/Viewable.idx "$accented"/

# Either program, stopping the check with a message when it fails.
linux() { "$linux_cli" "$@" || { echo "quillon-cli $* failed" >&2; exit 1; }; }
windows() { "$run_windows" "$windows_cli" "$@" || { echo "quillon-cli.exe $* failed" >&2; exit 1; }; }

failures=0
same() {
    if cmp "$2" "$3"; then
        echo "same output: $1"
    else
        echo "DIFFERENT output: $1" >&2
        failures=$((failures + 1))
    fi
}

for options in "" "--no-markers" "--keep-tags" "--no-markers --keep-tags"; do
    name=$(echo "${options:-defaults}" | tr -d ' -')
    expected=$work/$name-linux.rtf
    # shellcheck disable=SC2086 # the options are words
    linux $options "$book" "$expected"
    # shellcheck disable=SC2086
    windows $options "$(winepath -w "$accented")" "$(winepath -w "$work")\\$name-windows-é.rtf"
    same "options '$options'" "$expected" "$work/$name-windows-é.rtf"
done

expected=$work/defaults-linux.rtf
windows "$(winepath -w "$book")" - >"$work/standard-output.rtf"
same "standard output" "$expected" "$work/standard-output.rtf"

library=$work/Bibliothek
mkdir -p "$library/Psaumes été" "$library/Reihe/Psalter 1611" "$work/books" "$work/library"
for folder in "$library/Psaumes été" "$library/Reihe/Psalter 1611"; do cp "$book"/Book.dat "$book"/Viewable.idx "$folder"/; done
windows -j 2 "$(winepath -w "$accented")" "$(winepath -w "$library/Psaumes été")\\" \
    "$(winepath -w "$work/books")"
same "two books: the first" "$expected" "$work/books/Psaumes-été.rtf"
same "two books: the second" "$expected" "$work/books/Psaumes été.rtf"
windows --library "$(winepath -w "$library")" "$(winepath -w "$work/library")"
same "library: a book" "$expected" "$work/library/Psaumes été.rtf"
same "library: a book one level down" "$expected" "$work/library/Reihe/Psalter 1611.rtf"
# Exit statuses as on Linux: 2 for a usage error, 1 for a failed conversion.
expect_status() {  # expect_status STATUS WHAT ARGS...
    local want=$1 what=$2 status=0
    shift 2
    "$run_windows" "$windows_cli" "$@" >/dev/null 2>&1 || status=$?
    if [[ $status -ne $want ]]; then
        echo "$what: exit status $status, not $want" >&2
        failures=$((failures + 1))
    fi
}
expect_status 2 "a usage error" "$(winepath -w "$book")"
expect_status 1 "a missing book" "$(winepath -w "$work")\\nothing" "$(winepath -w "$work")\\x.rtf"
exit $((failures > 0))
