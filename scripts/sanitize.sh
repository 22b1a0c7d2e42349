#!/usr/bin/env bash
# The sanitizer pass of CI (after ./test.sh), each in a tree of its own that builds only the test
# programs it runs and what they start:
#   address  build-asan/: AddressSanitizer + UBSan over every fast test, the window's included, and
#            the fuzz targets' seeds and kept regression inputs (tests/fuzz/regressions/).
#   thread   build-tsan/: ThreadSanitizer over the fast tests of the parts that run threads: jobs,
#            audio, session and sampler. The window's tests stay out (Qt under TSan is slow and
#            reports races inside Qt itself).
#   scripts/sanitize.sh              both passes
#   scripts/sanitize.sh thread       one pass
# ccache is used when installed. Prints the time of each pass and of its build and tests.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
passes=("$@")
if [ ${#passes[@]} -eq 0 ]; then passes=(address thread); fi
jobs="$(nproc)"
./scripts/install-deps.sh
source scripts/build-env.sh

# Leaks are reported by the address pass; races by the thread pass, with a stack of both accesses.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$PWD/scripts/lsan.supp}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"

for pass in "${passes[@]}"; do
    start=$(date +%s)
    case "$pass" in
        address) build=build-asan ;;
        thread) build=build-tsan ;;
        *) echo "sanitize.sh: no pass '$pass' (address or thread)" >&2; exit 64 ;;
    esac
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLEAVIX_WERROR=ON \
          -DCLEAVIX_SANITIZE="$pass" -DCLEAVIX_BUILD_BENCH=OFF "${launcher[@]}" > /dev/null
    available=$(ninja -C "$build" -t targets all | sed -n 's/^\([A-Za-z0-9_]*\): phony$/\1/p')
    has() { grep -qx "$1" <<< "$available"; }
    targets=()
    if [ "$pass" = address ]; then
        for target in $(grep -x 'tests_[a-z]*_fast' <<< "$available") tests_sampler_qt tests_ui clipboard_peer drag_peer cleavix cleavix_fuzz; do
            if has "$target"; then targets+=("$target"); fi
        done
        select=(-L fast)
    else
        for target in tests_jobs_fast tests_audio_fast tests_session_fast tests_sampler_fast; do
            if has "$target"; then targets+=("$target"); fi
        done
        # Only the programs built here; the window's and the fuzz replays are the address pass's.
        select=(-L fast -E '^(ui\.|Fuzz)')
    fi
    timed "sanitize.sh: the $pass build" cmake --build "$build" --parallel "$jobs" --target "${targets[@]}"
    (cd "$build" && timed "sanitize.sh: the $pass tests" ctest --output-on-failure --timeout 900 -j "$jobs" "${select[@]}")
    echo "sanitize.sh: $pass pass took $(( $(date +%s) - start )) s"
done
