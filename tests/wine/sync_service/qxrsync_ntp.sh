#!/usr/bin/env bash
# QxrSync.exe's NTP server under Wine against the simulator driver, queried by independent
# clients on loopback: chronyd -Q (query only, its raw measurements logged), ntpsec's ntpdig
# and python3's ntplib, with ntp_peer.py for the traffic those cannot send. In order: the
# card 2.5 s ahead of the system clock (each client measures +2.5 s, stratum 1, "GPS",
# LI 0; versions echoed, mode 1 answered with 2); the on-board clock (still stratum 1, the
# root dispersion growing); reference none (unsynchronised, refused by every client); an
# allow list with one loopback network (no answer outside it, an answer inside, the bad entry
# reported); a burst from one address (only the leaked share answered); every malformed kind
# of request (no answer, the next good one answered); the port taken by another program
# (event 115, corrections go on). Not as root, ntpdig cannot run: the test ends SKIPPED.
# Inputs from CTest: QXRSYNC_EXE, QXRTIME_DLL, QXR_SIMCTL, QXR_NTP_PEER (ntp_peer.py).
. "$QXR_WINE_LIB"

qxr_wine_init qxrsync_ntp
qxr_wine_require_arch
qxr_wine_require_files "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL" "$QXR_SIM_DRIVER" \
    "$QXR_WINE_SVC" "$QXR_WINE_PROBE" "$QXR_NTP_PEER" "$QXR_CPU_TIME"
[ -x "$QXR_NTP_LOAD" ] || {
    echo "FAIL: the load generator $QXR_NTP_LOAD is missing (cmake --build --preset release --target ntp_load)"
    exit 1
}
for prog in chronyd ntpdig /usr/bin/python3; do
    command -v "$prog" >/dev/null || { echo "FAIL: $prog is missing (scripts/install-deps.sh all)"; exit 1; }
done
/usr/bin/python3 -c 'import ntplib' 2>/dev/null ||
    { echo "FAIL: python3-ntplib is missing (scripts/install-deps.sh all)"; exit 1; }
qxr_wine_prefix
qxr_wine_server_start "-all,+eventlog,fixme+advapi"
qxr_wine_require_probe
qxr_wine_install "$QXR_WINE_ARCH" "$QXRSYNC_EXE" "$QXRTIME_DLL" "$QXR_SIMCTL"
qxr_wine_driver_install 1 0x320 10
out=$QXR_WINE_DIR
params='HKLM\SYSTEM\CurrentControlSet\Services\QxrSync\Parameters'
log=$WINEPREFIX/drive_c/qxr/logs/qxrsync.csv
mkdir -p "$(dirname "$log")"
QXR_WINE_EVENT_TRACES=("$out/install.err" "$out/session.err")

# ntpdig has no port option: it needs the server on 123, which only root may bind.
if [ "$(id -u)" = 0 ]; then port=123; ntpdig_skip=; else
    port=11232; ntpdig_skip="ntpdig needs the server on port 123, which needs root"; fi

# The CPU time of the service's processes, for the flood (qxr_cpu_seconds, qxr_wine_pid).
. "$QXR_CPU_TIME"
peer() { /usr/bin/python3 "$QXR_NTP_PEER" "$@"; }
if ! /usr/bin/python3 -c 'import socket, sys
socket.socket(socket.AF_INET, socket.SOCK_DGRAM).bind(("0.0.0.0", int(sys.argv[1])))' "$port" 2>/dev/null; then
    echo "FAIL: UDP port $port is already in use on this machine; the server cannot be tested on it"
    exit 1
