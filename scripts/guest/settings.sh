# Shared by prepare.sh and run-suite.sh: where the guest's parts live and how they are made.
guest_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(cd "$guest_dir/../.." && pwd)
build="${BUILD_DIR:-$root/build}"
# The guest root and kernel outlive a clone: they depend on build-root.sh alone.
cache="${GUEST_CACHE:-/var/cache/burnwright-guest}"
# How the guest root is packed: none boots fastest, zstd and gzip keep the cache small.
compress="${GUEST_COMPRESS:-none}"

guest_say() { echo "guest: $(date +%T) $*" >&2; }
guest_die() { echo "guest: $*" >&2; exit 2; }

case $compress in
    none) run_compressor=(cat); host_tools=(); suffix= ;;
    gzip) run_compressor=(pigz -1); host_tools=(pigz); suffix=.gz ;;
    zstd) run_compressor=(zstd -q -T0 -1); host_tools=(zstd); suffix=.zst ;;
    *) guest_die "GUEST_COMPRESS must be none, zstd or gzip" ;;
esac
host_tools+=(qemu-system-x86 debootstrap cpio binutils-mingw-w64-i686)

guest_key=$( (cat "$guest_dir/build-root.sh"; echo "$compress") | sha256sum | cut -c1-16)
guest_image="$cache/root-$guest_key.cpio$suffix"
