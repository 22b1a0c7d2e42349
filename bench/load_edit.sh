#!/usr/bin/env bash
# Whole-process times of cleavix-cli's load and of a cut with its undo, against cp of the same
# file to a new file, on ten-minute (and for memory sixty-minute) 44100 Hz stereo files.
#   bench/load_edit.sh [BUILD_DIR] [N]        (defaults: build, 9)
#   BEFORE_CLI=/path/to/cleavix-cli bench/load_edit.sh ...   also runs an older program in the same
#                                                            rounds (rows marked "before")
# Each round runs every command once, in turn, so a burst of load on a shared machine falls on
# all of them alike; the figures are medians of the N rounds, the load average is printed before
# and after. Warm cache throughout. The command lines:
#   cp:        cp ten.wav copy.wav                     (copy.wav removed before each round)
#   load:      cleavix-cli run open.txt                open ten.wav
#   cut+undo:  cleavix-cli run cut.txt                 open ten.wav; select 0 176400; cut; undo
#   mid cut:   cleavix-cli run cutmid.txt              open ten.wav; select 52920000 53096400; cut; undo
#   load 60:   cleavix-cli run open60.txt              open sixty.wav   (memory; time against cp of it)
# The cut rows are given less the load (the same round's open) and whole.
set -euo pipefail
# shellcheck source=bench/rounds.sh
source "$(dirname "${BASH_SOURCE[0]}")/rounds.sh"
build="${1:-build}"
rounds="${2:-9}"
cli="$(realpath "$build/bin/cleavix-cli")"
enter_work
make_ten "$cli"
sox ten.wav sixty.wav repeat 5  # 3600 s
cat ten.wav sixty.wav > /dev/null # warms the cache

printf 'open ten.wav\n' > open.txt
printf 'open sixty.wav\n' > open60.txt
printf 'open ten.wav\nselect 0 176400\ncut\nundo\n' > cut.txt
printf 'open ten.wav\nselect 52920000 53096400\ncut\nundo\n' > cutmid.txt

declare -A commands=(
    [cp]="cp ten.wav copy.wav"
    [load]="$cli run open.txt"
    [cut]="$cli run cut.txt"
    [cutmid]="$cli run cutmid.txt"
    [cp60]="cp sixty.wav copy.wav"
    [load60]="$cli run open60.txt"
)
order=(cp load cut cutmid cp60 load60)
if [ -n "${BEFORE_CLI:-}" ]; then
    before="$(realpath "$BEFORE_CLI")"
    commands[b_load]="$before run open.txt"
    commands[b_cut]="$before run cut.txt"
    commands[b_cutmid]="$before run cutmid.txt"
    commands[b_load60]="$before run open60.txt"
    order=(cp b_load load b_cut cut b_cutmid cutmid cp60 b_load60 load60)
fi

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((r = 1; r <= rounds; r++)); do
    one_round copy.wav
    # The same round's cut less its load, so that both figures see the same machine.
    for p in "" b_; do
        [ -e "t_${p}load" ] || continue
        a=$(tail -1 "t_${p}cut") b=$(tail -1 "t_${p}load") m=$(tail -1 "t_${p}cutmid")
        echo "$((a - b))" >> "t_${p}cutonly"
        echo "$((m - b))" >> "t_${p}cutmidonly"
    done
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"

mb() { awk -v k="$(maxof "m_$1")" 'BEGIN {printf "%.1f", k / 1024}'; }
printf '%-24s %9s %9s %6s %9s %9s %8s\n' operation wall_s cp_s ratio cpu_s cp_cpu RSS_MB
row() { # label key reference_key [wall key]
    local tw
    tw=$(median "t_${4:-$2}")
    printf '%-24s %9s %9s %6s %9s %9s %8s\n' "$1" "$(sec "$tw")" "$(sec "$(median "t_$3")")" \
        "$(ratio "$tw" "$(median "t_$3")")" "$(sec "$(median "c_$2")")" "$(sec "$(median "c_$3")")" "$(mb "$2")"
}
for p in "" b_; do
    [ -e "t_${p}load" ] || continue
    tag=""
    [ -n "$p" ] && tag=" before"
    row "load ten$tag" "${p}load" cp
    row "cut+undo (less load)$tag" "${p}cut" cp "${p}cutonly"
    row "cut+undo whole$tag" "${p}cut" cp
    row "mid cut+undo (less load)$tag" "${p}cutmid" cp "${p}cutmidonly"
    row "load sixty$tag" "${p}load60" cp60
done
echo "medians of $rounds rounds: wall time and CPU time (user + system, all threads) of the whole process;"
echo "the cut rows less the load are per round (cut script minus the same round's open) and their CPU"
echo "column is that of the whole script; RSS_MB: the largest peak resident memory of the rounds"
