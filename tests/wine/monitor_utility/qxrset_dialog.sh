#!/usr/bin/env bash
# QxrSet.exe on a virtual display against the simulator driver, read from outside its
# process: the texts after the first seconds, the heartbeat, the card field under the on-board
# clock (editable, green), a new card time typed and set (clicked, and Enter on Set), the help
# pop-ups of the fields under the pointer (F1 over the disabled Set button too; Shift+F1 shows
# nothing), Esc, and in a second run the card field's 50-character limit and the close box.
# Screenshots: qxrset.png (running, GPS), qxrset-internal.png (on-board
# clock, entry typed), qxrset-help.png (the offset field's pop-up) in the work directory.
# Inputs from CTest: QXRSET_EXE, QXRTIME_DLL, QXR_SIMCTL, QXR_CLIENT, QXRSET_PROBE.
. "$QXR_WINE_LIB"

qxr_wine_init qxrset_dialog
qxr_wine_require_arch
qxr_wine_require_files "$QXRSET_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL" "$QXR_CLIENT" "$QXRSET_PROBE" \
    "$QXR_SIM_DRIVER" "$QXR_WINE_SVC" "$QXR_WINE_PROBE"
qxr_wine_require_tools xdotool import
qxr_wine_prefix
qxr_wine_xvfb_start
qxr_wine_server_start
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXRSET_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL" "$QXR_CLIENT" \
    "$QXRSET_PROBE"
qxr_wine_driver_install 2 0 5
out=$QXR_WINE_DIR

# probe NAME ARG...: the probe's output in $out/NAME.out.
probe() { qxr_wine_run "$1" 30 "$QXR_WINE_ARCH" qxrsetprobe.exe "${@:2}" >/dev/null; }
# field FILE ID KEY: a value of a control line.
field() { sed -n "s/^control id=$2 .*\b$3=\([^ ]*\).*/\1/p" "$1"; }
text() { sed -n "s/^control id=$2 .* text=//p" "$1"; }
# centre FILE ID: "x y" of a control's centre on the screen.
centre() {
    local f=$1 id=$2
    echo "$(($(field "$f" "$id" x) + $(field "$f" "$id" w) / 2)) $(($(field "$f" "$id" y) + $(field "$f" "$id" h) / 2))"
}
simctl_ok() {
    qxr_wine_run "$1" 30 "$QXR_WINE_ARCH" qxrsimctl.exe "${@:2}" >/dev/null
    qxr_expect_eq "$?" 0 "qxrsimctl ${*:2} succeeded"
}
# window_shown CAPTION SECONDS: waits until a top-level window with that caption shows.
window_shown() {
    local i f
    for ((i = 0; i < $2 * 2; i++)); do
        f=$out/window.out; probe window window "$1"
        grep -q '^window found=1$' "$f" && return 0
        sleep 0.5
    done
    return 1
}
expect_match() { if [[ $1 =~ $2 ]]; then qxr_pass "$3 ($1)"; else qxr_fail "$3 (got '$1')"; fi; }
# green_pixels FILE NAME: dark green pixels in the card field now (its rectangle from the probe's
# FILE), from a capture kept as NAME.txt.
green_pixels() {
    local geometry
    geometry="$(field "$1" 1000 w)x$(field "$1" 1000 h)+$(field "$1" 1000 x)+$(field "$1" 1000 y)"
    import -window root -crop "$geometry" "$out/$2.txt" 2>/dev/null
    grep -cE '#(008000|000080800000)( |$)' "$out/$2.txt"
}
dialog_xid() { xdotool search --onlyvisible --name '^QXRSET' 2>/dev/null | head -n 1; }

# --- Start; the dialog appears and fills itself.
qxr_wine_run_bg qxrset "$QXR_WINE_ARCH" QxrSet.exe
for ((i = 0; i < 60; i++)); do
    f=$out/find.out; probe find find
    grep -q '^dialog caption=' "$f" && break
    sleep 0.5
done
qxr_expect "$f" '^dialog caption=QXRSET v1\.2\.0\.0 - ' "the dialog shows, captioned with its version"
sleep 2
first=$out/first.out; probe first controls heartbeat
datetime='^[0-9]{2}/[0-9]{2}/20[0-9]{2}  [0-9]{2}:[0-9]{2}:[0-9]{2}$'
expect_match "$(text "$first" 1000)" "$datetime" "card date and time shown in the display format"
expect_match "$(text "$first" 1002)" "$datetime" "system date and time shown in the display format"
expect_match "$(text "$first" 1003)" '^[+-][0-9]+\.[0-9]{3}$' "offset shown in seconds with three decimals"
offset=$(text "$first" 1003)
qxr_expect_range "$(echo "$offset" | awk '{ printf "%d", ($1 < 0 ? -$1 : $1) * 1000 }')" 0 500 \
    "offset of the card (running on true time) within half a second ($offset)"
