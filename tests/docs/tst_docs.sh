#!/bin/bash
# The documents against the programs. Each claim below names a document, the words it says, and
# a command whose exit status and output must bear the words out; a document that drifts from
# its program, or a program from its document, fails its claim. Then every option the command
# line takes must be described wherever options are listed, and nothing described that it lacks.
# Usage: tst_docs.sh SOURCE_DIR (TAMBREL_CLI and MAKEDISC in the environment)
set -u
src=$1
cli=$TAMBREL_CLI
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# What a reader of a document meets: no tags, entities or markup; one space for any run of
# white space, since the documents wrap their lines anywhere.
plain() {
  case $1 in
  *.html) sed -e 's/<[^>]*>//g' -e 's/&lt;/</g; s/&gt;/>/g; s/&quot;/"/g; s/&amp;/\&/g' "$1" ;;
  *) sed -e 's/`//g' -e 's/\*\*//g' "$1" ;;
  esac | squeeze
}
squeeze() { tr -s ' \t\n' '   '; }

# claim DOC WORDS STATUS OUTPUT COMMAND...: DOC (relative to the sources) says WORDS; COMMAND,
# run in the scratch folder, ends with STATUS and prints OUTPUT ("=": the same words) on
# standard output or error.
claim() {
  local doc=$1 words=$2 status=$3 output=$4
  shift 4
  [ "$output" = "=" ] && output=$words
  plain "$src/$doc" | grep -qF -- "$words" || fail "$doc does not say: $words"
  local printed got
  printed=$("$@" 2>&1)
  got=$?
  [ "$got" = "$status" ] || fail "$* ended with $got, not $status ($doc: $words)"
  [ -z "$output" ] || printf '%s' "$printed" | squeeze | grep -qF -- "$output" ||
    fail "$* did not print: $output ($doc: $words); it printed: $printed"
}

"$MAKEDISC" d.cue audio:5 audio:5:noise >/dev/null || exit 1
sed 's/d\.bin/gone.bin/' d.cue >nobin.cue
head -c 20000 d.bin >short.bin
sed 's/d\.bin/short.bin/' d.cue >short.cue
mkdir out

claim README.md "0 when every chosen track was written" 0 "" \
  "$cli" convert d.cue -f wav -o out -q
claim README.md "2 for a usage error" 2 "Say which format" "$cli" convert d.cue -o out
claim README.md "a missing output folder" 2 "the output folder nowhere does not exist" \
  "$cli" convert d.cue -f wav -o nowhere
claim docs/help/command-line.html "Short options are given one by one: -q -j 2, not -qj2" 2 \
  "Unknown option 'qj2'" "$cli" convert d.cue -f wav -o out -qj2
claim README.md "(Session1_Track1<TAB>AUDIO<TAB> 4:05:120)" 0 "Session1_Track1 AUDIO 0:05:000" \
  "$cli" list d.cue
claim README.md "one line per chosen track (number, name, file, tab-separated)" 0 \
  "01 Session1_Track1 out/Session1_Track1.flac" "$cli" convert d.cue -f flac -o out --dry-run
claim README.md "info gives the disc's MusicBrainz, AccurateRip and freedb ids" 0 \
  "AccurateRip disc id: 002-00000465-00000bb9-09000a02 FreeDB disc id: 09000a02" \
  "$cli" info d.cue --metadata none
claim docs/help/disc-images.html "cannot be read: the file does not exist." 2 \
  'The disc image "missing.cue" cannot be read: the file does not exist.' "$cli" list missing.cue
claim docs/discs-and-drives.md "tambrel-cli list shows it as a first line Session1_Track0 ... hidden" \
  0 "Session1_Track0 AUDIO 0:02:000 hidden Session1_Track1 AUDIO 0:03:013 Session1_Track2 AUDIO 0:04:986 pre-emphasis" \
  sh -c 'printf "FILE \"d.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 00 00:00:00\n INDEX 01 00:02:00\n TRACK 02 AUDIO\n FLAGS PRE\n INDEX 01 00:05:01\n" >h.cue && exec "$0" list h.cue' "$cli"
claim docs/discs-and-drives.md "is not a disc image Tambrel can read (.cue, .toc, .nrg)." 2 \
  '"d.txt" is not a disc image Tambrel can read (.cue, .toc, .nrg).' \
  sh -c 'cp d.cue d.txt && exec "$0" list d.txt' "$cli"
claim docs/discs-and-drives.md "its name is not valid UTF-8. Rename it and try again." 2 = \
  sh -c 'exec "$0" list "$(printf "bad\377.cue")"' "$cli"
claim README.md 'fails the track that reaches it ("File too large")' 1 \
  "Session1_Track1 failed: Cannot write the file out/Session1_Track1.wav: File too large" \
  sh -c 'ulimit -f 100; exec "$0" convert d.cue -f wav -o out --overwrite -q' "$cli"
claim docs/help/troubleshooting.html "Cannot write the file ...: No space left on device" 1 \
  "failed: Cannot write the file out/Session1_Track1.mp3: File too large" \
  sh -c 'ulimit -f 20; exec "$0" convert d.cue -f mp3 -o out --overwrite -q' "$cli"
claim docs/rip-log.md "Read mode: image, read as it is" 0 "=" \
  sh -c '"$0" convert d.cue -f wav -o out --skip-existing -q --log=run.log && cat run.log' "$cli"

claim docs/help/formats.html "128 kbit/s constant bitrate, 44 100 Hz, joint stereo" 0 \
  "Encoder: MP3, 128 kbit/s CBR, 44 100 Hz, joint stereo" \
  sh -c '"$0" convert d.cue -f mp3 -o out -t 1 --overwrite -q --log=mp3.log && cat mp3.log' "$cli"
claim docs/help/command-line.html "--network off keeps tambrel-cli off line, in this run and every later one" \
  0 "AccurateRip lookup: not looked up: the network is off" \
  sh -c '"$0" info d.cue --network off >/dev/null &&
    "$0" convert d.cue -f wav -o out --overwrite -q --log=off.log && cat off.log' "$cli"
claim docs/rip-log.md "then a colon and how many of them fall in each of these groups" 0 \
  "Summary: 2 tracks not verified: 2 not looked up" cat off.log
claim docs/help/settings-file.html "tambrel-cli, on standard error) tells you once" 0 \
  "tambrel-cli: The settings file $XDG_CONFIG_HOME/tambrel/registry.db was damaged." \
  sh -c 'echo damaged >"$XDG_CONFIG_HOME/tambrel/registry.db" &&
    exec "$0" convert d.cue -f wav -o out --overwrite -q --network on' "$cli"

# Every option --help shows is described in README, the help page, the manual page and the
# completion, and the help page describes none that --help lacks.
options=$("$cli" --help | grep -oE -- '--[a-z][a-z-]+' | sort -u)
[ -n "$options" ] || fail "tambrel-cli --help shows no options"
for doc in README.md docs/help/command-line.html docs/man/tambrel-cli.1.scd \
  cli/tambrel-cli.bash-completion; do
  for option in $options; do
    grep -qF -- "$option" "$src/$doc" || fail "$doc does not describe $option"
  done
done
for option in $(plain "$src/docs/help/command-line.html" | grep -oE -- '--[a-z][a-z-]+' | sort -u); do
  printf '%s\n' "$options" | grep -qxF -- "$option" ||
    fail "docs/help/command-line.html describes $option, which tambrel-cli --help lacks"
done

[ "$failures" = 0 ] || exit 1
echo "all claims hold"
