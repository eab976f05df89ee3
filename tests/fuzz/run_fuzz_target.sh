#!/usr/bin/env bash
# run_fuzz_target.sh FUZZER CORPUS_DIR SECONDS: one bounded libFuzzer run for CTest. The
# fuzzer works on a temporary copy of the corpus kept in the repository, so that nothing it
# finds is written there; a crashing input is kept in fuzz-artifacts/<fuzzer>/ of the build
# tree (to become a regression test) and fails the test. Prints the executions it made.
set -uo pipefail
fuzzer=$1 corpus=$2 seconds=$3
name=$(basename "$fuzzer")
artifacts=$PWD/fuzz-artifacts/$name
work=$(mktemp -d "${TMPDIR:-/tmp}/$name.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$artifacts" "$work/corpus"
cp "$corpus"/* "$work/corpus/" 2>/dev/null || true
echo "$name: $(ls "$work/corpus" | wc -l) seed inputs from $corpus, $seconds s"

rc=0
"$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/" "$work/corpus" >"$work/log" 2>&1 || rc=$?
executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
grep -v '^#[0-9]' "$work/log" | tail -n 40
echo "$name: ${executions:-0} executions, exit status $rc"
if [ "$rc" != 0 ]; then
    echo "$name: FAILED; the input is in $artifacts"
    exit 1
fi
if [ -z "$executions" ] || [ "$executions" -eq 0 ]; then
    echo "$name: FAILED: no executions reported"
    exit 1
fi
exit 0
