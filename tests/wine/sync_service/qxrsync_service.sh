#!/usr/bin/env bash
# QxrSync.exe under Wine against the simulator driver: the command line, installation (the
# seven parameters, the event source, the description, the hand-over with a stand-in
# W32Time service), the running service's loop and events, net stop, and removal.
# Inputs from CTest: QXRSYNC_EXE, QXRTIME_DLL, QXR_SIMCTL, QXR_W32TIME_STUB.
. "$QXR_WINE_LIB"

qxr_wine_init qxrsync_service
qxr_wine_require_arch
qxr_wine_require_files "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL" "$QXR_W32TIME_STUB" \
    "$QXR_SIM_DRIVER" "$QXR_WINE_SVC" "$QXR_WINE_PROBE"
qxr_wine_prefix
# The GPS-off-line pop-up needs a display to land on (an invisible desktop: it blocks there
# and the loop goes on); without one Wine's session breaks down when it comes.
qxr_wine_xvfb_start
# The service's debug trace and its events (insertion strings and ids) go to session.err.
qxr_wine_server_start "-all,warn+debugstr,+eventlog,fixme+advapi"
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL" "$QXR_W32TIME_STUB"
qxr_wine_driver_install 1 0x320 10
out=$QXR_WINE_DIR
trace=$QXR_WINE_DIR/session.err
exe_dir='C:\qxr\'"$QXR_WINE_ARCH"
params='HKLM\SYSTEM\CurrentControlSet\Services\QxrSync\Parameters'

sync() { qxr_wine_run "$1" 60 "$QXR_WINE_ARCH" QxrSync.exe "${@:2}"; }
# With the event traces on, for the runs that report events.
traced_sync() { WINEDEBUG="-all,+eventlog,fixme+advapi" sync "$@"; }
# expect_file NAME TEXT WHAT: the program's whole output is exactly TEXT.
expect_file() {
    if [ "$(cat "$out/$1.out"; echo x)" = "$2"x ]; then qxr_pass "$3"; else
        qxr_fail "$3 (output differs:)"
        diff <(printf '%s' "$2") "$out/$1.out" | sed 's/^/    /'
    fi
}
# The command-line runs ("-i", "-r") trace their events in their own stderr, the service in
# the session's.
QXR_WINE_EVENT_TRACES=("$out/install.err" "$trace" "$out/remove.err")
reg_value() { qxr_wine_reg query "$1" /v "$2" | awk -v n="$2" '$1 == n { print $3 }'; }

# --- A stand-in W32Time, automatic and running.
qxr_wine_service create W32Time own auto "$exe_dir\\w32time_stub.exe" "Windows Time" >/dev/null
qxr_wine_service start W32Time >/dev/null
qxr_expect_eq "$(qxr_wine_service state W32Time)" "state=4" "stand-in W32Time runs"

# --- The command line before installation.
usage=$'\nCommand line options:\n\n  qxrsync -i          Install and start the service\n  qxrsync -r          stop and Remove the service\n  qxrsync -v          display Version and status\n\n  net stop qxrsync    stop the service\n  net start qxrsync   start the service\n'
rc=0; sync usage || rc=$?
qxr_expect_eq "$rc" 0 "no argument: exit code 0"
expect_file usage "$usage" "no argument: the usage text, exactly"
rc=0; sync version -v || rc=$?
qxr_expect_eq "$rc" 0 "-v: exit code 0"
expect_file version $'QxrSync version 1.0.0.2\nThe service is not installed.\n' "-v before installation"
rc=0; sync slash /i || rc=$?
qxr_expect_eq "$rc" 0 "/i: exit code 0"
expect_file slash "" "/i: prints nothing"
rc=0; sync notinst -r || rc=$?
expect_file notinst $'QxrSync is not installed.\n' "-r before installation"

# --- Installation.
rc=0; traced_sync install -i || rc=$?
qxr_expect_eq "$rc" 0 "-i: exit code 0"
expect_file install $'W32Time service stopped.\nW32Time service has been disabled.\nQxrSync installed.\n' \
    "-i: stops and disables W32Time, installs"
for v in LogThreshold:0x64 MsgThreshold:0x64 LogSecsNoGPS:0xa MsgSecsNoGPS:0xa \
    MaxAdjustPct:0x64 RampDuration:0xa TimeSetBias:0xf; do
    qxr_expect_eq "$(reg_value "$params" "${v%%:*}")" "${v##*:}" "parameter ${v%%:*} seeded"
done
src='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\QxrSync'
qxr_expect_eq "$(reg_value "$src" TypesSupported)" 0x7 "event source: TypesSupported = 7"
qxr_wine_reg query "$src" /v EventMessageFile >"$out/emf.reg"
qxr_expect "$out/emf.reg" 'EventMessageFile +REG_EXPAND_SZ +C:\\qxr\\'"$QXR_WINE_ARCH"'\\QxrSync\.exe$' \
    "event source: EventMessageFile is the program"
qxr_wine_reg query 'HKLM\SYSTEM\CurrentControlSet\Services\QxrSync' >"$out/svc.reg"
qxr_expect "$out/svc.reg" 'Description +REG_SZ +Keeps the computer clock synchronized to the QXR card$' \
    "Description written"
qxr_expect "$out/svc.reg" 'ImagePath +REG_(EXPAND_)?SZ +"C:\\qxr\\'"$QXR_WINE_ARCH"'\\QxrSync\.exe"$' \
    "binary path registered quoted"
qxr_expect_eq "$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Services\QxrSync\W32Time' StartType)" \
    0x2 "W32Time's start type noted (automatic)"
