#!/usr/bin/env bash
# The whole product as an administrator installs it: the release package unpacked into
# C:\Program Files of a fresh prefix that reports Windows NT 4.0 (x86_64: a 64-bit prefix; i686:
# a 32-bit-only one, as 32-bit NT 4.0 has it, with the package's i686 simulator driver), and
# then only the steps that veyla.txt gives, typed in the package's directory, with the card
# simulator in place of the card's driver: read veyla.txt (Veyla), copy the driver, Ondrak, the parameters key created
# with reg add, QxrCfgNT (ISA 320 with interrupt 11; it starts the driver), the card
# put 2.5 s ahead with qxrsimctl, QxrSync -i, QxrSet, net stop / net start QxrSync, then
# removal in reverse order (QxrSync -u, Ondrak QxrDrv). What the service did is read from its
# event-log traces, what QxrSet shows from its dialog's controls. After removal the registry
# is compared with its state before the installation: only the event source that the product
# documents as kept may stay. Screenshots veyla.png, qxrcfgnt.png, qxrset.png stay in the
# work directory.
# Inputs from CTest: QXR_PACKAGE_ZIP, QXR_WINPROBE, QXRSET_PROBE, QXR_CMAKE; QXR_WINE_SVC32 (i686).
. "$QXR_WINE_LIB"

svc=$QXR_WINE_SVC
if [ "$QXR_WINE_ARCH" = i686 ]; then
    export QXR_WINE_PREFIX_ARCH=win32
    svc=${QXR_WINE_SVC32:-}
fi
qxr_wine_init installation
qxr_wine_require_arch
qxr_wine_require_files "$QXR_PACKAGE_ZIP" "$QXR_WINPROBE" "$QXRSET_PROBE" "$svc" \
    "$QXR_WINE_PROBE"
qxr_wine_require_tools xdotool import
qxr_wine_prefix
qxr_wine_xvfb_start
# Service traces and events (insertion strings and ids) go to session.err.
qxr_wine_server_start "-all,warn+debugstr,+eventlog,fixme+advapi"
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXR_WINPROBE" "$QXRSET_PROBE"
qxr_wine_reg add 'HKCU\Software\Wine' /v Version /d nt40 /f >/dev/null
out=$QXR_WINE_DIR
loader=$(qxr_wine_loader "$QXR_WINE_ARCH")
services='HKLM\SYSTEM\CurrentControlSet\Services'
drv_params="$services"'\QxrDrv\Parameters'

# keys FILE: every registry key under HKLM\SYSTEM and HKLM\SOFTWARE, one per line. reg's
# failures are lost in the pipe: a known key of each half shows that the list was read.
keys() {
    # Without Wine's display devices (Control\Video\{GUID}), which its desktop adds as GUI
    # programs come and go; the product writes none.
    { qxr_wine_reg query 'HKLM\SYSTEM' /s; qxr_wine_reg query 'HKLM\SOFTWARE' /s; } |
        grep '^HKEY_' | grep -v '\\Control\\Video\\{' | sort >"$1"
    qxr_expect_eq "$(grep -ciE '^hkey_local_machine\\(system\\currentcontrolset\\services\\eventlog|software\\microsoft\\windows nt\\currentversion)$' "$1")" \
        2 "$(basename "$1"): the registry read (Services\\Eventlog and Windows NT\\CurrentVersion in it)"
}
keys "$out/keys.before"

# --- Unpack the package into C:\Program Files.
top=$(basename "$QXR_PACKAGE_ZIP" .zip)
(cd "$WINEPREFIX/drive_c/Program Files" && "${QXR_CMAKE:-cmake}" -E tar xf "$QXR_PACKAGE_ZIP")
pkg=$WINEPREFIX/drive_c/Program\ Files/$top
pkg_win='C:\Program Files\'"$top"
qxr_wine_require_files "$pkg/Ondrak.exe" "$pkg/QxrSync.exe" "$pkg/QxrSet.exe" "$pkg/veyla.txt"

