#!/usr/bin/env bash
# The Debian package as a user's system meets it: lintian finds no error in it; apt installs it
# with what it depends on; both programs run from /usr/bin (the command-line tool lists a disc
# image's tracks); the manual pages render and the software centre's description is valid;
# removing it leaves none of its files behind. Installs onto this machine (run as root, in CI).
# Usage: tst_package.sh PACKAGE.deb MAKEDISC
set -euo pipefail
deb=$(readlink -f "$1") makedisc=$2
fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Its tags go to standard output; standard error only says that root runs it.
lintian --fail-on error --tag-display-limit 0 "$deb" 2>/dev/null || fail "lintian found errors in $deb"

export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq "$deb" >/dev/null || fail "apt could not install $deb"
files=$(dpkg -L tambrel)
version=$(dpkg-query -W -f='${Version}' tambrel)
[ "$(/usr/bin/tambrel-cli --version)" = "tambrel-cli $version" ] || fail "tambrel-cli --version"
[ "$(QT_QPA_PLATFORM=offscreen /usr/bin/tambrel --version)" = "Tambrel $version" ] ||
  fail "tambrel --version"
"$makedisc" "$work/d.cue" audio:3 audio:2 >/dev/null
listed=$(XDG_CONFIG_HOME=$work/config /usr/bin/tambrel-cli list "$work/d.cue")
[ "$(printf '%s\n' "$listed" | wc -l)" = 2 ] || fail "tambrel-cli list printed: $listed"
for page in tambrel tambrel-cli; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page warns: $warnings"
done
appstreamcli validate --no-net /usr/share/metainfo/org.tambrel.Tambrel.metainfo.xml >/dev/null ||
  fail "the software centre's description is not valid"

apt-get remove --purge -y -qq tambrel >/dev/null || fail "apt could not remove tambrel"
while IFS= read -r path; do
  [ -d "$path" ] && [ "$path" != /usr/lib/tambrel ] && [ "$path" != /usr/share/doc/tambrel ] &&
    continue
  [ -e "$path" ] || [ -L "$path" ] && fail "$path is left after removing the package"
done <<<"$files"
echo "package $deb installed, run and removed"
