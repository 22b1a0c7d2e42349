#!/usr/bin/env bash
# Checks that the peak table after edits, undos and redos (brought back from the one set aside, or
# built again) equals the table a fresh load of the same audio builds.
#   bench/peaks_identity.sh [CLI]        (default: build/bin/cleavix-cli)
# For each file and edit script, the script ends with `dump-peaks` (which also fails unless the
# table describes the store) and a save of the result; the saved file is then opened on its own and
# its table dumped; the two dumps must be equal byte for byte.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cli="$(realpath "${1:-$here/build/bin/cleavix-cli}")"
command -v sox > /dev/null || { echo "sox is needed" >&2; exit 1; }
work="$(mktemp -d)"
export CLEAVIX_TEMP="$work"
trap 'rm -rf "$work"' EXIT
cd "$work"

"$cli" demo loop.wav > /dev/null
sox loop.wav -b 8 loop8.wav 2> /dev/null
sox loop.wav loopmono.aif remix 1-2
sox loop.wav long.wav repeat 9 # 40 s: several slots and peak-file writes
sox -D -n -r 22050 -c 1 -b 16 noise.wav synth 2.3 pinknoise vol 0.5 dcshift 0.02
sox -D -n -r 44100 -c 2 -b 16 short.wav synth 0.003 whitenoise vol 0.3

# name: script lines (F the file); every script is followed by dump-peaks and a save
while IFS=$'\t' read -r name lines; do
    printf '%s\t%s\n' "$name" "$lines"
done > scripts.txt << 'EOF2'
cut0	open F|select 0 176400|cut
cut0undo	open F|select 0 176400|cut|undo
cut0redo	open F|select 0 176400|cut|undo|undo
cut0again	open F|select 0 176400|cut|undo|undo|undo
cutmid	open F|select 1000 5004|cut|undo
cuttail	open F|select 40000 44100000|cut|undo|undo
pasteundo	open F|select 800 4000|copy|select 100000 100400|paste-keep|undo|undo
crop	open F|loop 8000 90000|crop|undo
cropped	open F|loop 8000 90000|crop
normundo	open F|select-all|normalise 80|undo|undo
normpart	open F|select 4000 60000|normalise 120 --no-recut|undo
reverse	open F|select 44 88888|reverse|undo|undo
chain	open F|select 0 4000|cut|select 100 2000|reverse|undo|undo|select 0 400|cut|undo
EOF2

checked=0
failed=0
for f in loop.wav loop8.wav loopmono.aif long.wav noise.wav short.wav; do
    while IFS=$'\t' read -r name lines; do
        rm -f after.bin fresh.bin out.wav
        echo "$lines" | tr '|' '\n' | sed "s#\bF\b#$f#" > edits.txt
        { cat edits.txt; echo "dump-peaks after.bin"; echo "save out.wav --bits 16"; } > script.txt
        if ! "$cli" run script.txt > /dev/null 2>&1; then
            # An edit the sample is too short for fails on its own; a failing dump counts.
            if "$cli" run edits.txt > /dev/null 2>&1; then
                echo "$f $name: the table does not describe the store" >&2
                failed=$((failed + 1))
            fi
            continue
        fi
        printf 'open out.wav\ndump-peaks fresh.bin\n' > fresh.txt
        "$cli" run fresh.txt > /dev/null 2>&1
        checked=$((checked + 1))
        if ! cmp -s after.bin fresh.bin; then
            echo "$f $name: the table differs from a fresh load's" >&2
            failed=$((failed + 1))
        fi
    done < scripts.txt
done
echo "$checked tables equal to a fresh load's checked, $failed different"
[ "$failed" = 0 ]
