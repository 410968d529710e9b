#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# quillon-cli.exe interrupted by Ctrl-C while it writes must remove its
# temporary file, leave the old output as it was and end with the status
# Windows gives a program that Ctrl-C ends, STATUS_CONTROL_C_EXIT (0xC000013A;
# Wine hands its low byte, 58, to Linux). Wine turns SIGINT into the console's
# CTRL_C_EVENT; it delivers no Ctrl-Break or console-close event to a program
# without a console window of its own. Runs inside run-under-wine.sh --session.
#
#   interrupted_cli.sh MAKE_BOOK_EXE WINDOWS_CLI WORK_FOLDER
set -euo pipefail

make_book=$1 windows_cli=$2 work=$3
run_windows=$(dirname "$0")/../../scripts/run-under-wine.sh
if [[ -z ${QUILLON_WINE_SESSION:-} ]]; then
    echo "run this inside scripts/run-under-wine.sh --session" >&2
    exit 2
fi

rm -rf "$work"
mkdir -p "$work/book" "$work/out"
# 20000 entries of 64 KB each, all reading one stored block: long enough to interrupt.
head -c 65536 /dev/zero | tr '\0' x >"$work/block.rtf"
"$run_windows" "$make_book" --trailing 0 --repeat 20000 "$(winepath -w "$work/book")" "$(winepath -w "$work/block.rtf")"
printf precious >"$work/out/kept.rtf"

"$run_windows" "$windows_cli" "$(winepath -w "$work/book")" "$(winepath -w "$work/out/kept.rtf")" &
pid=$!
for _ in $(seq 2000); do
    [[ $(ls -A "$work/out" | wc -l) -ge 2 ]] && break
    sleep 0.01
done
if [[ $(ls -A "$work/out" | wc -l) -lt 2 ]]; then
    kill -KILL "$pid" 2>/dev/null || true
    echo "quillon-cli.exe never began writing beside its target" >&2
    exit 1
fi
kill -INT "$pid"
status=0
wait "$pid" || status=$?

problems=()
[[ $status -eq 58 ]] || problems+=("exit status $status, not 58 (STATUS_CONTROL_C_EXIT)")
left=$(ls -A "$work/out" | tr '\n' ' ')
[[ $left == "kept.rtf " ]] || problems+=("left in the output folder: $left")
[[ $(cat "$work/out/kept.rtf") == precious ]] || problems+=("the old output was changed")
if [[ ${#problems[@]} -gt 0 ]]; then
    printf '%s\n' "${problems[@]}" >&2
    exit 1
fi
echo "Ctrl-C removed the temporary file and kept the old output"
