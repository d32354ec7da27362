#!/usr/bin/env bash
# Installs the cross toolchains, Wine and Xvfb on Debian 12 (as root). Idempotent.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/apt-update.sh"

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'ok installed'; }

# The product's cross compiler and 32-bit Wine; the x86-64 twin's compiler and wine64.
for p in cmake make g++-mingw-w64-i686-posix mingw-w64-tools binutils-mingw-w64-i686 \
         g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine wine32:i386 wine64 \
         fonts-wine xvfb xauth googletest nlohmann-json3-dev imagemagick x11-utils python3; do
    have "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: missing packages (${need[*]}); run this script as root" >&2
        exit 1
    fi
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        dpkg --add-architecture i386
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt_update
    apt_install "$(. /etc/os-release && echo "$VERSION_CODENAME")" \
        apt-get install -y -q --no-install-recommends "${need[@]}"
fi