fi
field() { tr ' ' '\n' <<<"$1" | sed -n "s/^$2=//p" | head -n 1; }
# to_us SECONDS: whole microseconds, for the integer ranges of qxr_expect_range.
to_us() { awk -v s="$1" 'BEGIN { if (s == "") print "none"; else printf "%.0f\n", s * 1e6 }'; }
# chrony_query NAME [SECONDS]: chronyd -Q against the server; its raw measurements (leap,
# stratum, root delay and dispersion, reference ID) land in NAME/measurements.log. chronyd
# drops root to its own user, which must be able to write there.
chrony_query() {
    local dir=$out/$1
    mkdir -p "$dir" && chmod 777 "$dir"
    timeout 40 chronyd -Q -t "${2:-20}" "server 127.0.0.1 port $port iburst" "logdir $dir" \
        'log rawmeasurements' "pidfile $dir/chronyd.pid" 'port 0' 'cmdport 0' \
        >"$dir/chronyd.out" 2>&1
    echo "$?" >"$dir/chronyd.rc"
    echo "--- $1: chronyd -Q (exit $(cat "$dir/chronyd.rc"))"
    sed 's/^/    /' "$dir/chronyd.out" "$dir/measurements.log" 2>/dev/null
}
# chrony_last NAME COLUMN: a column of the last raw measurement (4 leap, 5 stratum, 12 offset,
# 15 root delay, 16 root dispersion, 17 reference ID).
chrony_last() { awk -v c="$2" '/^[0-9][0-9][0-9][0-9]-/ { v = $c } END { print v }' "$out/$1/measurements.log" 2>/dev/null; }
ntpdig_query() {
    timeout 20 ntpdig -j -t 2 127.0.0.1 >"$out/$1.out" 2>"$out/$1.err"
    echo "$?" >"$out/$1.rc"
    echo "--- $1: ntpdig -j 127.0.0.1 (exit $(cat "$out/$1.rc"))"
    sed 's/^/    /' "$out/$1.out" "$out/$1.err"
}
json() { sed -n "s/.*\"$2\":\"\{0,1\}\([^,\"}]*\).*/\1/p" "$out/$1.out" | head -n 1; }
ntplib_query() { local r; r=$(peer ntplib "$port"); echo "--- ntplib: $r" >&2; echo "$r"; }
# wait_ntplib REGEX SECONDS: polls ntplib until its line matches.
wait_ntplib() {
    local i r
    for ((i = 0; i < $2; i++)); do
        r=$(peer ntplib "$port")
        grep -qE -- "$1" <<<"$r" && { echo "$r"; return 0; }
        sleep 1
    done
    echo "$r"
    return 1
}
lines() { [ -f "$log" ] && tr -d '\r' <"$log" | wc -l || echo 0; }
# served_run NAME OLD NEW: judges a `peer watch` log taken while the card's time moved from
# OLD to NEW seconds ahead: prints "wrong=N unsync_first=0|1 new=N" - synchronised replies at
# neither time, whether an unsynchronised reply came before the first one at the new time,
# and how many came at the new time.
served_run() {
    awk -v old="$2" -v new="$3" '
        function near(x, y) { return x - y < 0.01 && y - x < 0.01 }
        / answered=1 / {
            li = ""; off = ""
            for (i = 1; i <= NF; i++) {
                if ($i ~ /^li=/) li = substr($i, 4)
                if ($i ~ /^offset=/) off = substr($i, 8) + 0
            }
            if (li == 3) { if (!seen_new) unsync = 1; next }
            if (near(off, new)) seen_new++
            else if (!near(off, old) || seen_new) wrong++
        }
        END { printf "wrong=%d unsync_first=%d new=%d\n", wrong, unsync, seen_new }' "$out/$1.txt"
}
# wait_served LO_US HI_US SECONDS: waits until ntplib gets a synchronised reply whose offset
# lies within [LO_US, HI_US] microseconds; prints the last reply.
wait_served() {
    local i r us
    for ((i = 0; i < $3; i++)); do
        r=$(peer ntplib "$port")
        us=$(to_us "$(field "$r" offset)")
        if grep -q ' li=0 stratum=1 ' <<<"$r" && [ "$us" != none ] && ((us >= $1 && us <= $2)); then
            echo "$r"
            return 0
        fi
        sleep 1
    done
    echo "$r"
    return 1
}
# gone: waits up to 10 s for the stopped service's process to end. Wine's service manager
# refuses a start (error 1359) while the process that reported STOPPED is still exiting.
gone() {
    local i
    for ((i = 0; i < 100; i++)); do
        [ -z "$(qxr_wine_pid QxrSync.exe)" ] && return 0
        sleep 0.1
    done
    echo "--- QxrSync.exe still runs 10 s after its service stopped"
}
restart() {
    qxr_expect_eq "$(qxr_wine_service stop QxrSync 20000)" "result=ok" "service stopped ($1)"
    gone
    qxr_expect_eq "$(qxr_wine_service start QxrSync 20000)" "result=ok" "service started ($1)"
}

