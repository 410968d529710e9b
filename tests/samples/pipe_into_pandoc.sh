#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The README's pipeline: quillon-cli writes the sample book to standard output
# and pandoc makes a .docx, an .odt and an .epub of it. Read back as plain
# text, each must hold the first and the last psalm.
set -euo pipefail

cli=$1 book=$2 work=$3
rm -rf "$work"
mkdir -p "$work"

for format in docx odt epub; do
    document=$work/psalms.$format
    if ! "$cli" --no-markers "$book" - | pandoc --from rtf --output "$document" 2>"$work/$format.log"; then
        echo "the pipeline into pandoc failed for .$format:" >&2
        cat "$work/$format.log" >&2
        exit 1
    fi
    if ! pandoc --to plain --wrap=none "$document" >"$document.txt" 2>>"$work/$format.log"; then
        echo "pandoc cannot read back $document:" >&2
        cat "$work/$format.log" >&2
        exit 1
    fi
    for phrase in "Blessed is the man that walketh not in the counsel of the ungodly" \
                  "Behold, how good and how pleasant it is for brethren to dwell together in unity!"; do
        if ! grep -qF "$phrase" "$document.txt"; then
            echo "psalms.$format lacks: $phrase" >&2
            exit 1
        fi
    done
    echo "psalms.$format holds the first and the last psalm"
done
