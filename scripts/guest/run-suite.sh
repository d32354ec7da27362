#!/usr/bin/env bash
# Runs the PE32 suite (scripts/suite.sh 32) in an emulated Debian 12 guest, for hosts
# whose kernel runs no 32-bit programs: run-suite.sh [CTest arguments]   (as root)
# Streams the guest's console and exits with the suite's exit status.
# Settings: GUEST_TIMEOUT_MIN (40), GUEST_MEM_MB (6144), GUEST_CPUS (2), GUEST_CPU (the
# emulated processor, qemu's -cpu), and those of settings.sh: GUEST_CACHE, GUEST_COMPRESS.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/settings.sh"
timeout_min=${GUEST_TIMEOUT_MIN:-40}
mem=${GUEST_MEM_MB:-6144}
cpus=${GUEST_CPUS:-2}
# AVX, AVX2 and FMA with what they need (XSAVE for the registers' state), BMI2 with
# LZCNT (abm), AES and carry-less multiply, so that the suite runs the AVX variant of
# the kernel and those loads' variants in 32-bit mode. No emulator here has AVX-512,
# and this one runs no SHA instructions.
cpu=${GUEST_CPU:-qemu64,+avx,+avx2,+xsave,+xsaveopt,+fma,+f16c,+bmi1,+bmi2,+abm,+movbe,+popcnt,+sse4.1,+sse4.2,+ssse3,+aes,+pclmulqdq}

[ "$(id -u)" -eq 0 ] || guest_die "needs root"
[ -f "$build/Burnwright.exe" ] && [ -f "$build/CTestTestfile.cmake" ] ||
    guest_die "no PE32 build with its tests in $build (scripts/test.sh makes it)"
bash "$guest_dir/prepare.sh" || guest_die "preparing the guest failed"
exec 9<"$cache/.lock"
flock -s 9
kernel=$(ls "$cache"/vmlinuz-* | head -n1)

# --- This run's archive: scripts, the build's runtime files, init, arguments ---
run=$build/guest
rm -rf "$run"
mkdir -p "$run/stage/etc/guest"
install -m 755 "$guest_dir/init" "$run/stage/init"
echo "$root" >"$run/stage/etc/guest/root"
echo "$build" >"$run/stage/etc/guest/build"
for var in CI LANG LC_ALL TZ BUILD_DIR WINEDEBUG; do
    [ -n "${!var+x}" ] && printf '%s=%s\n' "$var" "${!var}"
done >"$run/stage/etc/guest/env"
if [ $# -gt 0 ]; then printf '%s\0' "$@"; fi >"$run/stage/etc/guest/args"

{
    # Parents first: the kernel makes no missing folders.
    dir=$root
    parents=()
    while [ "$dir" != / ]; do parents=("$dir" "${parents[@]}"); dir=$(dirname "$dir"); done
    printf '%s\n' "${parents[@]}"
    [ "$build" = "$root" ] || case $build in "$root"/*) ;; *) echo "$build" ;; esac
    find "$root/scripts" \( -type f -o -type d \)
    find "$build" \( -path "$run" -o -path "$cache" -o -path "$build/wineprefix" -o -name CMakeFiles \
                     -o -path "$build/host" \) -prune -o \
         \( -type d -path "$build/testrun/*" \) -print -o \
         \( -path "$build/testrun/*" \) -o \
         \( -type f \( -name '*.exe' -o -name CTestTestfile.cmake -o -name '*_include.cmake' \
                      -o -name '*_tests.cmake' -o -name DartConfiguration.tcl -o -name CTestCustom.cmake \) -print \) -o \
         \( -type d -print \)
} | sed 's|^/||' | awk '!seen[$0]++' >"$run/files"

(
    (cd "$run/stage" && find . -mindepth 1 | LC_ALL=C sort | cpio --quiet -o -H newc -R 0:0)
    (cd / && cpio --quiet -o -H newc <"$run/files")
) | "${run_compressor[@]}" >"$run/run.cpio" || guest_die "packing this run's archive failed"
cat "$guest_image" "$run/run.cpio" >"$run/initrd"
guest_say "run archive $(du -h --apparent-size "$run/run.cpio" | cut -f1), guest root $(du -h --apparent-size "$guest_image" | cut -f1)"

# --- Boot -------------------------------------------------------------------------
append="console=ttyS0 quiet loglevel=3 panic=-1 mitigations=off tsc=reliable rdinit=/init"
log=$run/console.log
guest_say "booting $(basename "$kernel") (${cpus} CPUs, ${mem} MiB, timeout ${timeout_min} min, -cpu $cpu); console in $log"
t0=${EPOCHREALTIME/./}
: >"$log"
timeout -k 20 "${timeout_min}m" \
    qemu-system-x86_64 -accel tcg,thread=multi -cpu "$cpu" -smp "$cpus" -m "$mem" \
        -nographic -no-reboot -nic none \
        -kernel "$kernel" -initrd "$run/initrd" -append "$append" </dev/null 2>&1 |
while IFS= read -r line; do
    line=${line%$'\r'}
    printf '%s\n' "$line"
    t=$(( (${EPOCHREALTIME/./} - t0) / 100000 ))
    printf '[%5d.%d] %s\n' $((t / 10)) $((t % 10)) "$line" >>"$log"
done
status=("${PIPESTATUS[@]}")
rm -f "$run/initrd" "$run/run.cpio"
[ "${status[0]}" = 124 ] && guest_say "the guest timed out after ${timeout_min} min"

exit_line=$(sed -n 's/^\[[ 0-9.]*\] GUEST-SUITE-EXIT=//p' "$log" | tail -n1)
rc=${exit_line%%[^0-9]*}
if [ -z "$rc" ]; then
    guest_say "the guest ended without the suite's exit code (qemu status ${status[0]}); its last lines:"
    grep -v '^\[[ 0-9.]*\] *$' "$log" | tail -n5 | sed 's/^\[[ 0-9.]*\] /    /' >&2
    exit 1
fi
case $exit_line in
    *" why: "*) guest_say "the suite did not start in the guest: ${exit_line#* why: }"; exit "$rc" ;;
esac
guest_say "suite exit status $rc, $(( (${EPOCHREALTIME/./} - t0) / 1000000 )) s in the guest"
exit "$rc"
