#!/usr/bin/env bash
# The product installed, upgraded and removed with the release package's setup program in a
# fresh prefix that reports Windows NT 4.0, as an administrator deploying it would; x86_64 in
# a 64-bit prefix, i686 in a 32-bit-only one (no syswow64, no Program Files (x86)), where only
# the i686 driver loads, as on 32-bit NT 4.0:
#   - a setup whose driver file is missing, a folder, a wildcard, a name with a blank or a
#     driver of the system's stops with its message, exit code 11, and changes nothing (registry
#     keys and values, and files as before); so does a bad /PORT (10), and a driver named
#     by a relative path in a folder with a blank that cannot start stops setup with exit code
#     22 after it has undone its steps, the driver registered and removed through the SCM;
#   - silent install with the card simulator of the package (ISA 320, interrupt 11), registered
#     by setup through the SCM, the driver file of the setup's architecture: QxrSync runs and
#     reports events 100, 105 and 108 "GPS", the Add/Remove Programs entry is there; QxrSet
#     shows GPS and a live heartbeat; with QxrSet open (it holds QxrSet.exe and qxrtime.dll)
#     an upgrade and an uninstall stop with exit code 15 and change nothing;
#   - RampDuration set to 20, then the setup of the next version over the installed one (an
#     upgrade): still 20, the driver settings kept, the service running again, the files and
#     DisplayVersion new; the older setup over it then refused (14); new device settings the
#     driver does not start with: 22, the former settings and files back;
#   - silent uninstall, its exit code read from the process (uninstall.exe waits for the
#     work): the registry (HKLM\SYSTEM and HKLM\SOFTWARE, keys and values), W32Time's settings
#     and the file system as before the installation;
#   - the interactive setup clicked through on Xvfb (a driver file chosen with Browse..., then
#     the simulator, QxrCfgNT set to PCI), then the interactive uninstaller keeping the service's settings (a REG_EXPAND_SZ
#     TrackingLog and a REG_MULTI_SZ NtpAllow among them, back with their types); a screenshot
#     of every page stays in the work directory (setup-*.png, uninstall-*.png).
# A stand-in W32Time (automatic, running) shows that its start type comes back.
# Inputs from CTest: QXR_SETUP_EXE, QXR_SETUP_NEXT_EXE (the same files, the next version),
# QXR_WINPROBE, QXRSET_PROBE, QXR_W32TIME_STUB, QXR_PIN_DRIVER (the simulator driver without an
# unload routine); QXR_WINE_SVC32 (i686).
. "$QXR_WINE_LIB"

x64=
[ "$QXR_WINE_ARCH" = x86_64 ] && x64=1
# The win32 product where it runs: a 32-bit Windows, which loads only its 32-bit driver.
[ -z "$x64" ] && export QXR_WINE_PREFIX_ARCH=win32
qxr_wine_init setup
qxr_wine_require_arch
svc=$QXR_WINE_SVC
[ -z "$x64" ] && svc=${QXR_WINE_SVC32:-}
qxr_wine_require_files "$QXR_SETUP_EXE" "$QXR_SETUP_NEXT_EXE" "$QXR_WINPROBE" "$QXRSET_PROBE" "$svc" \
    "$QXR_PIN_DRIVER" \
    "$QXR_WINE_PROBE" "$QXR_W32TIME_STUB"
qxr_wine_require_tools xdotool import
qxr_wine_prefix
qxr_wine_xvfb_start
qxr_wine_server_start "-all,warn+debugstr,+eventlog,fixme+advapi"
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXR_WINPROBE" "$QXRSET_PROBE" "$QXR_W32TIME_STUB"
qxr_wine_reg add 'HKCU\Software\Wine' /v Version /d nt40 /f >/dev/null
out=$QXR_WINE_DIR
c=$WINEPREFIX/drive_c
services='HKLM\SYSTEM\CurrentControlSet\Services'
drv_params="$services"'\QxrDrv\Parameters'
sync_params="$services"'\QxrSync\Parameters'
uninst='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\QXR'
# Both setups install in Program Files: a 64-bit one on 64-bit Windows, a 32-bit one on 32-bit.
instdir_win='C:\Program Files\QXR'
instdir=$c/Program\ Files/QXR
if [ -z "$x64" ]; then
    # Really 32-bit only and NT 4.0: no WOW64 parts, and the version programs are told.
    qxr_expect "$WINEPREFIX/system.reg" '^#arch=win32$' "the prefix is a 32-bit one (#arch=win32)"
    [ ! -e "$c/windows/syswow64" ] && [ ! -e "$c/Program Files (x86)" ] &&
        qxr_pass "no syswow64, no Program Files (x86)" ||
        qxr_fail "the prefix has WOW64 folders: $(ls -d "$c/windows/syswow64" "$c/Program Files (x86)" 2>/dev/null)"
    qxr_wine_run ver 30 i686 cmd /c ver >/dev/null
    qxr_expect "$out/ver.out" '^Microsoft Windows 4\.0\.' "the prefix reports Windows NT 4.0"