qxr_expect_eq "$(text "$first" 1006)" "GPS" "reference GPS"
expect_match "$(text "$first" 1005)" '^[0-9]+$' "peak offset in whole milliseconds"
qxr_expect_eq "$(field "$first" 1000 readonly)" 1 "card field read-only under GPS"
qxr_expect_eq "$(field "$first" 1001 enabled)" 0 "Set disabled"
qxr_expect_eq "$(field "$first" 1004 enabled)" 1 "Adjust system time enabled (the clock is free)"
qxr_expect_eq "$(field "$first" 1012 w)" 1 "default button shrunk to one pixel"
sleep 1
second=$out/second.out; probe second controls heartbeat
# The icon seen changes once per card second: a few samples half a second apart see it move
# (two probes exactly three steps apart would see the same icon).
beats=$(sed -n 's/^heartbeat=//p' "$first" "$second" | tr '\n' ' ')
for i in 1 2 3; do
    sleep 0.5
    probe "beat$i" heartbeat
    beats+=" $(sed -n 's/^heartbeat=//p' "$out/beat$i.out")"
done
distinct=$(echo $beats | tr ' ' '\n' | grep -E '^10(08|09|10)$' | sort -u | wc -l)
qxr_expect_range "$distinct" 2 3 "heartbeat icon changes while the card ticks ($beats)"
qxr_expect_clock_runs "$(text "$first" 1002)" "$(text "$second" 1002)" "system time runs"
import -window root "$out/qxrset.png" 2>/dev/null
[ -s "$out/qxrset.png" ] && qxr_pass "screenshot qxrset.png" || qxr_fail "no screenshot"
qxr_expect_eq "$(green_pixels "$second" cardfield-gps)" 0 "card field text not green under GPS"
qxr_expect "$out/cardfield-gps.txt" '#000000' "card field text black under GPS"

# --- The on-board clock: the card field becomes editable, with green text.
simctl_ok internal reference clock
sleep 1
f=$out/internal.out; probe internal controls
qxr_expect_eq "$(text "$f" 1006)" "Internal" "reference Internal"
qxr_expect_eq "$(field "$f" 1000 readonly)" 0 "card field editable under the on-board clock"
xid=$(dialog_xid)
read -r cx cy <<<"$(centre "$f" 1000)"
xdotool mousemove "$cx" "$cy" click 1
sleep 0.3
xdotool windowfocus "$xid" 2>/dev/null
xdotool key --clearmodifiers End shift+Home BackSpace
xdotool type --delay 30 "1/2/2003 4:5:6"
sleep 1
f=$out/typed.out; probe typed controls
qxr_expect_eq "$(text "$f" 1000)" "1/2/2003 4:5:6" "the entry stays while it is pending"
qxr_expect_eq "$(field "$f" 1001 enabled)" 1 "typing enables Set"
# Enter in the field goes to the invisible default button: nothing is set, nothing closes.
xdotool key Return
sleep 0.6
f=$out/entered.out; probe entered controls
qxr_expect_eq "$(text "$f" 1000)" "1/2/2003 4:5:6" "Enter in the field leaves the entry pending"
qxr_wine_run cardtime0 30 "$QXR_WINE_ARCH" qxrcardclient.exe time >/dev/null
qxr_expect "$out/cardtime0.out" '^time rc=0 ' "card read back"
qxr_expect_not "$out/cardtime0.out" '^time rc=0 2003-' "Enter in the field does not set the card"
import -window root "$out/qxrset-internal.png" 2>/dev/null
green=$(green_pixels "$f" cardfield)
qxr_expect_range "$green" 5 100000 "card field text drawn in green ($green pixels)"
read -r sx sy <<<"$(centre "$f" 1001)"
xdotool mousemove "$sx" "$sy" click 1
sleep 1
qxr_wine_run cardtime 30 "$QXR_WINE_ARCH" qxrcardclient.exe time >/dev/null
qxr_expect "$out/cardtime.out" '^time rc=0 2003-01-02 04:05:0[6-9]\.' "Set sets the simulated card"
f=$out/afterset.out; probe afterset controls
expect_match "$(text "$f" 1000)" '^01/02/2003  04:05:0[6-9]$' "the field shows the card's new time"
qxr_expect_eq "$(field "$f" 1001 enabled)" 0 "Set disabled again"

