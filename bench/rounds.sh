# Shared by the benchmark scripts that run interleaved rounds (source it, with `commands` (an
# associative array of command lines) and `order` (their keys) set):
#   one_round FILES...     runs every command of `order` once, FILES removed and the disk synced
#                          before each (untimed); appends
#                          the wall time (t_KEY, microseconds), the CPU time (c_KEY, user + system)
#                          and the peak RSS (m_KEY, KiB) of each to files in the current folder
#   median FILE, maxof FILE, sec MICROSECONDS, ratio A B
#   enter_work             a scratch folder (removed at exit) for the files and the working files
#   make_ten CLI           ten.wav there: the demo loop repeated to ten minutes, 44100 Hz stereo
one_round() {
    local k start end rss user system
    for k in "${order[@]}"; do
        rm -f "$@"
        # Each command starts with no dirty pages left by the one before: otherwise the disk's
        # writeback of an earlier command's output throttles whichever command follows it.
        sync
        start=$(date +%s%N)
        # shellcheck disable=SC2086
        /usr/bin/time -f '%M %U %S' -o rss.txt ${commands[$k]} > /dev/null 2>&1
        end=$(date +%s%N)
        echo "$(((end - start) / 1000))" >> "t_$k"
        read -r rss user system < rss.txt
        echo "$rss" >> "m_$k"
        awk -v u="$user" -v s="$system" 'BEGIN {printf "%d\n", (u + s) * 1e6}' >> "c_$k"
    done
}
median() { sort -g "$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
maxof() { sort -g "$1" | tail -1; }
sec() { awk -v u="$1" 'BEGIN {printf "%.3f", u / 1e6}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
enter_work() {
    work="$(mktemp -d)"
    trap 'rm -rf "$work"' EXIT
    export CLEAVIX_TEMP="$work"
    cd "$work"
}
make_ten() {
    "$1" demo loop.wav > /dev/null
    sox loop.wav ten.wav repeat 149 # 150 x 4 s = 600 s
}
