#!/usr/bin/env bash
# Builds everything (native, sanitizers, fuzz targets, both Windows builds) and runs every test, the Wine
# end-to-end tests included. Goes through every stage even when one fails, prints a table of
# the stages and, as its last line, the totals over all of them; exits non-zero if any failed.
set -uo pipefail
cd "$(dirname "$0")/.."

results=build/test-results
rm -rf "$results"
mkdir -p "$results"
stages=()     # "name|passed|failed|skipped|status|seconds"
any_failed=0
stage_start=$SECONDS   # a stage's time runs from the end of the one before, builds apart
build_seconds=0

# record NAME STATUS [JUNIT [NOSKIP]]: a stage's line for the table; counts from its ctest
# JUnit file. NOSKIP=1: a stage none of whose tests may skip (native, x86_64 Wine: every
# supported machine runs them) fails when any did, e.g. all of them on a broken Wine.
record() {
    local name=$1 status=$2 junit=${3:-} noskip=${4:-} counts="0 0 0" skipped
    if [ -n "$junit" ] && [ -f "$junit" ]; then
        counts=$(/usr/bin/python3 scripts/junit-counts.py "$junit") || counts="0 0 0"
    fi
    skipped=${counts##* }
    [ "$noskip" = 1 ] && [ "$status" = ok ] && [ "$skipped" -gt 0 ] &&
        status="FAILED ($skipped skipped; none may be)"
    [ "$status" = ok ] || any_failed=1
    stages+=("$name|${counts// /|}|$status|$((SECONDS - stage_start))")
    stage_start=$SECONDS
}

# ctest_stage [--noskip] NAME CTEST_ARGS...: one ctest run with its JUnit file.
ctest_stage() {
    local noskip=
    [ "$1" = --noskip ] && { noskip=1; shift; }
    local name=$1 junit="$results/$1.xml" status=ok
    shift
    echo "=== $name"
    ctest "$@" --output-junit "$PWD/$junit" || status=FAILED
    [ -f "$junit" ] || status="FAILED (no test results)"
    record "$name" "$status" "$junit" "$noskip"
}

# A machine without the packages cannot give a meaningful result: a stage of its own that fails.
echo "=== install-deps.sh all"
if scripts/install-deps.sh all; then record "install-deps.sh" ok; else record "install-deps.sh" FAILED; fi

# build PRESET [TARGET...]: configure and build; a failed build fails the stages that use it.
declare -A built
build() {
    local preset=$1 targets=()
    shift
    [ $# -gt 0 ] && targets=(--target "$@")
    echo "=== build: $preset${1:+ ($*)}"
    local t=$SECONDS
    if cmake --preset "$preset" >/dev/null &&
        cmake --build --preset "$preset" "${targets[@]}"; then
        built[$preset]=1
        build_seconds=$((build_seconds + SECONDS - t))
        stage_start=$SECONDS
    else
        built[$preset]=0
        record "build $preset" FAILED
    fi
}

echo "=== every program the scripts call comes from a package install-deps.sh installs"
if /usr/bin/python3 scripts/check-deps.py; then record "dependency check" ok; else record "dependency check" FAILED; fi

for preset in native asan mingw-x64 mingw-i686; do build "$preset"; done
build tsan sync_service_thread_test
build release qxrsim_benchmark ntp_load counter_publish_benchmark
build fuzz

[ "${built[native]}" = 1 ] && ctest_stage --noskip "native tests" --preset native -L native
[ "${built[asan]}" = 1 ] && ctest_stage --noskip "native tests, ASan+UBSan" --preset asan -L native
[ "${built[tsan]}" = 1 ] && ctest_stage "threaded tests, TSan" --preset tsan -L tsan
# Each fuzz target runs for a bounded time on a temporary copy of its corpus in the repo; they
# are independent single-threaded processes, so two run at once.
[ "${built[fuzz]}" = 1 ] && ctest_stage "fuzz targets, ASan+UBSan" --preset fuzz -L fuzz -j2

if [ "${built[release]}" = 1 ]; then
    echo "=== benchmark: qxrsim, 50 days of service (release build; prints figures, no time limit)"
    if build/release/simulation/qxrsim_benchmark; then record benchmark ok; else record benchmark FAILED; fi
fi
if [ "${built[release]}" = 1 ]; then
    echo "=== benchmark: publishing QxrSync's performance counters (release build; prints figures)"
    if build/release/sync_service/counter_publish_benchmark; then record "counter benchmark" ok; else
        record "counter benchmark" FAILED; fi
fi
# The NTP server under load: QxrSync under Wine beside chronyd -x, the same generator.
if [ "${built[release]}" = 1 ] && [ "${built[mingw-x64]}" = 1 ]; then
    echo "=== benchmark: NTP server load, QxrSync under Wine beside chronyd -x (prints figures, no time limit)"
    if tests/ntp_load/ntp_load_benchmark.sh; then record "NTP load benchmark" ok; else
        record "NTP load benchmark" FAILED; fi
fi

# Checks of the Windows images that need no Wine (export, import and resource tables).
[ "${built[mingw-x64]}" = 1 ] && ctest_stage "x86_64 image checks" --test-dir build/mingw-x64 -L native --output-on-failure
[ "${built[mingw-i686]}" = 1 ] && ctest_stage "i686 image checks" --test-dir build/mingw-i686 -L native --output-on-failure

# Wine tests: each runs in a prefix, wineserver and display of its own (tests/wine/README.md),
# so they run side by side; the soak, long and mostly idle, beside two others, the NTP test
# beside the soak only (tests/wine/harness/wine_test.cmake). The
# i686 tests use the x86_64 driver of build/mingw-x64 and report SKIPPED, with the reason,
# where this machine cannot run 32-bit Wine. Every test's output is in
# build/mingw-*/Testing/Temporary/LastTest.log.
wine_start=$SECONDS
[ "${built[mingw-x64]}" = 1 ] && ctest_stage --noskip "Wine tests, x86_64" --test-dir build/mingw-x64 -L wine -j3 --output-on-failure
wine_x64_seconds=$((SECONDS - wine_start))
wine_start=$SECONDS
[ "${built[mingw-i686]}" = 1 ] && [ "${built[mingw-x64]}" = 1 ] &&
    ctest_stage "Wine tests, i686" --test-dir build/mingw-i686 -L wine -j2 --output-on-failure
wine_i686_seconds=$((SECONDS - wine_start))
echo "=== Wine tests took ${wine_x64_seconds} s (x86_64) and ${wine_i686_seconds} s (i686)"
grep -h '^[0-9]*: SKIPPED: \|^SKIPPED: ' build/mingw-*/Testing/Temporary/LastTest.log 2>/dev/null |
    sed 's/^[0-9]*: //' | sort | uniq -c

echo
echo "=== summary (the builds took ${build_seconds} s, everything ${SECONDS} s)"
printf '%-28s %7s %7s %8s %8s  %s\n' stage passed failed skipped seconds status
total_p=0 total_f=0 total_s=0
for line in "${stages[@]}"; do
    IFS='|' read -r name p f s status t <<<"$line"
    printf '%-28s %7s %7s %8s %8s  %s\n' "$name" "$p" "$f" "$s" "$t" "$status"
    total_p=$((total_p + p)) total_f=$((total_f + f)) total_s=$((total_s + s))
done
echo "$total_p passed, $total_f failed, $total_s skipped"
exit "$any_failed"