qxr_expect_eq "$(qxr_wine_service state W32Time)" "state=1" "W32Time stopped"
qxr_expect_eq "$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Services\W32Time' Start)" 0x4 \
    "W32Time disabled"

# --- The service runs its loop against the simulated card.
qxr_expect_events '^100 information QxrSync$' 1 10 "event 100 (installed)"
qxr_expect_events '^105 information -$' 1 20 "event 105 (started)"
qxr_expect_events '^108 information GPS$' 1 20 "event 108 with GPS"
qxr_expect "$trace" 'OutputDebugStringA "\[QxrSync\]\([0-9]+\): CNTService::SetStatus\([0-9]+, 4\)' \
    "trace: RUNNING reported"
rc=0; sync version2 -V || rc=$?
expect_file version2 $'QxrSync version 1.0.0.2\nThe service is currently installed.\n' "-V while installed"

# --- The GPS-off-line pop-up needs an interactive service to reach the display (else it
# blocks on an invisible desktop): restart the service as one, as an administrator who wants
# to see it would.
qxr_expect_eq "$(qxr_wine_service stop QxrSync 20000)" "result=ok" "service stopped for reconfiguration"
qxr_expect_eq "$(qxr_wine_service interactive QxrSync)" "result=ok" "service made interactive"
qxr_expect_eq "$(qxr_wine_service start QxrSync 20000)" "result=ok" "service started again"
if qxr_wine_wait_events '^108 information GPS$' 2 20; then qxr_pass "event 108 GPS after the restart"; else
    qxr_fail "event 108 GPS after the restart (not seen a second time within 20 s)"; fi
# popup_windows: ids of the visible windows captioned "QxrSync Warning".
popup_windows() { xdotool search --onlyvisible --name '^QxrSync Warning$' 2>/dev/null; }

# --- GPS lost: the card falls back to its on-board clock; GPS comes back; then the on-board
# clock again, followed within the log delay by no reference at all.
qxr_expect_eq "$(popup_windows | wc -l)" 0 "no pop-up while GPS is the reference"
qxr_wine_simctl lose reference clock gps on
qxr_expect_events '^108 warning on-board clock$' 1 30 "event 108 on-board clock (warning) after the log delay"
popup=
for ((i = 0; i < 40; i++)); do
    popup=$(popup_windows | head -n 1)
    [ -n "$popup" ] && break
    sleep 0.25
done
if [ -n "$popup" ]; then
    qxr_pass "the GPS-off-line pop-up shows on the display"
    import -window root "$out/popup.png" 2>/dev/null || true
    xdotool windowactivate --sync "$popup" key Return 2>/dev/null ||
        xdotool windowfocus "$popup" key Return 2>/dev/null || true
    for ((i = 0; i < 40; i++)); do
        [ -z "$(popup_windows)" ] && break
        sleep 0.25
    done
    qxr_expect_eq "$(popup_windows | wc -l)" 0 "the pop-up closes with its OK button"
else
    qxr_fail "the GPS-off-line pop-up shows on the display (no window within 10 s)"
fi
qxr_wine_simctl back reference gps
if qxr_wine_wait_events '^108 information GPS$' 3 10; then qxr_pass "event 108 GPS when it is back"; else
    qxr_fail "event 108 GPS when it is back (not seen a third time within 10 s)"; fi
qxr_wine_simctl lose2 reference clock
sleep 2  # seen by a few passes (one every 500 ms), well within the 10 s log delay
qxr_wine_simctl none reference none
qxr_expect_events '^107 warning -$' 1 10 "event 107 (no reference) at once"
qxr_expect_events '^108 warning \?$' 1 20 "event 108 with ? (warning) when the delay has run out"
qxr_wine_simctl back2 reference gps
if qxr_wine_wait_events '^108 information GPS$' 4 10; then qxr_pass "event 108 GPS when it is back again"; else
    qxr_fail "event 108 GPS when it is back again (not seen a fourth time within 10 s)"; fi
qxr_expect_no_events '^112 ' "no library error (event 112)" "$out/install.err" "$trace"

# --- net stop.
qxr_wine_run netstop 60 "$QXR_WINE_ARCH" net stop qxrsync || true
qxr_expect_events '^106 information -$' 1 20 "event 106 (stopped)"
for ((i = 0; i < 40; i++)); do
    [ "$(qxr_wine_service state QxrSync)" = "state=1" ] && break
    sleep 0.25
done
qxr_expect_eq "$(qxr_wine_service state QxrSync)" "state=1" "service stopped"

# --- Removal.
rc=0; traced_sync remove -r || rc=$?
qxr_expect_eq "$rc" 0 "-r: exit code 0"
expect_file remove $'W32Time service has been re-enabled.\nW32Time service started.\nQxrSync removed.\n(You must delete the file "C:\\qxr\\'"$QXR_WINE_ARCH"$'\\QxrSync.exe" yourself.)\n' \
    "-r: restores W32Time, removes, names the program's path"
qxr_expect_events '^101 information QxrSync$' 1 10 "event 101 (removed)"
qxr_expect_eq "$(reg_value 'HKLM\SYSTEM\CurrentControlSet\Services\W32Time' Start)" 0x2 \
    "W32Time automatic again"
qxr_expect_eq "$(qxr_wine_service state W32Time)" "state=4" "W32Time running again"
rc=0; sync gone -v || rc=$?
expect_file gone $'QxrSync version 1.0.0.2\nThe service is not installed.\n' "-v after removal"

echo "--- events of the install / run / GPS-loss / stop / remove cycle:"
qxr_wine_events | tee "$out/events.txt" | sed 's/^/    /'
qxr_wine_service stop W32Time >/dev/null 2>&1 || true
qxr_wine_service delete W32Time >/dev/null 2>&1 || true
qxr_wine_finish
