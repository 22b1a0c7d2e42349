#!/usr/bin/env bash
# Builds the Debian package of Cleavix and checks it: installs what is missing, builds the two
# programs, their manual pages and icons into build/ (the tree ./test.sh uses), packs them with
# CPack and checks the package (tests/package/check_deb.sh). Prints the package's path last.
#   scripts/build-deb.sh            then: sudo apt install ./build/cleavix_*.deb
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
./scripts/install-deps.sh
launcher=()
if command -v ccache > /dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCLEAVIX_WERROR=ON "${launcher[@]}" > /dev/null
cmake --build build --parallel "$(nproc)" --target cleavix cleavix-cli cleavix_man cleavix_icons cleavix_changelog
rm -f build/cleavix_*.deb
(cd build && cpack -G DEB)
deb="$(ls build/cleavix_*.deb)"
tests/package/check_deb.sh "$deb"
echo "$PWD/$deb"