# A correction every second, each written to the tracking log; no rate limit until the
# burst case. The card 2.5 s ahead: Wine sets its clock only within 0.5 s, so the system
# clock stays and the served time must be 2.5 s ahead of it.
qxr_wine_reg add "$params" /v RampDuration /t REG_DWORD /d 1 /f >/dev/null
qxr_wine_reg add "$params" /v TrackingLog /t REG_SZ /d 'C:\qxr\logs\qxrsync.csv' /f >/dev/null
qxr_wine_reg add "$params" /v NtpServer /t REG_DWORD /d 1 /f >/dev/null
qxr_wine_reg add "$params" /v NtpPort /t REG_DWORD /d "$port" /f >/dev/null
qxr_wine_reg add "$params" /v NtpRateInterval /t REG_DWORD /d 0 /f >/dev/null
qxr_wine_simctl ahead offset 2500

rc=0
WINEDEBUG="-all,+eventlog,fixme+advapi" qxr_wine_run install 60 "$QXR_WINE_ARCH" QxrSync.exe -i || rc=$?
qxr_expect "$out/install.out" '^QxrSync installed\.$' "-i installs and starts the service"
qxr_expect_events "^114 information $port\$" 1 30 "event 114: answering on port $port"

# --- The card 2.5 s ahead, on GPS.
r=$(wait_ntplib ' li=0 stratum=1 ' 20)
echo "--- ntplib: $r"
qxr_expect_eq "$(field "$r" li)/$(field "$r" stratum)/$(field "$r" refid)/$(field "$r" root_delay)" \
    0/1/GPS/0.000000 "ntplib: LI 0, stratum 1, reference GPS, root delay 0"
qxr_expect_range "$(to_us "$(field "$r" root_dispersion)")" 500 3000 "ntplib: root dispersion about 1 ms (us)"
ntplib_offset=$(field "$r" offset)
qxr_expect_range "$(to_us "$ntplib_offset")" 2495000 2505000 "ntplib measures the server +2.5 s ahead (us)"

chrony_query gps
qxr_expect "$out/gps/chronyd.out" 'System clock wrong by' "chronyd -Q accepts the server"
# chronyd's own estimate from its measurements (its raw log has only 4 digits).
chrony_offset=$(sed -n 's/.*System clock wrong by \(-\{0,1\}[0-9.]*\) seconds.*/\1/p' "$out/gps/chronyd.out")
qxr_expect_eq "$(chrony_last gps 4)/$(chrony_last gps 5)/$(chrony_last gps 15)/$(chrony_last gps 17)" \
    N/1/0.000e+00/47505300 "chronyd: leap normal, stratum 1, root delay 0, reference GPS"
qxr_expect_range "$(to_us "$chrony_offset")" 2495000 2505000 "chronyd measures the server +2.5 s ahead (us)"

ntpdig_offset=skipped
if [ -n "$ntpdig_skip" ]; then
    qxr_wine_skip_part "the ntpdig client: $ntpdig_skip"
else
    # Synchronised first: a single reading under Wine can come some milliseconds late (about
    # one in several hundred), which starts the line anew for eight readings.
    wait_served 2495000 2505000 90 >/dev/null
    ntpdig_query dig-gps
    ntpdig_offset=$(json dig-gps offset)
    qxr_expect_eq "$(json dig-gps stratum)/$(json dig-gps leap)" 1/no-leap "ntpdig: stratum 1, no leap"
    # ntpdig takes one sample, so it is off by up to half the round trip, and on the side of
    # a late receive stamp: under Wine a request can wait some milliseconds before the server
    # reads it (the filtering clients above pick their shortest round trips).
    qxr_expect_range "$(to_us "$ntpdig_offset")" 2495000 2510000 "ntpdig measures the server +2.5 s ahead (us)"
fi

# Versions 1-4 echoed; a client (3) gets a server reply (4), a symmetric active peer (1) a
# symmetric passive one (2); the reply carries the request's transmit time as its origin.
for v in 1 2 3 4; do
    for m in 3 1; do
        r=$(peer exchange "$port" 127.0.0.1 "v${v}m$m")
        echo "--- $r"
        qxr_expect_eq "$(field "$r" length)/$(field "$r" version)/$(field "$r" mode)/$(field "$r" origin_matches)" \
            "48/$v/$((m == 3 ? 4 : 2))/1" "version $v mode $m: 48-byte reply, version $v, mode $((m == 3 ? 4 : 2)), origin"
    done
done

