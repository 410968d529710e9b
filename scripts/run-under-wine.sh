#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs Windows programs under Wine in a throwaway prefix.
#
#   run-under-wine.sh PROGRAM [ARGS...]     run one program (the build's
#                                           cross-compiling emulator)
#   run-under-wine.sh --session COMMAND...  run COMMAND (e.g. ctest) with one
#                                           prefix and one wineserver that
#                                           every PROGRAM run inside it shares
#
# A PROGRAM run outside a session gets a prefix of its own. The prefix and
# its wineserver are gone when the script ends.
set -euo pipefail

if [[ $# -eq 0 ]]; then
    echo "usage: $0 [--session] COMMAND [ARGS...]" >&2
    exit 2
fi

if [[ $1 != --session && -n ${QUILLON_WINE_SESSION:-} ]]; then
    exec wine "$@"
fi

export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=C.UTF-8
prefix_root=$(mktemp -d "${TMPDIR:-/tmp}/quillon-wine.XXXXXX")
export WINEPREFIX=$prefix_root/prefix

server_started=
cleanup() {
    if [[ -n $server_started ]]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
    rm -rf "$prefix_root"
}
trap cleanup EXIT

mkdir "$WINEPREFIX"
wineserver -p
server_started=1
wineboot -i >/dev/null 2>&1
# Without a window manager Wine draws no caption unless it manages the frames itself.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

status=0
if [[ $1 == --session ]]; then
    shift
    QUILLON_WINE_SESSION=1 "$@" || status=$?
else
    wine "$@" || status=$?
fi
exit "$status"
