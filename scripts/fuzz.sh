#!/usr/bin/env bash
# Fuzzes the cue-sheet reader: scripts/fuzz.sh [SECONDS] (default 60). Builds the target with
# clang, libFuzzer, AddressSanitizer and UBSan in build-fuzz/, seeds it with cue sheets that the
# tests' image maker writes, and runs it; a crash, sanitizer report, leak or hang fails the run
# and leaves the input in build-fuzz/artifacts/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=$root/build-fuzz
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug \
    -DTAMBREL_SANITIZE=ON -DTAMBREL_FUZZ=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_cueimage makedisc >/dev/null

seeds=$build/seeds
corpus=$build/corpus
rm -rf "$seeds"
mkdir -p "$seeds" "$corpus" "$build/artifacts"
make_seed() {
  local name=$1; shift
  "$build/tests/support/makedisc" "$build/seed.cue" "$@" >/dev/null
  # The fuzzer's data file is disc.bin beside the sheet.
  sed 's/^FILE .*BINARY/FILE "disc.bin" BINARY/' "$build/seed.cue" > "$seeds/$name.cue"
}
make_seed one audio:1
make_seed three audio:1 audio:50s audio:30s
make_seed data audio:1 data:40s audio:20s
make_seed silence audio:100s:silence audio:100s:noise
printf 'REM a sheet as other rippers write it\r\nFILE "disc.bin" BINARY\r\n  TRACK 01 AUDIO\r\n    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    PREGAP 00:00:10\r\n    INDEX 00 00:01:00\r\n    INDEX 01 00:01:30\r\n    POSTGAP 00:00:05\r\n' > "$seeds/gaps.cue"
printf 'FILE "disc.bin" MOTOROLA\nTRACK 67 AUDIO\nINDEX 01 00:00:00\nFILE "disc.bin" BINARY\nTRACK 68 MODE1/2352\nINDEX 01 00:00:00\n' > "$seeds/files.cue"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$root/scripts/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
status=0
"$build/tests/fuzz/fuzz_cueimage" "$corpus" "$seeds" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len=4096 -artifact_prefix="$build/artifacts/" -print_final_stats=1 \
    >"$build/fuzz.log" 2>&1 || status=$?
grep -E "^(==|SUMMARY|stat::number_of_executed_units|stat::peak_rss_mb|INFO: seed corpus)" \
    "$build/fuzz.log" || true
if [ "$status" -ne 0 ]; then
  echo "fuzz_cueimage failed (status $status); see $build/fuzz.log and $build/artifacts/" >&2
  tail -40 "$build/fuzz.log" >&2
fi
exit "$status"
