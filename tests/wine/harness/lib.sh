# The Wine test harness: a shell library that a Wine test script sources.
#
#   . "$QXR_WINE_LIB"                       (CTest passes the path; see tests/wine/README.md)
#   qxr_wine_init my_test                   work dir, prefix path, clean-up on exit
#   qxr_wine_require_arch                   i686: skips (exit 77) when this machine cannot run it
#   qxr_wine_prefix                         a fresh prefix, copied from a cached template
#   qxr_wine_server_start                   persistent wineserver, session traces to files
#   qxr_wine_require_probe                  proves a program of the arch really runs
#   qxr_wine_install "$QXR_WINE_ARCH" a.exe b.dll
#   qxr_wine_driver_install 1 0x320 10      the simulator driver as service QxrDrv
#   qxr_wine_run out1 30 "$QXR_WINE_ARCH" a.exe args...
#   qxr_expect "$QXR_WINE_DIR/out1.out" '^status rc=0 ' "status read"
#   qxr_wine_finish                         exit status from the expectations
#
# Everything this library starts it also ends, by PID or with `wineserver -k` on its own
# prefix; it never touches another prefix, display or process.
#
# Inputs (environment; CTest sets them through qxr_add_wine_test):
#   QXR_WINE_ARCH         x86_64 or i686: the architecture of the programs under test
#   QXR_WINE_PROBE        qxrprobe.exe of that architecture
#   QXR_WINE_SVC          qxrsvc.exe (x86_64), the service control used here
#   QXR_WINE_SVC32        qxrsvc.exe (i686), the one used in a 32-bit-only prefix
#   QXR_SIM_DRIVER        qxrsimdrv.sys (x86_64)
#   QXR_WINE_WORK_ROOT    where the test's work directory goes (default: $TMPDIR or /tmp)
#   QXR_WINE_CACHE        where the template prefix is kept (default: ~/.cache/qxr-wine)
#   QXR_WINE_KEEP=1       keep the prefix after the test (it is 700 MB)
#   QXR_WINE_PREFIX_ARCH  win64 (default: a WOW64 prefix) or win32: a 32-bit-only prefix, as
#                         on 32-bit Windows; Wine's own tools and the service control then run
#                         as i686 programs (a 64-bit loader cannot start in such a prefix)
#   QXR_WINE64_LOADER, QXR_WINE32_LOADER, QXR_WINESERVER   other Wine binaries

QXR_WINE_SKIP=77
QXR_WINE_FAILURES=0
QXR_WINE_SERVER_STARTED=
QXR_WINE_XVFB_PID=
QXR_WINE_BG_PIDS=()
QXR_WINE_SKIPPED_PARTS=()

# The Wine loader for an architecture; the one place that chooses it. /usr/bin/wine is not
# used: with wine32 installed it starts the 32-bit loader even for x86_64 programs.
qxr_wine_loader() {
    case "$1" in
        x86_64) echo "${QXR_WINE64_LOADER:-/usr/lib/wine/wine64}" ;;
        i686) echo "${QXR_WINE32_LOADER:-/usr/lib/wine/wine}" ;;
        *) echo "qxr_wine_loader: unknown architecture '$1'" >&2; return 1 ;;
    esac
}

# wineserver from the same place as the loaders: Debian's wine64 installs it under /usr/lib/wine
# only (the /usr/bin wrappers come from another package, which we do not install).
qxr_wineserver_path() { echo "${QXR_WINESERVER:-/usr/lib/wine/wineserver}"; }

# qxr_wine_tools_arch: the architecture of the prefix's own tools (reg, regedit, cmd, the
# service control): x86_64 in a WOW64 prefix, i686 in a 32-bit-only one.
qxr_wine_tools_arch() {
    if [ "${QXR_WINE_PREFIX_ARCH:-win64}" = win32 ]; then echo i686; else echo x86_64; fi
}
qxr_wine_tools_loader() { qxr_wine_loader "$(qxr_wine_tools_arch)"; }
qxr_wineserver() { "$(qxr_wineserver_path)" "$@"; }

qxr_log() { echo "[wine-test] $*"; }

