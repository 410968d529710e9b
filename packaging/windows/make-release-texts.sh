#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Writes the texts that travel with the Windows programs, with CR LF line ends
# as Notepad expects them (UTF-8, marked as such where not plain ASCII):
#   README.txt                 from the template, with the options as
#                              quillon-cli.exe --help prints them
#   COPYING.txt                Quillon's license
#   THIRD-PARTY-NOTICES.txt    the copyright and license of everything the
#                              linker put into the programs, as Debian ships
#                              them, and the license texts those refer to
#
#   make-release-texts.sh OUT_DIR VERSION SUPPORT_SITE README_TEMPLATE COPYING
#                         SWORD_ROOT RUN_WINDOWS CLI_EXE LINK_MAP...
#
# SWORD_ROOT is the static SWORD build (not a Debian package: its notices are
# those of Debian's package of the same source); RUN_WINDOWS runs CLI_EXE.
# The link maps come from the linker's -Map option.
set -euo pipefail

if [[ $# -lt 9 ]]; then
    echo "usage: $0 OUT_DIR VERSION SUPPORT_SITE README_TEMPLATE COPYING SWORD_ROOT RUN_WINDOWS CLI_EXE LINK_MAP..." >&2
    exit 2
fi
out=$1 version=$2 site=$3 readme_template=$4 copying=$5 sword_root=$6 run_windows=$7 cli=$8
shift 8
maps=("$@")
mkdir -p "$out"

fail() {
    echo "make-release-texts: $*" >&2
    exit 1
}

# Unix text to Windows text: CR LF, and a byte order mark on UTF-8 text, or
# Notepad may read it in the ANSI code page.
to_windows_text() {
    local text
    text=$(sed 's/$/\r/')
    if LC_ALL=C grep -q '[^[:print:][:space:]]' <<<"$text"; then
        printf '\xEF\xBB\xBF'
    fi
    printf '%s\n' "$text"
}

# README.txt
help=$("$run_windows" "$cli" --help | tr -d '\r') || fail "$cli --help failed"
[[ $help == Usage:* ]] || fail "$cli --help printed no usage line"
# Through the environment: awk -v would read the backslashes in "\v0".
HELP=$help VERSION=$version SITE=$site awk '
    $0 == "@HELP@" {
        n = split(ENVIRON["HELP"], lines, "\n")
        for (i = 1; i <= n; ++i) print (lines[i] == "" ? "" : "    " lines[i])
        next
    }
    { gsub(/@VERSION@/, ENVIRON["VERSION"]); gsub(/@SUPPORT_SITE@/, ENVIRON["SITE"]); print }
' "$readme_template" | to_windows_text >"$out/README.txt"

# COPYING.txt
to_windows_text <"$copying" >"$out/COPYING.txt"

# THIRD-PARTY-NOTICES.txt: which files the linker took, and from which
# Debian source package each comes. Our own objects have relative paths.
for map in "${maps[@]}"; do
    [[ -s $map ]] || fail "no link map $map"
done
sword_root=$(realpath "$sword_root")
# scripts/build-sword-windows.sh names its cache after the source version.
sword_version=$(basename "$sword_root")
if [[ $sword_version == sword-mingw-i686-* ]]; then
    sword_version=${sword_version#sword-mingw-i686-}
else
    sword_version=$(dpkg-query -W -f='${source:Version}' libsword-dev)
fi
declare -A files_of_source=() copyright_of_source=() version_of_source=()
while IFS= read -r linked; do
    path=$(realpath -m "$linked")
    if [[ $path == "$sword_root"/* ]]; then
        source=sword binary=libsword-dev
        version_of_source[sword]=$sword_version
    else
        owner=$(dpkg-query -S "$path" 2>/dev/null | head -n 1) || fail "no Debian package owns $path"
        binary=${owner%%:*}
        read -r source source_version < <(dpkg-query -W -f='${source:Package} ${source:Version}\n' "$binary")
        version_of_source[$source]=$source_version
    fi
    [[ -f /usr/share/doc/$binary/copyright ]] || fail "no copyright file for $binary"
    copyright_of_source[$source]=/usr/share/doc/$binary/copyright
    files_of_source[$source]+="${files_of_source[$source]:+, }$(basename "$path")"
done < <(
    for map in "${maps[@]}"; do
        awk '/^\/[^ ]*\.a\(/ { sub(/\(.*/, ""); print } /^LOAD \/.*\.o$/ { print substr($0, 6) }' "$map"
    done | sort -u
)
[[ -n ${files_of_source[sword]:-} ]] || fail "the link maps show no SWORD library"

# Long lines of the headings, folded to 79 columns and indented.
wrap() {
    fold -s -w 76 | sed -e 's/ *$//' -e '2,$s/^/   /'
}

title_of() {
    case $1 in
    sword) echo "The SWORD library" ;;
    mingw-w64) echo "The mingw-w64 runtime and winpthreads" ;;
    gcc-mingw-w64) echo "GCC's runtime libraries (libgcc, libstdc++)" ;;
    *zlib*) echo "zlib" ;;
    *) echo "$1" ;;
    esac
}

mapfile -t sources < <(printf '%s\n' "${!files_of_source[@]}" | sort)
{
    cat <<TEXT
Third-party software in quillon.exe and quillon-cli.exe
=======================================================

Quillon $version for Windows is built with Debian's mingw-w64 cross compiler,
and both programs are linked statically: besides Quillon's own code, each
program contains parts of the software listed below. This file collects their
copyright notices and licenses as Debian ships them (each package's
/usr/share/doc/<package>/copyright). Where those refer to a license in
/usr/share/common-licenses, its full text follows at the end of this file.
Quillon itself is free software under the GNU General Public License, version
2 or later; its text is in COPYING.txt.

The source code of Quillon is available from $site.
The source code of the other parts is that of the Debian source packages
named below (https://sources.debian.org/src/<package>/<version>/).

TEXT
    number=0
    for source in "${sources[@]}"; do
        number=$((number + 1))
        echo "  $number. $(title_of "$source")"
        echo "     Debian source package $source ${version_of_source[$source]}"
    done
    number=0
    for source in "${sources[@]}"; do
        number=$((number + 1))
        printf '\n\n%s\n' "==============================================================================="
        echo "$number. $(title_of "$source")"
        echo "   Debian source package: $source ${version_of_source[$source]}"
        echo "   Linked from it: ${files_of_source[$source]}" | wrap
        printf '%s\n\n' "==============================================================================="
        cat "${copyright_of_source[$source]}"
    done

    # Each license text once, under every name the copyright files use for it.
    declare -A names_of_text=()
    while IFS= read -r license; do
        text=$(realpath "$license")
        [[ -f $text ]] || fail "the copyright files refer to $license, which does not exist"
        names_of_text[$text]+="${names_of_text[$text]:+, }$license"
    done < <(
        for source in "${sources[@]}"; do
            grep -o '/usr/share/common-licenses/[A-Za-z0-9.+-]*' "${copyright_of_source[$source]}" || true
        done | sed 's/\.*$//' | sort -u
    )
    mapfile -t texts < <(printf '%s\n' "${!names_of_text[@]}" | sort)
    for text in "${texts[@]}"; do
        printf '\n\n%s\n' "==============================================================================="
        echo "License text: $(basename "$text")"
        echo "   Referred to as: ${names_of_text[$text]}" | wrap
        printf '%s\n\n' "==============================================================================="
        cat "$text"
    done
} | to_windows_text >"$out/THIRD-PARTY-NOTICES.txt"
