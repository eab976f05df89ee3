#!/usr/bin/env bash
# QxrSync.exe as a service with faults injected through the simulator driver (qxrsimctl):
# replies with no data (the card then reports no reference: event 107 at once and nothing
# more, since GPS stays the logged reference, also when the data is back; the service keeps
# running),
# then every request failing (event 112 with the error; the service ends by itself), and a
# start afterwards that finds the card again. Inputs from CTest: QXRSYNC_EXE, QXRTIME_DLL,
# QXR_SIMCTL.
. "$QXR_WINE_LIB"

qxr_wine_init qxrsync_faults
qxr_wine_require_arch
qxr_wine_require_files "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL" "$QXR_SIM_DRIVER" \
    "$QXR_WINE_SVC" "$QXR_WINE_PROBE"
qxr_wine_prefix
qxr_wine_server_start "-all,+eventlog,fixme+advapi"
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL"
qxr_wine_driver_install 1 0x300 5
out=$QXR_WINE_DIR

QXR_WINE_EVENT_TRACES=("$out/install.err" "$out/session.err")
simctl() {
    local rc=0
    qxr_wine_run "$1" 30 "$QXR_WINE_ARCH" qxrsimctl.exe "${@:2}" || rc=$?
    qxr_expect_eq "$rc" 0 "qxrsimctl ${*:2}"
}
state_is() {
    local i state
    for ((i = 0; i < 40; i++)); do
        state=$(qxr_wine_service state QxrSync)
        [ "$state" = "state=$1" ] && break
        sleep 0.25
    done
    qxr_expect_eq "$state" "state=$1" "$2"
}

rc=0
WINEDEBUG="-all,+eventlog,fixme+advapi" qxr_wine_run install 60 "$QXR_WINE_ARCH" QxrSync.exe -i || rc=$?
qxr_expect "$out/install.out" '^QxrSync installed\.$' "-i installs and starts the service"
qxr_expect_events '^108 information GPS$' 1 30 "event 108 with GPS"

simctl nodata nodata on
qxr_expect_events '^107 warning -$' 1 5 "no data: event 107 (no reference) at once"
sleep 11  # past the log delay
state_is 4 "no data: the service keeps running"
simctl data nodata off
sleep 2
qxr_expect_eq "$(qxr_wine_events | grep -cE '^10[78] ')" 2 "no data and back: no event but 107 (and the first 108)"
state_is 4 "data back: the service still runs"

simctl fail fail 31
qxr_expect_events '^112 error 31$' 1 5 "failing requests: event 112 with 31"
state_is 1 "failing requests: the service has ended by itself"
simctl nofail fail off
qxr_expect_eq "$(qxr_wine_service start QxrSync 20000)" "result=ok" "started again"
qxr_expect_events '^108 information GPS$' 2 10 "started again: the card found (108 GPS)"
qxr_expect_no_events '^106 ' "never a stop control (no event 106)"
echo "--- events:"
qxr_wine_events | sed 's/^/    /'

qxr_wine_run remove 60 "$QXR_WINE_ARCH" QxrSync.exe -r >/dev/null || true
qxr_expect "$out/remove.out" '^QxrSync removed\.$' "-r removes the service"
qxr_wine_finish
