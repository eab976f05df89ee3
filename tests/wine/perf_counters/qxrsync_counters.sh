#!/usr/bin/env bash
# QxrSync's performance counters under Wine: qxrperf.dll registered under the service's
# Performance key as the setup program registers it, read by qxrperfprobe.exe the way perflib
# reads a counter DLL. In order: no service yet (the object, "Service Running" 0); the
# service on the simulator driver with its tracking log and NTP server (the offset as in the
# tracking log's last line; the reference state following qxrsimctl, GPS -> on-board clock
# -> none -> GPS, each within two refreshes; the NTP counters rising by exactly the requests
# sent, answered, malformed, rate-limited and refused); the section's access entries; the
# service stopped (the object again, "Service Running" 0); the time of one Collect.
# Inputs from CTest: QXRSYNC_EXE, QXRTIME_DLL, QXR_SIMCTL, QXRPERF_DLL, QXRPERF_INI,
# QXRPERF_H, QXR_PERF_PROBE, QXR_NTP_PEER, QXR_REGISTER_NSI (the setup's registration alone).
. "$QXR_WINE_LIB"

qxr_wine_init qxrsync_counters
qxr_wine_require_arch
qxr_wine_require_files "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL" "$QXR_SIM_DRIVER" \
    "$QXR_WINE_SVC" "$QXR_WINE_PROBE" "$QXRPERF_DLL" "$QXRPERF_INI" "$QXRPERF_H" \
    "$QXR_PERF_PROBE" "$QXR_NTP_PEER" "$QXR_REGISTER_NSI"
command -v makensis >/dev/null || { echo "FAIL: makensis is missing (scripts/install-deps.sh all)"; exit 1; }
qxr_wine_prefix
qxr_wine_server_start "-all,+eventlog,fixme+advapi"
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL" "$QXRPERF_DLL" \
    "$QXRPERF_INI" "$QXRPERF_H" "$QXR_PERF_PROBE"
qxr_wine_driver_install 1 0x320 10
out=$QXR_WINE_DIR
dir="C:\\qxr\\$QXR_WINE_ARCH"
service='HKLM\SYSTEM\CurrentControlSet\Services\QxrSync'
params="$service\\Parameters"
perf="$service\\Performance"
log=$WINEPREFIX/drive_c/qxr/logs/qxrsync.csv
mkdir -p "$(dirname "$log")"
QXR_WINE_EVENT_TRACES=("$out/install.err" "$out/session.err")
peer() { /usr/bin/python3 "$QXR_NTP_PEER" "$@"; }
field() { tr ' ' '\n' <<<"$1" | sed -n "s/^$2=//p" | head -n 1; }
port=11233

# The counters registered by the setup program's own lines (packaging/setup/perf_counters.nsh,
# built into a setup of their own): the DLL's four values, then lodctr.
setup_arch=win64; [ "$QXR_WINE_ARCH" = i686 ] && setup_arch=win32
(cd "$out" && makensis -V2 -DARCH=$setup_arch -DOUTFILE="$out/register_counters.exe" \
    "$QXR_REGISTER_NSI" >"$out/makensis.out" 2>&1) || { cat "$out/makensis.out"; qxr_fail "makensis"; }
