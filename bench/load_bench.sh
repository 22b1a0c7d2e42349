#!/usr/bin/env bash
# Load throughput and peak memory of cleavix-cli against plain reading of the same file.
#   bench/load_bench.sh [BUILD_DIR]        (default: build)
# Makes ten- and sixty-minute 44100 Hz stereo files (Wave and AIFF) in a temporary folder, reads
# each with `cat FILE > /dev/null` and loads it with `cleavix-cli load`, warm cache, best of 3.
set -euo pipefail
build="${1:-build}"
cli="$build/bin/cleavix-cli"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

best_of_3() { # command... -> best wall seconds
    local best=""
    for _ in 1 2 3; do
        local start end t
        start=$(date +%s.%N)
        "$@" > /dev/null
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
    done
    echo "$best"
}

peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

# The ten-minute file is the demo loop repeated: real drum audio, not silence.
"$cli" demo "$work/loop.wav" > /dev/null
sox "$work/loop.wav" "$work/ten.wav" repeat 149      # 150 x 4 s = 600 s
sox "$work/ten.wav" "$work/ten.aif"
sox "$work/ten.wav" "$work/sixty.wav" repeat 5       # 3600 s

copy_once() { cp "$1" "$work/copy.tmp" && rm -f "$work/copy.tmp"; }

printf '%-10s %8s %9s %9s %10s %10s %10s %12s\n' file MB cat_MB/s cp_MB/s load_MB/s load/cat load/cp peak_RSS_MB
for f in ten.wav ten.aif sixty.wav; do
    path="$work/$f"
    mb=$(echo "$(stat -c %s "$path") / 1048576" | bc -l)
    cat "$path" > /dev/null # warm the cache
    t_cat=$(best_of_3 cat "$path")
    t_cp=$(best_of_3 copy_once "$path")
    t_load=$(best_of_3 "$cli" load "$path")
    rss=$(peak_kb "$cli" load "$path")
    printf '%-10s %8.1f %9.0f %9.0f %10.0f %10.2f %10.2f %12.1f\n' "$f" "$mb" "$(echo "$mb / $t_cat" | bc -l)" \
        "$(echo "$mb / $t_cp" | bc -l)" "$(echo "$mb / $t_load" | bc -l)" "$(echo "$t_cat / $t_load" | bc -l)" \
        "$(echo "$t_cp / $t_load" | bc -l)" "$(echo "$rss / 1024" | bc -l)"
done
echo "load/cat and load/cp: load throughput over that of reading the file, and of copying it with cp"
echo "(a load reads the file and writes the working store, so cp is the closest plain equivalent)"