# admin NAME SECONDS PROGRAM ARG...: a command typed at a prompt in the package's directory;
# like qxr_wine_run (NAME.out, NAME.err, NAME.rc), returns the exit status.
admin() {
    local name=$1 seconds=$2 program=$3 rc=0
    shift 3
    (cd "$pkg" && exec timeout --kill-after=5 "$seconds" "$loader" "$program" "$@" \
        </dev/null >"$out/$name.raw" 2>"$out/$name.rawerr") || rc=$?
    qxr_wine_strip "$name"
    echo "$rc" >"$out/$name.rc"
    qxr_wine_show "$name" "$program $*" "$rc"
    return "$rc"
}
# admin_bg NAME PROGRAM ARG...: the same, left running; finish it with qxr_wine_wait_bg.
admin_bg() {
    local name=$1 program=$2
    shift 2
    (cd "$pkg" && exec "$loader" "$program" "$@" \
        </dev/null >"$out/$name.raw" 2>"$out/$name.rawerr") &
    QXR_WINE_BG_PIDS+=("$!")
    echo "$!" >"$out/$name.pid"
    echo "$program $*" >"$out/$name.cmd"
}
winprobe() { qxr_wine_run "$1" 60 "$QXR_WINE_ARCH" qxrwinprobe.exe "${@:2}"; }
state() { qxr_wine_service state "$1"; }
# ended NAME: a background program ended by itself with exit code 0.
ended() {
    local rc=0
    qxr_wine_wait_bg "$1" 30 >/dev/null || rc=$?
    qxr_expect_eq "$rc" 0 "$1: ends with exit code 0"
}
value() { qxr_wine_reg query "$drv_params" /v "$1" | awk -v n="$1" 'index($0, n) { print $NF }'; }
# The command-line runs trace their events in their own stderr, the service in the session's.
QXR_WINE_EVENT_TRACES=("$out/install.err" "$out/session.err" "$out/remove.err")
# offset_ms TEXT: "-2.503" -> -2503.
offset_ms() { awk -v t="$1" 'BEGIN { if (t ~ /^[+-]?[0-9]+\.[0-9][0-9][0-9]$/) printf "%d", t * 1000; else print "none" }'; }
wait_state() {
    local i
    for ((i = 0; i < $3 * 4; i++)); do
        [ "$(state "$1")" = "$2" ] && break
        sleep 0.25
    done
    qxr_expect_eq "$(state "$1")" "$2" "$4"
}

# --- Read veyla.txt: Veyla opens it in the text editor.
rc=0; admin veyla 30 Veyla.exe || rc=$?
qxr_expect_eq "$rc" 0 "Veyla exits with 0"
if winprobe editor waitpart veyla.txt 30; then
    import -window root "$out/veyla.png" 2>/dev/null
    winprobe editor.close waitpart veyla.txt 5 dump close gone 10 >/dev/null
    qxr_expect "$out/editor.close.out" '^window caption=veyla\.txt - Notepad$' \
        "the text editor shows the package's veyla.txt"
else
    qxr_fail "no text editor with veyla.txt"
fi

# --- The driver: copied, registered by Ondrak, started.
cp "$pkg/simulator/qxrsimdrv.sys" "$WINEPREFIX/drive_c/windows/system32/drivers/"
rc=0; admin ondrak 60 Ondrak.exe QxrDrv qxrsimdrv "QXR Card Simulator" || rc=$?
QXR_DRIVER_INSTALLED=1 # the harness removes it should the test stop early
qxr_expect_eq "$rc:$(cat "$out/ondrak.out")" "0:" "Ondrak registers the driver silently"
qxr_expect_eq "$(state QxrDrv)" "state=1" "QxrDrv registered, not yet running"

# --- The parameters key: missing after Ondrak, created as veyla.txt says, before QxrCfgNT.
if qxr_wine_reg query "$drv_params" | grep -qi 'QxrDrv\\Parameters$'; then
    qxr_fail "the parameters key exists after Ondrak"
