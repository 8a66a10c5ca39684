#!/bin/sh
# Installs the build into a fresh prefix and checks the result as a user would meet it: the
# commands in bin/ are relative links to the programs in their private folder, the skin, splash
# and help file sit beside the programs, nothing else is installed, the menu entry and the
# software centre's description are valid, the manual pages render cleanly, the completion
# completes, the window program runs when started through its link, and FFmpeg's module is found
# beside them.
# Usage: tst_install.sh BUILD_DIR PREFIX BINDIR PRIVATEDIR VERSION
set -eu
build=$1 prefix=$2 bindir=$3 private=$4 version=$5
fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

for program in tambrel tambrel-cli; do
  link=$prefix/$bindir/$program
  [ -L "$link" ] || fail "$link is not a symbolic link"
  case $(readlink "$link") in /*) fail "$link points to an absolute path" ;; esac
  [ "$(readlink -f "$link")" = "$(readlink -f "$prefix/$private/$program")" ] ||
    fail "$link does not lead to $private/$program"
  [ -x "$prefix/$private/$program" ] && [ ! -L "$prefix/$private/$program" ] ||
    fail "$private/$program is not an executable file"
done
# The reader process of both programs, not a command of its own.
[ -x "$prefix/$private/tambrel-reader" ] || fail "$private/tambrel-reader is not an executable file"
for file in main.skn Moravel.spl Pellmar.chm; do
  [ -s "$prefix/$private/$file" ] || fail "$private/$file is missing or empty"
done
[ "$(head -c 4 "$prefix/$private/Moravel.spl" | od -An -tx1 | tr -d ' \n')" = 89504e47 ] ||
  fail "Moravel.spl is not a PNG image"

# Exactly these, so that no test, tool or disc image is installed by mistake.
expected="$bindir/tambrel
$bindir/tambrel-cli
$private/Moravel.spl
$private/Pellmar.chm
$private/libtambrel_ffmpeg.so
$private/main.skn
$private/tambrel
$private/tambrel-cli
$private/tambrel-reader
share/applications/tambrel.desktop
share/bash-completion/completions/tambrel-cli
share/doc/tambrel/changelog.gz
share/doc/tambrel/copyright
share/icons/hicolor/scalable/apps/tambrel.svg
share/man/man1/tambrel-cli.1.gz
share/man/man1/tambrel.1.gz
share/metainfo/org.tambrel.Tambrel.metainfo.xml"
actual=$(cd "$prefix" && find . ! -type d | sed 's|^\./||' | LC_ALL=C sort)
[ "$actual" = "$(printf '%s\n' "$expected" | LC_ALL=C sort)" ] ||
  fail "installed files differ from the expected ones:
$actual"

desktop-file-validate "$prefix/share/applications/tambrel.desktop" ||
  fail "the menu entry is not valid"
appstreamcli validate --no-net "$prefix/share/metainfo/org.tambrel.Tambrel.metainfo.xml" \
  >/dev/null || fail "the software centre's description is not valid"
# The manual pages render without a warning.
for page in tambrel tambrel-cli; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -E UTF-8 -l \
    "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man $page warns: $warnings"
done
# The completion offers the commands, and the formats after --format.
completions=$(bash -c '. "$1"; COMP_WORDS=(tambrel-cli convert d.cue --format ""); COMP_CWORD=4
  _tambrel_cli; echo "${COMPREPLY[*]}"' _ "$prefix/share/bash-completion/completions/tambrel-cli")
[ "$completions" = "wav mp3 ogg wma flac" ] || fail "the completion offers: $completions"

# Without any display, as on a server's terminal.
out=$(env -u QT_QPA_PLATFORM -u DISPLAY -u WAYLAND_DISPLAY "$prefix/$bindir/tambrel" --version) ||
  fail "the installed tambrel --version failed"
[ "$out" = "Tambrel $version" ] || fail "the installed tambrel --version printed: $out"
out=$("$prefix/$bindir/tambrel-cli" --version) || fail "the installed tambrel-cli --version failed"
[ "$out" = "tambrel-cli $version" ] || fail "the installed tambrel-cli --version printed: $out"
# FFmpeg's module is loaded from beside the installed program when the first WMA file is made.
disc=$prefix/../install-disc
rm -rf "$disc" && mkdir -p "$disc/out"
"$build/tests/support/makedisc" "$disc/d.cue" audio:2 >/dev/null
LD_DEBUG=files "$prefix/$bindir/tambrel-cli" convert "$disc/d.cue" -f wma -o "$disc/out" --quiet \
  2>"$disc/loaded" || fail "the installed tambrel-cli could not make a WMA file"
grep -q "file=$(readlink -f "$prefix/$private")/libtambrel_ffmpeg.so" "$disc/loaded" ||
  fail "the installed tambrel-cli did not load FFmpeg's module from beside it"
echo "installed tree in $prefix checked"
