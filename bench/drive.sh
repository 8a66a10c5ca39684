#!/usr/bin/env bash
# One track ripped from a CD drive: the virtual drive (libtambrel_vdrive.so, preloaded) serves a
# generated disc (a noise track of TRACK_SECONDS (60) seconds, then a 5-second one) at /dev/sr7,
# paced as a SPEED-times (8) drive. Times `tambrel-cli convert -f wav` (libcdio-paranoia's full
# verification in the reader process), `cd-paranoia -w` (the reference: same drive, same track,
# full paranoia) and `tambrel-cli convert --verify` (test and copy: the track read twice). Runs
# alternate between the three so that all see the same machine. Prints each one's median wall and
# processor time (user + system, its helper processes included) over RUNS (3) rounds, the speed
# as a multiple of real time, the sectors the drive returned per sector of the track, whether the
# WAV's samples are the track's bytes exactly, and the ratios: Tambrel against cd-paranoia (target
# for wall time: at most 1.05) and --verify against the plain rip.
# No network: AccurateRip and MusicBrainz point at a closed local port.
# Paranoia reads each sector about twice, so a run takes about 1.1 * RUNS * TRACK_SECONDS * 8 / SPEED
# seconds (some 3 minutes with the defaults).
# Usage: [SPEED=8] [TRACK_SECONDS=60] [RUNS=3] bench/drive.sh [BUILD_DIR]
# (TRACK_SECONDS, not SECONDS: bash's SECONDS counts the shell's own seconds.)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
build=$(cd "$build" && pwd)
runs=${RUNS:-3}
speed=${SPEED:-8}
length=${TRACK_SECONDS:-60}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/config" "$work/out" "$work/verify"
export HOME=$work/home XDG_CONFIG_HOME=$work/config
export TAMBREL_ACCURATERIP_URL=http://127.0.0.1:9/ TAMBREL_MUSICBRAINZ_URL=http://127.0.0.1:9/
export TAMBREL_VDRIVE_CUE=$work/disc.cue TAMBREL_VDRIVE_SPEED=$speed
export TAMBREL_VDRIVE_STATE=$work/state
vdrive=$build/tests/support/vdrive/libtambrel_vdrive.so
cli=$build/cli/tambrel-cli
command -v cd-paranoia >/dev/null || { echo "cd-paranoia is missing (scripts/install-deps.sh)" >&2; exit 1; }

"$build/tests/support/makedisc" "$work/disc.cue" "audio:$length:noise" audio:5:noise >/dev/null
track_bytes=$((length * 44100 * 4))
head -c "$track_bytes" "$work/disc.bin" >"$work/track.pcm"

median() { sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# Runs the command on the drive, with a fresh state file so its counters start at zero; prints
# its wall and processor seconds and the audio sectors the drive returned.
TIMEFORMAT='%3R %3U %3S'
timed() {
  rm -f "$work/state"
  { time LD_PRELOAD=$vdrive "$@" >/dev/null 2>"$work/stderr"; } 2>"$work/time" ||
    { echo "failed: $*" >&2; cat "$work/stderr" >&2; exit 1; }
  awk -v s="$(od -An -t u8 -j 16 -N 8 "$work/state")" '{printf "%s %s %s\n", $1, $2 + $3, s}' "$work/time"
}
# Whether the WAV's samples (after its 44-byte header) are the track's bytes.
exact() { cmp -s <(tail -c +45 "$1") "$work/track.pcm" && echo exact || echo WRONG; }

declare -A wall cpu sectors
names=(tambrel cd-paranoia verify)
for _ in $(seq "$runs"); do
  for name in "${names[@]}"; do
    case $name in
      tambrel) set -- "$cli" convert /dev/sr7 -f wav -o "$work/out" -t 1 --overwrite -q ;;
      cd-paranoia) set -- cd-paranoia -d /dev/sr7 -w 1 "$work/paranoia.wav" ;;
      verify) set -- "$cli" convert /dev/sr7 -f wav -o "$work/verify" -t 1 --overwrite -q --verify ;;
    esac
    result=$(timed "$@")
    read -r w c s <<<"$result"
    wall[$name]+="$w"$'\n' cpu[$name]+="$c"$'\n' sectors[$name]=$s
  done
done

declare -A file=([tambrel]=$work/out/Session1_Track1.wav [cd-paranoia]=$work/paranoia.wav
  [verify]=$work/verify/Session1_Track1.wav)
printf '%s s track at %sx (%s sectors), median of %s rounds\n' "$length" "$speed" \
  "$((length * 75))" "$runs"
printf '%-12s %9s %9s %10s %13s   %s\n' rip wall cpu "real time" "reads/sector" samples
declare -A mw mc
for name in "${names[@]}"; do
  mw[$name]=$(printf '%s' "${wall[$name]}" | median)
  mc[$name]=$(printf '%s' "${cpu[$name]}" | median)
  printf '%-12s %8.3fs %8.3fs %9.2fx %13.2f   %s\n' "$name" "${mw[$name]}" "${mc[$name]}" \
    "$(echo "$length / ${mw[$name]}" | bc -l)" "$(echo "${sectors[$name]} / ($length * 75)" | bc -l)" \
    "$(exact "${file[$name]}")"
done
# A time below the clock's resolution counts as one millisecond.
ratio() { echo "$1 / (($2 < 0.001) * 0.001 + ($2 >= 0.001) * $2)" | bc -l; }
printf 'tambrel / cd-paranoia: wall %.3f (target at most 1.05), cpu %.2f\n' \
  "$(ratio "${mw[tambrel]}" "${mw[cd-paranoia]}")" "$(ratio "${mc[tambrel]}" "${mc[cd-paranoia]}")"
printf -- '--verify / plain rip: wall %.3f, cpu %.2f\n' \
  "$(ratio "${mw[verify]}" "${mw[tambrel]}")" "$(ratio "${mc[verify]}" "${mc[tambrel]}")"
