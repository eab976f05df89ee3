#!/usr/bin/env bash
# The nine requests through qxrtime.dll against the simulator driver: exact reply sizes, the
# decoded records, and the records following the card state set with qxrsimctl (reference,
# GPS, offset, tick, failing and empty replies).
. "$QXR_WINE_LIB"
. "$(dirname "$0")/card_session.sh"

card_session driver_requests 1 0x320 10
out=$QXR_WINE_DIR

# The driver started with the stored parameters, and says so in its signature.
simctl_ok state0 status
qxr_expect "$out/state0.out" '^signature=QXR card simulator, ISA port 0x320, IRQ 10$' \
    "signature names the started bus, port and interrupt"
qxr_expect "$out/state0.out" '^bus=1$' "bus type from \"Quoxar Product\""
qxr_expect "$out/state0.out" '^port=0x320$' "port from \"I/O Port\""
qxr_expect "$out/state0.out" '^irq=10$' "interrupt from \"Interrupt (IRQ)\""

# Straight to the device: every reply has exactly its size; short buffers and unknown codes
# are refused.
client raw raw
for r in driver_version:8 fw_version:8 hw_status:4 time:24 signal_quality:28 position:28 \
    fw_checksum:4; do
    qxr_expect "$out/raw.out" "^raw ${r%%:*} ok=1 error=0 bytes=${r##*:}\$" \
        "${r%%:*} reply is ${r##*:} bytes"
    qxr_expect "$out/raw.out" "^raw_short ${r%%:*} ok=0 error=122\$" \
        "${r%%:*} refuses a buffer one byte short (122)"
done
sig="QXR card simulator, ISA port 0x320, IRQ 10"
qxr_expect "$out/raw.out" "^raw hw_signature ok=1 error=0 bytes=${#sig}\$" \
    "signature reply is the text without terminator"
qxr_expect "$out/raw.out" '^raw unknown ok=0 error=1$' "unknown request fails with 1"
qxr_expect "$out/raw.out" '^raw short_settime ok=0 error=87$' "short set-time request fails with 87"

# Every export decodes the card's defaults.
client all all
qxr_expect "$out/all.out" '^driver_version rc=0 2\.1\.0\.17 zero=0$' "driver version"
qxr_expect "$out/all.out" '^fw_version rc=0 4\.2\.1\.0 zero=0$' "firmware version"
qxr_expect "$out/all.out" "^signature n=${#sig} empty=0 text=$sig\$" "signature text"
qxr_expect "$out/all.out" \
    '^status rc=0 gps=1 flag4=0 reference=1 code11=0 code13=0 byte2=9 byte3=-3 tick=[01] zero=0$' \
    "status: GPS fitted, reference GPS, signed and unsigned status bytes"
qxr_expect "$out/all.out" '^time rc=0 20[0-9]{2}-[01][0-9]-[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\.[0-9]{3} aux=165 latch=0x[0-9A-F]{16} zero=0$' \
    "time with aux word and latch counter"
qxr_expect "$out/all.out" \
    '^quality rc=0 header=12,8 a=3,6,9,14,17,19,22,28,255,255,255,255 b=44,41,38,47,35,200,29,40,255,255,255,255 zero=0$' \
    "signal quality channels"
qxr_expect "$out/all.out" \
    '^position rc=0 c1=48/3123\.456789/78 c2=16/2234\.567890/69 milli=-12\.345 deci1=287\.5 deci2=-1\.5 zero=0$' \
    "position, unsigned values above 2^31 kept positive"
qxr_expect "$out/all.out" '^checksum rc=0 0xC0DE5A17$' "firmware checksum"

# The card's time is the system's UTC, latched against QueryPerformanceCounter.
client cmp0 compare
qxr_expect_range "$(qxr_field "$out/cmp0.out" '^compare' card_minus_system_ms)" -50 50 \
    "card time equals system time"
qxr_expect_eq "$(qxr_field "$out/cmp0.out" '^compare' latch_ok)" 1 \
    "latch counter lies within the last card second"

# Reference, GPS fitting and offset as set with the tool.
simctl_ok set1 reference clock gps off offset 5000
qxr_expect "$out/set1.out" '^reference=2 \(clock\)$' "tool reports reference clock"
qxr_expect "$out/set1.out" '^offset_ms=5000\.0000$' "tool reports the offset"
client s1 status compare
qxr_expect "$out/s1.out" '^status rc=0 gps=0 flag4=0 reference=2 ' "status: on-board clock, no GPS"
qxr_expect_range "$(qxr_field "$out/s1.out" '^compare' card_minus_system_ms)" 4950 5050 \
    "card runs 5 s ahead of the system clock"

