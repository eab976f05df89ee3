#!/usr/bin/env bash
# Builds the two Windows release packages from this source tree:
#   build/mingw-x64/packages/qxr-<version>-win64.zip    (x86_64, with the card simulator)
#   build/mingw-i686/packages/qxr-<version>-win32.zip   (i686)
# each with a .sha256 beside it. CONTENTS.txt in each lists its files with their versions.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all
for preset in mingw-x64 mingw-i686; do
    cmake --preset "$preset" >/dev/null
    # The package target builds everything first, then runs cpack.
    cmake --build --preset "$preset" --target package
done
ls -l build/mingw-x64/packages/*.zip build/mingw-i686/packages/*.zip
