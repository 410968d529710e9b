#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Converts the sample book with quillon-cli, both options on and both off, and
# has LibreOffice read both results in one start: the first and the last
# section's text must come through, and with the options on the section
# markers must survive.
set -euo pipefail
trap 'echo "check_with_libreoffice.sh: line $LINENO failed: $BASH_COMMAND" >&2' ERR

cli=$1 book=$2 work=$3
rm -rf "$work"
mkdir -p "$work"

"$cli" "$book" "$work/options-on.rtf"
"$cli" --no-markers --keep-tags "$book" "$work/options-off.rtf"
# LibreOffice exits 0 even when it fails, so the text files are the proof.
# The text is asked for in UTF-8: the plain filter writes in the locale's
# character set, which is not UTF-8 where no locale is set.
soffice --headless "-env:UserInstallation=file://$work/profile" --convert-to 'txt:Text (encoded):UTF8' \
    --outdir "$work" "$work/options-on.rtf" "$work/options-off.rtf" >"$work/soffice.log" 2>&1 || true

for name in options-on options-off; do
    text=$work/$name.txt
    if [[ ! -s $text ]]; then
        echo "LibreOffice produced no text for $name.rtf:" >&2
        cat "$work/soffice.log" >&2
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
done

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
