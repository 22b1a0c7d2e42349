# Shared by the benchmark scripts (source it): the best wall time of three runs of a command.
seconds() { # command... ; prints the best wall time of 3 runs
    local best=""
    for _ in 1 2 3; do
        local start end
        start=$(date +%s.%N)
        "$@" > /dev/null 2>&1
        end=$(date +%s.%N)
        best=$(echo "$start $end $best" | awk '{t=$2-$1; if ($3=="" || t<$3) print t; else print $3}')
    done
    echo "$best"
}
