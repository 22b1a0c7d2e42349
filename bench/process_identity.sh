#!/usr/bin/env bash
# Checks that a change to the load, the in-place processes, cut, crop and undo or the save leaves every
# output byte for byte as it was.
#   bench/process_identity.sh record DIR [CLI]    makes the test files in DIR/files (once) and keeps
#                                                 the checksum of every output in DIR/expected.txt
#   bench/process_identity.sh compare DIR [CLI]   runs the same scripts again and compares
# CLI defaults to build/bin/cleavix-cli. Record with the program before the change (a copy of it:
# the build replaces it), compare with the one after. The files cover mono and stereo, 8 and 16
# bits, Wave and AIFF, lengths from one frame to past several blocks, D.C. offsets, silence and
# full scale. Each script's store (dump-store), peak table (dump-peaks), points (dump-points), state
# (dump-state) and saved files are compared, and so is its exit status.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
mode="${1:-}"
dir="${2:-}"
cli="${3:-$here/build/bin/cleavix-cli}"
if [[ "$mode" != record && "$mode" != compare ]] || [ -z "$dir" ]; then
    echo "usage: $0 record|compare DIR [CLI]" >&2
    exit 64
fi
command -v sox > /dev/null || { echo "sox is needed" >&2; exit 1; }
cli="$(realpath "$cli")"
files="$dir/files"
mkdir -p "$files"
work="$(mktemp -d)"
export CLEAVIX_TEMP="$work"
trap 'rm -rf "$work"' EXIT

if [ ! -e "$files/done" ]; then
    "$cli" demo "$files/loop.wav" > /dev/null
    n=0
    # rate channels seconds effects...
    while read -r rate channels seconds effects; do
        n=$((n + 1))
        for bits in 16 8; do
            for ext in wav aif; do
                # shellcheck disable=SC2086
                sox -D -n -r "$rate" -c "$channels" -b "$bits" "$files/f$n-${channels}ch-$bits.$ext" \
                    synth "$seconds" $effects
            done
        done
    done << 'EOF'
44100 2 3 pinknoise vol 0.4 dcshift 0.05
44100 1 3 pinknoise vol 0.4 dcshift -0.03
44100 2 1.7 sine 440 vol 0.9
44100 1 0.9 square 100 vol 0.99
22050 2 0.01 whitenoise vol 0.2
22050 1 0.0001 whitenoise
8000 1 2.5 brownnoise dcshift 0.2
48000 2 2.2 sine 30 sine 7000 vol 1.2
44100 2 1 sine 0 vol 0
EOF
    sox "$files/loop.wav" "$files/loop.aif"
    sox "$files/loop.wav" -b 8 "$files/loop8.wav"
    sox "$files/loop.wav" -c 1 "$files/loopmono.aif"
    touch "$files/done"
fi

# name: script lines (F is the file, O the output folder)
scripts() {
    cat << 'EOF'
norm	open F|select-all|normalise 100|dump-store O/store|dump-peaks O/peaks|dump-points|save O/out.wav|undo|dump-peaks O/peaksundone
normnodc	open F|select-all|normalise 150 --no-dc --no-recut|dump-store O/store|dump-peaks O/peaks|save O/out.aif
normpart	open F|select 4 40000|normalise 37|dump-store O/store|dump-state|undo|dump-store O/undone
normleft	open F|select-all|channel left|normalise 100 --no-recut|dump-store O/store|save O/out.wav --bits 8
normright	open F|select-all|channel right|normalise 250 --no-dc --no-recut|dump-store O/store
reverse	open F|select-all|reverse|dump-store O/store|dump-peaks O/peaks|save O/out.wav|undo|dump-store O/undone|dump-peaks O/peaksundone|undo|dump-peaks O/peaksredone
revright	open F|select 8 60000|channel right|reverse|dump-store O/store|dump-peaks O/peaks|undo|dump-store O/undone
revleftnoundo	open F|undo-buffer off|select 0 70000|channel left|reverse|dump-store O/store
invert	open F|select-all|invert|dump-store O/store|dump-peaks O/peaks|save O/out.aif|undo|dump-store O/undone|dump-peaks O/peaksundone|undo|dump-peaks O/peaksredone
invleft	open F|select 4 100000|channel left|invert|dump-store O/store
quant4	open F|select-all|quantise 4|dump-store O/store|dump-peaks O/peaks|undo|dump-store O/undone|dump-peaks O/peaksundone
quant0	open F|select-all|quantise 0|dump-store O/store
quant8right	open F|select-all|channel right|quantise 8|dump-store O/store
silence	open F|select 2000 90000|silence|dump-store O/store|undo|dump-store O/undone
cutundo	open F|select 0 176400|cut|dump-store O/store|dump-state|undo|dump-store O/undone|dump-state|undo|dump-store O/redone
cutmid	open F|select 1000 5000|cut|undo|dump-store O/store|dump-points
cutpeaks	open F|select 1000 5000|cut|dump-peaks O/peaks|undo|dump-peaks O/undone|undo|dump-peaks O/redone
croppeaks	open F|loop 1000 90000|crop|dump-store O/store|dump-peaks O/peaks|undo|dump-store O/undone|dump-peaks O/peaksundone
save	open F|save O/out.wav|save O/out.aif|save O/out8.wav --bits 8
EOF
}

results="$work/results.txt"
: > "$results"
for f in "$files"/*.wav "$files"/*.aif; do
    base="$(basename "$f")"
    out="$work/out"
    rm -rf "$out"
    mkdir -p "$out"
    "$cli" load "$f" --store-out "$out/loaded" > "$out/load.json" 2>&1 && status=0 || status=$?
    echo "$base load status $status $(sha256sum < "$out/loaded" 2> /dev/null | cut -c1-16) $(sha256sum < "$out/load.json" | cut -c1-16)" >> "$results"
    while IFS=$'\t' read -r name lines; do
        rm -rf "$out"
        mkdir -p "$out"
        echo "$lines" | tr '|' '\n' | sed "s#\bF\b#$f#; s#\bO/#$out/#g" > "$work/script.txt"
        "$cli" run "$work/script.txt" > "$out/stdout" 2> /dev/null && status=0 || status=$?
        line="$base $name status $status"
        for k in "$out"/*; do
            line="$line $(basename "$k"):$(sha256sum < "$k" | cut -c1-16)"
        done
        echo "$line" >> "$results"
    done < <(scripts)
done

if [ "$mode" = record ]; then
    cp "$results" "$dir/expected.txt"
    echo "recorded $(wc -l < "$results") results in $dir/expected.txt"
else
    if diff "$dir/expected.txt" "$results"; then
        echo "identical: $(wc -l < "$results") results"
    else
        echo "DIFFERENT (lines above: < expected, > now)"
        exit 1
    fi
fi
