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
echo "=== tests with real threads under ThreadSanitizer"
cmake --preset tsan >/dev/null && cmake --build --preset tsan --target sync_service_thread_test && ctest --preset tsan -L tsan
echo "=== benchmark: qxrsim, 50 days of service (release build; prints figures, no time limit)"
cmake --preset release >/dev/null
cmake --build --preset release --target qxrsim_benchmark
build/release/simulation/qxrsim_benchmark
echo "=== Windows builds: checks that need no Wine (export and import tables)"
ctest --test-dir build/mingw-x64 -L native --output-on-failure
ctest --test-dir build/mingw-i686 -L native --output-on-failure
# Wine tests: each runs in a prefix and wineserver of its own (tests/wine/README.md). The
# i686 tests use the x86_64 driver of build/mingw-x64 and report SKIPPED where this machine's
# kernel cannot run 32-bit Wine. Every test's output is in Testing/Temporary/LastTest.log.
wine_start=$SECONDS
wine_failed=0
echo "=== Wine tests (x86_64 build)"
ctest --test-dir build/mingw-x64 -L wine --output-on-failure || wine_failed=1
echo "=== Wine tests (i686 build)"
ctest --test-dir build/mingw-i686 -L wine --output-on-failure || wine_failed=1
grep -h '^[0-9]*: SKIPPED: \|^SKIPPED: ' build/mingw-i686/Testing/Temporary/LastTest.log \
    | sed 's/^[0-9]*: //' | sort | uniq -c || true
echo "=== Wine tests took $((SECONDS - wine_start)) s;" \
    "their output: build/mingw-*/Testing/Temporary/LastTest.log"
exit "$wine_failed"
