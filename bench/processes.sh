#!/usr/bin/env bash
# Whole-process times of cleavix-cli's in-place processes, load and cut against reference tools on
# the ten-minute 44100 Hz stereo file, with medians of N rounds and the peak memory of each.
#   bench/processes.sh [BUILD_DIR] [N]        (defaults: build, 5)
#   BEFORE_CLI=/path/to/cleavix-cli bench/processes.sh ...   also runs an older program's normalise,
#                                                            load and cut in the same rounds
# Each round runs every command once, in turn, so a burst of load on a shared machine falls on
# all of them alike; the load average is printed before and after. Warm cache throughout.
#   normalise: open + select-all + normalise 100 + save     vs  sox IN OUT norm
#              (the normalise's fresh slice search included; a second row without it)
#   reverse:   open + select-all + reverse + save           vs  sox IN OUT reverse
#   invert:    open + select-all + invert + save            vs  sox IN OUT vol -1
#   quantise:  open + select-all + quantise 4 + save        (against reverse, as it does as little)
#   load:      open                                          vs  cp IN NEW (to a new file)
#   cut+undo:  open + select 1 s + cut + undo, less the open vs  cp IN NEW
set -euo pipefail
# shellcheck source=bench/rounds.sh
source "$(dirname "${BASH_SOURCE[0]}")/rounds.sh"
build="${1:-build}"
rounds="${2:-5}"
cli="$(realpath "$build/bin/cleavix-cli")"
enter_work
make_ten "$cli"
sha256sum ten.wav > /dev/null # warms the cache

script() { # name lines...
    local name=$1
    shift
    printf '%s\n' "$@" > "$name.txt"
}
script open 'open ten.wav'
script norm 'open ten.wav' 'select-all' 'normalise 100' 'save out.wav'
script normonly 'open ten.wav' 'select-all' 'normalise 100 --no-recut' 'save out.wav'
script reverse 'open ten.wav' 'select-all' 'reverse' 'save out.wav'
script invert 'open ten.wav' 'select-all' 'invert' 'save out.wav'
script quantise 'open ten.wav' 'select-all' 'quantise 4' 'save out.wav'
script cut 'open ten.wav' 'select 0 176400' 'cut' 'undo'

declare -A commands=(
    [c_open]="$cli run open.txt"
    [c_norm]="$cli run norm.txt"
    [c_normonly]="$cli run normonly.txt"
    [c_reverse]="$cli run reverse.txt"
    [c_invert]="$cli run invert.txt"
    [c_quantise]="$cli run quantise.txt"
    [c_cut]="$cli run cut.txt"
    [s_norm]="sox -D ten.wav sox.wav norm"
    [s_reverse]="sox -D ten.wav sox.wav reverse"
    [s_invert]="sox -D ten.wav sox.wav vol -1"
    [cp]="cp ten.wav copy.wav"
)
order=(c_open cp c_norm c_normonly s_norm c_reverse s_reverse c_invert s_invert c_quantise c_cut)
if [ -n "${BEFORE_CLI:-}" ]; then
    before="$(realpath "$BEFORE_CLI")"
    commands[b_open]="$before run open.txt"
    commands[b_norm]="$before run norm.txt"
    commands[b_normonly]="$before run normonly.txt"
    commands[b_cut]="$before run cut.txt"
    order=(b_open c_open cp b_norm c_norm b_normonly c_normonly s_norm c_reverse s_reverse c_invert s_invert c_quantise
        b_cut c_cut)
fi

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((r = 1; r <= rounds; r++)); do
    one_round out.wav sox.wav copy.wav
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"
declare -A t c
for k in "${order[@]}"; do
    t[$k]=$(median "t_$k")
    c[$k]=$(median "c_$k")
done

printf '%-9s %9s %9s %6s %9s %9s %6s %8s   %s\n' operation wall_s ref_s ratio cpu_s ref_cpu ratio RSS_MB reference
row() { # label cleavix_key ref_key reference_text [open_key: taken off the cleavix figures]
    local tw=${t[$2]} tc=${c[$2]}
    if [ -n "${5:-}" ]; then
        tw=$((tw - t[$5]))
        tc=$((tc - c[$5]))
    fi
    printf '%-9s %9s %9s %6s %9s %9s %6s %8s   %s\n' "$1" "$(sec "$tw")" "$(sec "${t[$3]}")" "$(ratio "$tw" "${t[$3]}")" \
        "$(sec "$tc")" "$(sec "${c[$3]}")" "$(ratio "$tc" "${c[$3]}")" \
        "$(awk -v k="$(maxof "m_$2")" 'BEGIN {printf "%.1f", k / 1024}')" "$4"
}
row normalise c_norm s_norm "sox norm"
row "  no recut" c_normonly s_norm "sox norm (normalise 100 --no-recut: without the slice search after it)"
row reverse c_reverse s_reverse "sox reverse"
row invert c_invert s_invert "sox vol -1"
row invert c_invert c_reverse "cleavix reverse"
row quantise c_quantise c_reverse "cleavix reverse"
row load c_open cp "cp to a new file"
row cut+undo c_cut cp "cp to a new file (the script less the open)" c_open
row cut+undo c_cut cp "cp to a new file (the whole script)"
if [ -n "${BEFORE_CLI:-}" ]; then
    row normalise b_norm s_norm "sox norm: the program before"
    row "  no recut" b_normonly s_norm "sox norm (--no-recut): the program before"
    row load b_open cp "cp to a new file: the program before"
    row cut+undo b_cut cp "cp to a new file (the script less the open): the program before" b_open
fi
echo "medians of $rounds rounds of the whole process: wall time, and CPU time (user + system, all threads);"
echo "RSS_MB: the largest peak resident memory of the rounds"
