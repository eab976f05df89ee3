# Common start of the card tests: sourced after the harness library. Inputs from CTest:
# QXR_CLIENT (qxrcardclient.exe), QXRTIME_DLL (qxrtime.dll), QXR_SIMCTL (qxrsimctl.exe), all
# of the architecture under test.

# card_session NAME [BUS PORT IRQ]: a prefix and a session with the client, the library and
# the control tool installed; with BUS PORT IRQ also the simulator driver, started.
card_session() {
    local name=$1
    shift
    qxr_wine_init "$name"
    qxr_wine_require_arch
    qxr_wine_require_files "$QXR_CLIENT" "$QXRTIME_DLL" "$QXR_SIMCTL" "$QXR_SIM_DRIVER" \
        "$QXR_WINE_SVC" "$QXR_WINE_PROBE"
    qxr_wine_prefix
    qxr_wine_server_start
    qxr_wine_require_probe
    qxr_wine_install "$QXR_WINE_ARCH" "$QXR_CLIENT" "$QXRTIME_DLL" "$QXR_SIMCTL"
    if [ $# -ge 3 ]; then
        qxr_wine_driver_install "$1" "$2" "$3"
    fi
}

# client NAME COMMAND...: the test client; its output is in $QXR_WINE_DIR/NAME.out.
client() {
    local name=$1
    shift
    qxr_wine_run "$name" 60 "$QXR_WINE_ARCH" qxrcardclient.exe "$@"
    local rc=$?
    qxr_expect "$QXR_WINE_DIR/$name.out" '^client done$' "$name: the client ran to its end"
    return $rc
}

# simctl NAME ARG...: the control tool; output in NAME.out, exit status returned.
simctl() {
    local name=$1
    shift
    qxr_wine_run "$name" 30 "$QXR_WINE_ARCH" qxrsimctl.exe "$@"
}

# simctl_ok NAME ARG...: the control tool, expected to succeed.
simctl_ok() {
    local rc=0
    simctl "$@" || rc=$?
    qxr_expect_eq "$rc" 0 "qxrsimctl ${*:2} succeeded"
}
