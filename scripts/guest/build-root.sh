#!/usr/bin/env bash
# Builds the guest's root file system, a minimal Debian 12 with 32-bit Wine, Xvfb
# and CTest, and packs it as a cpio (newc) to boot as the initramfs.
# build-root.sh OUTPUT none|gzip|zstd [DEB-CACHE-DIR]   (as root; needs i686-w64-mingw32-objcopy)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../apt-update.sh"
out=$1
compress=$2
debs=${3:-}
mirror=${GUEST_MIRROR:-http://deb.debian.org/debian}
security=${GUEST_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
suite=bookworm

# Runtime packages: what scripts/suite.sh and CTest call, and busybox for poweroff.
packages=(wine wine32:i386 fonts-wine xvfb xauth cmake procps busybox)

work=$(mktemp -d "$(dirname "$out")/root-build.XXXXXX")
rootfs=$work/root
mounted=()
cleanup() {
    local m
    for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
        m=${mounted[i]}
        umount -l "$m" 2>/dev/null || true
    done
    rm -rf --one-file-system "$work"
}
trap cleanup EXIT

stamp() { echo "build-root: $(date +%T) $*"; }

cache_args=()
if [ -n "$debs" ]; then
    mkdir -p "$debs"
    cache_args=(--cache-dir="$debs")
fi
stamp "debootstrap $suite (minbase)"
debootstrap --variant=minbase "${cache_args[@]}" "$suite" "$rootfs" "$mirror" >"$work/debootstrap.log" 2>&1 || {
    tail -n 30 "$work/debootstrap.log" >&2
    [ -f "$rootfs/debootstrap/debootstrap.log" ] && tail -n 30 "$rootfs/debootstrap/debootstrap.log" >&2
    exit 1
}

bind() {
    mkdir -p "$2"
    mount --bind "$1" "$2"
    mounted+=("$2")
}
mount -t proc proc "$rootfs/proc"; mounted+=("$rootfs/proc")
bind /dev "$rootfs/dev"
bind /dev/pts "$rootfs/dev/pts"
if [ -n "$debs" ]; then
    bind "$debs" "$rootfs/var/cache/apt/archives"
fi
cp /etc/resolv.conf "$rootfs/etc/resolv.conf" 2>/dev/null || true

cat >"$rootfs/etc/apt/sources.list" <<EOF
deb $mirror $suite main
deb $mirror $suite-updates main
deb $security $suite-security main
EOF
# No services start inside the chroot; nothing optional is installed.
printf '#!/bin/sh\nexit 101\n' >"$rootfs/usr/sbin/policy-rc.d"
chmod +x "$rootfs/usr/sbin/policy-rc.d"
cat >"$rootfs/etc/apt/apt.conf.d/90guest" <<'EOF'
APT::Install-Recommends "false";
APT::Install-Suggests "false";
Acquire::Languages "none";
EOF
if [ -n "$debs" ]; then
    echo 'Binary::apt::APT::Keep-Downloaded-Packages "true";' >>"$rootfs/etc/apt/apt.conf.d/90guest"
fi

in_root() { chroot "$rootfs" env DEBIAN_FRONTEND=noninteractive LC_ALL=C PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"; }

stamp "installing ${packages[*]}"
in_root dpkg --add-architecture i386
apt_update in_root >"$work/apt.log" 2>&1
apt_install "$suite" in_root apt-get install -y -q "${packages[@]}" >>"$work/apt.log" 2>&1 ||
    { tail -n 30 "$work/apt.log" >&2; exit 1; }

for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}"; done
mounted=()

stamp "removing documentation, locales and apt's lists"
rm -f "$rootfs/usr/sbin/policy-rc.d" "$rootfs/etc/resolv.conf"
rm -rf "$rootfs"/usr/share/{doc,man,info,lintian,linda,bug,locale,gtk-doc,help} \
       "$rootfs"/usr/share/cmake-*/Help \
       "$rootfs"/var/lib/apt/lists/* "$rootfs"/var/cache/apt/* "$rootfs"/var/cache/debconf/*-old \
       "$rootfs"/var/lib/dpkg/*-old "$rootfs"/var/log/* "$rootfs"/debootstrap \
       "$rootfs"/tmp/* "$rootfs"/run/* "$rootfs"/root/.cache
mkdir -p "$rootfs/usr/share/locale"
printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost\n127.0.1.1\tguest\n' >"$rootfs/etc/hosts"
echo guest >"$rootfs/etc/hostname"
# The kernel opens /dev/console for the init before anything mounts /dev.
[ -c "$rootfs/dev/console" ] || mknod -m 600 "$rootfs/dev/console" c 5 1
[ -c "$rootfs/dev/null" ] || mknod -m 666 "$rootfs/dev/null" c 1 3

# Wine's own DLLs carry their DWARF data (more than half the root): drop it, keep
# each file's alignment so that Wine still maps them straight from the file.
stamp "stripping debug data from Wine's DLLs"
strip_pe() {
    local f alignment
    for f in "$@"; do
        i686-w64-mingw32-objdump -h "$f" 2>/dev/null | grep -q ' \.debug_' || continue
        alignment=$(i686-w64-mingw32-objdump -p "$f" | awk '/^FileAlignment/ {print $2}')
        i686-w64-mingw32-objcopy --strip-debug --file-alignment "0x$alignment" "$f" "$f.stripped"
        cat "$f.stripped" >"$f"
        rm "$f.stripped"
    done
}
export -f strip_pe
find "$rootfs/usr/lib/i386-linux-gnu/wine/i386-windows" -type f -print0 |
    xargs -0 -r -n 40 -P "$(nproc)" bash -c 'strip_pe "$@"' strip_pe

stamp "packing ($compress)"
case $compress in
    none) compressor=(cat) ;;
    gzip) compressor=(pigz -6) ;;
    zstd) compressor=(zstd -q -T0 -10) ;;
    *) echo "build-root: unknown compressor $compress" >&2; exit 2 ;;
esac
(cd "$rootfs" && find . -mindepth 1 -print0 | LC_ALL=C sort -z |
    cpio --null --quiet -o -H newc) | "${compressor[@]}" >"$out.tmp"
mv "$out.tmp" "$out"
stamp "done: $(du -sh --apparent-size "$rootfs" | cut -f1) unpacked, $(du -h --apparent-size "$out" | cut -f1) packed"
