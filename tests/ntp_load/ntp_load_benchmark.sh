#!/usr/bin/env bash
# The NTP server's load benchmark: the same paced, rising request rates from ntp_load (many
# 127.100.x.y source addresses, the gap above the highest clean rate then halved four times,
# twice for chronyd) against four servers in one run, each on a loopback port of its own:
#   - QxrSync's server under Wine (x86_64 build, simulator driver, rate limit off, CPU budget
#     off: NtpCpuPercent 100);
#   - udp_responder under Wine (x86_64, blocking recvfrom and a 48-byte reply, nothing else,
#     REALTIME class like QxrSync): Wine's own floor, in the same prefix and session; then
#     with NTP_LOAD_SELECT=1 the same with its select loop (select, then a non-blocking drain);
#   - `chronyd -x` (never touches the clock) serving `local stratum 1`, natively.
# Prints per server the highest rate answered with under 1 % loss with the median and
# 99th-percentile latency there, QxrSync's rate as a share of the trivial responder's (the
# goal: 90 % or more) and of chronyd's, the CPU the Wine servers and their wineserver used
# during their ladder, and from the service's tracking log the largest gap between
# corrections while the load ran. Every rate's line has the requests the generator skipped
# itself and the host's UDP receive-buffer errors during it. Wine's figures follow the
# machine's load: compare only figures of one run. Figures only: no limit is asserted; it
# fails only when a server cannot be started or measured at all.
# Inputs (environment, all optional): QXR_X64_BUILD_DIR (default build/mingw-x64),
# NTP_LOAD (default build/release/tests/ntp_load/ntp_load), NTP_LOAD_SECONDS (per rate, 2),
# NTP_LOAD_REFINE (halvings, 4), UDP_RESPONDER_RCVBUF (its SO_RCVBUF, 262144 bytes: the
# larger receive buffer a server should ask for).
root=$(cd "$(dirname "$0")/../.." && pwd)
x64=${QXR_X64_BUILD_DIR:-$root/build/mingw-x64}
load=${NTP_LOAD:-$root/build/release/tests/ntp_load/ntp_load}
seconds=${NTP_LOAD_SECONDS:-2}
refine=${NTP_LOAD_REFINE:-4}
responder_rcvbuf=${UDP_RESPONDER_RCVBUF:-262144}
wine_port=11230 chrony_port=11231 responder_port=11232 # and 11233

export QXR_WINE_ARCH=x86_64
export QXR_WINE_PROBE=$x64/tests/wine/harness/qxrprobe.exe
export QXR_WINE_SVC=$x64/tests/wine/harness/qxrsvc.exe
export QXR_SIM_DRIVER=$x64/card_simulator/driver/qxrsimdrv.sys
export QXR_WINE_WORK_ROOT=$x64/wine-work
. "$root/tests/wine/harness/lib.sh"
. "$root/tests/ntp_load/cpu_time.sh"

qxr_wine_init ntp_load_benchmark
out=$QXR_WINE_DIR
command -v chronyd >/dev/null || { echo "FAIL: chronyd is missing (scripts/install-deps.sh all)"; exit 1; }
[ -x "$load" ] || { echo "FAIL: no load generator at $load (build the release preset)"; exit 1; }
qxr_wine_require_arch
responder=$x64/tests/ntp_load/udp_responder.exe
qxr_wine_require_files "$x64/sync_service/QxrSync.exe" "$x64/card_access/qxrtime.dll" \
    "$QXR_SIM_DRIVER" "$QXR_WINE_SVC" "$QXR_WINE_PROBE" "$responder"
qxr_wine_prefix
qxr_wine_server_start "-all,+eventlog,fixme+advapi"
qxr_wine_require_probe
qxr_wine_install x86_64 "$x64/sync_service/QxrSync.exe" "$x64/card_access/qxrtime.dll" \
    "$responder"
qxr_wine_driver_install 1 0x320 10
QXR_WINE_EVENT_TRACES=("$out/install.err" "$out/session.err")
params='HKLM\SYSTEM\CurrentControlSet\Services\QxrSync\Parameters'
log=$WINEPREFIX/drive_c/qxr/logs/qxrsync.csv
mkdir -p "$(dirname "$log")"

