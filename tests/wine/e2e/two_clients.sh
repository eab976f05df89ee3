#!/usr/bin/env bash
# Two client processes hold the device open and read at the same time.
. "$QXR_WINE_LIB"
. "$(dirname "$0")/card_session.sh"

card_session two_clients 2 0 7
out=$QXR_WINE_DIR
reads=1500

for c in a b; do
    qxr_wine_run_bg "$c" "$QXR_WINE_ARCH" qxrcardclient.exe status \
        wait "$(qxr_wine_signal_path go)" loop "$reads" status
done
for c in a b; do
    qxr_wine_wait_for_line "$c" '^waiting ' 30 || qxr_fail "client $c did not get ready"
done
qxr_wine_signal go
qxr_wine_wait_bg a 90
qxr_wine_wait_bg b 90

for c in a b; do
    qxr_expect "$out/$c.out" '^client done$' "client $c ran to its end"
    qxr_expect "$out/$c.out" "^loop reads=$reads ok=$reads failed=0 first_error=0 " \
        "client $c: every read succeeded"
done
# Both loops ran at the same time: each began before the other ended (one counter for all
# processes).
begin_a=$(qxr_field "$out/a.out" '^loop ' begin)
end_a=$(qxr_field "$out/a.out" '^loop ' end)
begin_b=$(qxr_field "$out/b.out" '^loop ' begin)
end_b=$(qxr_field "$out/b.out" '^loop ' end)
if [ -n "$begin_a" ] && [ -n "$begin_b" ] && [ "$begin_a" -lt "$end_b" ] &&
    [ "$begin_b" -lt "$end_a" ]; then
    qxr_pass "the two clients' reads overlapped in time"
else
    qxr_fail "reads did not overlap: a $begin_a..$end_a, b $begin_b..$end_b"
fi

simctl_ok st status
requests=$(sed -n 's/^requests=//p' "$out/st.out")
qxr_expect_range "$requests" $((4 * reads + 4)) $((4 * reads + 4)) \
    "driver served every request of both clients"

qxr_wine_finish