# --- The card's time set 10 minutes ahead while on GPS: the server's line starts anew, and it
# answers unsynchronised until enough readings on GPS agree with the new line - never the new
# time at LI 0 straight away, never a time that is neither. Then back to +2.5 s the same way.
# The served clock's rules are the same code in both builds: x86_64 alone runs them here.
if [ "$QXR_WINE_ARCH" = x86_64 ]; then
    for step in "ahead 2.5 602.5 602500" "back 602.5 2.5 2500"; do
        read -r name old new ms <<<"$step"
        peer watch "$port" 20 >"$out/jump_$name.txt" &
        watcher=$!
        sleep 1
        qxr_wine_simctl "jump_$name" offset "$ms"
        wait "$watcher"
        echo "--- card ${old} s -> ${new} s ahead: $(grep -c ' li=3 ' "$out/jump_$name.txt") unsynchronised," \
            "$(grep -c ' li=0 ' "$out/jump_$name.txt") synchronised replies"
        res=$(served_run "jump_$name" "$old" "$new")
        qxr_expect_eq "${res% new=*}" "wrong=0 unsync_first=1" \
            "card set from +$old s to +$new s: unsynchronised first, nothing but the two times at LI 0"
        qxr_expect_range "${res##*new=}" 1 1000 "card set from +$old s to +$new s: then served at +$new s"
    done
    r=$(wait_served 2495000 2505000 30)
    qxr_expect_range "$(to_us "$(field "$r" offset)")" 2495000 2505000 "the card back at +2.5 s served synchronised again"
fi

# --- The on-board clock: still stratum 1, the dispersion growing with the last GPS reading's age.
# (From a line of GPS readings: synchronised before the switch.)
wait_served 2495000 2505000 90 >/dev/null
qxr_wine_simctl holdover reference clock gps on
sleep 2
r1=$(ntplib_query)
sleep 10
r2=$(ntplib_query)
qxr_expect_eq "$(field "$r1" li)/$(field "$r1" stratum)/$(field "$r2" li)/$(field "$r2" stratum)" 0/1/0/1 \
    "on-board clock: LI 0, stratum 1 in both queries"
d1=$(to_us "$(field "$r1" root_dispersion)") d2=$(to_us "$(field "$r2" root_dispersion)")
# 15 ppm of 10 s is 150 us (the field's unit is 15 us); the line's slope error carried past
# its newest reading (a second at most here) moves each query's figure by up to about 50 us.
qxr_expect_range "$((d2 - d1))" 60 300 "on-board clock: root dispersion grew between the queries (us)"

# --- Reference none: unsynchronised, and every client refuses it.
qxr_wine_simctl none reference none
r=$(wait_ntplib ' li=3 stratum=0 ' 5)
echo "--- ntplib: $r"
qxr_expect_eq "$(field "$r" li)/$(field "$r" stratum)/$(field "$r" refid)" 3/0/0 \
    "reference none: ntplib sees LI 3, stratum 0, reference ID 0"
chrony_query none 10
qxr_expect "$out/none/chronyd.out" 'No suitable source' "reference none: chronyd refuses the server"
qxr_expect_not "$out/none/chronyd.out" 'System clock wrong by' "reference none: chronyd measures no offset"
qxr_expect_eq "$(chrony_last none 4)/$(chrony_last none 5)" "?/0" "reference none: chronyd logs leap unsynchronised, stratum 0"
if [ -z "$ntpdig_skip" ]; then
    ntpdig_query dig-none
    qxr_expect_eq "$(cat "$out/dig-none.rc")" 1 "reference none: ntpdig exits 1"
    qxr_expect "$out/dig-none.err" 'no eligible servers' "reference none: ntpdig finds no eligible server"
fi
qxr_wine_simctl back reference gps

