#!/usr/bin/env bash
# run_no_driver.sh CLIENT.exe qxrtime.dll WORKDIR
# Runs the client in a fresh Wine prefix of its own (no QXR driver there) and checks that
# every get-export fails with 2 (ERROR_FILE_NOT_FOUND) and zero-filled records, QxrSetTime
# with 6 (no handle), and null pointers and bad fields with 13.
set -euo pipefail
client=$1 dll=$2 work=$3
wine=/usr/lib/wine/wine64

rm -rf "$work"
mkdir -p "$work/bin"
cp "$client" "$dll" "$work/bin/"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() { wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"; }
trap cleanup EXIT

# stdio to files: Wine's background processes would keep a pipe open.
"$wine" wineboot -i >"$work/wineboot.out" 2>&1 </dev/null
(cd "$work/bin" && "$wine" "./$(basename "$client")" >"$work/client.out" 2>"$work/client.err" </dev/null) || {
    echo "client exited with $?"; cat "$work/client.err"; exit 1; }
tr -d '\r' <"$work/client.out" >"$work/client.txt"
cat "$work/client.txt"

expected="QxrGetDriverVersion=2 zero=1
QxrGetFwVersion=2 zero=1
QxrGetHwStatus=2 zero=1
QxrGetTime=2 zero=1
QxrGetSignalQuality=2 zero=1
QxrGetPosition=2 zero=1
QxrGetFwChecksum=2 zero=1
QxrGetHwSignature=0 empty=1
QxrSetTime=6
QxrSetTime(year 2100)=13
null:QxrGetDriverVersion=13
null:QxrGetFwVersion=13
null:QxrGetHwStatus=13
null:QxrGetTime=13
null:QxrSetTime=13
null:QxrGetSignalQuality=13
null:QxrGetPosition=13
null:QxrGetFwChecksum=13
done"
if [ "$(cat "$work/client.txt")" != "$expected" ]; then
    echo "FAIL: output differs from expected:"
    diff <(echo "$expected") "$work/client.txt" || true
    exit 1
fi
echo "PASS"
