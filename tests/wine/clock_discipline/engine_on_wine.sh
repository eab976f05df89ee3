#!/usr/bin/env bash
# The clock discipline engine on the real Win32 adapters under Wine. Wine reports the system's
# own adjustment in force (adjustment = increment = 156,250, disabled) and ignores a new one,
# so the engine's take-over leaves it in force: the engine is available but may only set the
# clock in one step (no ramp steps, no slew limits).
# Input from CTest: QXR_ENGINE_PROBE.
. "$QXR_WINE_LIB"

qxr_wine_init engine_on_wine
qxr_wine_require_arch
qxr_wine_require_files "$QXR_ENGINE_PROBE"
qxr_wine_prefix
qxr_wine_server_start
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXR_ENGINE_PROBE"
out=$QXR_WINE_DIR

rc=0
qxr_wine_run probe 30 "$QXR_WINE_ARCH" "$(basename "$QXR_ENGINE_PROBE")" || rc=$?
qxr_expect_eq "$rc" 0 "probe exit code 0"
qxr_expect "$out/probe.out" '^trace: GetSysTimeAdjust isValid=TRUE, p1=0x2625A, p2=0x2625A, p3=TRUE$' \
    "the availability check traces the query after the take-over"
qxr_expect "$out/probe.out" '^available=1 rampSteps=0 lower=0 upper=0 increment=156250$' \
    "available, one-step only, while the system's own adjustment stays in force"
qxr_wine_finish