# --- Enter with the focus on Set clicks it.
read -r cx cy <<<"$(centre "$f" 1000)"
xdotool mousemove "$cx" "$cy" click 1
sleep 0.3
xdotool windowfocus "$xid" 2>/dev/null
xdotool key --clearmodifiers End shift+Home BackSpace
xdotool type --delay 30 "3/4/2005 6:7:8"
sleep 0.6
xdotool key Tab Return
sleep 1
qxr_wine_run cardtime2 30 "$QXR_WINE_ARCH" qxrcardclient.exe time >/dev/null
qxr_expect "$out/cardtime2.out" '^time rc=0 2005-03-04 06:07:0[8-9]\.' "Enter on Set sets the card"

# --- F1 over the disabled Set button shows its pop-up.
f=$out/setdisabled.out; probe setdisabled controls
qxr_expect_eq "$(field "$f" 1001 enabled)" 0 "Set disabled after Enter set the card"
read -r sx sy <<<"$(centre "$f" 1001)"
xdotool mousemove "$sx" "$sy"
xdotool windowfocus "$xid" 2>/dev/null
xdotool key F1
if window_shown "Set button" 10; then
    qxr_pass "F1 over the disabled Set button opens \"Set button\""
    popup=$(xdotool search --onlyvisible --name '^Set button$' | head -n 1)
    xdotool windowfocus "$popup" 2>/dev/null
    xdotool key Escape
    sleep 1
else
    qxr_fail "F1 over the disabled Set button opens \"Set button\" (no such window)"
fi

# --- Shift+F1 over the offset field shows nothing (the plain F1 below does).
read -r ox oy <<<"$(centre "$f" 1003)"
xdotool mousemove "$ox" "$oy"
xdotool windowfocus "$xid" 2>/dev/null
xdotool key shift+F1
sleep 1.5
probe shiftf1 window "Time Offset (read-only)"
qxr_expect "$out/shiftf1.out" '^window found=0$' "Shift+F1 shows no pop-up"

# --- F1 over the offset field shows its pop-up; the dialog goes on refreshing; Esc closes it.
read -r ox oy <<<"$(centre "$f" 1003)"
xdotool mousemove "$ox" "$oy"
xdotool windowfocus "$xid" 2>/dev/null
xdotool key F1
if window_shown "Time Offset (read-only)" 10; then
    qxr_pass "F1 over the offset field opens \"Time Offset (read-only)\""
    import -window root "$out/qxrset-help.png" 2>/dev/null
    a=$out/popup_a.out; probe popup_a controls
    sleep 1.2
    b=$out/popup_b.out; probe popup_b controls
    [ "$(text "$a" 1002)" != "$(text "$b" 1002)" ] &&
        qxr_pass "the dialog keeps refreshing under the pop-up" ||
        qxr_fail "the dialog stood still under the pop-up"
    popup=$(xdotool search --onlyvisible --name '^Time Offset \(read-only\)$' | head -n 1)
    xdotool windowfocus "$popup" 2>/dev/null
    xdotool key Escape
    sleep 1
    f=$out/closed.out; probe closed window "Time Offset (read-only)"
    qxr_expect "$f" '^window found=0$' "Esc closes the pop-up"
else
    qxr_fail "F1 over the offset field opens \"Time Offset (read-only)\" (no such window)"
fi

# --- Esc ends the program with exit code 0.
xdotool windowfocus "$xid" 2>/dev/null
xdotool key Escape
rc=0
qxr_wine_wait_bg qxrset 20 || rc=$?
qxr_expect_eq "$rc" 0 "Esc closes the dialog, exit code 0"

# --- A second run: the card field takes 50 characters at most; the close box ends it with 0.
qxr_wine_run_bg qxrset2 "$QXR_WINE_ARCH" QxrSet.exe
for ((i = 0; i < 60; i++)); do
    f=$out/find2.out; probe find2 find
    grep -q '^dialog caption=' "$f" && break
    sleep 0.5
done
sleep 1
f=$out/second_run.out; probe second_run controls
xid=$(dialog_xid)
read -r cx cy <<<"$(centre "$f" 1000)"
xdotool mousemove "$cx" "$cy" click 1
sleep 0.3
xdotool windowfocus "$xid" 2>/dev/null
xdotool key --clearmodifiers End shift+Home BackSpace
xdotool type --delay 10 "$(printf '1234567890%.0s' 1 2 3 4 5 6)"
sleep 0.6
f=$out/limit.out; probe limit controls
qxr_expect_eq "$(text "$f" 1000 | tr -d '\n' | wc -c)" 50 "the card field takes 50 of 60 characters typed"
xdotool key --clearmodifiers Tab  # the pending entry stays; the click below is on the frame
eval "$(xdotool getwindowgeometry --shell "$xid")"
xdotool mousemove $((X + WIDTH - 12)) $((Y + 11)) click 1
rc=0
qxr_wine_wait_bg qxrset2 20 || rc=$?
qxr_expect_eq "$rc" 0 "the close box ends the program, exit code 0"
qxr_wine_finish