# qxr_wine_init NAME: the work directory $QXR_WINE_DIR (logs stay there) and $WINEPREFIX.
qxr_wine_init() {
    local name=$1
    : "${QXR_WINE_ARCH:=x86_64}"
    local root=${QXR_WINE_WORK_ROOT:-${TMPDIR:-/tmp}}
    mkdir -p "$root"
    QXR_WINE_DIR="$root/$name.$QXR_WINE_ARCH"
    rm -rf "$QXR_WINE_DIR"
    mkdir -p "$QXR_WINE_DIR"
    export WINEPREFIX="$QXR_WINE_DIR/prefix"
    export WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml="
    export WINEARCH=${QXR_WINE_PREFIX_ARCH:-win64}
    # No display unless a test asks for Xvfb: Wine must not open windows on a real one.
    unset DISPLAY
    trap qxr_wine_cleanup EXIT
    qxr_log "test $name ($QXR_WINE_ARCH), work directory $QXR_WINE_DIR"
}

qxr_wine_skip() {
    echo "SKIPPED: $*"
    exit "$QXR_WINE_SKIP"
}

# qxr_wine_arch_unusable ARCH REASON...: the arch's programs cannot run. Only i686 may be
# impossible on a supported machine (no 32-bit support, no qemu-user): SKIPPED. Every supported
# machine runs x86_64 Wine, so there it is a broken installation: the test fails.
qxr_wine_arch_unusable() {
    local arch=$1
    shift
    [ "$arch" = i686 ] && qxr_wine_skip "$@"
    echo "FAIL: $*"
    exit 1
}

# qxr_wine_require_arch [ARCH]: the arch's Wine loader starts here; i686 is skipped where this
# kernel cannot execute 32-bit ELF programs, x86_64 fails.
qxr_wine_require_arch() {
    local arch=${1:-$QXR_WINE_ARCH} loader out
    loader=$(qxr_wine_loader "$arch") || exit 1
    if [ ! -x "$loader" ]; then
        qxr_wine_arch_unusable "$arch" "no Wine loader for $arch programs ($loader is missing)"
    fi
    if ! out=$("$loader" --version 2>&1 </dev/null); then
        qxr_wine_arch_unusable "$arch" "$arch programs cannot run under Wine on this machine:" \
            "$loader fails to start ($(echo "$out" | tail -n 1))"
    fi
}

# qxr_wine_require_files FILE...: fails the test with a clear message if one is missing.
qxr_wine_require_files() {
    local f
    for f in "$@"; do
        if [ ! -f "$f" ]; then
            echo "FAIL: required file '$f' does not exist (build it first)"
            exit 1
        fi
    done
}

# qxr_wine_require_tools TOOL...: fails the test (no skip) if a host tool is missing;
# scripts/install-deps.sh installs every one of them.
qxr_wine_require_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || {
            echo "FAIL: $tool is missing (scripts/install-deps.sh all)"
            exit 1
        }
    done
}

# qxr_wine_arch_runs ARCH: the arch's Wine loader starts here (for i686: this kernel runs
# 32-bit programs, natively or through qemu-user registered with binfmt_misc).
qxr_wine_arch_runs() {
    local loader
    loader=$(qxr_wine_loader "$1") || return 1
    [ -x "$loader" ] && "$loader" --version >/dev/null 2>&1 </dev/null
}