register_counters() {
    qxr_wine_run register 60 "$QXR_WINE_ARCH" "$out/register_counters.exe" /S "/D=$dir" >/dev/null
    qxr_wine_reg query "$perf" >"$out/perf-registered.reg"
    qxr_expect "$out/perf-registered.reg" 'Library +REG_SZ +C:\\qxr\\[a-z0-9_]+\\qxrperf\.dll$' "setup: Library"
    qxr_expect "$out/perf-registered.reg" 'Collect +REG_SZ +CollectQxrPerformanceData$' "setup: Collect"
    tr -d '\r' <"$WINEPREFIX/drive_c/qxr/$QXR_WINE_ARCH/register_counters.log" | sed 's/^/    /'
    qxr_expect "$WINEPREFIX/drive_c/qxr/$QXR_WINE_ARCH/register_counters.log" 'lodctr\.exe" "C:\\qxr\\[a-z0-9_]+\\qxrperf\.ini": exit code' \
        "setup: lodctr run with qxrperf.ini"
    # Wine 8.0's lodctr is a stub that registers no names and writes no First Counter, which
    # Windows' lodctr writes (here: the next free indexes after the system's own, as on a
    # fresh NT 4.0): the test writes the four values itself.
    qxr_wine_reg add "$perf" /v "First Counter" /t REG_DWORD /d 1500 /f >/dev/null
    qxr_wine_reg add "$perf" /v "First Help" /t REG_DWORD /d 1501 /f >/dev/null
    qxr_wine_reg add "$perf" /v "Last Counter" /t REG_DWORD /d 1536 /f >/dev/null
    qxr_wine_reg add "$perf" /v "Last Help" /t REG_DWORD /d 1537 /f >/dev/null
}
n=0
# probe: reads the object; its counters by name in $out/probe-N.out, N in $probe.
probe() {
    n=$((n + 1)); probe=$out/probe-$n.out
    qxr_wine_run "probe-$n" 30 "$QXR_WINE_ARCH" qxrperfprobe.exe "$dir\\qxrperf.ini" "$dir\\qxrperf.h" "$@" >/dev/null
}
value() { sed -n "s/^counter \"$1\" .* value=\([0-9]*\)$/\1/p" "$probe" | head -n 1; }
# wait_state VALUE WHAT: probes every half second for up to two Performance Monitor
# refreshes (2 s) until "Reference State" is VALUE.
wait_state() {
    local i start=$(date +%s%N)
    for ((i = 0; i < 8; i++)); do
        probe
        if [ "$(value 'Reference State')" = "$1" ]; then
            qxr_pass "reference state $1 ($2) after $(( ($(date +%s%N) - start) / 1000000 )) ms"
            return
        fi
        (( $(date +%s%N) - start > 2000000000 )) && break
        sleep 0.3
    done
    qxr_fail "reference state $1 ($2) not within 2 s (last $(value 'Reference State'))"
}
ntp() { echo "$(value 'NTP Server Incoming Requests')/$(value 'NTP Server Outgoing Responses')/$(value 'NTP Requests Malformed')/$(value 'NTP Requests Refused')/$(value 'NTP Requests Rate Limited')"; }
restart() {
    qxr_expect_eq "$(qxr_wine_service stop QxrSync 20000)" "result=ok" "service stopped ($1)"
    qxr_expect_eq "$(qxr_wine_service start QxrSync 20000)" "result=ok" "service started ($1)"
    qxr_expect_events "^114 information $port\$" "$2" 15 "NTP server answering again ($1)"
}

# --- Registered before the service is: the object is there and says it is not running.
qxr_wine_reg add "$params" /v RampDuration /t REG_DWORD /d 1 /f >/dev/null
register_counters
probe
qxr_expect "$probe" '^library=C:\\qxr\\[a-z0-9_]+\\qxrperf\.dll open=OpenQxrPerformanceData collect=CollectQxrPerformanceData close=CloseQxrPerformanceData first_counter=1500 first_help=1501$' \
    "the probe finds the DLL through the Performance key"
qxr_expect "$probe" '^collect_status=0 objects=1 too_small=[1-9][0-9]* nothing_written_when_too_small=1$' \
    "ERROR_MORE_DATA while too small, and nothing written"
qxr_expect "$probe" '^object "QXR Time Service" name_index=1500 help_index=1501 counters=18 bytes=936 ' \
    "one object, 18 counters"
qxr_expect "$probe" '^well_formed=1$' "the object is well formed"
qxr_expect_eq "$(value 'Service Running')/$(value 'Reference State')/$(value 'Corrections')" 0/0/0 \
    "no service installed: the object, Service Running 0"
for q in 'Foreign \\HOST' Costly 1502 '2 1500 7'; do
    probe --query "$q"
    want=0; [ "$q" = '2 1500 7' ] && want=1
    qxr_expect "$probe" "^query=\"[^\"]*\" status=0 bytes=$((want * 936)) objects=$want " \
        "query '$q': $want object(s)"
done

