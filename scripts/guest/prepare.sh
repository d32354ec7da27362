#!/usr/bin/env bash
# Makes what the test guest boots from, once: the host's tools, the guest root
# (rebuilt when build-root.sh changes) and Debian's kernel. run-suite.sh calls it;
# it may also run ahead, e.g. while the build compiles, at the lowest priority.
# prepare.sh   (as root)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/settings.sh"
source "$(dirname "${BASH_SOURCE[0]}")/../apt-update.sh"
[ "$(id -u)" -eq 0 ] || guest_die "needs root (apt-get, debootstrap, chroot)"
# At the lowest processor and I/O priority (inherited by everything it starts), so
# that the builds and suites beside it lose as little as possible to it.
renice -n 19 -p $$ >/dev/null 2>&1 || true
ionice -c 3 -p $$ >/dev/null 2>&1 || true

need=()
for p in "${host_tools[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    guest_say "installing ${need[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt_update >/dev/null
    apt-get install -y -q --no-install-recommends "${need[@]}" >/dev/null
fi

mkdir -p "$cache"
exec 9>"$cache/.lock"
flock 9

if [ ! -f "$guest_image" ]; then
    # An interrupted build may have left the host's /dev and /proc mounted in its tree.
    awk -v under="$cache/" 'index($2, under) == 1 {print $2}' /proc/mounts | sort -r |
        while read -r m; do umount -l "$m"; done
    rm -rf --one-file-system "$cache"/root-*
    guest_say "building the guest root (once; a few minutes)"
    start=$SECONDS
    bash "$guest_dir/build-root.sh" "$guest_image" "$compress" "${GUEST_DEB_CACHE:-}"
    guest_say "guest root built in $((SECONDS - start)) s: $(du -h --apparent-size "$guest_image" | cut -f1)"
fi

if ! ls "$cache"/vmlinuz-* >/dev/null 2>&1; then
    guest_say "fetching Debian's kernel"
    depends() { apt-cache depends linux-image-amd64 2>/dev/null | sed -n 's/^ *Depends: \(linux-image-[^ ]*\).*/\1/p' | head -n1; }
    image=$(depends)
    if [ -z "$image" ]; then
        apt_update >/dev/null
        image=$(depends)
    fi
    [ -n "$image" ] || guest_die "apt knows no linux-image-amd64"
    dl=$(mktemp -d "$cache/kernel.XXXXXX")
    trap 'rm -rf "$dl"' EXIT
    chown _apt "$dl" 2>/dev/null || true
    (cd "$dl" && apt-get download -q "$image" >/dev/null)
    dpkg -x "$dl"/*.deb "$dl/x"
    cp "$dl"/x/boot/vmlinuz-* "$cache/"
fi
