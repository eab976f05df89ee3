#!/usr/bin/env bash
# The NTP server's load benchmark: the same paced, rising request rates from ntp_load (many
# 127.100.x.y source addresses) against QxrSync's server under Wine (x86_64 build, simulator
# driver, rate limit off) and against `chronyd -x` (never touches the clock) serving
# `local stratum 1`, each on a loopback port of its own. Prints per server the highest rate
# answered with under 1 % loss with the median and 99th-percentile latency there, their
# ratio, and from the service's tracking log the largest gap between corrections while the
# load ran. Figures only: no limit is asserted; it fails only when it cannot run at all.
# Inputs (environment, all optional): QXR_X64_BUILD_DIR (default build/mingw-x64),
# NTP_LOAD (default build/release/tests/ntp_load/ntp_load), NTP_LOAD_SECONDS (per rate, 2).
root=$(cd "$(dirname "$0")/../.." && pwd)
x64=${QXR_X64_BUILD_DIR:-$root/build/mingw-x64}
load=${NTP_LOAD:-$root/build/release/tests/ntp_load/ntp_load}
seconds=${NTP_LOAD_SECONDS:-2}
wine_port=11230 chrony_port=11231

export QXR_WINE_ARCH=x86_64
export QXR_WINE_PROBE=$x64/tests/wine/harness/qxrprobe.exe
export QXR_WINE_SVC=$x64/tests/wine/harness/qxrsvc.exe
export QXR_SIM_DRIVER=$x64/card_simulator/driver/qxrsimdrv.sys
export QXR_WINE_WORK_ROOT=$x64/wine-work
. "$root/tests/wine/harness/lib.sh"

qxr_wine_init ntp_load_benchmark
out=$QXR_WINE_DIR
command -v chronyd >/dev/null || { echo "FAIL: chronyd is missing (scripts/install-deps.sh all)"; exit 1; }
[ -x "$load" ] || { echo "FAIL: no load generator at $load (build the release preset)"; exit 1; }
qxr_wine_require_arch
qxr_wine_require_files "$x64/sync_service/QxrSync.exe" "$x64/card_access/qxrtime.dll" \
    "$QXR_SIM_DRIVER" "$QXR_WINE_SVC" "$QXR_WINE_PROBE"
qxr_wine_prefix
qxr_wine_server_start "-all,+eventlog,fixme+advapi"
qxr_wine_require_probe
qxr_wine_install x86_64 "$x64/sync_service/QxrSync.exe" "$x64/card_access/qxrtime.dll"
qxr_wine_driver_install 1 0x320 10
QXR_WINE_EVENT_TRACES=("$out/install.err" "$out/session.err")
params='HKLM\SYSTEM\CurrentControlSet\Services\QxrSync\Parameters'
log=$WINEPREFIX/drive_c/qxr/logs/qxrsync.csv
mkdir -p "$(dirname "$log")"

# ladder NAME PORT: the generator's run; its output in NAME.load, the load's span (UTC,
# seconds since 1970) in NAME.span.
ladder() {
    local start end rc=0
    start=$(date -u +%s.%N)
    "$load" --port "$2" --seconds "$seconds" --sources 64 \
        --rates 1000,2000,5000,10000,15000,20000,30000,50000,80000,120000,200000 \
        >"$out/$1.load" 2>&1 || rc=$?
    end=$(date -u +%s.%N)
    echo "$start $end" >"$out/$1.span"
    sed 's/^/    /' "$out/$1.load"
    return "$rc"
}
best_rate() { sed -n 's/^highest rate with under 1 % loss: \([0-9]*\)\/s$/\1/p' "$out/$1.load"; }
# at_rate NAME RATE: "median X us, p99 Y us" of that rate's line.
at_rate() {
    awk -v r="$2" '$1 == "rate" && $2 == r "/s" {
        for (i = 1; i <= NF; i++) { if ($i == "median") m = $(i + 1); if ($i == "p99") p = $(i + 1) }
        printf "median %s us, p99 %s us", m, p }' "$out/$1.load"
}

