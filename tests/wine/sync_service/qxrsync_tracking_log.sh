#!/usr/bin/env bash
# QxrSync.exe's tracking log under Wine, against the simulator driver: without the registry
# value the service corrects and writes no file; with it, a header and one line per
# correction (steps, slews and reference changes as the card makes them), appended across a
# restart (the path then given as REG_EXPAND_SZ), rotated at TrackingLogMaxKB; a path that
# cannot be written gives event 113 once while the corrections go on. The log is then
# summarized and plotted by the native qxrsim; the plot stays in the work directory as
# tracking-plot.svg.
# Inputs from CTest: QXRSYNC_EXE, QXRTIME_DLL, QXR_SIMCTL, QXRSIM (native qxrsim).
. "$QXR_WINE_LIB"

qxr_wine_init qxrsync_tracking_log
qxr_wine_require_arch
qxr_wine_require_files "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL" "$QXR_SIM_DRIVER" \
    "$QXR_WINE_SVC" "$QXR_WINE_PROBE"
qxr_wine_prefix
# The service's events (ids and insertion strings) go to session.err.
qxr_wine_server_start "-all,+eventlog,fixme+advapi"
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL"
qxr_wine_driver_install 1 0x320 10
out=$QXR_WINE_DIR
trace=$QXR_WINE_DIR/session.err
params='HKLM\SYSTEM\CurrentControlSet\Services\QxrSync\Parameters'
logs=$WINEPREFIX/drive_c/qxr/logs
log=$logs/qxrsync.csv
mkdir -p "$logs"

QXR_WINE_EVENT_TRACES=("$trace" "$out/install.err")
count() { qxr_wine_events | grep -cE -- "$1"; }
lines() { [ -f "$1" ] && tr -d '\r' <"$1" | wc -l || echo 0; }
stop_service() {
    qxr_expect_eq "$(qxr_wine_service stop QxrSync 20000)" "result=ok" "service stopped ($1)"
}
start_service() {
    qxr_expect_eq "$(qxr_wine_service start QxrSync 20000)" "result=ok" "service started ($1)"
}

# A correction every second (ramp 1 s) and event 109 for every offset of 1 ms or more, so
# that the events show the loop correcting whatever the log does. The card 300 ms ahead:
# Wine takes no rate change, so the offset stays and every correction reports it.
qxr_wine_reg add "$params" /v RampDuration /t REG_DWORD /d 1 /f >/dev/null
qxr_wine_reg add "$params" /v LogThreshold /t REG_DWORD /d 1 /f >/dev/null
qxr_wine_simctl ahead offset 300

# --- Without the value: corrections, no file.
touch "$out/before-install"
rc=0; WINEDEBUG="-all,+eventlog,fixme+advapi" \
    qxr_wine_run install 60 "$QXR_WINE_ARCH" QxrSync.exe -i || rc=$?
qxr_expect_eq "$rc" 0 "-i: exit code 0"
qxr_expect "$out/install.out" '^QxrSync installed\.$' "-i installs and starts the service"
qxr_wine_reg query "$params" >"$out/params.reg"
qxr_expect "$out/params.reg" '^ +MaxAdjustPct +REG_DWORD +0x' "-i seeds the parameters (MaxAdjustPct read back)"
qxr_expect_not "$out/params.reg" 'TrackingLog' "-i does not seed TrackingLog or TrackingLogMaxKB"
if qxr_wine_wait_events '^109 information -0\.(29|30)' 4 30; then qxr_pass "the service corrects (event 109 each second)"; else
    qxr_fail "the service corrects (fewer than 4 events 109 within 30 s)"; fi
stop_service "without the value"
find "$WINEPREFIX/drive_c" -newer "$out/before-install" -type f \
    \( -iname '*.csv' -o -iname '*.csv.1' \) >"$out/new-files.txt"
qxr_expect_eq "$(wc -l <"$out/new-files.txt")" 0 "without TrackingLog no log file is written"

# --- With the value: a line per correction, through a GPS outage and a step.
qxr_wine_reg add "$params" /v TrackingLog /t REG_SZ /d 'C:\qxr\logs\qxrsync.csv' /f >/dev/null
start_service "with TrackingLog"
sleep 4
qxr_wine_simctl lose reference clock gps on
sleep 4
qxr_wine_simctl back reference gps
sleep 2
qxr_wine_simctl step offset -2000
sleep 3
qxr_wine_simctl onback offset 0
sleep 3
stop_service "after the run"
tr -d '\r' <"$log" >"$out/run1.csv" 2>/dev/null
qxr_expect_eq "$(head -n 1 "$out/run1.csv")" \
    "system_utc,card_utc,offset_ms,action,adjustment,increment,reference,gps_fitted" "header line"
qxr_expect_range "$(lines "$log")" 14 30 "a line per correction, one a second, with the header"
bad=$(tail -n +2 "$out/run1.csv" | grep -cvE '^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z,[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}Z,-?[0-9]+,(step|slew|none),[0-9]+,[0-9]+,(GPS|on-board clock|\?),[01]$')
qxr_expect_eq "$bad" 0 "every line has the eight fields in their formats"
# Wine keeps the system's own adjustment on whatever the engine asks, so the engine, finding no
# rate to slew with, sets the clock (which Wine takes only within 0.5 s): every line a step.
qxr_expect "$out/run1.csv" ',-(29[0-9]|30[0-9]),step,156250,156250,GPS,1$' "card 300 ms ahead: -300 ms"
qxr_expect "$out/run1.csv" ',-(29[0-9]|30[0-9]),step,156250,156250,on-board clock,1$' \
    "the outage: on-board clock"
