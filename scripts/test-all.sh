#!/usr/bin/env bash
# Builds everything (native, sanitizers, both Windows builds) and runs every test,
# the Wine end-to-end tests included.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh all

for preset in native asan mingw-x64 mingw-i686; do
    echo "=== build: $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset"
done

echo "=== native tests"
ctest --preset native -L native
echo "=== native tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --preset asan -L native
echo "=== Windows builds: checks that need no Wine (export and import tables)"
ctest --test-dir build/mingw-x64 -L native --output-on-failure
ctest --test-dir build/mingw-i686 -L native --output-on-failure
echo "=== Wine tests (x86_64 build)"
ctest --test-dir build/mingw-x64 -L wine --output-on-failure
