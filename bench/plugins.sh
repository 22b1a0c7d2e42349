#!/usr/bin/env bash
# A ten-minute stereo file through an LV2 gain plug-in with cleavix-cli (load, process with undo,
# save), against sox applying the same gain to the same file in the same run, plus the peak memory.
# The gain plug-in is the tests' own (build the cleavix_test_lv2 target); swh-lv2's amplifier is
# timed too when installed.
#   bench/plugins.sh [BUILD_DIR]      (default: build)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$here/build}"
cli="$build/bin/cleavix-cli"
bundle="$build/tests/plugins/lv2/path"
if [ ! -x "$cli" ] || [ ! -d "$bundle/cleavix-test.lv2" ]; then
    echo "build cleavix-cli and cleavix_test_lv2 first" >&2
    exit 1
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLEAVIX_TEMP="$work"
export XDG_DATA_HOME="$work"

. "$here/bench/timing.sh"

sox -n -r 44100 -c 2 -b 16 "$work/ten.wav" synth 600 pinknoise vol 0.5 2>/dev/null
echo "file: 10 minutes, 44100 Hz stereo, $(stat -c %s "$work/ten.wav") bytes"
t_load=$(seconds "$cli" save "$work/ten.wav" "$work/copy.wav")
t_gain=$(LV2_PATH="$bundle" seconds "$cli" plugin "$work/ten.wav" "$work/out.wav" --plugin urn:cleavix-test:gain \
    --set gain=0.5 --scope all)
t_sox=$(seconds sox -D "$work/ten.wav" "$work/sox.wav" vol 0.5)
echo "cleavix-cli save (load + save, no plug-in): ${t_load} s"
echo "cleavix-cli plugin gain 0.5 (load, undo copy, process, save): ${t_gain} s"
echo "plug-in run alone (plugin - save):           $(echo "$t_gain $t_load" | awk '{printf "%.3f", $1-$2}') s"
echo "sox -D vol 0.5 (no dither):                   ${t_sox} s"
if cmp -s <(tail -c +45 "$work/out.wav") <(tail -c +45 "$work/sox.wav"); then
    echo "outputs: identical audio"
else
    echo "outputs: differ (rounding: $(cmp -l <(tail -c +45 "$work/out.wav") <(tail -c +45 "$work/sox.wav") | wc -l) bytes)"
fi
echo "peak memory, plugin: $(LV2_PATH="$bundle" /usr/bin/time -f %M "$cli" plugin "$work/ten.wav" "$work/out.wav" \
    --plugin urn:cleavix-test:gain --set gain=0.5 --scope all 2>&1 >/dev/null | tail -1) KiB"
if [ -d /usr/lib/lv2/amp-swh.lv2 ]; then
    t_swh=$(LV2_PATH=/usr/lib/lv2 seconds "$cli" plugin "$work/ten.wav" "$work/out.wav" \
        --plugin http://plugin.org.uk/swh-plugins/amp --set gain=-6.0206 --scope all)
    echo "cleavix-cli plugin swh amp -6 dB:            ${t_swh} s"
fi