# --- The card's date 1024 weeks back (a GPS receiver that gets its week era wrong), still
# +2.5 s off the system clock otherwise: event 119 names the date once, the server answers
# unsynchronised and chronyd refuses it, and nothing is corrected from it (no tracking-log
# line, so no step). With the date right again, the server is synchronised again.
r=$(wait_served 2495000 2505000 30)
qxr_expect_range "$(to_us "$(field "$r" offset)")" 2495000 2505000 "before the false date: served synchronised"
era_ms=$((2500 - 1024 * 7 * 86400 * 1000))
qxr_wine_simctl era offset "$era_ms"
qxr_expect_events '^119 warning 20[0-9][0-9]-[01][0-9]-[0-3][0-9]$' 1 10 "event 119 names the card's false date"
era_lines=$(lines)
r=$(wait_ntplib ' li=3 stratum=0 ' 5)
qxr_expect_eq "$(field "$r" li)/$(field "$r" stratum)" 3/0 "false date: ntplib sees LI 3, stratum 0"
chrony_query era 10
qxr_expect "$out/era/chronyd.out" 'No suitable source' "false date: chronyd refuses the server"
qxr_expect_eq "$(chrony_last era 4)/$(chrony_last era 5)" "?/0" "false date: chronyd logs leap unsynchronised, stratum 0"
qxr_expect_eq "$(($(lines) - era_lines))" 0 "false date: no correction while it lasted (tracking log)"
qxr_wine_simctl era_back offset 2500
r=$(wait_served 2495000 2505000 30)
qxr_expect_range "$(to_us "$(field "$r" offset)")" 2495000 2505000 "the date right again: served synchronised at +2.5 s"
qxr_expect_eq "$(qxr_wine_events | grep -c '^119 ')" 1 "event 119 once for the spell"
tr -d '\r' <"$log" | cut -d, -f2 | grep -c '^20[01][0-9]-' >"$out/era_lines.txt"
qxr_expect_eq "$(cat "$out/era_lines.txt")" 0 "no tracking-log line carries the false date"

# --- An allow list with one loopback network only: no answer outside it, an answer inside
# (so that a server answering nobody, or gone, fails). Its entry that is no network is reported.
qxr_wine_reg add "$params" /v NtpAllow /t REG_MULTI_SZ /d '10.0.0.0/8\0127.0.5.0/24\0no-network' /f >/dev/null
qxr_wine_reg query "$params" /v NtpAllow >"$out/allow.reg"
qxr_expect "$out/allow.reg" 'NtpAllow +REG_MULTI_SZ +10\.0\.0\.0/8\\0127\.0\.5\.0/24\\0no-network' \
    "NtpAllow holds three entries"
restart "NtpAllow 10.0.0.0/8, 127.0.5.0/24"
qxr_expect_events '^116 warning no-network$' 1 15 "event 116 names the entry that is no network"
qxr_expect_events "^114 information $port\$" 2 15 "event 114 again"
qxr_expect_eq "$(field "$(peer ntplib "$port")" answered)" 0 "NtpAllow without 127.0.0.1: ntplib gets no answer"
qxr_expect_eq "$(field "$(peer exchange "$port" 127.0.0.9 v4m3)" answered)" 0 \
    "NtpAllow without 127.0.0.9: no answer to it either"
qxr_expect_eq "$(field "$(peer exchange "$port" 127.0.5.9 v4m3)" answered)" 1 \
    "NtpAllow with 127.0.5.0/24: 127.0.5.9 answered"

# --- The rate limit at its defaults (a burst of 8, one in 8 s, one in 4 of the excess
# answered): 208 requests from one address in half a second get the burst and a quarter
# of the other 200, about 58.
qxr_wine_reg delete "$params" /v NtpAllow /f >/dev/null
qxr_wine_reg delete "$params" /v NtpRateInterval /f >/dev/null
restart "default rate limit"
qxr_expect_events "^114 information $port\$" 3 15 "event 114 again"
wait_ntplib ' stratum=1 ' 20 >/dev/null
r=$(peer burst "$port" 127.0.2.1 208)
echo "--- burst: $r"
qxr_expect_eq "$(field "$r" sent)" 208 "burst: 208 requests sent"
qxr_expect_range "$(field "$r" answered)" 40 76 "burst: only the first 8 and the leaked quarter answered"

