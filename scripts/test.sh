#!/usr/bin/env bash
# Installs what is missing, builds the product (PE32) and its x86-64 twin, checks the
# shipped program's file, and runs both test suites under Wine: the twin's under
# wine64; the PE32 one natively where this kernel runs 32-bit programs, otherwise
# inside an emulated Debian guest whose kernel does. Extra arguments go to CTest.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$root/scripts/setup.sh" || exit 1
# Without 32-bit programs the PE32 suite needs the guest: make it (mostly downloads)
# while the builds compile.
# PE32_IN_GUEST=1 takes the guest's way even where 32-bit programs run here.
pe32_native=0
if [ -z "${PE32_IN_GUEST:-}" ] && can_run_32bit; then pe32_native=1; fi
guest_prepare=
if [ $pe32_native = 0 ]; then
    guest_log=$(mktemp)
    bash "$root/scripts/guest/prepare.sh" >"$guest_log" 2>&1 &
    guest_prepare=$!
fi
build_start=$SECONDS
configure_and_build 32 || exit 1
configure_and_build 64 || exit 1
build_seconds=$((SECONDS - build_start))

results=("$(printf '%-44s %-12s %4d s' "both builds" passed $build_seconds)")
failed=0
step() {  # step NAME COMMAND...: runs one stage and notes its outcome and time
    local name=$1 start=$SECONDS status=0
    shift
    echo "=== $name"
    "$@" || status=$?
    local outcome=passed
    [ $status -eq 0 ] || { outcome="FAILED ($status)"; failed=1; }
    results+=("$(printf '%-44s %-12s %4d s' "$name" "$outcome" $((SECONDS - start)))")
}

step "PE32 program file (not run)" python3 "$root/scripts/check-pe32.py" "$build/Burnwright.exe"
step "x86-64 program file (not run)" python3 "$root/scripts/check-pe32.py" "$build64/Burnwright64.exe"
step "PE32 kernel code (not run)" python3 "$root/scripts/check-kernel-code.py" "$build/libburnwright_core.a"
step "x86-64 twin suite, wine64" bash "$root/scripts/suite.sh" 64 "$@"
if [ $pe32_native = 1 ]; then
    step "PE32 suite, 32-bit Wine on this machine" bash "$root/scripts/suite.sh" 32 "$@"
else
    echo "The PE32 suite runs in an emulated Debian guest (this kernel runs no 32-bit programs, or PE32_IN_GUEST is set)."
    wait_start=$SECONDS
    wait "$guest_prepare"
    echo "(waited $((SECONDS - wait_start)) s for the guest's preparation, made beside the builds:)"
    cat "$guest_log"
    step "PE32 suite, 32-bit Wine in the guest" bash "$root/scripts/guest/run-suite.sh" "$@"
fi

echo "=== Summary"
printf '%s\n' "${results[@]}"
exit $failed