# ladder NAME PORT HALVINGS [PID...]: the generator's run; its output in NAME.load, the
# load's span (UTC, seconds since 1970) in NAME.span, the CPU seconds the PIDs used meanwhile
# in NAME.cpu. The ladder stops after a rate losing over 10 %: the halvings cover the rest.
ladder() {
    local name=$1 port=$2 halvings=$3 start end rc=0 cpu0 cpu1
    shift 3
    cpu0=$(qxr_cpu_seconds "$@")
    start=$(date -u +%s.%N)
    "$load" --port "$port" --seconds "$seconds" --sources 64 --refine "$halvings" --stop-loss 10 \
        --rates 500,1000,2000,4000,7000,10000,15000,20000,30000,50000,80000,120000,200000 \
        >"$out/$name.load" 2>&1 || rc=$?
    end=$(date -u +%s.%N)
    cpu1=$(qxr_cpu_seconds "$@")
    echo "$start $end" >"$out/$name.span"
    awk -v a="$cpu0" -v b="$cpu1" -v s="$start" -v e="$end" \
        'BEGIN { printf "%.1f s in %.1f s (%.0f %% of a core)\n", b - a, e - s, 100 * (b - a) / (e - s) }' \
        >"$out/$name.cpu"
    sed 's/^/    /' "$out/$name.load"
    return "$rc"
}
best_rate() { sed -n 's/^highest rate with under 1 % loss: \([0-9]*\)\/s$/\1/p' "$out/$1.load" 2>/dev/null; }
# at_rate NAME RATE: "median X us, p99 Y us" of that rate's line.
at_rate() {
    awk -v r="$2" '$1 == "rate" && $2 == r "/s" {
        for (i = 1; i <= NF; i++) { if ($i == "median") m = $(i + 1); if ($i == "p99") p = $(i + 1) }
        printf "median %s us, p99 %s us", m, p }' "$out/$1.load"
}

wineserver_pid=$(qxr_wine_pid wineserver)

# --- QxrSync under Wine: the server on, no rate limit, no CPU budget, the default
# correction schedule (ramp 10 s) written to the tracking log.
qxr_wine_reg add "$params" /v NtpServer /t REG_DWORD /d 1 /f >/dev/null
qxr_wine_reg add "$params" /v NtpPort /t REG_DWORD /d "$wine_port" /f >/dev/null
qxr_wine_reg add "$params" /v NtpRateInterval /t REG_DWORD /d 0 /f >/dev/null
qxr_wine_reg add "$params" /v NtpCpuPercent /t REG_DWORD /d 100 /f >/dev/null
qxr_wine_reg add "$params" /v TrackingLog /t REG_SZ /d 'C:\qxr\logs\qxrsync.csv' /f >/dev/null
WINEDEBUG="-all,+eventlog,fixme+advapi" qxr_wine_run install 60 x86_64 QxrSync.exe -i
if ! qxr_wine_wait_events "^114 information $wine_port\$" 1 30; then
    echo "FAIL: QxrSync's NTP server did not report answering on port $wine_port (no event 114)"
    qxr_wine_events | sed 's/^/    /'
    exit 1
fi
# corrections_after T: how many corrections the tracking log has after T (UTC, seconds since
# 1970; its first column is system UTC, and Wine's clock is the host's).
corrections_after() {
    tr -d '\r' <"$log" 2>/dev/null | tail -n +2 | cut -d, -f1 |
        while read -r t; do date -u -d "$t" +%s.%N; done | awk -v t="$1" '$1 > t { n++ } END { print n + 0 }'
}
# wait_correction_after T: until the log has a correction after T (one schedule, 12 s at most).
wait_correction_after() {
    local i
    for ((i = 0; i < 48; i++)); do
        [ "$(corrections_after "$1")" -gt 0 ] && return 0
        sleep 0.25
    done
    echo "    (no correction within 12 s after $1)"
}
# A correction before the load, so that the log shows the schedule the load must keep.
wait_correction_after 0
# Wine's figures follow the machine's load closely (each receive and send is a round trip
# through wineserver): the load average goes with them.
qxrsync_pid=$(qxr_wine_pid QxrSync.exe)
echo "=== QxrSync under Wine (pid $qxrsync_pid), port $wine_port (load average $(cut -d' ' -f1-3 /proc/loadavg))"
ladder qxrsync "$wine_port" "$refine" $qxrsync_pid $wineserver_pid ||
    { echo "FAIL: the generator could not run against QxrSync"; exit 1; }
# The first correction after the load closes the last gap.
read -r _ load_end <"$out/qxrsync.span"
wait_correction_after "$load_end"
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

