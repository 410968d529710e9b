#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs the end-to-end tests of quillon.exe: a virtual X server, a throwaway
# Wine prefix, a fake browser that records the addresses it is asked to open,
# and the expected outputs made by the Linux quillon-cli. Screenshots of the
# program's windows are left as PNG files in WORK_DIR/screenshots.
#
# usage: run-gui-tests.sh NATIVE_CLI DRIVER_EXE QUILLON_EXE SAMPLE_BOOK WORK_DIR [DRIVER_ARGS...]
# with QUILLON_CLI_EXE in the environment: the quillon-cli.exe that goes with
# QUILLON_EXE, whose version resource the driver checks too.
set -euo pipefail

native_cli=$1 driver=$2 program=$3 book=$4 work=$5
shift 5  # the rest goes to the driver, e.g. --gtest_filter

rm -rf "$work"
mkdir -p "$work/expected" "$work/screenshots" "$work/bin" "$work/noindex"
work=$(cd "$work" && pwd)

for combination in "markers-strip" "markers-keep --keep-tags" "plain-strip --no-markers" \
                   "plain-keep --no-markers --keep-tags"; do
    read -r name options <<<"$combination"
    # shellcheck disable=SC2086
    "$native_cli" $options "$book" "$work/expected/$name.rtf"
done
cp "$book/Book.dat" "$work/noindex/"
mkdir -p "$work/Psalmen Übersetzung"
cp "$book/Book.dat" "$book/Viewable.idx" "$work/Psalmen Übersetzung/"

# Wine's browser hands links to xdg-open.
cat >"$work/bin/xdg-open" <<SCRIPT
#!/bin/sh
printf '%s\n' "\$1" >>"$work/opened-links"
SCRIPT
chmod +x "$work/bin/xdg-open"

xvfb_pid=
trap '[[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true' EXIT

# Xvfb picks a free display and writes its number to fd 3.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
read -r display <"$work/display"

# A Wine prefix of its own, started on the virtual display.
export DISPLAY=:$display PATH=$work/bin:$PATH
export QUILLON_EXE=$program QUILLON_BOOK=$book QUILLON_EXPECTED=$work/expected QUILLON_WORK=$work \
       QUILLON_LINK_LOG=$work/opened-links QUILLON_SHOTS=$work/screenshots
status=0
env -u QUILLON_WINE_SESSION "$(dirname "$0")/../../scripts/run-under-wine.sh" "$driver" "$@" || status=$?

ls "$work"/screenshots/*.png 2>/dev/null | sed 's/^/screenshot: /' || true
exit "$status"
