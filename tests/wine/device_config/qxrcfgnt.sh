#!/usr/bin/env bash
# QxrCfgNT.exe under Wine against the simulator driver: the dialog shows the stored settings;
# choosing "ISA - 320" and interrupt "11" then OK writes the three values and restarts the
# driver, whose signature then shows them to a client of qxrtime.dll; closing the dialog
# writes nothing; without the Parameters key the error box comes, the program exits 0 and
# nothing is written. The dialog is read and worked with qxrwinprobe.
# Inputs from CTest: QXRCFGNT_EXE, QXR_WINPROBE, QXR_CLIENT, QXRTIME_DLL.
. "$QXR_WINE_LIB"

qxr_wine_init qxrcfgnt
qxr_wine_require_arch
qxr_wine_require_files "$QXRCFGNT_EXE" "$QXR_WINPROBE" "$QXR_CLIENT" "$QXRTIME_DLL" \
    "$QXR_SIM_DRIVER" "$QXR_WINE_SVC" "$QXR_WINE_PROBE"
qxr_wine_prefix
qxr_wine_xvfb_start
qxr_wine_server_start
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXRCFGNT_EXE" "$QXR_WINPROBE" "$QXR_CLIENT" "$QXRTIME_DLL"
qxr_wine_driver_install 2 0 5
out=$QXR_WINE_DIR
caption='QXR Device Settings'
bus_items='PCI - Auto|ISA - 300|ISA - 310|ISA - 320|ISA - 330|ISA - 340|ISA - 350|ISA - 360|ISA - 370'
irq_items=' 5| 7|10|11|12|15'

probe() { qxr_wine_run "$1" 60 "$QXR_WINE_ARCH" qxrwinprobe.exe "${@:2}"; }
value() { qxr_wine_reg query "$QXR_DRIVER_KEY" /v "$1" | awk -v n="$1" 'index($0, n) { print $NF }'; }
signature() {
    qxr_wine_run "$1" 60 "$QXR_WINE_ARCH" qxrcardclient.exe signature >&2
    grep '^signature ' "$out/$1.out" | sed 's/.* text=//'
}
# finished NAME: QxrCfgNT ended by itself with exit code 0.
finished() {
    local rc=0
    qxr_wine_wait_bg "$1" 30 || rc=$?
    qxr_expect_eq "$rc" 0 "$1: QxrCfgNT ends with exit code 0"
}

qxr_expect_eq "$(signature sig_before)" "QXR card simulator, PCI, IRQ 5" "driver runs with PCI, IRQ 5"

# --- Shows the stored settings; closing the window changes nothing.
qxr_wine_run_bg cancel "$QXR_WINE_ARCH" QxrCfgNT.exe
probe cancel.dlg wait "$caption" 30 dump close gone 10 || qxr_fail "cancel: dialog not seen or not closed"
d=$out/cancel.dlg.out
qxr_expect "$d" "^control id=1002 class=ComboBox enabled=1 items=$bus_items sel=0\$" \
    "bus list: every entry in order, PCI selected"
qxr_expect "$d" "^control id=1003 class=ComboBox enabled=0 items=$irq_items sel=-1\$" \
    "interrupt list: every entry in order, none selected and disabled on PCI"
qxr_expect "$d" '^control id=1004 class=Static enabled=0 text=Interrupt \(IRQ\):$' \
    "interrupt label disabled on PCI"
qxr_expect "$d" '^control id=-1 class=Static enabled=1 text=Bus type and port address:$' "bus label"
qxr_expect "$d" '^control id=1 class=Button enabled=1 text=OK$' "OK enabled on PCI"
qxr_expect_not "$d" '^control id=2 ' "no Cancel button"
finished cancel
qxr_expect_eq "$(value 'Quoxar Product') $(value 'I/O Port') $(value 'Interrupt (IRQ)')" \
    "0x2 0x0 0x5" "cancel: nothing written"

# --- ISA 320 with interrupt 11, then OK: written and the driver restarted.
qxr_wine_run_bg apply "$QXR_WINE_ARCH" QxrCfgNT.exe
probe apply.dlg wait "$caption" 30 choose 1002 3 dump choose 1003 3 dump click 1 gone 30 ||
    qxr_fail "apply: dialog not seen or not closed by OK"
d=$out/apply.dlg.out
qxr_expect "$d" '^control id=1003 class=ComboBox enabled=1 .* sel=0$' \
    "after ISA - 320: interrupt list enabled, showing the kept interrupt 5"
qxr_expect "$d" '^control id=1003 class=ComboBox enabled=1 .* sel=3$' "interrupt 11 chosen"
qxr_expect "$d" '^control id=1 class=Button enabled=1 text=OK$' "OK enabled with ISA 320, IRQ 11"
finished apply
qxr_expect_eq "$(value 'Quoxar Product') $(value 'I/O Port') $(value 'Interrupt (IRQ)')" \
    "0x1 0x320 0xb" "OK wrote ISA, 0x320, 11"
qxr_expect_eq "$(qxr_wine_service state QxrDrv)" "state=4" "driver running again"
qxr_expect_eq "$(signature sig_after)" "QXR card simulator, ISA port 0x320, IRQ 11" \
    "the restarted driver shows the new settings"

# --- Without the Parameters key: the error box, then the dialog closes by itself.
qxr_wine_reg delete "$QXR_DRIVER_KEY" /f >/dev/null
qxr_wine_run_bg nokey "$QXR_WINE_ARCH" QxrCfgNT.exe
if probe nokey.box wait Error 30 dump click 1 gone 10; then
    qxr_expect "$out/nokey.box.out" \
        '^control id=65535 class=Static enabled=1 text=QxrDrv driver not installed or improperly installed\.$' \
        "missing key: the error box says so"
    qxr_expect_not "$out/nokey.box.out" '^control id=2 ' "missing key: only an OK button"
else
    qxr_fail "missing key: no error box"
fi
finished nokey
rc=0; probe nokey.after waitpart "$caption" 1 >/dev/null 2>&1 || rc=$?
qxr_expect_eq "$rc:$(cat "$out/nokey.after.out")" "1:no window '$caption'" \
    "missing key: the dialog closed by itself (the probe finds no window)"
qxr_expect_no_key "$QXR_DRIVER_KEY" "missing key: nothing written (no Parameters key)"

qxr_wine_finish