# --- The trivial responder under Wine, in the same session right after QxrSync (the driver
# still loaded, QxrSync removed): its blocking recvfrom loop, then its select loop (a
# non-blocking drain after select, the other cheap loop), each on a port of its own.
# responder NAME PORT [select]
responder() {
    local name=$1 port=$2 rc=0 pid
    qxr_wine_run_bg "$name" x86_64 udp_responder.exe "$port" "$responder_rcvbuf" ${3:+"$3"}
    if ! qxr_wine_wait_for_line "$name" "answering on port $port" 30; then
        echo "FAIL: udp_responder ${3:-} did not start under Wine"
        qxr_wine_wait_bg "$name" 1
        exit 1
    fi
    pid=$(qxr_wine_pid udp_responder.exe)
    echo "=== udp_responder ${3:-blocking} under Wine (pid $pid, wineserver $wineserver_pid)," \
        "port $port, SO_RCVBUF $responder_rcvbuf (load average $(cut -d' ' -f1-3 /proc/loadavg))"
    ladder "$name" "$port" "$refine" $pid $wineserver_pid || rc=$?
    kill "$(cat "$out/$name.pid")" 2>/dev/null
    qxr_wine_wait_bg "$name" 10 >/dev/null || true
    [ "$rc" = 0 ] || { echo "FAIL: the generator could not run against udp_responder ${3:-}"; exit 1; }
}
responder responder "$responder_port"
# Its select loop (select, then a non-blocking drain) only when asked (NTP_LOAD_SELECT=1): it
# costs a ladder, and the goal is set against the blocking loop.
if [ "${NTP_LOAD_SELECT:-0}" = 1 ]; then
    responder responder_select $((responder_port + 1)) select
fi

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
# Two halvings only: on a 2-core machine chronyd's figure is bounded by the generator itself
# (it skips requests), and the time goes to the Wine servers.
ladder chronyd "$chrony_port" 2 "$chrony_pid" || rc=$?
kill "$chrony_pid" 2>/dev/null
wait "$chrony_pid" 2>/dev/null
[ "$rc" = 0 ] || { echo "FAIL: the generator could not run against chronyd"; exit 1; }

wine_best=$(best_rate qxrsync) chrony_best=$(best_rate chronyd)
responder_best=$(best_rate responder) select_best=$(best_rate responder_select)
echo
echo "=== NTP load, one run: highest rate answered with under 1 % loss ($seconds s per rate," \
    "64 source addresses; CPU: the server and its wineserver during the ladder)"
row() { printf '  %-31s %8s/s  %-36s cpu %s\n' "$1" "$2" "$(at_rate "$3" "$2")" "$(cat "$out/$3.cpu")"; }
row "QxrSync (Wine)" "$wine_best" qxrsync
row "udp_responder (Wine, blocking)" "$responder_best" responder
[ "${NTP_LOAD_SELECT:-0}" = 1 ] && row "udp_responder (Wine, select)" "$select_best" responder_select
row "chronyd -x (native)" "$chrony_best" chronyd
awk -v w="$wine_best" -v t="$responder_best" -v s="$select_best" -v c="$chrony_best" 'BEGIN {
    if (t > 0) printf "  QxrSync / trivial responder (blocking recvfrom): %.0f %% (goal: 90 %% or more)\n", 100 * w / t
    if (s > 0) printf "  QxrSync / trivial responder (select loop): %.0f %%\n", 100 * w / s
    if (c > 0) printf "  QxrSync / chronyd: %.1f %%, trivial responder / chronyd: %.1f %%\n", 100 * w / c, 100 * t / c }'
for name in qxrsync responder responder_select chronyd; do
    [ -f "$out/$name.load" ] || continue
    last_loss=$(awk '$1 == "rate" && index($0, "(refining)") == 0 { l = $9 } END { print l }' "$out/$name.load")
    awk -v l="$last_loss" -v n="$name" 'BEGIN { if (l + 0 < 1) print "  (" n " lost under 1 % even at the top rate: its figure is a lower bound)" }'
done
awk -v n="$load_gaps" -v w="$worst_gap" -v q="$quiet_gap" 'BEGIN {
    printf "  corrections during the load: %d gaps, the largest %s s", n, w
    if (q + 0 > 0) printf " (outside the load: %s s on average)", q
    printf " (the schedule: one about every 10 s)\n" }'
