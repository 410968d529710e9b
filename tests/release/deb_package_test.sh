#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# Tries out the Debian package of quillon-cli as a user gets it: its control
# fields, whether apt could install it here, an installation with dpkg into a
# throwaway root, a conversion of the sample book by the installed program,
# its man page read with man, and a purge that leaves nothing behind.
#
#   deb_package_test.sh PACKAGE VERSION BUILT_CLI SAMPLE_BOOK WORK_DIR
set -euo pipefail

deb=$1 version=$2 built_cli=$3 book=$4 work=$5

fail() {
    echo "deb_package_test: $*" >&2
    exit 1
}

[[ -f $deb ]] || fail "no package $deb: make it with make package"
rm -rf "$work"
mkdir -p "$work"

field() { dpkg-deb --field "$deb" "$1"; }
[[ $(field Package) == quillon-cli ]] || fail "the package is called '$(field Package)'"
[[ $(field Version) == "$version" ]] || fail "the package's version is '$(field Version)', the project's $version"
[[ $(field Maintainer) =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "no maintainer as name <address>: '$(field Maintainer)'"
[[ $(field Depends) == *libsword* ]] || fail "the dependencies do not name SWORD's library: '$(field Depends)'"
apt-get install --simulate --quiet "$deb" >"$work/apt.log" 2>&1 || fail "apt could not install it here: $(tail -n 1 "$work/apt.log")"

# An empty dpkg database of its own; the dependencies are this machine's.
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg_here=(dpkg --root="$root" --force-depends)
[[ $(id -u) -eq 0 ]] || dpkg_here+=(--force-not-root)
export PATH=$PATH:/usr/sbin:/sbin  # dpkg wants ldconfig on the path
"${dpkg_here[@]}" --install "$deb" >"$work/install.log" 2>&1 ||
    fail "dpkg --install failed: $(tail -n 1 "$work/install.log")"

installed=$root/usr/bin/quillon-cli
[[ -x $installed ]] || fail "no program at /usr/bin/quillon-cli"
[[ $("$installed" --version | head -n 1) == "quillon-cli $version" ]] || fail "the installed program reports another version"
"$installed" "$book" "$work/installed.rtf" || fail "the installed program could not convert the sample book"
"$built_cli" "$book" "$work/built.rtf" || fail "the built program could not convert the sample book"
cmp -s "$work/installed.rtf" "$work/built.rtf" || fail "the installed program writes other bytes than the built one"
for doc in copyright changelog.gz README.md; do
    [[ -s $root/usr/share/doc/quillon-cli/$doc ]] || fail "no /usr/share/doc/quillon-cli/$doc"
done

# The man page as man shows it, with groff's warnings on.
MANPATH=$root/usr/share/man MANPAGER=cat MANWIDTH=80 LC_ALL=C \
    man --warnings quillon-cli >"$work/man.txt" 2>"$work/man.err" || fail "man quillon-cli failed: $(head -n 1 "$work/man.err")"
[[ ! -s $work/man.err ]] || fail "man quillon-cli warns: $(head -n 1 "$work/man.err")"
for heading in NAME SYNOPSIS DESCRIPTION OPTIONS "OUTPUT PATH" SAFETY "EXIT STATUS" EXAMPLES COPYRIGHT; do
    grep -qx "$heading" "$work/man.txt" || fail "the man page has no section $heading"
done
grep -q "quillon-cli $version" "$work/man.txt" || fail "the man page does not name version $version"
while read -r option; do
    grep -q -- "$option" "$work/man.txt" || fail "the man page does not document $option"
done < <("$installed" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)

"${dpkg_here[@]}" --purge quillon-cli >"$work/purge.log" 2>&1 || fail "dpkg --purge failed: $(tail -n 1 "$work/purge.log")"
left=$(cd "$root" && find . -mindepth 1 -not -path './var' -not -path './var/lib' -not -path './var/lib/dpkg*')
[[ -z $left ]] || fail "the purge left $(echo "$left" | wc -l) paths behind, such as $(echo "$left" | head -n 1)"
if "${dpkg_here[@]}" --status quillon-cli >/dev/null 2>&1; then
    fail "dpkg still knows quillon-cli after the purge"
fi
echo "the package installs, converts the sample book, shows its man page and purges cleanly"
