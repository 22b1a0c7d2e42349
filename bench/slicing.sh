#!/usr/bin/env bash
# Load plus slice search of a long stereo file with cleavix-cli, against `cat FILE > /dev/null` and
# against aubioonset (Debian's aubio-tools) on the same file in the same run, plus the peak memory
# of the search for ten and sixty minutes of audio.
#   bench/slicing.sh [BUILD_DIR]      (default: build)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"
cli="$build/bin/cleavix-cli"
if [ ! -x "$cli" ]; then
    echo "no $cli: build cleavix-cli first" >&2
    exit 1
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLEAVIX_TEMP="$work"

# A drum-like signal: a plucked note every quarter second, 44100 Hz 16-bit stereo.
make_file() { # minutes file
    sox -n -r 44100 -c 2 -b 16 "$work/beat.wav" synth 0.25 pluck 110 vol 0.8 2>/dev/null
    sox "$work/beat.wav" "$2" repeat $(( $1 * 240 - 1 ))
}

. "$here/bench/timing.sh"

peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

make_file 10 "$work/ten.wav"
size=$(stat -c %s "$work/ten.wav")
echo "file: 10 minutes, 44100 Hz stereo, $size bytes"
t_cat=$(seconds sh -c "cat '$work/ten.wav' > /dev/null")
t_load=$(seconds "$cli" load "$work/ten.wav")
t_scan=$(seconds "$cli" scan "$work/ten.wav")
echo "cat FILE > /dev/null:        ${t_cat} s"
echo "cleavix-cli load:            ${t_load} s"
echo "cleavix-cli scan (load+search): ${t_scan} s"
echo "search alone (scan - load):  $(echo "$t_scan $t_load" | awk '{printf "%.3f", $1-$2}') s"
if command -v aubioonset > /dev/null; then
    t_aubio=$(seconds aubioonset "$work/ten.wav")
    echo "aubioonset:                  ${t_aubio} s"
    echo "aubioonset / scan:           $(echo "$t_aubio $t_scan" | awk '{printf "%.1f", $1/$2}')x"
else
    echo "aubioonset: not installed (apt-get install aubio-tools)"
fi
# Linked, the default view width merges points closer than 1/1000 of the file; unlinked shows all.
echo "candidates found (unlinked): $("$cli" scan --unlinked "$work/ten.wav" | grep -c '"position"')"
echo "peak memory, scan of 10 minutes: $(peak_kb "$cli" scan "$work/ten.wav") KiB"
rm -f "$work/ten.wav"
make_file 60 "$work/sixty.wav"
echo "peak memory, scan of 60 minutes: $(peak_kb "$cli" scan "$work/sixty.wav") KiB"
