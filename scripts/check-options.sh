#!/usr/bin/env bash
# Builds the tree with every optional backend off (the ALSA wave devices, ALSA MIDI, Linux SCSI
# generic, LV2 through lilv) in build-noalsa/ and runs its fast tests: the programs must build,
# link none of those libraries, list their virtual devices and pass everything that does not
# drive a real backend. Not run by CI (it is a second full build). Extra arguments go to ctest:
#   scripts/check-options.sh                 every fast test
#   scripts/check-options.sh -R '^ui\.'      only the window's
# ccache is used when installed; JOBS sets the parallel jobs (default: every core).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
build=build-noalsa
jobs="${JOBS:-$(nproc)}"
launcher=()
if command -v ccache > /dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
start=$(date +%s)

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLEAVIX_WERROR=ON \
      -DCLEAVIX_WITH_ALSA=OFF -DCLEAVIX_WITH_ALSA_MIDI=OFF -DCLEAVIX_WITH_SCSI_SG=OFF -DCLEAVIX_WITH_LV2=OFF \
      -DCLEAVIX_BUILD_BENCH=OFF "${launcher[@]}" > /dev/null
cmake --build "$build" --parallel "$jobs"

# The options really took: no backend library in the programs, and the virtual devices listed.
for program in "$build/bin/cleavix-cli" "$build/bin/cleavix"; do
    if [ -x "$program" ] && ldd "$program" | grep -E 'libasound|liblilv'; then
        echo "check-options.sh: $program links a backend that is switched off" >&2
        exit 1
    fi
done
"$build/bin/cleavix-cli" devices | grep -q '"virtual-default"' ||
    { echo "check-options.sh: cleavix-cli devices does not list the virtual devices" >&2; exit 1; }

(cd "$build" && ctest --output-on-failure --timeout 900 -j "$jobs" -L fast "$@")
echo "check-options.sh: took $(( $(date +%s) - start )) s"
