#!/usr/bin/env bash
# Checks that a change to the slice search leaves its results byte for byte as they were.
#   bench/search_identity.sh record DIR [CLI]    makes the test files in DIR/files (once) and keeps
#                                                the JSON of every search command in DIR/expected
#   bench/search_identity.sh compare DIR [CLI]   runs the same commands again and compares
# CLI defaults to build/bin/cleavix-cli. Record with the program before the change (a copy of it:
# the build replaces it), compare with the one after. The files cover mono and stereo, 8 and 16
# bits, Wave and AIFF, 1 Hz to 96000 Hz, 0 to 308 frames, silence, a long file and files that
# reach the 8192-candidate limit. Every run also checks that no point lies beyond its sample.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mode="${1:-}"
dir="${2:-}"
cli="${3:-$here/build/bin/cleavix-cli}"
if [[ "$mode" != record && "$mode" != compare ]] || [ -z "$dir" ]; then
    echo "usage: $0 record|compare DIR [CLI]" >&2
    exit 64
fi
if [ ! -x "$cli" ]; then
    echo "no $cli" >&2
    exit 1
fi
command -v sox > /dev/null || { echo "sox is needed" >&2; exit 1; }
files="$dir/files"
mkdir -p "$files"
export CLEAVIX_TEMP="$(mktemp -d)"
trap 'rm -rf "$CLEAVIX_TEMP"' EXIT

# Hits at known frames (a short attack into a decaying tone with noise, as the slicing tests
# make them), bursts, silence and noise, written as 16-bit Wave (8-bit by sox afterwards).
generate() { # name rate channels frames kind
    python3 - "$@" << 'EOF'
import math, random, struct, sys, wave
name, rate, channels, frames, kind = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), sys.argv[5]
s = [0] * (frames * channels)
rng = random.Random(frames * 7 + channels + rate % 1000)
def hit(channel, frame, amplitude, seconds=0.12, hz=44100):
    noise = 12345 + frame
    for i in range(int(seconds * hz)):
        if frame + i >= frames:
            break
        noise = (noise * 1664525 + 1013904223) & 0xFFFFFFFF
        t = i / hz
        v = amplitude * math.exp(-t * 30.0) * (math.sin(2 * math.pi * 180.0 * t) * 0.6 + ((noise >> 16) / 32768.0 - 1.0) * 0.4)
        k = (frame + i) * channels + channel
        s[k] = int(max(-32768, min(32767, s[k] + v)))
def burst(channel, frame, length):
    for i in range(length):
        if frame + i < frames:
            s[(frame + i) * channels + channel] = 20000 if i % 2 == 0 else -20000
