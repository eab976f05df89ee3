#!/usr/bin/env bash
# One client process across a driver stop and a start with new settings: while the driver is
# stopped every get-export fails and zero-fills; once it runs again the next get-export
# succeeds without restarting the client, and the signature shows the new settings.
. "$QXR_WINE_LIB"
. "$(dirname "$0")/card_session.sh"

card_session driver_restart 2 0 5
out=$QXR_WINE_DIR

qxr_wine_run_bg c1 "$QXR_WINE_ARCH" qxrcardclient.exe all \
    wait "$(qxr_wine_signal_path stopped)" all status \
    wait "$(qxr_wine_signal_path started)" all
qxr_wine_wait_for_line c1 '^waiting .*stopped' 30 || qxr_fail "client did not reach 'stopped'"
qxr_wine_driver_stop || qxr_fail "driver stop"
qxr_wine_signal stopped
qxr_wine_wait_for_line c1 '^waiting .*started' 30 || qxr_fail "client did not reach 'started'"
# New settings, as the device configuration utility stores them, then a start.
qxr_wine_driver_params 1 0x360 12
qxr_wine_driver_start || qxr_fail "driver start"
qxr_wine_signal started
qxr_wine_wait_bg c1 60
qxr_expect "$out/c1.out" '^client done$' "client ran to its end"

# Phase 1: the driver started with PCI, interrupt 5.
sig1="QXR card simulator, PCI, IRQ 5"
qxr_expect_eq "$(qxr_line "$out/c1.out" 1 '^signature ')" "signature n=${#sig1} empty=0 text=$sig1" \
    "signature before the stop"
qxr_expect_eq "$(qxr_line "$out/c1.out" 1 '^time ' | cut -d' ' -f2)" rc=0 "time before the stop"

# Phase 2: the driver stopped. The first request on the old handle fails (Wine: 5), the
# library drops the handle, and every later export fails to open the device (2).
for e in driver_version fw_version status time quality position; do
    line=$(qxr_line "$out/c1.out" 2 "^$e ")
    if [[ "$line" =~ rc=(2|5)\ .*zero=1$ ]]; then
        qxr_pass "$e fails (${BASH_REMATCH[1]}) and zero-fills while the driver is stopped"
    else
        qxr_fail "$e while the driver is stopped: '$line'"
    fi
done
qxr_expect_eq "$(qxr_line "$out/c1.out" 2 '^signature ')" "signature n=0 empty=1 text=" \
    "signature is empty while the driver is stopped"
qxr_expect_eq "$(qxr_line "$out/c1.out" 2 '^checksum ')" "checksum rc=2 0x00000000" \
    "checksum fails to open the device (2) and is zeroed"
qxr_expect_eq "$(qxr_line "$out/c1.out" 3 '^status ' | cut -d' ' -f2)" rc=2 \
    "status fails with 2 (no device)"

# Phase 3: the same process, the driver started again with ISA 0x360, interrupt 12. The
# lines of the last "all" are the last of each kind.
for e in driver_version fw_version status time quality position; do
    line=$(grep -E "^$e " "$out/c1.out" | tail -n 1)
    if [[ "$line" =~ ^$e\ rc=0\ .*zero=0$ ]]; then
        qxr_pass "$e succeeds again without restarting the client"
    else
        qxr_fail "$e after the restart: '$line'"
    fi
done
sig3="QXR card simulator, ISA port 0x360, IRQ 12"
qxr_expect_eq "$(grep '^signature ' "$out/c1.out" | tail -n 1)" \
    "signature n=${#sig3} empty=0 text=$sig3" "signature shows the new settings after the restart"
qxr_expect_eq "$(grep '^checksum ' "$out/c1.out" | tail -n 1)" "checksum rc=0 0xC0DE5A17" \
    "checksum after the restart"

simctl_ok st status
qxr_expect "$out/st.out" '^port=0x360$' "driver runs with the new port"
qxr_expect "$out/st.out" '^irq=12$' "driver runs with the new interrupt"

qxr_wine_finish