qxr_expect "$out/run1.csv" ',(199[0-9]|200[0-9]),step,' "the card 2 s behind: +2000 ms"
# The two times are the system clock and the card at one instant: their difference is the
# offset the engine returned, less its 1.5 ms bias, within the card's latch and the clock tick.
worst=$(awk -F, 'NR > 1 {
        split(substr($1, 12, 12), a, "[:.]"); split(substr($2, 12, 12), b, "[:.]")
        d = ((a[1] - b[1]) * 3600 + (a[2] - b[2]) * 60 + (a[3] - b[3])) * 1000 + a[4] - b[4]
        e = d - $3; if (e < 0) e = -e; if (e > w) w = e; n++
    } END { print (n > 0 ? w : "no lines") }' "$out/run1.csv")
qxr_expect_range "$worst" 0 20 "system minus card time agrees with the offset (ms)"

# --- A restart appends; the header stays single. The same path now as REG_EXPAND_SZ with
# %SystemDrive%, which the service expands.
qxr_wine_reg add "$params" /v TrackingLog /t REG_EXPAND_SZ /d '%SystemDrive%\qxr\logs\qxrsync.csv' /f >/dev/null
start_service "again"
sleep 3
stop_service "again"
tr -d '\r' <"$log" >"$out/run2.csv"
qxr_expect_eq "$(grep -c '^system_utc,' "$out/run2.csv")" 1 "one header after the restart"
qxr_expect_eq "$(head -c "$(stat -c %s "$out/run1.csv")" "$out/run2.csv" | cmp -s - "$out/run1.csv" && echo kept)" \
    kept "the first run's lines kept"
qxr_expect_range "$(( $(lines "$log") - $(wc -l <"$out/run1.csv") ))" 2 6 "the restart's lines appended"
cp "$log" "$out/tracking.csv"

# --- The limit: the full file becomes qxrsync.csv.1 and a new one begins.
qxr_wine_reg add "$params" /v TrackingLogMaxKB /t REG_DWORD /d 1 /f >/dev/null
start_service "with TrackingLogMaxKB 1"
sleep 3
stop_service "with TrackingLogMaxKB 1"
if cmp -s "$log.1" "$out/tracking.csv"; then qxr_pass "rotated: the old file is qxrsync.csv.1"; else
    qxr_fail "rotated: the old file is qxrsync.csv.1 (missing or different)"; fi
qxr_expect_eq "$(tr -d '\r' <"$log" | head -n 1 | cut -c1-11)" "system_utc," "the new file begins with the header"
qxr_expect_range "$(lines "$log")" 2 6 "the new file holds the latest lines"
qxr_expect_range "$(stat -c %s "$log")" 1 1024 "the new file is within the limit"

# --- A path that cannot be written: event 113 once, the corrections go on.
qxr_wine_reg add "$params" /v TrackingLog /t REG_SZ /d 'C:\qxr\no such folder\qxrsync.csv' /f >/dev/null
before109=$(count '^109 ')
start_service "with an unwritable path"
# (Wine traces the insertion string C-escaped: each backslash doubled.)
if qxr_wine_wait_events '^113 warning C:\\\\qxr\\\\no such folder\\\\qxrsync\.csv$' 1 15; then
    qxr_pass "event 113 (warning) names the path"; else qxr_fail "event 113 names the path (not within 15 s)"; fi
sleep 4
stop_service "with an unwritable path"
qxr_expect_eq "$(count '^113 ')" 1 "event 113 once only"
qxr_expect_range "$(( $(count '^109 ') - before109 ))" 4 30 "the loop went on correcting"
# The insertion strings of event 113's own report (id 0x71): the path, then the error.
strings113=$(awk '/fixme:advapi:ReportEventA \(/ { split($0, f, ","); on = tolower(f[4]) ~ /^0x0*71$/; next }
    on && /:eventlog:ReportEventW L"/ { s = $0; sub(/.*ReportEventW L"/, "", s); sub(/"$/, "", s); print s }' "$trace")
qxr_expect_eq "$(echo $strings113)" 'C:\\qxr\\no such folder\\qxrsync.csv 3' \
    "event 113 carries the path and error 3 (path not found)"

# --- The machine's log plotted by qxrsim, kept beside the logs.
qxrsim=${QXRSIM:-}
if [ -x "$qxrsim" ]; then
    "$qxrsim" --plot-log "$out/tracking.csv" --plot "$out/tracking-plot.svg" >"$out/plot.out" 2>&1
    rc=$?
    sed 's/^/    /' "$out/plot.out"
    qxr_expect_eq "$rc" 0 "qxrsim --plot-log reads the service's log"
    qxr_expect "$out/plot.out" "^  corrections $(( $(wc -l <"$out/run2.csv") - 1 )): [1-9][0-9]* steps?, " \
        "the summary counts every line, the steps among them"
    qxr_expect "$out/tracking-plot.svg" '<svg' "plot written: $out/tracking-plot.svg"
else
    qxr_fail "no native qxrsim at '$qxrsim' to plot the log with (build the native preset)"
fi

rc=0; qxr_wine_run remove 60 "$QXR_WINE_ARCH" QxrSync.exe -r || rc=$?
qxr_expect "$out/remove.out" '^QxrSync removed\.$' "-r removes the service"
echo "--- the service's log:"
sed 's/^/    /' "$out/run2.csv"
qxr_wine_finish
