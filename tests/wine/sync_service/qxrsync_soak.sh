#!/usr/bin/env bash
# QxrSync.exe as a service against the simulator driver for four minutes of real time, the
# driver stopped and started once a minute. Each restart of the driver ends the service with
# event 112 (its handle to the device is dead for good); the test then starts it again, as an
# administrator would, and it must find the card again (events 105 and 108). The service's
# open handles, from Wine's process information, are counted 5 s and 50 s into each minute:
# they must not grow within a minute nor from one minute to the next, and the service must be
# running at the end. Inputs from CTest: QXRSYNC_EXE, QXRTIME_DLL, QXR_HANDLES.
. "$QXR_WINE_LIB"

qxr_wine_init qxrsync_soak
qxr_wine_require_arch
qxr_wine_require_files "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_HANDLES" "$QXR_SIM_DRIVER" \
    "$QXR_WINE_SVC" "$QXR_WINE_PROBE"
qxr_wine_prefix
# The service's events (ids and insertion strings) go to session.err.
qxr_wine_server_start "-all,+eventlog,fixme+advapi"
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_HANDLES"
qxr_wine_driver_install 1 0x300 5
out=$QXR_WINE_DIR
rounds=${QXR_SOAK_ROUNDS:-4}

QXR_WINE_EVENT_TRACES=("$out/install.err" "$out/session.err")
# handles WHEN: the service's pid and handle count, appended to handles.txt.
handles() {
    local line
    line=$(qxr_wine_run "probe_$1" 30 "$QXR_WINE_ARCH" qxrhandles.exe QxrSync >/dev/null; cat "$out/probe_$1.out")
    echo "$1 $line" >>"$out/handles.txt"
    echo "$line"
}
count_of() { sed -n 's/.*handles=\([1-9][0-9]*\).*/\1/p' <<<"$1"; }

rc=0
WINEDEBUG="-all,+eventlog,fixme+advapi" qxr_wine_run install 60 "$QXR_WINE_ARCH" QxrSync.exe -i || rc=$?
qxr_expect_eq "$rc" 0 "-i: exit code 0"
qxr_expect "$out/install.out" '^QxrSync installed\.$' "-i installs and starts the service"
qxr_expect_events '^105 information -$' 1 30 "event 105 (started)"
qxr_expect_events '^108 information GPS$' 1 30 "event 108 with GPS"

: >"$out/handles.txt"
start=$SECONDS
first_late=
for ((round = 1; round <= rounds; round++)); do
    round_start=$((start + (round - 1) * 60))
    while ((SECONDS < round_start + 5)); do sleep 0.5; done
    early=$(handles "round${round}_5s")
    while ((SECONDS < round_start + 50)); do sleep 0.5; done
    late=$(handles "round${round}_50s")
    echo "round $round: at 5 s $early, at 50 s $late"
    if [ -z "$(count_of "$early")" ] || [ -z "$(count_of "$late")" ]; then
        qxr_fail "round $round: handle counts read, not 0 (got \"$early\" and \"$late\")"
    else
        qxr_expect_eq "${late%% *}" "${early%% *}" \
            "round $round: one service process all minute"
        qxr_expect_eq "$(count_of "$late")" "$(count_of "$early")" \
            "round $round: no handles gained within the minute"
        [ -n "$first_late" ] || first_late=$(count_of "$late")
        qxr_expect_eq "$(count_of "$late")" "$first_late" "round $round: as many handles as in round 1"
    fi

    qxr_wine_driver_stop || qxr_fail "round $round: driver stopped"
    qxr_wine_driver_start || qxr_fail "round $round: driver started again"
    qxr_expect_events '^112 error 5$' "$round" 10 "round $round: the dead device ends the service (event 112, 5)"
    state=
    for ((i = 0; i < 40; i++)); do
        state=$(qxr_wine_service state QxrSync)
        [ "$state" = "state=1" ] && break
        sleep 0.25
    done
    qxr_expect_eq "$state" "state=1" "round $round: service stopped"
    qxr_expect_eq "$(qxr_wine_service start QxrSync 20000)" "result=ok" "round $round: started again"
    qxr_expect_events '^105 information -$' $((round + 1)) 20 "round $round: event 105 again"
    qxr_expect_events '^108 information GPS$' $((round + 1)) 20 "round $round: the card found again (108 GPS)"
done

qxr_expect_eq "$(qxr_wine_service state QxrSync)" "state=4" "the service runs at the end"
last=$(handles end)
echo "after $((SECONDS - start)) s: $last"
qxr_expect_no_events '^110 error |^112 error ([^5]|5.)' "no other error event (event 112 only with 5)"
echo "--- handle counts and working sets of the service's processes:"
sed 's/^/    /' "$out/handles.txt"
echo "--- events:"
qxr_wine_events | sort | uniq -c | sed 's/^/    /'

qxr_wine_run remove 60 "$QXR_WINE_ARCH" QxrSync.exe -r >/dev/null || true
qxr_expect "$out/remove.out" '^QxrSync removed\.$' "-r removes the service"
qxr_wine_finish
