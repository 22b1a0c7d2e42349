#!/usr/bin/env bash
# Edit and process times and peak memory of cleavix-cli on long stereo files, against reference
# tools in the same run:
#   cut of the first second and its undo  vs  cp of the same file
#   reverse of the whole file             vs  sox FILE OUT reverse
#   normalise of the whole file (no D.C.) vs  sox FILE OUT gain -n
#   bench/editing_bench.sh [BUILD_DIR]        (default: build)
# Each edit runs in a `cleavix-cli run` script after `open`; the time of a script that only opens
# the file is taken off. Warm cache, best of 3. Peak RSS is that of the whole script.
set -euo pipefail
build="${1:-build}"
cli="$(realpath "$build/bin/cleavix-cli")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLEAVIX_TEMP="$work"
cd "$work"

best_of_3() { # command... -> best wall seconds
    local best=""
    for _ in 1 2 3; do
        local start end t
        start=$(date +%s.%N)
        "$@" > /dev/null 2>&1
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
    done
    echo "$best"
}
peak_mb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1 | awk '{printf "%.1f", $1 / 1024}'; }
script() { printf '%s\n' "$@" > "$work/script.txt"; echo "$work/script.txt"; }

"$cli" demo loop.wav > /dev/null
sox loop.wav ten.wav repeat 149    # 150 x 4 s = 600 s
sox ten.wav thirty.wav repeat 2    # 1800 s

printf '%-11s %-22s %9s %9s %8s %12s\n' file operation cleavix_s ref_s ratio peak_RSS_MB
for f in ten.wav thirty.wav; do
    cat "$f" > /dev/null
    printf 'open %s\n' "$f" > open.txt
    t_open=$(best_of_3 "$cli" run open.txt)
    # cut of the first second (44100 frames x 4 bytes) and its undo, against cp
    printf 'open %s\nselect 0 176400\ncut\nundo\n' "$f" > cut.txt
    t=$(best_of_3 "$cli" run cut.txt)
    ref=$(best_of_3 sh -c "cp $f copy.wav && rm -f copy.wav")
    e=$(echo "$t - $t_open" | bc -l)
    printf '%-11s %-22s %9.3f %9.3f %8.2f %12s\n' "$f" "cut 1 s + undo" "$e" "$ref" "$(echo "$e / $ref" | bc -l)" \
        "$(peak_mb "$cli" run cut.txt)"
    printf 'open %s\nreverse\n' "$f" > rev.txt
    t=$(best_of_3 "$cli" run rev.txt)
    ref=$(best_of_3 sox "$f" out.wav reverse)
    e=$(echo "$t - $t_open" | bc -l)
    printf '%-11s %-22s %9.3f %9.3f %8.2f %12s\n' "$f" "reverse" "$e" "$ref" "$(echo "$e / $ref" | bc -l)" \
        "$(peak_mb "$cli" run rev.txt)"
    printf 'open %s\nnormalise 100 --no-dc\n' "$f" > norm.txt
    t=$(best_of_3 "$cli" run norm.txt)
    ref=$(best_of_3 sox -D "$f" out.wav gain -n)
    e=$(echo "$t - $t_open" | bc -l)
    printf '%-11s %-22s %9.3f %9.3f %8.2f %12s\n' "$f" "normalise 100 %" "$e" "$ref" "$(echo "$e / $ref" | bc -l)" \
        "$(peak_mb "$cli" run norm.txt)"
    printf '%-11s %-22s %9.3f %9s %8s %12s\n' "$f" "open only" "$t_open" "-" "-" "$(peak_mb "$cli" run open.txt)"
    rm -f out.wav
done
echo "cleavix_s: the edit's own time (script time minus the time of opening the file); ratio = cleavix_s / ref_s"