fi
menu=$c/ProgramData/Microsoft/Windows/Start\ Menu/Programs/QXR\ Time\ Reference

# keys NAME: every registry key under HKLM\SYSTEM and HKLM\SOFTWARE, one per line, and every
# value as "key<TAB>name=data", in $out/NAME (exported with regedit, which takes 0.2 s where
# "reg query /s" of HKLM\SOFTWARE takes 20), and W32Time's values, its start type among them.
# Wine's regedit exits 0 even when it exports nothing: a known key of each half, and W32Time's
# start type, show that the snapshot was really taken.
# Left out: PendingFileRenameOperations, checked apart (pending_renames), and what Wine itself
# keeps under Control (ServiceCurrent, a counter of its services; Video, the displays of a
# session).
keys() {
    local k
    for k in SYSTEM SOFTWARE; do
        rm -f "$out/$1.$k.reg"
        "$(qxr_wine_tools_loader)" regedit /E "$(qxr_wine_signal_path "$1.$k.reg")" \
            "HKEY_LOCAL_MACHINE\\$k" </dev/null >/dev/null 2>>"$out/reg.err"
    done
    cat "$out/$1.SYSTEM.reg" "$out/$1.SOFTWARE.reg" | tr -d '\000\r' | awk '
        cont { sub(/^ +/, ""); line = line $0 } !cont { line = $0 }
        /\\$/ { sub(/\\$/, "", line); cont = 1; next } { cont = 0 }
        line ~ /^\[.*\]$/ { key = substr(line, 2, length(line) - 2) }
        key ~ /\\Control\\(ServiceCurrent|Video)(\\|$)/ { next }
        line ~ /^\[/ { print key; next }
        line ~ /^"PendingFileRenameOperations"=/ { next }
        line ~ /^("|@)/ { print key "\t" line }' | sort >"$out/$1"
    qxr_wine_reg query "$services"'\W32Time' >"$out/$1.w32time"
    qxr_expect "$out/$1" '^HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\W32Time$' \
        "$1: the registry exported (W32Time's key in it)"
    qxr_expect "$out/$1" '^HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion$' \
        "$1: the registry exported (Windows NT\\CurrentVersion in it)"
    qxr_expect "$out/$1.w32time" '^ +Start +REG_DWORD +0x[0-9a-f]+$' "$1: W32Time's values read"
}
# pending_renames NAME: the files the system deletes at the next restart ($out/NAME.pending);
# of ours only the uninstaller's own program, moved to %TEMP% (it ran while the work was done).
pending_list() {
    qxr_wine_reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations 2>/dev/null | sed -n 's/.*REG_MULTI_SZ *//p' |
        sed 's/\\0/\n/g' | sed '/^$/d' >"$out/$1.pending"
}
pending_renames() {
    pending_list "$1"
    sed 's/^/    [deleted at restart] /' "$out/$1.pending"
    qxr_expect_eq "$(grep -i qxr "$out/$1.pending" | grep -v 'qxr-uninstall-[0-9-]*\.tmp$')" "" \
        "$1: of the product's files only the uninstaller's moved program waits for a restart"
}
# files FILE: every file and folder of drive C:, without the temporary folders and the test's
# own tools in C:\qxr.
files() {
    (cd "$c" && find . \( -path ./qxr -o -ipath './windows/temp' -o -ipath './users/*/temp' \
        -o -ipath './users/*/AppData/Local/Temp' \) -prune -o -print) | sort >"$1"
}
# compare WHAT BEFORE AFTER: the registry and the files as in BEFORE.
compare() {
    local b=$2 a=$3
    comm -13 "$b" "$a" >"$a.added"
    comm -23 "$b" "$a" >"$a.removed"
    echo "--- $1: registry keys and values added / removed:"
    sed 's/^/    + /' "$a.added"
    sed 's/^/    - /' "$a.removed"
    qxr_expect_eq "$(cat "$a.added" "$a.removed")" "" "$1: the registry keys and values as before"
    # An export that failed or came out empty cannot pass: W32Time's key with its start type.
    local w32='^HKEY_LOCAL_MACHINE\\SYSTEM\\(CurrentControlSet|ControlSet00[0-9])\\Services\\W32Time'$'\t''"Start"=dword:'
    grep -Eq "$w32" "$b" && grep -Eq "$w32" "$a" &&
        qxr_pass "$1: W32Time's key and start type in both snapshots" ||
        qxr_fail "$1: W32Time's key or start type missing from a snapshot ($b, $a)"
    qxr_expect_eq "$(cat "$a.w32time")" "$(cat "$b.w32time")" "$1: W32Time's values as before"
    comm -3 "$b.files" "$a.files" >"$a.files.diff"
    echo "--- $1: files added (+) / removed (-):"
    sed 's/^\t/    - /; s/^\([^ ]\)/    + \1/' "$a.files.diff"
    qxr_expect_eq "$(cat "$a.files.diff")" "" "$1: the files as before"
}
snapshot() { keys "$1"; files "$out/$1.files"; }

# setup NAME ARG...: the setup program ($setup_exe, else the release's), its events traced into
# NAME.err; returns its exit code.
setup() {
    local name=$1
    shift
    local rc=0
    WINEDEBUG="-all,+eventlog,fixme+advapi" qxr_wine_run "$name" 180 "$QXR_WINE_ARCH" \
        "${setup_exe:-$QXR_SETUP_EXE}" "$@" || rc=$?
    templog qxr-setup.log "$name"
    return "$rc"
}
# templog FILE NAME: setup's log in %TEMP% (where a failed run leaves it) to NAME.templog.
templog() {
    local f
    f=$(find "$c/users" -ipath "*/temp/$1" 2>/dev/null | head -n 1)
    rm -f "$out/$2.templog"
    [ -n "$f" ] && tr -d '\r' <"$f" >"$out/$2.templog" && sed 's/^/    [log] /' "$out/$2.templog"
    return 0
}
# uninstall NAME ARG...: the uninstaller as Add/Remove Programs and deployment tools start it;
# it returns when the work is done, with its exit code (printed), its log to NAME.templog.
uninstall() {
    local name=$1 rc=0
    shift
    WINEDEBUG="-all,+eventlog,fixme+advapi" qxr_wine_run "$name" 180 "$QXR_WINE_ARCH" \
        "$instdir/uninstall.exe" "$@" >&2 || rc=$?
    templog qxr-uninstall.log "$name" >&2
    echo "$rc"
}
state() { qxr_wine_service state "$1"; }
value() { qxr_wine_reg query "$1" /v "$2" | awk -v n="$2" 'index($0, n) { print $NF }'; }
drv_values() { echo "$(value "$drv_params" 'Quoxar Product') $(value "$drv_params" 'I/O Port') $(value "$drv_params" 'Interrupt (IRQ)')"; }
winprobe() { qxr_wine_run "$1" 60 "$QXR_WINE_ARCH" qxrwinprobe.exe "${@:2}"; }
QXR_WINE_EVENT_TRACES=("$out/session.err")

# The prefix has no Windows Time service: a stand-in, automatic and running.
qxr_wine_service create W32Time own auto "C:\\qxr\\$QXR_WINE_ARCH\\w32time_stub.exe" "Windows Time" >/dev/null
qxr_wine_service start W32Time >/dev/null
qxr_expect_eq "$(state W32Time)" "state=4" "stand-in W32Time runs"

# --- Driver files setup refuses before it changes anything: exit code 11, the reason logged.
snapshot before0
sysdrv=$(cd "$c/windows/system32/drivers" && ls | grep -i '\.sys$' | head -n 1)
echo "not a driver" >"$out/$sysdrv"
echo "not a driver" >"$out/qxr fake.sys"
while IFS='|' read -r what arg reason; do
    rc=0; setup "refused_${what// /_}" /S "/DRIVER=$arg" /BUS=PCI || rc=$?
    qxr_expect_eq "$rc" 11 "setup with a driver file that is $what: exit code 11"
    qxr_expect "$out/refused_${what// /_}.templog" "^Setup stopped: $reason Nothing was changed\.\$" \
        "setup's log gives the reason ($what)"
done <<EOF
missing|C:\nodriver\qxrkmdrv.sys|The driver file C:\\\\nodriver\\\\qxrkmdrv\.sys does not exist\.
a folder|C:\windows|The driver file C:\\\\windows is a folder: name the driver file in it\.
a wildcard|C:\windows\system32\drivers\*.sys|The driver file .*\*\.sys: name one file, without wildcards\.
blank-named|qxr fake.sys|The driver file's name 'qxr fake\.sys' has a blank: .*
the system's|$sysdrv|The file C:\\\\windows\\\\system32\\\\drivers\\\\$sysdrv exists already and setup does not overwrite a driver it did not install\. .*
EOF
rm -f "$out/$sysdrv" "$out/qxr fake.sys"
# A port QxrCfgNT does not offer: refused before anything changes.
rc=0; setup badport /S /DRIVER=simulator /BUS=ISA /PORT=325 /IRQ=11 || rc=$?
qxr_expect_eq "$rc" 10 "setup with /PORT=325: exit code 10"
qxr_expect "$out/badport.templog" '^Setup stopped: /PORT=0x325: the ISA port is one of 300, 310, \.\.\. 370\.' \
    "setup's log names the bad port"
# A driver file that the system cannot start, named relative to the folder setup starts in,
# in a folder with a blank: setup makes the path absolute at once, stops at the driver's
# start and undoes the files, the Start menu entries and the driver's registration.
# A file of the same name in the folder before (unpacked by hand) is put back as it was.
mkdir -p "$out/card files" "$instdir"
echo "not a driver" >"$out/card files/qxrfake.sys"
echo "there before" >"$instdir/veyla.txt"
rc=0; setup fakedriver /S '/DRIVER=card files\qxrfake.sys' /BUS=PCI || rc=$?
qxr_expect_eq "$rc" 22 "setup with a driver that does not start: exit code 22"
qxr_expect_eq "$(ls "$instdir"):$(cat "$instdir/veyla.txt")" "veyla.txt:there before" \
    "the folder as before: the veyla.txt that was there put back, setup's files gone"
rm -rf "$instdir"
qxr_expect "$out/fakedriver.templog" '^The driver file: [A-Z]:\\.*\\card files\\qxrfake\.sys$' \
    "the relative driver path made absolute before any step"
qxr_expect "$out/fakedriver.templog" '^  CreateService QxrDrv \(\\SystemRoot\\system32\\drivers\\qxrfake\.sys, "QXR Card Device Driver"\): error 0$' \
    "the driver registered through the SCM with Ondrak's entry"
qxr_expect "$out/fakedriver.templog" '^Setup stopped: The driver QxrDrv did not start\.$' \
    "setup's log names the failed step"
qxr_expect "$out/fakedriver.templog" '^  DeleteService QxrDrv: error 0, state afterwards 0$' \
    "the driver's registration undone through the SCM"
qxr_expect_eq "$(state QxrDrv)" "error=1060" "no QxrDrv left"
# QxrSync installed by hand from another folder: not taken over.
qxr_wine_service create QxrSync own demand 'C:\elsewhere\QxrSync.exe' QxrSync >/dev/null
rc=0; setup foreign /S /DRIVER=simulator || rc=$?
qxr_wine_service delete QxrSync >/dev/null
qxr_expect_eq "$rc" 16 "setup with QxrSync installed from another folder: exit code 16"
qxr_expect "$out/foreign.templog" '^Setup stopped: The service QxrSync is installed from C:\\elsewhere\\QxrSync\.exe, not from C:\\Program Files\\QXR: ' \
    "setup's log names both folders"
snapshot after0
compare "failed setup" "$out/before0" "$out/after0"

cp "$out/before0" "$out/before"
cp "$out/before0.w32time" "$out/before.w32time"
cp "$out/before0.files" "$out/before.files"
driver_args=(/DRIVER=simulator /BUS=ISA /PORT=320 /IRQ=11)

# --- Silent install.
rc=0; setup install /S "${driver_args[@]}" || rc=$?
QXR_WINE_EVENT_TRACES+=("$out/install.err")
qxr_expect_eq "$rc" 0 "silent setup: exit code 0"
tr -d '\r' <"$instdir/setup.log" >"$out/install.log" 2>/dev/null
sed 's/^/    /' "$out/install.log"
qxr_expect "$out/install.log" '^Setup finished: every step done$' "setup.log in the installation folder"
qxr_expect_eq "$(state QxrSync)" "state=4" "QxrSync runs after setup"
# The performance counters named under the service's key, and lodctr run on them (Wine's
# lodctr is a stub: that it ran is all there is to see).
qxr_wine_reg query "$services"'\QxrSync\Performance' >"$out/perf.reg"
qxr_expect "$out/perf.reg" "^ +Library +REG_SZ +${instdir_win//[\\()]/.}.qxrperf\\.dll\$" \
    "the performance counters' DLL named under QxrSync's key"
qxr_expect "$out/perf.reg" '^ +Collect +REG_SZ +CollectQxrPerformanceData$' "... with its Collect function"
qxr_expect "$out/install.log" 'lodctr\.exe" ".*\\qxrperf\.ini": exit code 0$' "lodctr ran on qxrperf.ini"
qxr_expect_eq "$(value "$services"'\W32Time' Start):$(state W32Time)" "0x4:state=1" \
    "W32Time stopped and disabled while QxrSync is installed"
qxr_expect_events '^100 information QxrSync$' 1 10 "event 100: installed"
qxr_expect_events '^105 information -$' 1 20 "event 105: started"
qxr_expect_events '^108 information GPS$' 1 20 "event 108: GPS is the reference"
qxr_wine_reg query "$uninst" >"$out/uninst.reg"
qxr_expect "$out/uninst.reg" 'DisplayVersion +REG_SZ +1\.0\.0\.2$' "Add/Remove Programs entry with the version"
qxr_expect "$out/uninst.reg" "UninstallString +REG_SZ +\"${instdir_win//[\\()]/.}.uninstall\\.exe\"\$" \
    "Add/Remove Programs entry with the uninstaller"
[ -f "$menu/QxrSet.lnk" ] && [ -f "$menu/QxrCfgNT.lnk" ] && [ -f "$menu/veyla.txt.lnk" ] &&
    qxr_pass "Start menu entries for QxrSet, QxrCfgNT, veyla.txt" ||
    qxr_fail "Start menu entries missing in $menu"
qxr_expect "$out/install.log" '^Registering the driver$' "setup registered the simulator driver"
qxr_expect "$out/install.log" '^  CreateService QxrDrv \(\\SystemRoot\\system32\\drivers\\qxrsimdrv\.sys, "QXR Card Simulator"\): error 0$' \
    "... through the SCM, as QxrDrv with the simulator's file"
qxr_expect "$out/install.log" '^  start QxrDrv: error 0, state 4$' "... and started it (running)"
qxr_expect_eq "$(drv_values)" "0x1 0x320 0xb" "driver settings ISA, 0x320, 11 as QxrCfgNT stores them"
# The driver file setup copied is the package's own build for this Windows (PE machine field:
# 8664 x86_64, 014c i386); a 32-bit Windows loads no other.
pe_machine() {
    local at
    at=$(od -An -t u4 -j 60 -N 4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$at" ] && od -An -t x2 -j $((at + 4)) -N 2 "$1" | tr -d ' '
}
machine=8664
[ -z "$x64" ] && machine=014c
qxr_expect_eq "$(pe_machine "$c/windows/system32/drivers/qxrsimdrv.sys")" "$machine" \
    "the driver file in system32\\drivers is the $QXR_WINE_ARCH build"
sums() { (cd "$instdir" && find . -type f -exec md5sum {} + | sort); }
cp "$instdir/simulator/qxrsimctl.exe" "$(qxr_wine_dir "$QXR_WINE_ARCH")/"
qxr_wine_simctl simstatus status
qxr_expect "$out/simstatus.out" '^signature=.*ISA port 0x320, IRQ 11$' \
    "the driver runs with those settings"
arch=$QXR_WINE_ARCH
# QxrSet from the installation folder: GPS and a heartbeat that steps.
qxr_wine_run_bg qxrset "$arch" "$instdir/QxrSet.exe"
qxr_wine_qxrset_live "$arch"

# --- QxrSet open holds QxrSet.exe and qxrtime.dll: the next version's setup and the
# uninstaller stop before they change anything, with the "files in use" code.
sums >"$out/inuse.before"
rc=0; setup_exe=$QXR_SETUP_NEXT_EXE setup inuse_upgrade /S || rc=$?
qxr_expect_eq "$rc" 15 "upgrade with QxrSet open: exit code 15"
qxr_expect "$out/inuse_upgrade.templog" '^Setup stopped: Files in .* are in use: QxrSet\.exe\. Close QxrSet and run setup again\. Nothing was changed\.$' \
    "setup's log names the files in use"
rc=$(uninstall inuse_uninstall /S)
qxr_expect_eq "$rc" 15 "uninstall with QxrSet open: exit code 15 (from the process)"
qxr_expect "$out/inuse_uninstall.templog" '^Uninstall stopped: Files in .* are in use: QxrSet\.exe\.' \
    "the uninstaller's log names the files in use"
sums >"$out/inuse.after"
qxr_expect_eq "$(diff "$out/inuse.before" "$out/inuse.after")" "" "the installed files unchanged"
qxr_wine_reg query "$uninst" >"$out/inuse.reg"
qxr_expect "$out/inuse.reg" 'DisplayVersion +REG_SZ +1\.0\.0\.2$' "the Add/Remove entry unchanged"
qxr_expect_eq "$(state QxrSync)" "state=4" "QxrSync still installed and running"
xid=$(xdotool search --onlyvisible --name '^QXRSET' 2>/dev/null | head -n 1)
xdotool windowfocus "$xid" key Escape 2>/dev/null
rc=0; qxr_wine_wait_bg qxrset 30 >/dev/null || rc=$?
qxr_expect_eq "$rc" 0 "QxrSet closed (its files are replaced next)"

# --- Upgrade: the setup of the next version (the same files) over the installed one replaces
# the files and keeps the operator's parameters; the older setup is then refused.
qxr_wine_reg add "$sync_params" /v RampDuration /t REG_DWORD /d 20 /f >/dev/null
echo "damaged" >"$instdir/CONTENTS.txt"
rc=0; setup_exe=$QXR_SETUP_NEXT_EXE setup upgrade /S || rc=$?
QXR_WINE_EVENT_TRACES+=("$out/upgrade.err")
qxr_expect_eq "$rc" 0 "the next version's setup over the installed one: exit code 0"
tr -d '\r' <"$instdir/setup.log" >"$out/upgrade.log" 2>/dev/null
qxr_expect "$out/upgrade.log" '^Version 1\.0\.0\.2 is installed in .*: upgrading it$' "setup sees the installed version"
qxr_expect "$out/upgrade.log" '^Stopping the service QxrSync to replace its files$' "the service stopped for the new files"
qxr_expect_events '^106 information -$' 1 20 "event 106: the service stopped"
qxr_expect_events '^105 information -$' 2 20 "event 105: the service started again"
qxr_expect_eq "$(state QxrSync)" "state=4" "QxrSync runs after the upgrade"
qxr_expect_eq "$(value "$sync_params" RampDuration)" "0x14" "RampDuration still 20"
qxr_expect "$instdir/CONTENTS.txt" '^QXR time-reference card host software ' "the files replaced (CONTENTS.txt new)"
qxr_wine_reg query "$uninst" >"$out/upgrade.reg"
qxr_expect "$out/upgrade.reg" 'DisplayVersion +REG_SZ +1\.0\.0\.3$' "DisplayVersion 1.0.0.3"
rc=0; setup downgrade /S || rc=$?
qxr_expect_eq "$rc" 14 "the older setup over it: exit code 14"
qxr_expect "$out/downgrade.templog" '^Setup stopped: Version 1\.0\.0\.3 is installed, newer than this setup.s 1\.0\.0\.2; /ALLOWDOWNGRADE installs this one over it\. Nothing was changed\.$' \
    "setup's log says why"
qxr_wine_reg query "$uninst" >"$out/downgrade.reg"
qxr_expect "$out/downgrade.reg" 'DisplayVersion +REG_SZ +1\.0\.0\.3$' "still 1.0.0.3"
qxr_expect_eq "$(drv_values)" "0x1 0x320 0xb" "driver settings kept"
# New device settings the driver does not start with (its file damaged meanwhile): setup
# stops with 22 and the driver's former settings are back; the files too.
drvfile=$c/windows/system32/drivers/qxrsimdrv.sys
cp "$drvfile" "$out/qxrsimdrv.sys.good"
echo "damaged" >"$drvfile"
sums >"$out/newbus.before"
rc=0; setup_exe=$QXR_SETUP_NEXT_EXE setup newbus /S /BUS=PCI || rc=$?
cp "$out/qxrsimdrv.sys.good" "$drvfile"
qxr_expect_eq "$rc" 22 "new device settings the driver does not start with: exit code 22"
qxr_expect "$out/newbus.templog" '^  the driver.s settings put back \(1 800 11\)$' "setup's log: the settings put back"
qxr_expect_eq "$(drv_values)" "0x1 0x320 0xb" "the driver's former settings (ISA, 0x320, 11) back"
sums >"$out/newbus.after"
qxr_expect_eq "$(diff "$out/newbus.before" "$out/newbus.after")" "" "the installed files as before"
# The service is started again (without its driver it ends at once, as it should).
qxr_expect "$out/newbus.templog" '^  start QxrSync: error 0, ' "setup started QxrSync again"
qxr_wine_service start QxrDrv >/dev/null
qxr_expect_eq "$(state QxrDrv)" "state=4" "the driver runs again with its file back"
qxr_wine_service start QxrSync >/dev/null

# --- Silent uninstall: everything as before, and done when uninstall.exe returns.
rc=$(uninstall uninstall /S)
qxr_expect_eq "$rc" 0 "silent uninstall: exit code 0 (from the process)"
[ ! -e "$instdir" ] && qxr_pass "the installation folder gone when uninstall.exe returned" ||
    qxr_fail "left in $instdir when uninstall.exe returned: $(ls "$instdir" | tr '\n' ' ')"
qxr_expect "$out/uninstall.templog" '^QXR Time Reference 1\.0\.0\.3 .* uninstall from ' "the uninstaller of the new version"
qxr_expect "$out/uninstall.templog" '^  ".*QxrSync\.exe" -u: exit code 0$' "the uninstaller removed the service with QxrSync -u"
qxr_expect "$out/uninstall.templog" '^QxrSync removed\.$' "QxrSync -u's output in the uninstaller's log"
qxr_expect_eq "$(state QxrSync)" "error=1060" "the QxrSync service is gone"
qxr_expect_eq "$(state QxrDrv)" "error=1060" "the driver setup registered is gone"
qxr_expect_eq "$(value "$services"'\W32Time' Start):$(state W32Time)" "0x2:state=4" \
    "W32Time automatic and running again"
snapshot after
compare "after uninstall" "$out/before" "$out/after"
pending_renames after

# --- The interactive setup, page by page.
page() { # page NAME SHOT: waits for the setup's window, a screenshot, its controls
    winprobe "$1" waitpart 'QXR Time Reference' 30 dump >/dev/null
    sleep 0.5
    import -window root "$out/$2.png" 2>/dev/null
}
next() { winprobe "$1" waitpart 'QXR Time Reference' 10 click 1 >/dev/null; }
qxr_wine_run_bg gui "$arch" "$QXR_SETUP_EXE"
page page1 setup-1-folder
qxr_expect "$out/page1.out" "text=${instdir_win//\\/\\\\\\\\}\$" "page 1: the folder, under Program Files"
next next1
page page2 setup-2-driver
qxr_expect "$out/page2.out" 'text=Use the card simulator instead' "page 2: the driver, the simulator offered"
# Browse...: the file dialog (on the win32 setup GetOpenFileNameA with the size NT 4.0's
# comdlg32 accepts) fills the field with the file chosen in it.
mkdir -p "$c/cards"
cp "$QXR_PIN_DRIVER" "$c/cards/qxrpindrv.sys"
winprobe browse waitpart 'QXR Time Reference' 10 click 1202 >/dev/null
if winprobe opendlg wait Open 20 dump >/dev/null; then
    import -window root "$out/setup-2-browse.png" 2>/dev/null
    # The file name box: edt1 (1152) in the NT 4.0-style dialog, cmb13 (1148) in Explorer's.
    name_id=$(grep -oE '^control id=(1152|1148) ' "$out/opendlg.out" | grep -oE '[0-9]+' | head -n 1)
    winprobe openok wait Open 5 settext "${name_id:-1152}" 'C:\cards\qxrpindrv.sys' click 1 gone 20 >/dev/null ||
        winprobe opencancel wait Open 5 click 2 gone 10 >/dev/null
    winprobe page2b waitpart 'QXR Time Reference' 10 dump >/dev/null
    qxr_expect "$out/page2b.out" '^control id=1201 class=Edit enabled=1 text=C:\\\\cards\\\\qxrpindrv\.sys$' \
        "page 2: Browse... puts the chosen file in the field"
else
    qxr_fail "page 2: Browse... opened no file dialog"
fi
winprobe sim waitpart 'QXR Time Reference' 10 click 1203 >/dev/null
next next2
if winprobe cfgnt wait 'QXR Device Settings' 60 choose 1002 0 dump >/dev/null; then
    import -window root "$out/setup-3-qxrcfgnt.png" 2>/dev/null
    winprobe cfgntok wait 'QXR Device Settings' 5 click 1 gone 30 >/dev/null
    qxr_pass "page 3: setup runs QxrCfgNT"
else
    qxr_fail "page 3: no QxrCfgNT dialog"
fi
# until_shown NAME REGEX: the setup's window until a control matches (up to a minute).
until_shown() {
    for ((i = 0; i < 60; i++)); do
        winprobe "$1" waitpart 'QXR Time Reference' 5 dump >/dev/null
        grep -qE "$2" "$out/$1.out" && break
        sleep 1
    done
    sleep 0.5
}
until_shown done 'id=1006 class=Static enabled=1 text=Completed$'
import -window root "$out/setup-4-steps.png" 2>/dev/null
qxr_expect "$out/done.out" 'text=Installation Complete$' "page 4: every step done"
next next4
until_shown fin 'text=&Finish$'
import -window root "$out/setup-5-finish.png" 2>/dev/null
qxr_expect "$out/fin.out" 'text=&Finish$' "page 5: setup finished"
next next5
rc=0; qxr_wine_wait_bg gui 30 || rc=$?
qxr_expect_eq "$rc" 0 "interactive setup: exit code 0"
qxr_expect_eq "$(drv_values)" "0x2 0x0 0x0" "QxrCfgNT stored PCI"
qxr_expect_eq "$(state QxrSync)" "state=4" "QxrSync runs after the interactive setup"

# --- The interactive uninstaller, keeping the service's settings; an operator's file in
# the folder (a tracking log) stays with it.
qxr_wine_reg add "$sync_params" /v RampDuration /t REG_DWORD /d 20 /f >/dev/null
# A tracking log under an environment variable and the NTP server's networks: kept with
# their types (as REG_SZ the first would be refused as relative, the second be empty).
qxr_wine_reg add "$sync_params" /v TrackingLog /t REG_EXPAND_SZ \
    /d '%SystemRoot%\Temp\qxr-tracking.log' /f >/dev/null
qxr_wine_reg add "$sync_params" /v NtpAllow /t REG_MULTI_SZ /d '127.0.0.0/8\0192.168.1.0/24' /f >/dev/null
echo "operator's tracking log" >"$instdir/tracking.log"
qxr_wine_run_bg ungui "$arch" "$instdir/uninstall.exe"
page unpage1 uninstall-1-keep
qxr_expect "$out/unpage1.out" "text=Keep the time synchronizer's settings" "uninstall page 1: keep the settings"
winprobe keep waitpart 'QXR Time Reference' 10 click 1201 >/dev/null
import -window root "$out/uninstall-1-keep.png" 2>/dev/null
next unnext1
until_shown unfin 'class=Button enabled=1 text=&Close$'
import -window root "$out/uninstall-2-done.png" 2>/dev/null
qxr_expect "$out/unfin.out" 'text=&Close$' "uninstall page 2: done"
next unnext2
qxr_wine_wait_bg ungui 10 >/dev/null
for ((i = 0; i < 20; i++)); do
    templog qxr-uninstall.log ungui >/dev/null
    grep -q '^Uninstall finished' "$out/ungui.templog" 2>/dev/null && break
    sleep 0.5
done
sleep 2
qxr_expect "$out/ungui.templog" '^Keeping the service.s parameters in HKLM' "the uninstaller keeps the settings"
qxr_expect "$out/ungui.templog" '^Uninstall finished, exit code 0$' "interactive uninstall: exit code 0"
qxr_expect_eq "$(value 'HKLM\Software\Quoxar\QXR\QxrSync Parameters' RampDuration)" "0x14" \
    "the service's settings kept (RampDuration 20)"
qxr_expect_eq "$(state QxrSync)" "error=1060" "the QxrSync service is gone"
qxr_expect_eq "$(ls "$instdir")" "tracking.log" "only the operator's tracking log stays in the folder"

# --- Setup again: the kept settings come back. The card's driver this time is the one chosen
# with Browse... above, which the system cannot stop (no unload routine).
rc=0; setup again /S '/DRIVER=C:\cards\qxrpindrv.sys' /BUS=ISA /PORT=320 /IRQ=11 || rc=$?
qxr_expect_eq "$rc" 0 "setup after an uninstall that kept the settings: exit code 0"
qxr_expect_eq "$(value "$sync_params" RampDuration)" "0x14" "the kept RampDuration 20 is back"
qxr_wine_reg query "$sync_params" >"$out/again.reg"
qxr_expect "$out/again.reg" '^ +TrackingLog +REG_EXPAND_SZ +%SystemRoot%\\Temp\\qxr-tracking\.log$' \
    "the kept TrackingLog is back as REG_EXPAND_SZ"
qxr_expect "$out/again.reg" '^ +NtpAllow +REG_MULTI_SZ +127\.0\.0\.0/8\\0192\.168\.1\.0/24$' \
    "the kept NtpAllow is back as REG_MULTI_SZ with both networks"
qxr_expect_no_key 'HKLM\Software\Quoxar' "the kept copy is gone (no key HKLM\\Software\\Quoxar)"

# --- Uninstall with that driver: all the rest goes; the driver, marked for deletion, goes at
# the next restart, and the exit code says so (3010; Wine hands the parent its low byte, 194).
rc=$(uninstall pinned /S)
qxr_expect_eq "$rc" 194 "uninstall with a driver that cannot stop: exit code 3010 (194 on this side)"
qxr_expect "$out/pinned.templog" '^QxrDrv is still loaded: it goes at the next restart$' \
    "the uninstaller's log: the driver goes at the next restart"
qxr_expect "$out/pinned.templog" '^Uninstall finished, exit code 3010$' "... and exit code 3010"
qxr_expect_eq "$(state QxrSync)" "error=1060" "the QxrSync service is gone"
qxr_expect_eq "$(ls "$instdir")" "tracking.log" "the files are gone (the operator's tracking log stays)"
pin=$c/windows/system32/drivers/qxrpindrv.sys
pending_list pinned
[ ! -e "$pin" ] || grep -qi 'drivers\\qxrpindrv\.sys$' "$out/pinned.pending" &&
    qxr_pass "the driver's file is gone or deleted at the next restart" ||
    qxr_fail "the driver's file stays for good ($pin, pending: $(cat "$out/pinned.pending"))"

echo "--- events of the run:"
qxr_wine_events | sed 's/^/    /'
qxr_wine_finish
