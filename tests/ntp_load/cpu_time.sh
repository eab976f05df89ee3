#!/usr/bin/env bash
# cpu_time.sh: the CPU time (user + system, every thread; utime + stime of /proc/PID/stat)
# that given processes use over an interval, e.g. a server and its wineserver while
# `ntp_load --flood` runs against it.
#
# As a program:  tests/ntp_load/cpu_time.sh SECONDS PID...
#   samples, sleeps SECONDS, samples again and prints
#   "cpu 4.20 s in 10.00 s: 42.0 % of a core (pid 123 3.10 s, pid 456 1.10 s)"
#   (a process that ends meanwhile counts what it had used when last seen; 2 on bad input).
# Sourced:       . tests/ntp_load/cpu_time.sh
#   qxr_cpu_seconds PID...   the CPU seconds these processes have used so far, summed
#   qxr_wine_pid NAME        the PID of the process NAME (QxrSync.exe, udp_responder.exe,
#                            wineserver) of this $WINEPREFIX; nothing when there is none
#
# A flood scenario under Wine (the server on port 11230, QXR_NTP_LOAD the generator):
#   . tests/ntp_load/cpu_time.sh
#   pids="$(qxr_wine_pid QxrSync.exe) $(qxr_wine_pid wineserver)"
#   "$QXR_NTP_LOAD" --port 11230 --flood 40000 --seconds 10 --sources 256 >flood.out &
#   sleep 0.2; tests/ntp_load/cpu_time.sh 9.5 $pids   # "... % of a core" is the figure
#   wait    # flood.out: what the flood got answered, and fresh requests after it

# qxr_cpu_ticks PID: utime + stime in clock ticks; empty when the process is gone.
qxr_cpu_ticks() {
    local stat
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    # The name (field 2) may hold spaces and parentheses: count the fields after its last ')'.
    echo "${stat##*) }" | awk '{ print $12 + $13 }'
}

qxr_cpu_seconds() {
    local pid ticks total=0 hz
    hz=$(getconf CLK_TCK)
    for pid in "$@"; do
        ticks=$(qxr_cpu_ticks "$pid")
        total=$((total + ${ticks:-0}))
    done
    awk -v t="$total" -v hz="$hz" 'BEGIN { printf "%.2f\n", t / hz }'
}

qxr_wine_pid() {
    local name=${1,,} dir comm
    # The kernel keeps 15 characters of a name: compare those first (no process started per
    # entry, there may be hundreds), then the prefix in the environment.
    for dir in /proc/[0-9]*; do
        read -r comm 2>/dev/null <"$dir/comm" || continue
        comm=${comm,,}
        # Debian's wineserver is a script that starts wineserver64 (or wineserver32).
        [ "$name" = wineserver ] && comm=${comm%64} && comm=${comm%32}
        [ "$comm" = "${name:0:15}" ] || continue
        { tr '\0' '\n' <"$dir/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" ||
            continue
        echo "${dir#/proc/}"
        return 0
    done
}

# As a program: the interval's figure.
if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    seconds=$1
    shift
    if ! awk -v s="$seconds" 'BEGIN { exit !(s > 0) }' || [ $# -eq 0 ]; then
        echo "usage: cpu_time.sh SECONDS PID..." >&2
        exit 2
    fi
    hz=$(getconf CLK_TCK)
    declare -A before last
    for pid in "$@"; do
        [[ "$pid" =~ ^[0-9]+$ ]] || { echo "cpu_time.sh: '$pid' is not a PID" >&2; exit 2; }
        before[$pid]=$(qxr_cpu_ticks "$pid")
        [ -n "${before[$pid]}" ] || { echo "cpu_time.sh: no process $pid" >&2; exit 2; }
    done
    start=$(date +%s.%N)
    sleep "$seconds"
    end=$(date +%s.%N)
    total=0 each=
    for pid in "$@"; do
        last[$pid]=$(qxr_cpu_ticks "$pid")
        used=$((${last[$pid]:-${before[$pid]}} - before[$pid]))
        total=$((total + used))
        each+="${each:+, }pid $pid $(awk -v t="$used" -v hz="$hz" 'BEGIN { printf "%.2f", t / hz }') s"
        [ -n "${last[$pid]}" ] || each+=" (ended)"
    done
    awk -v t="$total" -v hz="$hz" -v s="$start" -v e="$end" -v each="$each" 'BEGIN {
        printf "cpu %.2f s in %.2f s: %.1f %% of a core (%s)\n", t / hz, e - s,
            100 * t / hz / (e - s), each }'
fi