# --- The service with its tracking log and NTP server; the card 300 ms ahead (Wine sets its
# clock only within 0.5 s, so each correction steps and the offset stays).
qxr_wine_reg add "$params" /v TrackingLog /t REG_SZ /d 'C:\qxr\logs\qxrsync.csv' /f >/dev/null
qxr_wine_reg add "$params" /v NtpServer /t REG_DWORD /d 1 /f >/dev/null
qxr_wine_reg add "$params" /v NtpPort /t REG_DWORD /d "$port" /f >/dev/null
qxr_wine_reg add "$params" /v NtpRateInterval /t REG_DWORD /d 0 /f >/dev/null
qxr_wine_simctl ahead offset 300
rc=0
WINEDEBUG="-all,+eventlog,fixme+advapi" qxr_wine_run install 60 "$QXR_WINE_ARCH" QxrSync.exe -i || rc=$?
qxr_expect "$out/install.out" '^QxrSync installed\.$' "-i installs and starts the service"
qxr_wine_reg query "$perf" >"$out/perf-after-install.reg"
qxr_expect "$out/perf-after-install.reg" 'Library +REG_SZ' "-i leaves the Performance values alone"
qxr_expect_events "^114 information $port\$" 1 30 "NTP server answering"
sleep 3
probe
qxr_expect_eq "$(value 'Service Running')/$(value 'Reference State')" 1/2 "running, on GPS"
# The last line of the tracking log, read right after the counters: the offset of both is
# the last correction's (a new one each second, all about the same).
last=$(tr -d '\r' <"$log" | tail -n 1)
echo "--- tracking log's last line: $last"
offset_ms=$(cut -d, -f3 <<<"$last")
offset_us=$(value 'Time Offset (us)')
qxr_expect_eq "$(value 'System Clock Ahead')/${offset_ms:0:1}" 0/- "the system clock behind the card in both"
qxr_expect_range "$(( offset_us - ${offset_ms#-} * 1000 ))" -2000 2000 \
    "the offset counter agrees with the tracking log's last line (us difference)"
qxr_expect_range "$offset_us" 290000 310000 "the offset is the card's 300 ms (us)"
qxr_expect_range "$(value 'Corrections')" 2 20 "corrections counted"
qxr_expect_eq "$(value 'Clock Steps')" "$(value 'Corrections')" "under Wine every correction steps"
qxr_expect_range "$(value 'Seconds Since GPS Reading')" 0 1 "the last GPS reading within a second"

# --- The reference state follows the card.
qxr_wine_simctl holdover reference clock gps on
wait_state 1 "on-board clock"
sleep 3
probe
qxr_expect_range "$(value 'Seconds Since GPS Reading')" 2 6 "seconds since the last GPS reading grow"
qxr_wine_simctl none reference none
wait_state 0 "no reference"
qxr_wine_simctl back reference gps
wait_state 2 "GPS again"

# --- NTP: exactly the requests sent. First the server's line served again: after the card's
# time off GPS it waits for 8 readings on GPS (a second each here).
for ((i = 0; i < 20; i++)); do peer ntplib "$port" | grep -q ' li=0 ' && break; sleep 1; done
sleep 1
probe; before=$(ntp)
for i in 1 2 3 4 5; do peer exchange "$port" 127.0.0.1 v4m3 >/dev/null; done
sleep 1
probe; after=$(ntp)
IFS=/ read -r i0 o0 m0 r0 l0 <<<"$before"; IFS=/ read -r i1 o1 m1 r1 l1 <<<"$after"
qxr_expect_eq "$((i1 - i0))/$((o1 - o0))/$((m1 - m0))" 5/5/0 "5 requests: incoming +5, outgoing +5"
qxr_expect_eq "$(value 'NTP Synchronised')" 1 "the last reply said synchronised"
full=$probe
# The card's 1 ms, and 2 ms more while readings of the on-board clock are still in the line.
qxr_expect_range "$(value 'NTP Root Dispersion (us)')" 900 4000 "its root dispersion (us)"
peer malformed "$port" 127.0.3 >"$out/malformed.out"
sleep 1
probe; IFS=/ read -r i2 o2 m2 r2 l2 <<<"$(ntp)"
qxr_expect_eq "$((i2 - i1))/$((o2 - o1))/$((m2 - m1))" 36/18/18 \
    "18 malformed requests and 18 good: malformed +18, outgoing +18"