else
    qxr_pass "no parameters key after Ondrak, as veyla.txt says"
fi
rc=0; admin regkey 30 reg add "$drv_params" /f || rc=$?
qxr_expect_eq "$rc" 0 "reg add of the parameters key"

admin_bg cfgnt QxrCfgNT.exe
if winprobe cfgnt.dlg wait 'QXR Device Settings' 30 choose 1002 3 choose 1003 3 dump >/dev/null; then
    import -window root "$out/qxrcfgnt.png" 2>/dev/null
    qxr_expect "$out/cfgnt.dlg.out" '^control id=1002 class=ComboBox enabled=1 .* sel=3$' "ISA - 320 chosen"
    qxr_expect "$out/cfgnt.dlg.out" '^control id=1003 class=ComboBox enabled=1 .* sel=3$' "interrupt 11 chosen"
    winprobe cfgnt.ok wait 'QXR Device Settings' 5 click 1 gone 30 >/dev/null ||
        qxr_fail "QxrCfgNT did not close with OK"
else
    qxr_fail "QxrCfgNT: no dialog"
fi
ended cfgnt
qxr_expect_eq "$(value 'Quoxar Product') $(value 'I/O Port') $(value 'Interrupt (IRQ)')" \
    "0x1 0x320 0xb" "QxrCfgNT stored ISA, 0x320, 11"
qxr_expect_eq "$(state QxrDrv)" "state=4" "QxrCfgNT started the driver"
admin simstatus 30 'simulator\qxrsimctl.exe' status
qxr_expect "$out/simstatus.out" '^signature=.*ISA port 0x320, IRQ 11$' \
    "the restarted driver works with ISA 0x320, IRQ 11"

# --- The card 2.5 s ahead, then the service installed (which starts it).
admin offset 30 'simulator\qxrsimctl.exe' offset 2500
qxr_expect "$out/offset.out" '^offset_ms=2500\.0000$' "qxrsimctl: card clock 2.5 s ahead"
rc=0; WINEDEBUG="-all,+eventlog,fixme+advapi" admin install 60 QxrSync.exe -i || rc=$?
qxr_expect_eq "$rc" 0 "QxrSync -i: exit code 0"
qxr_expect "$out/install.out" '^QxrSync installed\.$' "QxrSync -i: installed"
wait_state QxrSync state=4 20 "QxrSync runs after -i"
qxr_wine_reg query "$services"'\QxrSync' >"$out/svc.reg"
qxr_expect "$out/svc.reg" "ImagePath +REG_(EXPAND_)?SZ +\"${pkg_win//\\/\\\\}\\\\QxrSync\\.exe\"\$" \
    "the service runs QxrSync.exe from the package's directory"
qxr_expect_events '^100 information QxrSync$' 1 10 "event 100: installed"
qxr_expect_events '^105 information -$' 1 20 "event 105: started"
qxr_expect_events '^108 information GPS$' 1 20 "event 108: GPS is the reference"
qxr_expect_events '^109 information -2\.' 1 20 "event 109: the card's offset corrected"
first=$(qxr_wine_events | grep '^109 ' | head -n 1 | awk '{ print $3 }')
qxr_expect_range "$(offset_ms "$first")" -2600 -2400 \
    "event 109 gives the offset, system minus card, of the card 2.5 s ahead ($first s)"

# --- QxrSet: card and system times, the offset, GPS, the heartbeat.
admin_bg qxrset QxrSet.exe
qxr_wine_qxrset_live "$QXR_WINE_ARCH"
text() { sed -n "s/^control id=$2 .* text=//p" "$out/$1.out"; }
qxr_expect_range "$(offset_ms "$(text set2 1003)")" -2600 -2400 \
    "QxrSet: offset of the card 2.5 s ahead ($(text set2 1003))"
