#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each (default 60), one after another, on a clang build with
# libFuzzer, AddressSanitizer and UBSan in build-fuzz/.
#   scripts/fuzz.sh 600                ten minutes each
#   scripts/fuzz.sh 60 run_script      only the targets named
# Each target's corpus grows in build-fuzz/fuzz-corpus/<target> (kept between runs), starting from
# the seeds the tests' builders write. A crash, leak, time-out or memory blow-up is copied to
# tests/fuzz/regressions/<target>/, which the replay test of every build runs; commit it with the
# fix. Prints executions, coverage and corpus size per target; exits 1 when anything was found.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
seconds="${1:-60}"
shift || true
all=(sample_file point_file clipboard_image run_script midi_stream sampler_answers profile_record)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then targets=("${all[@]}"); fi
# Absolute: the script target changes its working folder, and libFuzzer writes to these later.
build="$PWD/build-fuzz"

./scripts/install-deps.sh
source scripts/build-env.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DCLEAVIX_FUZZ=ON -DCLEAVIX_SANITIZE=address -DCLEAVIX_BUILD_BENCH=OFF \
      "${launcher[@]}" > /dev/null
# Only the seed writer and the named targets' fuzzers (the replay programs are every build's).
programs=(fuzz_seeds)
for target in "${targets[@]}"; do programs+=("fuzz_$target"); done
cmake --build "$build" --parallel "$(nproc)" --target "${programs[@]}"
rm -rf "$build/fuzz-seeds"
"$build/bin/fuzz_seeds" "$build/fuzz-seeds" > /dev/null

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
found=0
summary=()
for target in "${targets[@]}"; do
    corpus="$build/fuzz-corpus/$target"
    artifacts="$build/fuzz-artifacts/$target"
    regressions="$PWD/tests/fuzz/regressions/$target"
    log="$build/fuzz-logs/$target.log"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    inputs=("$corpus" "$build/fuzz-seeds/$target")
    if [ -d "$regressions" ]; then inputs+=("$regressions"); fi
    echo "fuzzing $target for ${seconds}s"
    status=0
    # -close_fd_mask=3: the targets' own output (the script's JSON, its messages) is dropped;
    # libFuzzer keeps its report on a copy of stderr.
    "$build/bin/fuzz_$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2560 \
        -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$artifacts/" "${inputs[@]}" > "$log" 2>&1 || status=$?
    for file in "$artifacts"/crash-* "$artifacts"/leak-* "$artifacts"/timeout-* "$artifacts"/oom-* "$artifacts"/slow-unit-*; do
        if [ -f "$file" ]; then
            mkdir -p "$regressions"
            cp "$file" "$regressions/"
            echo "  kept $regressions/$(basename "$file")"
            found=1
        fi
    done
    if [ "$status" -ne 0 ]; then
        found=1
        echo "  $target stopped with status $status; see $log"
    fi
    runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | awk '{print $2}')
    line=$(grep -E '^#[0-9]+' "$log" | grep -o 'cov: [0-9]* ft: [0-9]* corp: [0-9]*/[0-9]*[a-zA-Z]*' | tail -1)
    files=$(find "$corpus" -type f | wc -l)
    bytes=$(du -sb "$corpus" | cut -f1)
    summary+=("$(printf '%-16s %10s executions  %s  corpus dir %s files, %s bytes' "$target" "${runs:-?}" "${line:-?}" "$files" "$bytes")")
done
echo
printf '%s\n' "${summary[@]}"
exit "$found"
