#!/usr/bin/env bash
# Runs CTest with one Wine server, and Wine's own background services, started
# beforehand: processes that outlive a test must not hold the test's output pipes.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

wineserver -k 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
wineserver -p </dev/null >/dev/null 2>&1
timeout 120 wine cmd /c exit </dev/null >/dev/null 2>&1 || true
if [ -n "${DISPLAY:-}" ] && [ -f "$build/StartDesktop.exe" ]; then
    timeout 120 wine "$build/StartDesktop.exe" </dev/null >/dev/null 2>&1 || true
fi
cd "$build"
ctest --output-on-failure -j2 --timeout 300 "$@"
