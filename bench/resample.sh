#!/usr/bin/env bash
# cleavix-cli's resample against sox's very-high-quality rate conversion on the same file, in the
# same run, with the peak memory of each; then the peak memory of the resample on a one-minute and
# a ten-minute file, which must stay flat (the store is streamed in blocks).
#   bench/resample.sh [BUILD_DIR] [N] [RATE]        (defaults: build, 3, 48000)
#   resample: open + resample RATE + save, less the open  vs  sox -D IN -b 16 OUT rate -v RATE
# Each round runs every command once, in turn, so a burst of load on a shared machine falls on all
# of them alike; the load average is printed before and after. Warm cache throughout.
set -euo pipefail
build="${1:-build}"
rounds="${2:-3}"
rate="${3:-48000}"
cli="$(realpath "$build/bin/cleavix-cli")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLEAVIX_TEMP="$work"
cd "$work"

"$cli" demo loop.wav > /dev/null
sox loop.wav one.wav repeat 14  # 15 x 4 s = 60 s
sox loop.wav ten.wav repeat 149 # 150 x 4 s = 600 s
sha256sum one.wav ten.wav > /dev/null # warms the cache

printf '%s\n' 'open ten.wav' > open.txt
printf '%s\n' 'open ten.wav' "resample $rate" 'save out.wav' > ten.txt
printf '%s\n' 'open one.wav' "resample $rate" 'save out.wav' > one.txt

declare -A commands=(
    [c_open]="$cli run open.txt"
    [c_ten]="$cli run ten.txt"
    [c_one]="$cli run one.txt"
    [s_ten]="sox -D ten.wav -b 16 sox.wav rate -v $rate"
)
order=(c_open c_ten s_ten c_one)

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((r = 1; r <= rounds; r++)); do
    for k in "${order[@]}"; do
        rm -f out.wav sox.wav
        start=$(date +%s%N)
        # shellcheck disable=SC2086
        /usr/bin/time -f '%M %U %S' -o rss.txt ${commands[$k]} > /dev/null 2> err.txt || {
            cat err.txt >&2
            exit 1
        }
        end=$(date +%s%N)
        echo "$(( (end - start) / 1000 ))" >> "t_$k"
        read -r rss user system < rss.txt
        echo "$rss" >> "m_$k"
        awk -v u="$user" -v s="$system" 'BEGIN {printf "%d\n", (u + s) * 1e6}' >> "c_$k"
    done
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"

median() { sort -g "$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
maxof() { sort -g "$1" | tail -1; }
sec() { awk -v u="$1" 'BEGIN {printf "%.3f", u / 1e6}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
mb() { awk -v k="$(maxof "m_$1")" 'BEGIN {printf "%.1f", k / 1024}'; }
tw=$(( $(median t_c_ten) - $(median t_c_open) ))
tc=$(( $(median c_c_ten) - $(median c_c_open) ))
printf '%-22s %9s %9s %6s %9s %9s %6s\n' operation wall_s sox_s ratio cpu_s sox_cpu ratio
printf '%-22s %9s %9s %6s %9s %9s %6s\n' "resample 600 s to $rate" "$(sec "$tw")" "$(sec "$(median t_s_ten)")" \
    "$(ratio "$tw" "$(median t_s_ten)")" "$(sec "$tc")" "$(sec "$(median c_s_ten)")" "$(ratio "$tc" "$(median c_s_ten)")"
echo "  (cleavix: open + resample + save, less the open alone; sox: the whole conversion, reading and writing)"
printf 'peak RSS (MB): resample 60 s %s, resample 600 s %s, open 600 s alone %s, sox 600 s %s\n' \
    "$(mb c_one)" "$(mb c_ten)" "$(mb c_open)" "$(mb s_ten)"
echo "medians of $rounds rounds of the whole process: wall time, and CPU time (user + system, all threads)"