# qxr_wine_prefix: $WINEPREFIX as a copy of a cached template prefix made by wineboot once
# per Wine version (under a lock, so that parallel tests make it only once). The key also
# records whether 32-bit programs could run when it was made: a prefix made without them has
# an empty syswow64, and every i686 program fails in it ("could not load kernel32.dll").
# QXR_WINE_PREFIX_ARCH=win32 takes a template of its own, made by the 32-bit loader.
qxr_wine_prefix() {
    local loader cache version wow template
    loader=$(qxr_wine_tools_loader)
    cache=${QXR_WINE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/qxr-wine}
    version=$("$loader" --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' '_')
    wow=wow64
    qxr_wine_arch_runs i686 || wow=no32
    [ "$WINEARCH" = win32 ] && wow=win32
    template="$cache/prefix-$version-$wow"
    mkdir -p "$cache"
    (
        flock 9
        if [ ! -f "$template/.qxr-template" ]; then
            qxr_log "making the template prefix $template (once)"
            rm -rf "$template.new"
            WINEPREFIX="$template.new" WINEARCH=$WINEARCH "$loader" wineboot -i \
                </dev/null >"$cache/wineboot.out" 2>&1 || {
                echo "FAIL: wineboot -i failed, see $cache/wineboot.out"
                exit 1
            }
            WINEPREFIX="$template.new" qxr_wineserver -w
            touch "$template.new/.qxr-template"
            rm -rf "$template"
            mv "$template.new" "$template"
        fi
    ) 9>"$cache/lock" || exit 1
    rm -rf "$WINEPREFIX"
    cp -a "$template" "$WINEPREFIX"
}

# qxr_wine_xvfb_start: a private X display of its own; sets DISPLAY.
# Call before qxr_wine_server_start, which then lets Wine draw window frames itself.
qxr_wine_xvfb_start() {
    local n= i fd="$QXR_WINE_DIR/xvfb.display"
    # -displayfd: the server takes the first free display itself and names it, so that tests
    # running side by side never share one (checking the lock files first would race).
    rm -f "$fd"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fd" >"$QXR_WINE_DIR/xvfb.log" 2>&1 &
    QXR_WINE_XVFB_PID=$!
    for i in $(seq 1 100); do
        n=$(head -n 1 "$fd" 2>/dev/null)
        [ -n "$n" ] && [ -e "/tmp/.X11-unix/X$n" ] && break
        n=
        kill -0 "$QXR_WINE_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    if [ -n "$n" ] && kill -0 "$QXR_WINE_XVFB_PID" 2>/dev/null; then
        export DISPLAY=":$n"
        qxr_log "Xvfb on $DISPLAY (pid $QXR_WINE_XVFB_PID)"
        return 0
    fi
    kill "$QXR_WINE_XVFB_PID" 2>/dev/null
    wait "$QXR_WINE_XVFB_PID" 2>/dev/null
    QXR_WINE_XVFB_PID=
    echo "FAIL: could not start Xvfb (see $QXR_WINE_DIR/xvfb.log)"
    exit 1
}

# qxr_wine_server_start [WINEDEBUG]: a persistent wineserver for the prefix, and the first
# process of the session with its stdio on files. services.exe, winedevice.exe and every
# service inherit that stdio and WINEDEBUG: their traces land in $QXR_WINE_DIR/session.err
# (e.g. "-all,warn+debugstr" for OutputDebugString and DbgPrint).
qxr_wine_server_start() {
    local debug=${1:-$WINEDEBUG} loader
    loader=$(qxr_wine_tools_loader)
    qxr_wineserver -p >"$QXR_WINE_DIR/wineserver.out" 2>&1 </dev/null || {
        echo "FAIL: wineserver -p failed"
        exit 1
    }
    QXR_WINE_SERVER_STARTED=1
    WINEDEBUG=$debug "$loader" cmd /c exit \
        </dev/null >"$QXR_WINE_DIR/session.out" 2>"$QXR_WINE_DIR/session.err"
    if [ -n "$QXR_WINE_XVFB_PID" ]; then
        qxr_wine_reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null
    fi
}

# qxr_wine_require_probe [ARCH [PROBE.exe]]: runs the probe program and stops the test
# unless it printed its line: under Wine a program that cannot start may exit 0 silently.
# SKIPPED only for i686 on a machine whose loader cannot start; a loader that starts but
# runs nothing is a broken installation and fails.
qxr_wine_require_probe() {
    local arch=${1:-$QXR_WINE_ARCH} probe=${2:-$QXR_WINE_PROBE} loader out why
    qxr_wine_require_files "$probe"
    loader=$(qxr_wine_loader "$arch")
    out=$(timeout 30 "$loader" "$probe" </dev/null 2>"$QXR_WINE_DIR/probe.err" | tr -d '\r') || true
    if [ "$out" != "qxrprobe runs: $arch" ]; then
        why="(probe printed '${out}'; $(tail -n 1 "$QXR_WINE_DIR/probe.err" 2>/dev/null))"
        qxr_wine_arch_runs "$arch" && {
            echo "FAIL: $arch Wine starts but does not run the probe $why"
            exit 1
        }
        qxr_wine_arch_unusable "$arch" "$arch programs do not run under Wine on this machine $why"
    fi
    qxr_log "probe: $out"
}

# qxr_wine_dir ARCH: the prefix folder for the programs under test, C:\qxr\ARCH.
qxr_wine_dir() { echo "$WINEPREFIX/drive_c/qxr/$1"; }

# qxr_wine_install ARCH FILE...: copies programs and DLLs together into C:\qxr\ARCH, so
# that a program finds its DLLs beside it.
qxr_wine_install() {
    local arch=$1 dir
    shift
    dir=$(qxr_wine_dir "$arch")
    mkdir -p "$dir"
    qxr_wine_require_files "$@"
    cp "$@" "$dir/"
}

# qxr_wine_run NAME TIMEOUT ARCH PROGRAM [ARG...]: runs PROGRAM (a file name in C:\qxr\ARCH,
# or a Wine program such as reg or cmd) with stdin empty; stdout (CR removed) goes to
# $QXR_WINE_DIR/NAME.out, stderr to NAME.err, the exit status to NAME.rc and is returned
# (124 on timeout). Both outputs are printed to the test log.
qxr_wine_run() {
    local name=$1 seconds=$2 arch=$3 program=$4 loader path rc
    shift 4
    loader=$(qxr_wine_loader "$arch")
    path=$(qxr_wine_dir "$arch")/$program
    [ -f "$path" ] || path=$program
    rc=0
    (cd "$QXR_WINE_DIR" && exec timeout --kill-after=5 "$seconds" "$loader" "$path" "$@" \
        </dev/null >"$QXR_WINE_DIR/$name.raw" 2>"$QXR_WINE_DIR/$name.rawerr") || rc=$?
    qxr_wine_strip "$name"
    echo "$rc" >"$QXR_WINE_DIR/$name.rc"
    qxr_wine_show "$name" "$program $*" "$rc"
    return "$rc"
}

# Windows line ends off: NAME.raw -> NAME.out, NAME.rawerr -> NAME.err.
qxr_wine_strip() {
    tr -d '\r' <"$QXR_WINE_DIR/$1.raw" >"$QXR_WINE_DIR/$1.out"
    tr -d '\r' <"$QXR_WINE_DIR/$1.rawerr" >"$QXR_WINE_DIR/$1.err"
}

qxr_wine_show() {
    local name=$1 what=$2 rc=$3
    echo "--- $name: $what (exit $rc)"
    sed 's/^/    /' "$QXR_WINE_DIR/$name.out"
    if [ -s "$QXR_WINE_DIR/$name.err" ]; then
        echo "    [stderr]"
        sed 's/^/    /' "$QXR_WINE_DIR/$name.err"
    fi
}

# qxr_wine_simctl NAME ARG...: the simulator's control tool qxrsimctl.exe (installed in
# C:\qxr\ARCH) with ARGs, expected to succeed. Wine now and then fails to start a program at
# all ("could not be started"); that gets one retry.
qxr_wine_simctl() {
    local name=$1 rc=0
    shift
    qxr_wine_run "$name" 30 "$QXR_WINE_ARCH" qxrsimctl.exe "$@" || rc=$?
    if [ "$rc" != 0 ] && grep -q "could not be started" "$QXR_WINE_DIR/$name.err"; then
        rc=0
        qxr_wine_run "$name" 30 "$QXR_WINE_ARCH" qxrsimctl.exe "$@" || rc=$?
    fi
    qxr_expect_eq "$rc" 0 "qxrsimctl $* succeeded"
}

# qxr_wine_run_bg NAME ARCH PROGRAM [ARG...]: like qxr_wine_run, in the background; finish
# it with qxr_wine_wait_bg NAME TIMEOUT.
qxr_wine_run_bg() {
    local name=$1 arch=$2 program=$3 loader path
    shift 3
    loader=$(qxr_wine_loader "$arch")
    path=$(qxr_wine_dir "$arch")/$program
    [ -f "$path" ] || path=$program
    (cd "$QXR_WINE_DIR" && exec "$loader" "$path" "$@" \
        </dev/null >"$QXR_WINE_DIR/$name.raw" 2>"$QXR_WINE_DIR/$name.rawerr") &
    local pid=$!
    QXR_WINE_BG_PIDS+=("$pid")
    echo "$pid" >"$QXR_WINE_DIR/$name.pid"
    echo "$program $*" >"$QXR_WINE_DIR/$name.cmd"
}

# qxr_wine_wait_bg NAME TIMEOUT: waits for a background program; it is killed (by its PID)
# when it overruns. Returns its exit status (124 on timeout).
qxr_wine_wait_bg() {
    local name=$1 seconds=$2 pid rc=0 i
    pid=$(cat "$QXR_WINE_DIR/$name.pid")
    for ((i = 0; i < seconds * 10; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$pid" 2>/dev/null; then
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        rc=124
    else
        wait "$pid" || rc=$?
    fi
    qxr_wine_strip "$name"
    echo "$rc" >"$QXR_WINE_DIR/$name.rc"
    qxr_wine_show "$name" "$(cat "$QXR_WINE_DIR/$name.cmd")" "$rc"
    return "$rc"
}

# qxr_wine_wait_for_line NAME REGEX TIMEOUT: waits until the output of a background program
# has a line matching REGEX; non-zero on timeout.
qxr_wine_wait_for_line() {
    local name=$1 regex=$2 seconds=$3 i
    for ((i = 0; i < seconds * 20; i++)); do
        tr -d '\r' 2>/dev/null <"$QXR_WINE_DIR/$name.raw" | grep -qE "$regex" && return 0
        sleep 0.05
    done
    echo "timed out after ${seconds}s waiting for /$regex/ from $name"
    return 1
}

# qxr_wine_signal NAME: makes the file that a client's "wait" command polls for, and echoes
# its Windows path (Z: is the root of the host's file system in every prefix).
qxr_wine_signal_path() { echo "Z:${QXR_WINE_DIR//\//\\}\\$1"; }
qxr_wine_signal() { touch "$QXR_WINE_DIR/$1"; }

# qxr_wine_reg ARG...: Wine's reg.exe, e.g. qxr_wine_reg add 'HKLM\...' /v Name /t REG_DWORD /d 5 /f
qxr_wine_reg() {
    "$(qxr_wine_tools_loader)" reg "$@" </dev/null 2>>"$QXR_WINE_DIR/reg.err" | tr -d '\r'
}

# qxr_expect_no_key KEY WHAT: reg's own answer that KEY does not exist (not any failure of reg).
qxr_expect_no_key() {
    qxr_expect_eq "$("$(qxr_wine_tools_loader)" reg query "$1" </dev/null 2>&1 | tr -d '\r')" \
        "reg: Unable to find the specified registry key" "$2"
}

# qxr_wine_service ARG...: the harness's service control (qxrsvc.exe, see its header):
# create, start (waits until running), stop (waits until stopped), delete, state. Prints its
# one-line result and returns 0 on success.
qxr_wine_service() {
    local loader out rc=0
    local svc=$QXR_WINE_SVC
    [ "$(qxr_wine_tools_arch)" = i686 ] && svc=${QXR_WINE_SVC32:-}
    qxr_wine_require_files "$svc"
    loader=$(qxr_wine_tools_loader)
    out=$(timeout 60 "$loader" "$svc" "$@" </dev/null 2>>"$QXR_WINE_DIR/qxrsvc.err") || rc=$?
    out=$(echo "$out" | tr -d '\r')
    echo "qxrsvc $*: $out" >>"$QXR_WINE_DIR/qxrsvc.log"
    echo "$out"
    return "$rc"
}

# The simulator driver as the card's driver service: QxrDrv, kernel driver, automatic start,
# image \SystemRoot\system32\drivers\qxrsimdrv.sys.
QXR_DRIVER_SERVICE=QxrDrv
QXR_DRIVER_KEY='HKLM\System\CurrentControlSet\Services\QxrDrv\Parameters'
QXR_DRIVER_INSTALLED=

# qxr_wine_driver_params BUS PORT IRQ: the driver's "Quoxar Product", "I/O Port" and
# "Interrupt (IRQ)" (REG_DWORD); read when it starts.
qxr_wine_driver_params() {
    qxr_wine_reg add "$QXR_DRIVER_KEY" /v 'Quoxar Product' /t REG_DWORD /d "$(($1))" /f >/dev/null
    qxr_wine_reg add "$QXR_DRIVER_KEY" /v 'I/O Port' /t REG_DWORD /d "$(($2))" /f >/dev/null
    qxr_wine_reg add "$QXR_DRIVER_KEY" /v 'Interrupt (IRQ)' /t REG_DWORD /d "$(($3))" /f >/dev/null
}

# qxr_wine_driver_install [BUS PORT IRQ]: copies the driver into the prefix, registers and
# starts it (with these parameters when given). Fails the test if it does not start.
qxr_wine_driver_install() {
    qxr_wine_require_files "$QXR_SIM_DRIVER"
    cp "$QXR_SIM_DRIVER" "$WINEPREFIX/drive_c/windows/system32/drivers/qxrsimdrv.sys"
    qxr_wine_service create "$QXR_DRIVER_SERVICE" kernel auto \
        '\SystemRoot\system32\drivers\qxrsimdrv.sys' "QXR Card Device Driver" >/dev/null || {
        echo "FAIL: cannot create the driver service"
        exit 1
    }
    QXR_DRIVER_INSTALLED=1
    [ $# -ge 3 ] && qxr_wine_driver_params "$1" "$2" "$3"
    qxr_wine_driver_start || exit 1
}

qxr_wine_driver_start() {
    local out
    out=$(qxr_wine_service start "$QXR_DRIVER_SERVICE") || {
        echo "FAIL: driver did not start: $out"
        return 1
    }
    qxr_log "driver started"
}

qxr_wine_driver_stop() {
    local out
    out=$(qxr_wine_service stop "$QXR_DRIVER_SERVICE") || {
        echo "FAIL: driver did not stop: $out"
        return 1
    }
    qxr_log "driver stopped"
}

# qxr_wine_driver_remove: stops and deletes QxrDrv (an automatic-start service would start
# again with the next session of this prefix).
qxr_wine_driver_remove() {
    [ -n "$QXR_DRIVER_INSTALLED" ] || return 0
    qxr_wine_service stop "$QXR_DRIVER_SERVICE" >/dev/null 2>&1 || true
    qxr_wine_service delete "$QXR_DRIVER_SERVICE" >/dev/null 2>&1 || true
    QXR_DRIVER_INSTALLED=
}

# qxr_wine_cleanup: ends what this test started; runs on exit. Keeps the logs, removes the
# prefix unless QXR_WINE_KEEP=1.
qxr_wine_cleanup() {
    local pid
    for pid in "${QXR_WINE_BG_PIDS[@]}"; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    if [ -n "$QXR_WINE_SERVER_STARTED" ]; then
        qxr_wine_driver_remove
        qxr_wineserver -k >/dev/null 2>&1
        timeout 20 "$(qxr_wineserver_path)" -w >/dev/null 2>&1
        QXR_WINE_SERVER_STARTED=
    fi
    if [ -n "$QXR_WINE_XVFB_PID" ]; then
        kill "$QXR_WINE_XVFB_PID" 2>/dev/null && wait "$QXR_WINE_XVFB_PID" 2>/dev/null
        QXR_WINE_XVFB_PID=
    fi
    if [ "${QXR_WINE_KEEP:-0}" != 1 ] && [ -n "${WINEPREFIX:-}" ]; then
        rm -rf "$WINEPREFIX"
    fi
}

# --- Expectations: each prints PASS or FAIL; qxr_wine_finish turns them into the exit status.

qxr_pass() { echo "PASS: $*"; }
qxr_fail() {
    echo "FAIL: $*"
    QXR_WINE_FAILURES=$((QXR_WINE_FAILURES + 1))
}

# qxr_expect FILE REGEX WHAT: some line of FILE matches the extended REGEX.
qxr_expect() {
    if grep -qE -- "$2" "$1" 2>/dev/null; then qxr_pass "$3"; else qxr_fail "$3 (no line matching /$2/ in $(basename "$1"))"; fi
}

# qxr_expect_not FILE REGEX WHAT: FILE can be read and no line of it matches.
qxr_expect_not() {
    local rc=0
    grep -qE -- "$2" "$1" 2>/dev/null || rc=$?
    case $rc in
        0) qxr_fail "$3 (unexpected line /$2/ in $(basename "$1"))" ;;
        1) qxr_pass "$3" ;;
        *) qxr_fail "$3 (cannot read $1)" ;;
    esac
}

# qxr_expect_eq ACTUAL EXPECTED WHAT
qxr_expect_eq() {
    if [ "$1" = "$2" ]; then qxr_pass "$3"; else qxr_fail "$3 (got '$1', expected '$2')"; fi
}

# qxr_expect_range VALUE MIN MAX WHAT: integer VALUE within [MIN, MAX].
qxr_expect_range() {
    if [[ "$1" =~ ^-?[0-9]+$ ]] && [ "$1" -ge "$2" ] && [ "$1" -le "$3" ]; then
        qxr_pass "$4 ($1)"
    else
        qxr_fail "$4 (got '$1', expected $2..$3)"
    fi
}

# qxr_expect_clock_runs EARLIER LATER WHAT: two readings "dd/mm/yyyy  hh:mm:ss" of a running
# clock, both well formed, the later 1 to 10 s on (an empty or garbled one fails).
qxr_expect_clock_runs() {
    local re='^[0-9]{2}/[0-9]{2}/[0-9]{4}  ([0-9]{2}):([0-9]{2}):([0-9]{2})$' s1 s2
    [[ $1 =~ $re ]] && s1=$((10#${BASH_REMATCH[1]} * 3600 + 10#${BASH_REMATCH[2]} * 60 + 10#${BASH_REMATCH[3]}))
    [[ $2 =~ $re ]] && s2=$((10#${BASH_REMATCH[1]} * 3600 + 10#${BASH_REMATCH[2]} * 60 + 10#${BASH_REMATCH[3]}))
    if [ -z "$s1" ] || [ -z "$s2" ]; then
        qxr_fail "$3 (readings '$1', '$2': not both date and time)"
        return
    fi
    qxr_expect_range "$(((s2 - s1 + 86400) % 86400))" 1 10 "$3 ('$1' to '$2', seconds)"
}

# qxr_field FILE LINE_REGEX KEY: the value of KEY=value on the first line matching LINE_REGEX.
qxr_field() {
    grep -E -- "$2" "$1" 2>/dev/null | head -n 1 | tr ' ' '\n' | sed -n "s/^$3=//p" | head -n 1
}

# qxr_line FILE N REGEX: the Nth (1-based) line of FILE that matches REGEX.
qxr_line() { grep -E -- "$3" "$1" 2>/dev/null | sed -n "${2}p"; }

# --- Event-log entries. Wine stores no events, it traces them (qxr_events.awk; the session
# needs WINEDEBUG "-all,+eventlog,fixme+advapi"). A test names the trace files in
# QXR_WINE_EVENT_TRACES: a service's land in the session's stderr, a command-line run's in
# its own NAME.err.
QXR_WINE_EVENT_TRACES=()
QXR_WINE_EVENTS_AWK=$(dirname "${BASH_SOURCE[0]}")/qxr_events.awk

# qxr_wine_events: the events reported so far, one per line: "<id> <type> <string or ->".
qxr_wine_events() { awk -f "$QXR_WINE_EVENTS_AWK" "${QXR_WINE_EVENT_TRACES[@]}" 2>/dev/null; }

# qxr_wine_wait_events REGEX N SECONDS: waits until N events match; non-zero on timeout.
qxr_wine_wait_events() {
    local i
    for ((i = 0; i < $3 * 4; i++)); do
        [ "$(qxr_wine_events | grep -cE -- "$1")" -ge "$2" ] && return 0
        sleep 0.25
    done
    return 1
}

# qxr_expect_no_events REGEX WHAT [TRACE...]: no event matches in TRACEs (default: all of
# QXR_WINE_EVENT_TRACES), each of which exists, and which show some event (a missing file or a
# session without the event channels would show none).
qxr_expect_no_events() {
    local regex=$1 what=$2 f
    shift 2
    local QXR_WINE_EVENT_TRACES=("${@:-${QXR_WINE_EVENT_TRACES[@]}}")
    for f in "${QXR_WINE_EVENT_TRACES[@]}"; do
        [ -r "$f" ] || { qxr_fail "$what (no event trace $f)"; return; }
    done
    if [ -z "$(qxr_wine_events)" ]; then
        qxr_fail "$what (no event traced at all in: ${QXR_WINE_EVENT_TRACES[*]})"
        return
    fi
    qxr_expect_not <(qxr_wine_events) "$regex" "$what"
}

# qxr_expect_events REGEX N SECONDS WHAT: N events match within SECONDS.
qxr_expect_events() {
    if qxr_wine_wait_events "$1" "$2" "$3"; then qxr_pass "$4"; else
        qxr_fail "$4 (fewer than $2 events /$1/ within $3 s)"
    fi
}

# qxr_wine_skip_part REASON: a part of the test cannot run here. The test then ends SKIPPED
# (77) rather than passed, unless an expectation failed.
qxr_wine_skip_part() {
    echo "SKIPPED (part): $*"
    QXR_WINE_SKIPPED_PARTS+=("$*")
}

# qxr_wine_finish: the test's exit status.
qxr_wine_finish() {
    if [ "$QXR_WINE_FAILURES" -ne 0 ]; then
        echo "RESULT: $QXR_WINE_FAILURES expectation(s) failed; logs in $QXR_WINE_DIR"
        exit 1
    fi
    if [ ${#QXR_WINE_SKIPPED_PARTS[@]} -ne 0 ]; then
        echo "RESULT: every expectation run was met, but not all could run"
        qxr_wine_skip "$(IFS=';' && echo "${QXR_WINE_SKIPPED_PARTS[*]}")"
    fi
    echo "RESULT: all expectations met"
    exit 0
}

# qxr_wine_qxrset_live ARCH: QxrSet, started by the test, shows its dialog with the reference
# GPS and a heartbeat that steps; its controls stay in set1.out and set2.out (a second apart),
# the screen in qxrset.png.
qxr_wine_qxrset_live() {
    local arch=$1 out=$QXR_WINE_DIR i beat1 beat2
    for ((i = 0; i < 60; i++)); do
        qxr_wine_run find 30 "$arch" qxrsetprobe.exe find >/dev/null
        grep -q '^dialog caption=' "$out/find.out" && break
        sleep 0.5
    done
    qxr_expect "$out/find.out" '^dialog caption=QXRSET' "QxrSet shows its dialog"
    sleep 2
    qxr_wine_run set1 30 "$arch" qxrsetprobe.exe controls heartbeat >/dev/null
    sleep 1
    qxr_wine_run set2 30 "$arch" qxrsetprobe.exe controls heartbeat >/dev/null
    import -window root "$out/qxrset.png" 2>/dev/null
    qxr_expect "$out/set2.out" '^control id=1006 .* text=GPS$' "QxrSet: reference GPS"
    beat1=$(sed -n 's/^heartbeat=//p' "$out/set1.out")
    beat2=$(sed -n 's/^heartbeat=//p' "$out/set2.out")
    [ -n "$beat1" ] && [ -n "$beat2" ] && [ "$beat1" != "$beat2" ] &&
        qxr_pass "QxrSet: the heartbeat steps ($beat1, $beat2)" ||
        qxr_fail "QxrSet: the heartbeat did not step ($beat1, $beat2)"
}