if kind == 'hits':
    for k in range(len(s)):
        s[k] = rng.randint(-40, 40)
    step = max(1, frames // 23)
    for n, f in enumerate(range(step // 3, frames, step)):
        hit(n % channels, f, 6000 + 2500 * (n % 9))
elif kind == 'bursts':
    burst(0, min(100, frames), 105)
    if channels == 2:
        burst(1, min(150, frames), 60)
elif kind == 'clicks':
    # Far more onsets than the candidate table holds.
    for f in range(300, frames - 200, 450):
        burst(rng.randrange(channels), f, 20 + rng.randrange(60))
elif kind == 'clicks-both':
    # Enough onsets in each channel alone to fill the table.
    for f in range(300, frames - 200, 420):
        for c in range(channels):
            burst(c, f + 40 * c, 30)
elif kind == 'noise':
    for k in range(len(s)):
        s[k] = rng.randint(-30000, 30000)
elif kind == 'full':
    for k in range(len(s)):
        s[k] = 32767 if (k // channels // 37) % 2 == 0 else -32768
with wave.open(name, 'wb') as w:
    w.setnchannels(channels)
    w.setsampwidth(2)
    w.setframerate(rate)
    w.writeframes(struct.pack('<%dh' % len(s), *s))
EOF
}

make_files() {
    local f="$files"
    "$cli" demo "$f/demo.wav" > /dev/null
    sox "$f/demo.wav" "$f/demo_mono.wav" remix 1-2
    sox "$f/demo.wav" -b 8 "$f/demo_8bit.wav"
    sox "$f/demo.wav" "$f/demo.aif"
    sox "$f/demo.wav" -b 8 "$f/demo_mono_8bit.aif" remix 1
    for rate in 11025 22050 32000 48000 88200 96000; do
        sox "$f/demo.wav" -r "$rate" "$f/demo_$rate.wav"
    done
    sox "$f/demo.wav" -r 96000 "$f/demo_96000_mono.aif" remix 2
    sox "$f/demo.wav" -r 11025 -b 8 "$f/demo_11025_8bit.aif"
    for frames in 0 1 205 307 308; do
        generate "$f/bursts_${frames}_mono.wav" 44100 1 "$frames" bursts
        generate "$f/bursts_${frames}_stereo.wav" 44100 2 "$frames" bursts
    done
    generate "$f/bursts_308_mono_96000.wav" 96000 1 308 bursts
    generate "$f/bursts_308_stereo_11025.wav" 11025 2 308 bursts
    generate "$f/bursts_1000_stereo_96000.wav" 96000 2 1000 bursts
    generate "$f/silence_stereo.wav" 44100 2 88200 silence
    generate "$f/silence_mono.wav" 22050 1 30000 silence
    sox "$f/silence_mono.wav" -b 8 "$f/silence_mono_8bit.aif"
    generate "$f/hits_mono.wav" 44100 1 200000 hits
    generate "$f/hits_stereo.wav" 44100 2 150000 hits
    generate "$f/hits_stereo_48000.wav" 48000 2 120000 hits
    generate "$f/hits_mono_11025.wav" 11025 1 60000 hits
    generate "$f/hits_stereo_1.wav" 1 2 50000 hits
    generate "$f/hits_mono_4000.wav" 4000 1 50000 hits
    sox "$f/hits_stereo.wav" -b 8 "$f/hits_stereo_8bit.aif"
    generate "$f/noise_stereo.wav" 44100 2 132300 noise
    generate "$f/full_scale_mono.wav" 44100 1 88200 full
    sox -n -r 22050 -c 1 -b 8 "$f/sweep_8bit.wav" synth 3 sine 50-5000 vol 0.7
    sox -n -r 44100 -c 2 -b 16 "$f/pluck.wav" synth 0.25 pluck 110 vol 0.8
    sox "$f/pluck.wav" "$f/plucks_30s.wav" repeat 119
    sox "$f/pluck.wav" "$f/long_4min.wav" repeat 959
    rm "$f/pluck.wav"
    generate "$f/clicks_mono.wav" 44100 1 4200000 clicks
    generate "$f/clicks_stereo.wav" 48000 2 4000000 clicks
    generate "$f/clicks_both_stereo.wav" 44100 2 3600000 clicks-both
}

if [ -z "$(ls -A "$files")" ]; then
    make_files
fi

out="$dir/expected"
if [ "$mode" = compare ]; then
    out="$dir/actual"
fi
rm -rf "$out"
mkdir -p "$out"
run() { # output name, command...
    local name="$1"
    shift
    local status=0
    "$cli" "$@" > "$out/$name" 2> "$out/$name.err" || status=$?
    echo "exit $status" >> "$out/$name"
}
count=0
for file in "$files"/*; do
    base="$(basename "$file")"
    run "$base.scan.json" scan "$file"
    run "$base.scan-unlinked.json" scan "$file" --unlinked
    run "$base.scan-width300.json" scan "$file" --width 300
    run "$base.slice50.json" slice "$file" --sensitivity 50
    count=$((count + 1))
done
limited=$( (grep -l '"limitReached": true' "$out"/*.scan-unlinked.json || true) | wc -l)
echo "$count files, $((count * 4)) outputs; $limited files reach the candidate limit"
# Whatever the program, no point may lie at or beyond the end of its sample.
outside=$(python3 - "$out" << 'PY'
import glob, json, sys
bad = 0
for name in sorted(glob.glob(sys.argv[1] + '/*.json')):
    result = json.loads(open(name).read().rsplit('exit', 1)[0])
    for p in result.get('candidates', []) + result.get('points', []):
        if p['position'] >= result['dataLength']:
            print('%s: point at %d of %d bytes' % (name.rsplit('/', 1)[1], p['position'], result['dataLength']),
                  file=sys.stderr)
            bad += 1
print(bad)
PY
)
echo "$outside points beyond the end of their sample"
if [ "$mode" = compare ]; then
    if [ "$outside" != 0 ]; then
        exit 1
    fi
    if diff -r -q "$dir/expected" "$out" > "$dir/differences.txt"; then
        echo "all outputs identical"
    else
        echo "outputs differ:" >&2
        cat "$dir/differences.txt" >&2
        exit 1
    fi
fi
