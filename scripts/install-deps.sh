#!/usr/bin/env bash
# Installs the Debian packages a build needs, only those that are missing.
#   install-deps.sh native   - native build and the simulation
#   install-deps.sh all      - everything: native, mingw-w64 cross builds, Wine and Xvfb
set -euo pipefail
what=${1:-all}

native=(cmake ninja-build g++ make googletest libgtest-dev libgmock-dev pkg-config python3 libplplot-dev)
windows=(mingw-w64 binutils-mingw-w64 wine64 xvfb xdotool x11-apps imagemagick)

need=()
for p in "${native[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || need+=("$p"); done
if [ "$what" = all ]; then
    for p in "${windows[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || need+=("$p"); done
fi

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)

if [ "$what" = all ] && ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    # 32-bit Wine runs the i686 build; it needs the i386 architecture.
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        "${sudo_cmd[@]}" dpkg --add-architecture i386
        apt_updated=
    fi
    need+=(wine32:i386)
fi

if [ ${#need[@]} -gt 0 ]; then
    echo "Installing: ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -qq
    "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
