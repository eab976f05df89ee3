#!/usr/bin/env bash
# qxrsimctl: usage text, bad arguments and a missing driver give clear errors and non-zero
# exit statuses; nothing is changed by a refused command.
. "$QXR_WINE_LIB"
. "$(dirname "$0")/card_session.sh"

card_session simctl_errors
out=$QXR_WINE_DIR

expect_exit() {
    local name=$1 want=$2
    local rc
    rc=$(cat "$out/$name.rc")
    qxr_expect_eq "$rc" "$want" "qxrsimctl ${*:3}: exit status $want"
}

simctl help --help
expect_exit help 0 --help
qxr_expect "$out/help.out" '^Usage: qxrsimctl COMMAND' "--help prints the usage text"

simctl none
expect_exit none 1
qxr_expect "$out/none.err" '^qxrsimctl: no command given$' "no arguments: says so"
qxr_expect "$out/none.err" '^Usage: qxrsimctl' "no arguments: prints the usage text"

# Without the driver.
simctl nodrv status
expect_exit nodrv 2 status
qxr_expect "$out/nodrv.err" 'the simulator driver is not loaded \(\\\\\.\\QXR: error 2\)' \
    "missing driver is named"

qxr_wine_driver_install 2 0 11
simctl bad1 refernce gps
expect_exit bad1 1 refernce gps
qxr_expect "$out/bad1.err" "^qxrsimctl: unknown command 'refernce'\$" "unknown command is named"
simctl bad2 offset 12x
expect_exit bad2 1 offset 12x
qxr_expect "$out/bad2.err" "^qxrsimctl: bad value '12x' for 'offset'\$" "bad offset is named"
simctl bad3 gps on fail
expect_exit bad3 1 gps on fail
qxr_expect "$out/bad3.err" "^qxrsimctl: 'fail' needs a value\$" "missing value is named"
simctl bad4 reference 8
expect_exit bad4 1 reference 8
simctl bad5 offset 99999999999999
expect_exit bad5 1 offset 99999999999999

simctl_ok st status
qxr_expect "$out/st.out" '^gps=on$' "refused commands changed nothing (gps)"
qxr_expect "$out/st.out" '^reference=1 \(gps\)$' "refused commands changed nothing (reference)"
qxr_expect "$out/st.out" '^offset_ms=0\.0000$' "refused commands changed nothing (offset)"
qxr_expect "$out/st.out" '^signature=QXR card simulator, PCI, IRQ 11$' "signature of the started card"

qxr_wine_finish
