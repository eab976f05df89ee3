#!/usr/bin/env bash
# The harness itself: a private Xvfb, the session, timeouts, the driver service life cycle
# and a clean-up that ends exactly what the test started.
. "$QXR_WINE_LIB"

qxr_wine_init harness_selftest
qxr_wine_require_arch

# An architecture that runs nothing: SKIPPED only for i686 where its loader cannot start.
arch_status() { # ARCH LOADER CHECK: exit status of CHECK with LOADER as that arch's loader
    (QXR_WINE64_LOADER=$2 QXR_WINE32_LOADER=$2 "$3" "$1") >>"$QXR_WINE_DIR/arch.out" 2>&1
    echo $?
}
qxr_expect_eq "$(arch_status x86_64 /bin/true qxr_wine_require_probe)" 1 "x86_64 probe printing nothing fails"
qxr_expect_eq "$(arch_status x86_64 /bin/false qxr_wine_require_arch)" 1 "x86_64 loader not starting fails"
qxr_expect_eq "$(arch_status i686 /bin/true qxr_wine_require_probe)" 1 "i686 loader starting, probe silent: fails"
qxr_expect_eq "$(arch_status i686 /bin/false qxr_wine_require_probe)" 77 "i686 loader not starting: SKIPPED"

# A negative check cannot pass on an input that is not there.
failures=$QXR_WINE_FAILURES
QXR_WINE_EVENT_TRACES=("$QXR_WINE_DIR/missing.err")
qxr_expect_not "$QXR_WINE_DIR/missing.out" x "no x in a missing file" >/dev/null
qxr_expect_no_events x "no event x in a missing trace" >/dev/null
n=$((QXR_WINE_FAILURES - failures)) QXR_WINE_FAILURES=$failures QXR_WINE_EVENT_TRACES=()
qxr_expect_eq "$n" 2 "negative checks on a missing file or event trace fail"

# Each event type by its name: "information" is EVENTLOG_INFORMATION_TYPE (4) only.
printf '0024:fixme:advapi:ReportEventA (0x1,%s,0x0000,0x00000064,(nil),0x0000,0,(nil),(nil)): stub\n' \
    0x0000 0x0001 0x0002 0x0004 0x0008 0x0010 0x0003 >"$QXR_WINE_DIR/types.err"
qxr_expect_eq "$(awk -f "$QXR_WINE_EVENTS_AWK" "$QXR_WINE_DIR/types.err" | cut -d' ' -f2 | tr '\n' ' ')" \
    "success error warning information audit-success audit-failure unknown " "event types named as reported"
qxr_wine_require_files "$QXR_CLIENT" "$QXRTIME_DLL" "$QXR_SIM_DRIVER" "$QXR_WINE_SVC"
qxr_wine_prefix
qxr_wine_xvfb_start
xvfb_pid=$QXR_WINE_XVFB_PID
[ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null && qxr_pass "Xvfb runs on $DISPLAY" ||
    qxr_fail "Xvfb did not start"
qxr_wine_server_start
qxr_wine_require_probe
qxr_expect_eq "$(qxr_wine_reg query 'HKCU\Software\Wine\X11 Driver' /v Managed | grep -c 'Managed.*N')" \
    1 "Wine draws window frames itself on the private display"

qxr_wine_install "$QXR_WINE_ARCH" "$QXR_CLIENT" "$QXRTIME_DLL"

# A program that overruns its time is killed and reported as 124.
start=$SECONDS
rc=0
qxr_wine_run slow 2 "$QXR_WINE_ARCH" qxrcardclient.exe sleep 20000 || rc=$?
qxr_expect_eq "$rc" 124 "overrunning program reported as timed out"
qxr_expect_range $((SECONDS - start)) 0 10 "timeout ended it promptly"

# Exit status and output of a program are kept.
rc=0
qxr_wine_run usage 30 "$QXR_WINE_ARCH" qxrcardclient.exe || rc=$?
qxr_expect_eq "$rc" 2 "exit status passed through"
qxr_expect "$QXR_WINE_DIR/usage.err" '^Usage: qxrcardclient' "stderr kept without CR"
qxr_expect_eq "$(cat "$QXR_WINE_DIR/usage.rc")" 2 "exit status kept in NAME.rc"

# The driver service: absent, installed and running, stopped, started, removed.
qxr_expect_eq "$(qxr_wine_service state QxrDrv)" "error=1060" "no QxrDrv before install"
qxr_wine_driver_install 2 0 5
qxr_expect_eq "$(qxr_wine_service state QxrDrv)" "state=4" "QxrDrv running after install"
qxr_expect_eq "$(qxr_wine_service start QxrDrv)" "error=1056" "second start refused (1056)"
qxr_wine_driver_stop || qxr_fail "stop"
qxr_expect_eq "$(qxr_wine_service state QxrDrv)" "state=1" "QxrDrv stopped"
qxr_expect_eq "$(qxr_wine_service stop QxrDrv)" "error=1062" "stop when stopped refused (1062)"
qxr_wine_driver_start || qxr_fail "start"
qxr_expect_eq "$(qxr_wine_service state QxrDrv)" "state=4" "QxrDrv running again"
qxr_wine_driver_remove
qxr_expect_eq "$(qxr_wine_service state QxrDrv)" "error=1060" "QxrDrv deleted"

# A background program, then the clean-up: it ends the program, the display and the
# prefix, nothing else.
qxr_wine_run_bg idle "$QXR_WINE_ARCH" qxrcardclient.exe sleep 60000
idle_pid=$(cat "$QXR_WINE_DIR/idle.pid")
sleep 0.5
kill -0 "$idle_pid" 2>/dev/null && qxr_pass "background program runs" ||
    qxr_fail "background program did not start"
prefix=$WINEPREFIX
qxr_wine_cleanup
kill -0 "$idle_pid" 2>/dev/null && qxr_fail "background program survived the clean-up" ||
    qxr_pass "clean-up ended the background program"
kill -0 "$xvfb_pid" 2>/dev/null && qxr_fail "Xvfb survived the clean-up" ||
    qxr_pass "clean-up ended Xvfb"
[ -d "$prefix" ] && qxr_fail "prefix survived the clean-up" || qxr_pass "clean-up removed the prefix"

qxr_wine_finish
