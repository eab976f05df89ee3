#!/usr/bin/env bash
# QxrSetTime sets the simulated card's clock; fields out of range are refused with 13 and no
# request reaches the driver; without an open device it fails until a get-export reopens it.
. "$QXR_WINE_LIB"
. "$(dirname "$0")/card_session.sh"

card_session set_time 1 0x300 5
out=$QXR_WINE_DIR

simctl_ok st0 reference clock
client a settime 2031 7 15 10 20 30 time compare
qxr_expect "$out/a.out" '^settime rc=0$' "set time accepted"
qxr_expect "$out/a.out" '^time rc=0 2031-07-15 10:20:3[0-2]\.[0-9]{3} ' "card reads the time it was set to"
simctl_ok st1 status
qxr_expect "$out/st1.out" '^settimes=1$' "driver set the card clock once"
qxr_expect "$out/st1.out" '^requests=3$' "three requests: set, time, compare"
# The system clock is untouched: Wine refuses to change it, and the card keeps its own.
client b compare
ahead=$(qxr_field "$out/b.out" '^compare' card_minus_system_ms)
[ -n "$ahead" ] && [ "$ahead" -gt 100000000 ] && qxr_pass "card clock runs apart from the system clock" ||
    qxr_fail "card clock did not move away from the system clock ($ahead ms)"

# Out-of-range fields: 13, nothing sent (only the one time request reaches the driver).
client c time settime 2100 1 1 0 0 0 settime 1999 12 31 23 59 59 settime 2031 0 1 0 0 0 \
    settime 2031 13 1 0 0 0 settime 2031 1 0 0 0 0 settime 2031 1 32 0 0 0 \
    settime 2031 1 1 24 0 0 settime 2031 1 1 0 60 0 settime 2031 1 1 0 0 61 \
    settime 2031 1 1 0 0 -1
count=$(grep -c '^settime rc=13$' "$out/c.out")
qxr_expect_eq "$count" 10 "every out-of-range field is refused with 13"
simctl_ok st2 status
qxr_expect "$out/st2.out" '^requests=5$' "no request for a refused time (only the time read)"
qxr_expect "$out/st2.out" '^settimes=1$' "card clock not set by refused calls"

# Edge values that are accepted: year 2000, 31 February, second 60.
client d settime 2000 2 31 23 59 60 time
qxr_expect "$out/d.out" '^settime rc=0$' "year 2000, 31 February, second 60 accepted"
qxr_expect "$out/d.out" '^time rc=0 2000-03-03 00:00:0[0-2]\.' "the card carries the overflow into March"

# After the driver restarts, the old handle is useless: QxrSetTime fails on it but keeps it;
# the next get-export fails too and drops it; QxrSetTime then has no handle at all, until a
# get-export has reopened the device.
qxr_wine_run_bg e "$QXR_WINE_ARCH" qxrcardclient.exe status \
    wait "$(qxr_wine_signal_path restarted)" settime 2040 1 1 0 0 0 status \
    settime 2040 1 1 0 0 0 status settime 2040 1 1 0 0 0 time
qxr_wine_wait_for_line e '^waiting ' 30 || qxr_fail "client did not get ready"
qxr_wine_driver_stop || qxr_fail "driver stop"
qxr_wine_driver_start || qxr_fail "driver start"
qxr_wine_signal restarted
qxr_wine_wait_bg e 60
qxr_expect "$out/e.out" '^client done$' "client ran to its end"
rc_of() { qxr_line "$out/e.out" "$1" "^$2 " | sed 's/^[a-z]* rc=\([0-9]*\).*/\1/'; }
first=$(rc_of 1 settime)
[ -n "$first" ] && [ "$first" != 0 ] && [ "$first" != 13 ] &&
    qxr_pass "set time on the old handle fails ($first)" ||
    qxr_fail "set time on the old handle: '$first'"
second=$(rc_of 2 status)
[ -n "$second" ] && [ "$second" != 0 ] && qxr_pass "get-export on the old handle fails ($second)" ||
    qxr_fail "get-export on the old handle: '$second'"
qxr_expect_eq "$(rc_of 2 settime)" 6 "set time without a handle fails with 6"
qxr_expect_eq "$(rc_of 3 status)" 0 "the next get-export reopens the restarted driver"
qxr_expect_eq "$(rc_of 3 settime)" 0 "set time works again"
qxr_expect "$out/e.out" '^time rc=0 2040-01-01 00:00:0[0-2]\.' "card reads the new time"

qxr_wine_finish
