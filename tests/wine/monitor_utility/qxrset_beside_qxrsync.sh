#!/usr/bin/env bash
# QxrSet beside the QxrSync service that slews the system clock: QxrSet's "Adjust system time"
# box stays disabled while the service's correction is in force. The processes can only see
# each other's correction where the system keeps a program's time adjustment; Wine 8 accepts
# SetSystemTimeAdjustment and keeps nothing, and there the test says SKIPPED.
# Inputs from CTest: QXRSET_EXE, QXRSYNC_EXE, QXRTIME_DLL, QXR_SIMCTL, QXRSET_PROBE.
. "$QXR_WINE_LIB"

qxr_wine_init qxrset_beside_qxrsync
qxr_wine_require_arch
qxr_wine_require_files "$QXRSET_EXE" "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL" "$QXRSET_PROBE" \
    "$QXR_SIM_DRIVER" "$QXR_WINE_SVC" "$QXR_WINE_PROBE"
qxr_wine_prefix
qxr_wine_xvfb_start
qxr_wine_server_start
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXRSET_EXE" "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL" \
    "$QXRSET_PROBE"
out=$QXR_WINE_DIR
probe() { qxr_wine_run "$1" 30 "$QXR_WINE_ARCH" qxrsetprobe.exe "${@:2}" >/dev/null; }

probe kept adjustment
qxr_expect "$out/kept.out" '^adjustment kept=[01]$' "the probe ran"
grep -q '^adjustment kept=1$' "$out/kept.out" ||
    qxr_wine_skip "this Wine keeps no system time adjustment (SetSystemTimeAdjustment succeeds" \
        "and changes nothing), so no program can see another program's correction"

qxr_wine_driver_install 2 0 5
# A card 40 ms ahead: well inside the service's slew range, so it slews rather than steps.
qxr_wine_run offset 30 "$QXR_WINE_ARCH" qxrsimctl.exe offset 40 >/dev/null
qxr_wine_run install 60 "$QXR_WINE_ARCH" QxrSync.exe -i >/dev/null
qxr_expect "$out/install.out" '^QxrSync installed\.$' "QxrSync installed and started"
sleep 3  # its first correction
qxr_wine_run_bg qxrset "$QXR_WINE_ARCH" QxrSet.exe
sleep 3
probe dialog controls
qxr_expect "$out/dialog.out" '^control id=1004 enabled=0 ' \
    "\"Adjust system time\" disabled while QxrSync slews"
xid=$(xdotool search --onlyvisible --name '^QXRSET' 2>/dev/null | head -n 1)
xdotool windowfocus "$xid" key Escape 2>/dev/null
qxr_wine_wait_bg qxrset 20 >/dev/null
qxr_wine_run remove 60 "$QXR_WINE_ARCH" QxrSync.exe -r >/dev/null
qxr_wine_finish
