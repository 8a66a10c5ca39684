#!/usr/bin/env bash
# The virtual drive as libcdio's own tools see it: cd-info finds the drive, its tracks and the
# second session of an enhanced CD; cd-paranoia's rips equal the image's PCM to the byte, with
# the drive's read offset corrected or visible; an unreadable stretch is noticed.
# Needs MAKEDISC and VDRIVE_LIBRARY (set by CTest); exits 77 (skipped) without the tools.
set -euo pipefail

for tool in cd-info cd-paranoia; do
    command -v "$tool" >/dev/null || { echo "$tool is not installed"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$MAKEDISC" "$work/disc.cue" audio:3:noise audio:2:tone=1000 +data:10 >/dev/null
export TAMBREL_VDRIVE_CUE=$work/disc.cue TAMBREL_VDRIVE_STATE=$work/state
unset TAMBREL_VDRIVE_DEVICE TAMBREL_VDRIVE_OFFSET TAMBREL_VDRIVE_JITTER TAMBREL_VDRIVE_NOISE \
    TAMBREL_VDRIVE_UNREADABLE TAMBREL_VDRIVE_REMOVE_AT TAMBREL_VDRIVE_CACHE TAMBREL_VDRIVE_SPEED

failures=0
check() { # DESCRIPTION COMMAND...
    local what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
on_drive() { LD_PRELOAD=$VDRIVE_LIBRARY "$@"; }
rip() { on_drive cd-paranoia -d /dev/sr7 "$@" -r 1 - 2>"$work/paranoia.err"; }

info=$(on_drive cd-info --no-header --no-cddb -l -C /dev/sr7 2>&1) || true
has() { # PATTERN...: each matches a line of cd-info's report
    for pattern; do grep -Eq -- "$pattern" <<<"$info" || return 1; done
}
check "the drive is listed" has '^Drive /dev/sr7$'
check "its vendor, model and revision" has '^Vendor +: TAMBREL' '^Model +: Virtual CD' \
    '^Revision +: 1.00'
check "track 1" has '^ +1: 00:02:00 +000000 audio'
check "track 2" has '^ +2: 00:05:00 +000225 audio'
check "track 3 after the session gap" has '^ +3: 02:39:00 +011775 data'
check "the lead-out" has '^170: 02:49:00 +012525 leadout'
check "the last session" has '^Last CD Session LSN: 11775$'
check "an enhanced CD" has 'session #2 starts at track +3'

# Track 1 is the first 225 sectors of the image.
head -c $((225 * 2352)) "$work/disc.bin" >"$work/track1.pcm"
rip >"$work/rip.raw" || true
check "a rip equals the image" cmp -s "$work/rip.raw" "$work/track1.pcm"
served=$(od -An -t u8 -j 16 -N 8 "$work/state" 2>/dev/null | tr -d ' ') || true
check "the state file counts the sectors served (${served:-none})" test "${served:-0}" -ge 225

# A drive reading 6 samples early: corrected, the rip is exact; uncorrected, it starts with
# 6 samples of silence from before the disc.
TAMBREL_VDRIVE_OFFSET=6 rip -O 6 >"$work/corrected.raw" || true
check "a rip with the offset corrected is exact" cmp -s "$work/corrected.raw" "$work/track1.pcm"
TAMBREL_VDRIVE_OFFSET=6 rip >"$work/shifted.raw" || true
(head -c 24 /dev/zero && head -c $((225 * 2352 - 24)) "$work/track1.pcm") >"$work/shifted.pcm"
check "a rip without correction is shifted" cmp -s "$work/shifted.raw" "$work/shifted.pcm"

# Sectors that can't be read: paranoia reports read errors and skips.
status=0
TAMBREL_VDRIVE_UNREADABLE=100-102 rip -e >"$work/damaged.raw" || status=$?
errors() { [ "$status" -ne 0 ] || grep -q '\[skip\]\|\[transport error\]' "$work/paranoia.err"; }
check "unreadable sectors are reported" errors
check "unreadable sectors are not ripped" test "$(cmp "$work/damaged.raw" "$work/track1.pcm" |
    grep -o 'byte [0-9]*')" = "byte $((100 * 2352 + 1))"

if [ "$failures" -ne 0 ]; then
    echo "$info"
    exit 1
fi