# --- A flood far beyond what the server answers: 40,000 requests/s from 256 addresses for
# 10 s. The server's CPU budget (NtpCpuPercent, 20 % by default) bounds the service's CPU time,
# the corrections keep their schedule (a tracking-log line a second), and a fresh client is
# answered within a second after the flood ends.
# One flood is enough, as one soak is: x86_64 alone (the budget is the same code in both).
if [ "$QXR_WINE_ARCH" = x86_64 ]; then
    qxrsync_pid=$(qxr_wine_pid QxrSync.exe)
    wineserver_pid=$(qxr_wine_pid wineserver)
    qxr_expect_range "${qxrsync_pid:-0}" 1 9999999 "flood: QxrSync.exe's process found"
    flood_lines=$(lines)
    "$QXR_NTP_LOAD" --port "$port" --flood 40000 --seconds 10 --sources 256 >"$out/flood.out" 2>&1 &
    flood=$!
    QXR_WINE_BG_PIDS+=("$flood")
    sleep 0.5
    cpu_before=$(qxr_cpu_seconds "$qxrsync_pid") wine_before=$(qxr_cpu_seconds "$wineserver_pid")
    sleep 9
    cpu_after=$(qxr_cpu_seconds "$qxrsync_pid") wine_after=$(qxr_cpu_seconds "$wineserver_pid")
    flood_corrections=$(($(lines) - flood_lines))
    wait "$flood"
    sed 's/^/    /' "$out/flood.out"
    cpu_pct=$(awk -v a="$cpu_before" -v b="$cpu_after" 'BEGIN { printf "%.0f", (b - a) / 9 * 100 }')
    wine_pct=$(awk -v a="$wine_before" -v b="$wine_after" 'BEGIN { printf "%.0f", (b - a) / 9 * 100 }')
    echo "--- flood: QxrSync.exe used ${cpu_pct} % of a core, its wineserver ${wine_pct} %"
    qxr_expect "$out/flood.out" '^flood 40000/s for 10 s: sent [0-9]{6}' "flood: the generator offered its requests"
    # The budget bounds the time the server's threads are busy, and while they are busy the
    # service and its wineserver take turns (each receive and send is a request to the wineserver).
    qxr_expect_range "$cpu_pct" 1 25 "flood: QxrSync.exe within its 20 % CPU budget and a margin (% of a core)"
    qxr_expect_range "$((cpu_pct + wine_pct))" 1 30 "flood: QxrSync.exe and its wineserver together within the budget and a margin (% of a core)"
    qxr_expect_range "$flood_corrections" 8 14 "flood: the corrections keep their schedule (tracking-log lines in about 10 s)"
    after=$(sed -n 's/.*the first answered one was sent \([0-9]*\) ms after the flood ended.*/\1/p' "$out/flood.out")
    qxr_expect_range "${after:-none}" 0 1000 "flood: a fresh client answered within a second after it (ms)"
    qxr_expect "$out/flood.out" 'from 1 s after the flood on: ([0-9]+) of \1 answered' \
        "flood: every fresh client answered from a second after it on"
fi

# --- Malformed requests: none answered, and the next good request from the same address is.
peer malformed "$port" 127.0.3 >"$out/malformed.out"
sed 's/^/    /' "$out/malformed.out"
qxr_expect_eq "$(wc -l <"$out/malformed.out")" 18 "every malformed kind sent"
qxr_expect_eq "$(grep -cv ' answered=0 next_good_answered=1$' "$out/malformed.out")" 0 \
    "no malformed request answered, each next good request answered"

# --- The port taken by another program: event 115, and the corrections go on.
qxr_expect_eq "$(qxr_wine_service stop QxrSync 20000)" "result=ok" "service stopped (port taken)"
gone
# Python itself in the background (not through a function), so that $! is its PID.
/usr/bin/python3 "$QXR_NTP_PEER" hold "$port" 60 >"$out/hold.out" 2>&1 &
holder=$!
QXR_WINE_BG_PIDS+=("$holder") # ended by the harness's clean-up too
for ((i = 0; i < 50; i++)); do grep -q '^bound$' "$out/hold.out" && break; sleep 0.1; done
qxr_expect "$out/hold.out" '^bound$' "port $port taken by another program"
qxr_expect_eq "$(qxr_wine_service start QxrSync 20000)" "result=ok" "service started (port taken)"
qxr_expect_events "^115 warning $port( |\$)" 1 15 "event 115: the port cannot be used"
before=$(lines)
sleep 5
qxr_expect_range "$(($(lines) - before))" 3 20 "port taken: the corrections go on (tracking log lines in 5 s)"
kill "$holder" 2>/dev/null
wait "$holder" 2>/dev/null

tr -d '\r' <"$log" >"$out/tracking.csv"
rc=0; qxr_wine_run remove 60 "$QXR_WINE_ARCH" QxrSync.exe -r || rc=$?
qxr_expect "$out/remove.out" '^QxrSync removed\.$' "-r removes the service"
echo "--- events:"
qxr_wine_events | grep -E '^11[4-6] ' | sed 's/^/    /'
echo "--- measured offsets of the server, card set +2.500 s: chronyd ${chrony_offset:-none} s," \
    "ntpdig ${ntpdig_offset:-none} s, ntplib ${ntplib_offset:-none} s"
qxr_wine_finish