simctl_ok set2 reference none gps on offset -2500.5
client s2 status compare
qxr_expect "$out/s2.out" '^status rc=0 gps=1 flag4=0 reference=0 ' "status: no reference, GPS fitted"
qxr_expect_range "$(qxr_field "$out/s2.out" '^compare' card_minus_system_ms)" -2551 -2450 \
    "card runs 2.5 s behind the system clock"

simctl_ok set3 reference 5 offset 0
client s3 status
qxr_expect "$out/s3.out" '^status rc=0 gps=1 flag4=0 reference=0 ' \
    "reference bits 5 decode as no reference"

# The once-per-second tick: frozen, it never changes; running, it toggles.
simctl_ok set4 reference gps tick freeze
client t1 ticks 10 250
qxr_expect "$out/t1.out" '^ticks reads=10 ok=10 changes=0$' "frozen tick does not toggle in 2.5 s"
simctl_ok set5 tick run
client t2 ticks 10 250
changes=$(qxr_field "$out/t2.out" '^ticks' changes)
qxr_expect_range "$changes" 2 3 "running tick toggles once a second"

# Failing requests: every export fails with the chosen error and zero-fills; one client keeps
# running across the change and recovers once the failure is lifted.
qxr_wine_run_bg f1 "$QXR_WINE_ARCH" qxrcardclient.exe status \
    wait "$(qxr_wine_signal_path go1)" all \
    wait "$(qxr_wine_signal_path go2)" status time
qxr_wine_wait_for_line f1 '^waiting .*go1' 30 || qxr_fail "client did not reach go1"
simctl_ok set6 fail 1460
qxr_wine_signal go1
qxr_wine_wait_for_line f1 '^waiting .*go2' 30 || qxr_fail "client did not reach go2"
simctl_ok set7 fail off
qxr_wine_signal go2
qxr_wine_wait_bg f1 60
qxr_expect "$out/f1.out" '^client done$' "failing-requests client ran to its end"
qxr_expect_eq "$(qxr_line "$out/f1.out" 1 '^status ' | cut -d' ' -f2)" rc=0 "status before the fault"
for e in driver_version fw_version status time quality position; do
    qxr_expect "$out/f1.out" "^$e rc=1460 .*zero=1\$" "$e fails with 1460 and zero-fills"
done
qxr_expect "$out/f1.out" '^signature n=0 empty=1 text=$' "signature fails with an empty text"
qxr_expect "$out/f1.out" '^checksum rc=1460 0x00000000$' "checksum fails and is zeroed"
qxr_expect_eq "$(qxr_line "$out/f1.out" 2 '^status ' | cut -d' ' -f2)" rc=1460 "status during the fault"
qxr_expect_eq "$(qxr_line "$out/f1.out" 3 '^status ' | cut -d' ' -f2)" rc=0 \
    "status after the fault, same client"
qxr_expect_eq "$(qxr_line "$out/f1.out" 2 '^time ' | cut -d' ' -f2)" rc=0 "time after the fault"

# Empty replies: success with zero-filled records.
simctl_ok set8 nodata on
client n1 all
for e in driver_version fw_version status time quality position; do
    qxr_expect "$out/n1.out" "^$e rc=0 .*zero=1\$" "$e with no data: 0 and zero-filled"
done
qxr_expect "$out/n1.out" '^signature n=0 empty=1 text=$' "signature with no data is empty"
qxr_expect "$out/n1.out" '^checksum rc=0 0x00000000$' "checksum with no data is 0"

# Reset brings back the started card.
simctl_ok set9 reset
qxr_expect "$out/set9.out" '^nodata=off$' "reset ends the empty replies"
qxr_expect "$out/set9.out" '^reference=1 \(gps\)$' "reset restores reference GPS"
qxr_expect "$out/set9.out" '^port=0x320$' "reset keeps the started settings"
requests=$(sed -n 's/^requests=//p' "$out/set9.out")
qxr_expect_range "$requests" 40 100000 "driver counted the card requests ($requests)"

qxr_wine_finish
