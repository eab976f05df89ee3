#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those that are missing.
#   install-deps.sh native   - native build and the simulation
#   install-deps.sh all      - everything: native, mingw-w64 cross builds, Wine and Xvfb, and
#                              qemu-user so that 32-bit Wine (the i686 build) runs here
#   install-deps.sh --list   - prints the packages "all" installs, one per line (for the check
#                              that every program the scripts call comes from one of them)
set -euo pipefail
what=${1:-all}

# Every program the scripts and the Wine harness call must come from one of these packages;
# scripts/check-deps.py verifies that with dpkg -S before the tests run.
#   coreutils, util-linux (flock), findutils, grep, sed, mawk (awk), bash, dpkg, apt: the shell and
#   package tools (present on every Debian machine; named so that the check below knows them)
#   python3: the resource and version checks; binutils: objdump of the native tools
native=(cmake ninja-build g++ make googletest libgtest-dev libgmock-dev pkg-config python3
    libplplot-dev binutils coreutils util-linux findutils grep sed mawk bash dpkg apt)
# wine64 puts wine64 and wineserver under /usr/lib/wine only; the harness calls them there.
# The /usr/bin wrappers (package "wine") are deliberately not installed: with wine32 present
# /usr/bin/wine starts the 32-bit loader even for x86_64 programs.
windows=(mingw-w64 binutils-mingw-w64 wine64 xvfb xdotool x11-apps imagemagick nsis)
# clang with its runtime (libFuzzer, sanitizers) builds the fuzz targets.
fuzz=(clang libclang-rt-14-dev)
# qemu-user from bookworm-backports runs the 32-bit Wine loader on kernels that cannot execute
# 32-bit programs; bookworm's own qemu 7.2 is far too slow for it (about a minute a process).
backports=(qemu-user qemu-user-binfmt)
# Independent NTP clients and a reference server for the NTP server's Wine test and load
# benchmark: chronyd only ever runs as -Q (query) or -x (never touches the clock); ntpdig and
# python3's ntplib only query.
ntp=(chrony ntpsec-ntpdig python3-ntplib)

if [ "$what" = --list ]; then
    printf '%s\n' "${native[@]}" "${windows[@]}" "${fuzz[@]}" "${backports[@]}" "${ntp[@]}" wine32
    exit 0
fi

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

need=()
for p in "${native[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || need+=("$p"); done
if [ "$what" = all ]; then
    for p in "${windows[@]}" "${fuzz[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || need+=("$p"); done
fi

if [ "$what" = all ] && ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    # 32-bit Wine runs the i686 build; it needs the i386 architecture.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${sudo_cmd[@]}" dpkg --add-architecture i386
    fi
    need+=(wine32:i386)
fi

if [ ${#need[@]} -gt 0 ]; then
    echo "Installing: ${need[*]}"
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# chronyd is a time daemon that would set this machine's clock: the chrony package must
# install without starting it, and stay disabled. Debian's way is a policy-rc.d answering 101
# ("action forbidden") while the package installs; ours is removed again, one already in
# place is left as it was.
chronyd_running() {
    local comm
    for comm in /proc/[0-9]*/comm; do
        [ "$(cat "$comm" 2>/dev/null)" = chronyd ] && return 0
    done
    return 1
}
install_ntp() {
    local p missing=() policy=/usr/sbin/policy-rc.d made_policy=
    for p in "${ntp[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ ! -e "$policy" ]; then
        printf '#!/bin/sh\n# No service may start while packages install.\nexit 101\n' |
            "${sudo_cmd[@]}" tee "$policy" >/dev/null
        "${sudo_cmd[@]}" chmod 755 "$policy"
        made_policy=1
    elif "$policy" chrony start >/dev/null 2>&1; [ $? -ne 101 ]; then
        echo "install-deps: $policy does not forbid starting services; chrony is not installed"
        return 1
    fi
    echo "Installing: ${missing[*]}"
    local rc=0
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" || rc=$?
    [ -n "$made_policy" ] && "${sudo_cmd[@]}" rm -f "$policy"
    return "$rc"
}
if [ "$what" = all ]; then
    install_ntp || echo "install-deps: the NTP clients are missing; the NTP server's tests will fail"
fi
if dpkg -s chrony >/dev/null 2>&1 && [ ! -e /etc/systemd/system/chrony.service ]; then
    # Masked, so that no boot or later package run starts it either.
    "${sudo_cmd[@]}" mkdir -p /etc/systemd/system
    "${sudo_cmd[@]}" ln -s /dev/null /etc/systemd/system/chrony.service || true
fi
if chronyd_running; then
    echo "install-deps: FAILURE: a chronyd is running on this machine and may set its clock;" \
        "it was not started by the tests (stop it by hand, by its PID, after checking what it is)" >&2
    exit 1
fi

[ "$what" = all ] || exit 0

# --- 32-bit programs through qemu-user (binfmt_misc). Each step says in one line why it
# cannot be done; the i686 Wine tests then skip with their own reason.
backports_source=/etc/apt/sources.list.d/qxr-bookworm-backports.sources
add_backports() {
    [ -f "$backports_source" ] && return 0
    local uris
    # The mirror of the machine's first Debian stanza; no host name is written into the repo.
    uris=$(sed -n 's/^URIs:[[:space:]]*//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
    if [ -z "$uris" ]; then
        uris=$(awk '$1 == "deb" && $3 == "bookworm" { print $2; exit }' /etc/apt/sources.list 2>/dev/null)
    fi
    if [ -z "$uris" ]; then
        echo "qemu-user: no Debian mirror found in the apt sources; i686 Wine tests will skip"
        return 1
    fi
    printf 'Types: deb\nURIs: %s\nSuites: bookworm-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "$uris" | "${sudo_cmd[@]}" tee "$backports_source" >/dev/null
    "${sudo_cmd[@]}" apt-get update -qq || {
        echo "qemu-user: bookworm-backports is unreachable; i686 Wine tests will skip"
        "${sudo_cmd[@]}" rm -f "$backports_source"
        return 1
    }
}

install_qemu() {
    local p missing=()
    for p in "${backports[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
    [ ${#missing[@]} -eq 0 ] && return 0
    add_backports || return 1
    echo "Installing from bookworm-backports: ${missing[*]}"
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends -t bookworm-backports "${missing[@]}" || {
        echo "qemu-user: installation from bookworm-backports failed; i686 Wine tests will skip"
        return 1
    }
}

register_i386() {
    local misc=/proc/sys/fs/binfmt_misc conf=/usr/share/qemu/binfmt.d/qemu-i386.conf
    if [ ! -e "$misc/register" ]; then
        "${sudo_cmd[@]}" mount -t binfmt_misc binfmt_misc "$misc" 2>/dev/null || {
            echo "qemu-user: binfmt_misc cannot be mounted here; i686 Wine tests will skip"
            return 1
        }
    fi
    [ -e "$misc/qemu-i386" ] && return 0
    if [ ! -f "$conf" ]; then
        echo "qemu-user: $conf is missing; i686 Wine tests will skip"
        return 1
    fi
    "${sudo_cmd[@]}" sh -c "cat '$conf' >'$misc/register'" 2>/dev/null || {
        echo "qemu-user: the i386 binfmt handler cannot be registered; i686 Wine tests will skip"
        return 1
    }
}

if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    exit 0 # this kernel already runs 32-bit programs
fi
install_qemu && register_i386 || true
