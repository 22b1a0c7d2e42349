#!/usr/bin/env bash
# Installs what is missing, builds everything into build/ and runs every test.
#   ./test.sh              all tests
#   ./test.sh -L fast      only the fast ones (any ctest arguments pass through)
# CLEAVIX_SANITIZE=address|thread ./test.sh builds into build-asan/ or build-tsan/ instead.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
./scripts/install-deps.sh
source scripts/build-env.sh

build=build
san="${CLEAVIX_SANITIZE:-}"
case "$san" in
    address) build=build-asan ;;
    thread) build=build-tsan ;;
esac

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLEAVIX_WERROR=ON \
      -DCLEAVIX_SANITIZE="$san" "${launcher[@]}" > /dev/null
timed "test.sh: the build" cmake --build "$build" --parallel "$(nproc)"
cd "$build"
timed "test.sh: the tests" ctest --output-on-failure --timeout 600 -j "$(nproc)" "$@"
