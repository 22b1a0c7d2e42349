#!/usr/bin/env bash
# Whole-process times of cleavix-cli's in-place processes, load and cut against reference tools on
# the ten-minute 44100 Hz stereo file, with medians of N rounds and the peak memory of each.
#   bench/processes.sh [BUILD_DIR] [N]        (defaults: build, 5)
# Each round runs every command once, in turn, so a burst of load on a shared machine falls on
# all of them alike; the load average is printed before and after. Warm cache throughout.
#   normalise: open + select-all + normalise 100 + save     vs  sox IN OUT norm
#   reverse:   open + select-all + reverse + save           vs  sox IN OUT reverse
#   invert:    open + select-all + invert + save            vs  sox IN OUT vol -1
#   quantise:  open + select-all + quantise 4 + save        (against reverse, as it does as little)
#   load:      open                                          vs  cp IN NEW (to a new file)
#   cut+undo:  open + select 1 s + cut + undo, less the open vs  cp IN NEW
set -euo pipefail
build="${1:-build}"
rounds="${2:-5}"
cli="$(realpath "$build/bin/cleavix-cli")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export CLEAVIX_TEMP="$work"
cd "$work"

"$cli" demo loop.wav > /dev/null
sox loop.wav ten.wav repeat 149 # 150 x 4 s = 600 s
sha256sum ten.wav > /dev/null # warms the cache

script() { # name lines...
    local name=$1
    shift
    printf '%s\n' "$@" > "$name.txt"
}
script open 'open ten.wav'
script norm 'open ten.wav' 'select-all' 'normalise 100' 'save out.wav'
script reverse 'open ten.wav' 'select-all' 'reverse' 'save out.wav'
script invert 'open ten.wav' 'select-all' 'invert' 'save out.wav'
script quantise 'open ten.wav' 'select-all' 'quantise 4' 'save out.wav'
script cut 'open ten.wav' 'select 0 176400' 'cut' 'undo'

declare -A commands=(
    [c_open]="$cli run open.txt"
    [c_norm]="$cli run norm.txt"
    [c_reverse]="$cli run reverse.txt"
    [c_invert]="$cli run invert.txt"
    [c_quantise]="$cli run quantise.txt"
    [c_cut]="$cli run cut.txt"
    [s_norm]="sox -D ten.wav sox.wav norm"
    [s_reverse]="sox -D ten.wav sox.wav reverse"
    [s_invert]="sox -D ten.wav sox.wav vol -1"
    [cp]="cp ten.wav copy.wav"
)
order=(c_open cp c_norm s_norm c_reverse s_reverse c_invert s_invert c_quantise c_cut)

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((r = 1; r <= rounds; r++)); do
    for k in "${order[@]}"; do
        rm -f out.wav sox.wav copy.wav
        start=$(date +%s%N)
        # shellcheck disable=SC2086
        /usr/bin/time -f %M -o rss.txt ${commands[$k]} > /dev/null 2>&1
        end=$(date +%s%N)
        echo "$(( (end - start) / 1000 ))" >> "t_$k"
        cat rss.txt >> "m_$k"
    done
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"

median() { sort -g "$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
maxof() { sort -g "$1" | tail -1; }
sec() { awk -v u="$1" 'BEGIN {printf "%.3f", u / 1e6}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
declare -A t
for k in "${order[@]}"; do t[$k]=$(median "t_$k"); done
cut_own=$((t[c_cut] - t[c_open]))

printf '%-10s %10s %10s %7s %12s   %s\n' operation cleavix_s ref_s ratio peak_RSS_MB reference
row() { # label cleavix_microseconds ref_microseconds rss_key reference_text
    printf '%-10s %10s %10s %7s %12s   %s\n' "$1" "$(sec "$2")" "$(sec "$3")" "$(ratio "$2" "$3")" \
        "$(awk -v k="$(maxof "m_$4")" 'BEGIN {printf "%.1f", k / 1024}')" "$5"
}
row normalise "${t[c_norm]}" "${t[s_norm]}" c_norm "sox norm"
row reverse "${t[c_reverse]}" "${t[s_reverse]}" c_reverse "sox reverse"
row invert "${t[c_invert]}" "${t[s_invert]}" c_invert "sox vol -1"
row invert "${t[c_invert]}" "${t[c_reverse]}" c_invert "cleavix reverse"
row quantise "${t[c_quantise]}" "${t[c_reverse]}" c_quantise "cleavix reverse"
row load "${t[c_open]}" "${t[cp]}" c_open "cp to a new file"
row cut+undo "$cut_own" "${t[cp]}" c_cut "cp to a new file (the script less the open)"
row cut+undo "${t[c_cut]}" "${t[cp]}" c_cut "cp to a new file (the whole script)"
echo "medians of $rounds rounds, wall time of the whole process; peak RSS the largest of the rounds"
