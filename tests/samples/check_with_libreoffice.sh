#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Converts the sample book with quillon-cli, both options on and both off, and
# has LibreOffice read each result: the first and the last section's text must
# come through, and with the options on the section markers must survive.
set -euo pipefail
trap 'echo "check_with_libreoffice.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR

cli=$1 book=$2 work=$3
rm -rf "$work"
mkdir -p "$work"

check() {
    local name=$1; shift
    "$cli" "$@" "$book" "$work/$name.rtf"
    # LibreOffice exits 0 even when it fails, so the text file is the proof.
    # The text is asked for in UTF-8: the plain filter writes in the locale's
    # character set, which is not UTF-8 where no locale is set.
    soffice --headless "-env:UserInstallation=file://$work/profile-$name" \
        --convert-to 'txt:Text (encoded):UTF8' --outdir "$work" "$work/$name.rtf" >"$work/$name.log" 2>&1 || true
    local text=$work/$name.txt
    if [[ ! -s $text ]]; then
        echo "LibreOffice produced no text for $name.rtf:" >&2
        cat "$work/$name.log" >&2
        exit 1
    fi
    for phrase in "Blessed is the man that walketh not in the counsel of the" \
                  "Behold, how good and how pleasant it is for brethren to dwell together in unity!" \
                  "End of the sample."; do
        if ! grep -qF "$phrase" "$text"; then
            echo "$name.txt lacks: $phrase" >&2
            exit 1
        fi
    done
    echo "$name: LibreOffice read $(wc -l <"$text") lines"
}

check options-on
check options-off --no-markers --keep-tags

# The division sign (the section marker) arrives as UTF-8 in the text export.
markers=$(grep -o $'\xc3\xb7' "$work/options-on.txt" | wc -l || true)
if [[ $markers -ne 4 ]]; then
    echo "expected 4 section markers in options-on.txt, found $markers" >&2
    exit 1
fi
if grep -q $'\xc3\xb7' "$work/options-off.txt"; then
    echo "options-off.txt holds a section marker" >&2
    exit 1
fi
echo "sample book opens in LibreOffice"
