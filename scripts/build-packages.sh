#!/usr/bin/env bash
# Builds the two Windows release packages from this source tree:
#   build/mingw-x64/packages/qxr-<version>-win64.zip    (x86_64, with the card simulator)
#   build/mingw-i686/packages/qxr-<version>-win32.zip   (i686)
# each with a .sha256 beside it. CONTENTS.txt in each lists its files with their versions.
# Beside each ZIP the setup program of the same files (makensis, packaging/setup/):
#   build/mingw-x64/packages/qxr-<version>-setup-win64.exe
#   build/mingw-i686/packages/qxr-<version>-setup-win32.exe
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all
for preset in mingw-x64 mingw-i686; do
    cmake --preset "$preset" >/dev/null
    # The package target builds everything first, then runs cpack.
    cmake --build --preset "$preset" --target package
    cmake --build --preset "$preset" --target setup
done
ls -l build/mingw-x64/packages/*.zip build/mingw-i686/packages/*.zip \
    build/mingw-x64/packages/*-setup-*.exe build/mingw-i686/packages/*-setup-*.exe
