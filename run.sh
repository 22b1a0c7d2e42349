#!/usr/bin/env bash
# Installs what is missing, builds, and runs Cleavix on FILE (or on a freshly made demo loop).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
./scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build build --parallel "$(nproc)"

file="${1:-}"
if [ -z "$file" ]; then
    file="build/demo-loop.wav"
    build/bin/cleavix-cli demo "$file"
fi
if [ -x build/bin/cleavix ]; then
    exec build/bin/cleavix "$file"
fi
# No window yet: show what the engine makes of the file.
build/bin/cleavix-cli info "$file"
exec build/bin/cleavix-cli load "$file"