# The default rate limit: a burst from one address, the limited ones counted.
qxr_wine_reg delete "$params" /v NtpRateInterval /f >/dev/null
restart "default rate limit" 2
r=$(peer burst "$port" 127.0.2.1 100)
echo "--- burst: $r"
sleep 1
probe; IFS=/ read -r i3 o3 m3 r3 l3 <<<"$(ntp)"
qxr_expect_eq "$i3/$o3/$l3" "100/$(field "$r" answered)/$((100 - o3))" \
    "burst of 100: incoming 100, outgoing as answered, the rest rate-limited"
qxr_expect_range "$l3" 30 92 "most of the burst rate-limited"

# An allow list without loopback: refused.
qxr_wine_reg add "$params" /v NtpAllow /t REG_MULTI_SZ /d '10.0.0.0/8' /f >/dev/null
restart "NtpAllow 10.0.0.0/8" 3
for i in 1 2 3; do peer exchange "$port" 127.0.0.1 v4m3 >/dev/null; done
sleep 1
probe
qxr_expect_eq "$(ntp)" 3/0/0/3/0 "3 requests from a network not allowed: refused 3"

# --- The section's access: readers may map it for reading, only SYSTEM and Administrators
# may do more; never a NULL DACL.
qxr_wine_run dacl 30 "$QXR_WINE_ARCH" qxrperfprobe.exe --dacl >/dev/null
qxr_expect "$out/dacl.out" '^section=(Global\\)?QxrSyncCounters dacl_present=1 null_dacl=0$' "a DACL, not a NULL one"
qxr_expect_eq "$(grep -c '^ace ' "$out/dacl.out")" 3 "three access entries"
qxr_expect "$out/dacl.out" '^ace type=0 sid=S-1-1-0 mask=0x00000004$' "Everyone: FILE_MAP_READ only"
qxr_expect "$out/dacl.out" '^ace type=0 sid=S-1-5-18 mask=0x000F001F$' "SYSTEM: all access"
qxr_expect "$out/dacl.out" '^ace type=0 sid=S-1-5-32-544 mask=0x000F001F$' "Administrators: all access"

# --- The time of one Collect, and what Wine's own perflib makes of it (printed only).
probe --times 1000
qxr_expect "$probe" '^collect_us=[0-9.]+ ' "Collect timed"
collect_us=$(sed -n 's/^collect_us=\([0-9.]*\).*/\1/p' "$probe")
qxr_wine_run perflib 30 "$QXR_WINE_ARCH" qxrperfprobe.exe "$dir\\qxrperf.ini" "$dir\\qxrperf.h" --perflib >/dev/null

# --- Stopped: the object is there, Service Running 0.
qxr_expect_eq "$(qxr_wine_service stop QxrSync 20000)" "result=ok" "service stopped"
probe
qxr_expect "$probe" '^well_formed=1$' "stopped: the object is well formed"
qxr_expect_eq "$(value 'Service Running')/$(value 'Reference State')/$(value 'Corrections')" 0/0/0 \
    "stopped: Service Running 0"

# The uninstaller's lines: unlodctr, the Performance key gone; then QxrSync -r.
qxr_wine_run unregister 60 "$QXR_WINE_ARCH" "$out/register_counters.exe" /S /UNREGISTER "/D=$dir" >/dev/null
qxr_expect "$WINEPREFIX/drive_c/qxr/$QXR_WINE_ARCH/register_counters.log" 'unlodctr\.exe" QxrSync: exit code' \
    "uninstall: unlodctr QxrSync run"
qxr_expect_eq "$(qxr_wine_reg query "$perf" 2>&1 | grep -c 'REG_')" 0 "uninstall: the Performance values removed"
rc=0; qxr_wine_run remove 60 "$QXR_WINE_ARCH" QxrSync.exe -r || rc=$?
qxr_expect "$out/remove.out" '^QxrSync removed\.$' "-r removes the service"
echo "--- the object as read with the service running, after 5 NTP requests:"
grep -E '^(object|counter) ' "$full" | sed 's/^/    /'
echo "--- one Collect under Wine: ${collect_us:-none} us"
echo "--- Wine's own PERF_DATA_BLOCK of \"Global\" (not asserted: Wine 8.0 misplaces the object):"
sed 's/^/    /' "$out/perflib.out"
qxr_wine_finish
