#!/usr/bin/env bash
# qxrtime.dll in a prefix where no QXR driver was ever installed: every get-export fails with
# 2 (ERROR_FILE_NOT_FOUND) and zero-filled records, QxrSetTime with 6 (no handle), and null
# pointers and out-of-range fields with 13.
# Inputs from CTest: QXR_NO_DRIVER_CLIENT, QXRTIME_DLL.
. "$QXR_WINE_LIB"

qxr_wine_init no_driver
qxr_wine_require_arch
qxr_wine_require_files "$QXR_NO_DRIVER_CLIENT" "$QXRTIME_DLL"
qxr_wine_prefix
qxr_wine_server_start
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXR_NO_DRIVER_CLIENT" "$QXRTIME_DLL"

rc=0
qxr_wine_run client 30 "$QXR_WINE_ARCH" "$(basename "$QXR_NO_DRIVER_CLIENT")" || rc=$?
qxr_expect_eq "$rc" 0 "client exit code 0"
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
if [ "$(cat "$QXR_WINE_DIR/client.out")" = "$expected" ]; then
    qxr_pass "every export fails as it must without a driver"
else
    qxr_fail "output differs from the expected:"
    diff <(echo "$expected") "$QXR_WINE_DIR/client.out" | sed 's/^/    /'
fi
qxr_wine_finish
