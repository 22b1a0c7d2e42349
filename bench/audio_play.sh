#!/usr/bin/env bash
# The player's cost, measured through alsa-lib's null device (no sound card needed; it takes
# audio as fast as it is given, so the figures are the engine's own work per second of audio):
#  - CPU seconds spent per second of looped audio, in both loop modes, as a percentage of one
#    core at real time;
#  - the time from PlayRegion to the first bytes handed to ALSA (median of 21 plays).
# usage: bench/audio_play.sh [BUILD_DIR]   (default: build)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"
cli="$build/bin/cleavix-cli"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$cli" demo "$work/demo.wav" > /dev/null

field() { python3 -c "import json,sys; print(json.load(sys.stdin)['$1'])"; }
percent() { python3 -c "import json,sys; d=json.load(sys.stdin); print('%.3f%% of one core (%.4f s CPU for %.0f s of audio)' % (100*d['cpuSeconds']/d['audioSeconds'], d['cpuSeconds'], d['audioSeconds']))"; }

echo "loop in buffers (0.5 s region, 4 s buffers x 6, 600 passes):"
"$cli" play "$work/demo.wav" --device null --loop 0 88200 --times 600 | percent
echo "streaming loop (4 s region, 1 s buffers x 2, 75 passes):"
"$cli" play "$work/demo.wav" --device null --loop 0 705600 --times 75 --buffer-size 1 --buffer-count 2 | percent
echo "streaming loop (4 s region, 1 s buffers x 2, 75 passes) into alsa-lib's file PCM:"
"$cli" play "$work/demo.wav" --device "file:'$work/out.raw',raw" --loop 0 705600 --times 75 --buffer-size 1 \
    --buffer-count 2 | percent

for i in $(seq 21); do
    "$cli" play "$work/demo.wav" --device null | field firstBytesMs
done | sort -g | awk '{a[NR]=$1} END {printf "PlayRegion to first bytes handed to ALSA: median %.3f ms (min %.3f, max %.3f)\n", a[11], a[1], a[21]}'