# --- QxrSync under Wine: the server on, no rate limit, no CPU budget, the default correction schedule
# (ramp 10 s) written to the tracking log.
qxr_wine_reg add "$params" /v NtpServer /t REG_DWORD /d 1 /f >/dev/null
qxr_wine_reg add "$params" /v NtpPort /t REG_DWORD /d "$wine_port" /f >/dev/null
qxr_wine_reg add "$params" /v NtpRateInterval /t REG_DWORD /d 0 /f >/dev/null
qxr_wine_reg add "$params" /v NtpCpuPercent /t REG_DWORD /d 100 /f >/dev/null  # no CPU budget
qxr_wine_reg add "$params" /v TrackingLog /t REG_SZ /d 'C:\qxr\logs\qxrsync.csv' /f >/dev/null
WINEDEBUG="-all,+eventlog,fixme+advapi" qxr_wine_run install 60 x86_64 QxrSync.exe -i
if ! qxr_wine_wait_events "^114 information $wine_port\$" 1 30; then
    echo "FAIL: QxrSync's NTP server did not report answering on port $wine_port (no event 114)"
    qxr_wine_events | sed 's/^/    /'
    exit 1
fi
# Corrections before the load, so that the log shows the schedule the load must keep.
sleep 11
# Wine's figures follow the machine's load closely (each receive and send is a round trip
# through wineserver): the load average goes with them.
echo "=== QxrSync under Wine, port $wine_port (load average $(cut -d' ' -f1-3 /proc/loadavg))"
ladder qxrsync "$wine_port" || { echo "FAIL: the generator could not run against QxrSync"; exit 1; }
sleep 11
qxr_wine_run remove 60 x86_64 QxrSync.exe -r
tr -d '\r' <"$log" >"$out/tracking.csv" 2>/dev/null
# Correction times from the log's first column (system UTC: Wine's clock is the host's).
tail -n +2 "$out/tracking.csv" | cut -d, -f1 | while read -r t; do date -u -d "$t" +%s.%N; done \
    >"$out/corrections.txt"
read -r load_start load_end <"$out/qxrsync.span"
gaps=$(awk -v s="$load_start" -v e="$load_end" '
    NR > 1 { g = $1 - prev
        if ($1 >= s && prev <= e) { if (g > worst) worst = g; n++ } else { quiet += g; q++ } }
    { prev = $1 }
    END { printf "%.2f %d %.2f", worst, n, q ? quiet / q : 0 }' "$out/corrections.txt")
read -r worst_gap load_gaps quiet_gap <<<"$gaps"

# --- chronyd -x with local stratum 1 on its own port, its files in the work directory.
# It drops root to its own user, which must be able to write there.
cdir=$out/chronyd
mkdir -p "$cdir" && chmod 777 "$cdir"
cat >"$cdir/chrony.conf" <<EOF
local stratum 1
port $chrony_port
bindaddress 127.0.0.1
allow 127.0.0.0/8
cmdport 0
pidfile $cdir/chronyd.pid
driftfile $cdir/chrony.drift
logdir $cdir
EOF
chronyd -x -d -f "$cdir/chrony.conf" >"$cdir/chronyd.log" 2>&1 &
chrony_pid=$!
sleep 1
if ! kill -0 "$chrony_pid" 2>/dev/null; then
    echo "FAIL: chronyd -x did not start:"
    sed 's/^/    /' "$cdir/chronyd.log"
    exit 1
fi
echo "=== chronyd -x (pid $chrony_pid), local stratum 1, port $chrony_port (load average $(cut -d' ' -f1-3 /proc/loadavg))"
rc=0
ladder chronyd "$chrony_port" || rc=$?
kill "$chrony_pid" 2>/dev/null
wait "$chrony_pid" 2>/dev/null
[ "$rc" = 0 ] || { echo "FAIL: the generator could not run against chronyd"; exit 1; }

wine_best=$(best_rate qxrsync) chrony_best=$(best_rate chronyd)
echo
echo "=== NTP load: highest rate answered with under 1 % loss ($seconds s per rate, 64 source addresses)"
printf '  %-18s %8s/s  %s\n' "QxrSync (Wine)" "$wine_best" "$(at_rate qxrsync "$wine_best")"
printf '  %-18s %8s/s  %s\n' "chronyd -x" "$chrony_best" "$(at_rate chronyd "$chrony_best")"
awk -v w="$wine_best" -v c="$chrony_best" 'BEGIN {
    if (c > 0) printf "  ratio QxrSync/chronyd: %.2f\n", w / c }'
last_loss=$(awk '$1 == "rate" { l = $9 } END { print l }' "$out/chronyd.load")
awk -v l="$last_loss" 'BEGIN { if (l + 0 < 1) print "  (chronyd lost under 1 % even at the top rate: the ratio is an upper bound)" }'
echo "  corrections during the load: $load_gaps gaps, the largest ${worst_gap} s" \
    "(outside the load: ${quiet_gap} s on average)"