# seconds TEXT: "dd/mm/yyyy  hh:mm:ss" -> seconds of the day.
seconds() { echo "$1" | awk '{ split($2, t, ":"); print t[1] * 3600 + t[2] * 60 + t[3] }'; }
card=$(text set2 1000)
system=$(text set2 1002)
qxr_expect_range "$(( ($(seconds "$card") - $(seconds "$system") + 86400) % 86400 ))" 2 3 \
    "QxrSet: card time ($card) 2 to 3 s ahead of the system time ($system)"
qxr_expect_clock_runs "$(text set1 1002)" "$system" "QxrSet: the system time runs"
xid=$(xdotool search --onlyvisible --name '^QXRSET' 2>/dev/null | head -n 1)
xdotool windowfocus "$xid" key Escape 2>/dev/null
ended qxrset

# --- net stop and net start: the card now 1.5 s behind, corrected after the start.
admin netstop 60 net stop QxrSync
qxr_expect_events '^106 information -$' 1 20 "net stop QxrSync: event 106"
wait_state QxrSync state=1 20 "net stop QxrSync: stopped"
admin offset2 30 'simulator\qxrsimctl.exe' offset -1500
admin netstart 60 net start QxrSync
wait_state QxrSync state=4 20 "net start QxrSync: runs"
qxr_expect_events '^105 information -$' 2 20 "net start QxrSync: event 105 again"
qxr_expect_events '^109 information 1\.' 1 20 "event 109 for the card 1.5 s behind"
second=$(qxr_wine_events | grep '^109 information 1\.' | head -n 1 | awk '{ print $3 }')
qxr_expect_range "$(offset_ms "$second")" 1400 1600 "event 109 gives +1.5 s ($second s)"
qxr_expect_no_events '^(10[2347]|11[02]) ' "no error or warning event" \
    "$out/install.err" "$out/session.err"

# --- Removal, the reverse order.
rc=0; WINEDEBUG="-all,+eventlog,fixme+advapi" admin remove 60 QxrSync.exe -u || rc=$?
qxr_expect_eq "$rc" 0 "QxrSync -u: exit code 0"
qxr_expect "$out/remove.out" '^QxrSync removed\.$' "QxrSync -u: removed"
qxr_expect "$out/remove.out" "^\\(You must delete the file \"${pkg_win//\\/\\\\}\\\\QxrSync\\.exe\" yourself\\.\\)\$" \
    "QxrSync -u names the program file to delete"
qxr_expect_events '^101 information QxrSync$' 1 10 "event 101: removed"
wait_state QxrSync error=1060 20 "the QxrSync service is gone"
rc=0; admin ondrakrm 60 Ondrak.exe QxrDrv || rc=$?
qxr_expect_eq "$rc:$(cat "$out/ondrakrm.out")" "0:" "Ondrak QxrDrv removes the driver silently"
qxr_expect_eq "$(state QxrDrv)" "error=1060" "the QxrDrv service is gone"
QXR_DRIVER_INSTALLED=

# --- What the installation leaves behind: of the registry only the event source, which
# removal keeps (veyla.txt says so); the program directory and the driver file, which the
# administrator deletes.
keys "$out/keys.after"
comm -13 "$out/keys.before" "$out/keys.after" >"$out/keys.added"
comm -23 "$out/keys.before" "$out/keys.after" >"$out/keys.removed"
echo "--- registry keys left by the installation:"
sed 's/^/    /' "$out/keys.added"
# Registry names are compared without regard to case (Wine spells it "Eventlog").
qxr_expect_eq "$(tr 'A-Z' 'a-z' <"$out/keys.added")" \
    'hkey_local_machine\system\currentcontrolset\services\eventlog\application\qxrsync' \
    "after removal only the event source QxrSync is left in the registry"
qxr_expect_eq "$(cat "$out/keys.removed")" "" "no key that was there before is gone"
[ -f "$WINEPREFIX/drive_c/windows/system32/drivers/qxrsimdrv.sys" ] && [ -d "$pkg" ] &&
    qxr_pass "the driver file and the program directory stay for the administrator to delete" ||
    qxr_fail "the driver file or the program directory went"
echo "--- events of the run:"
qxr_wine_events | sed 's/^/    /'
qxr_wine_finish
