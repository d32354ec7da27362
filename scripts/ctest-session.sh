#!/usr/bin/env bash
# Runs CTest for one build with one Wine server, and Wine's own background services,
# started beforehand: processes that outlive a test must not hold the test's output
# pipes. ctest-session.sh 32|64 [CTest arguments]
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
use_wine "$1"
shift

"$WINESERVER_BIN" -k 2>/dev/null || true
trap '"$WINESERVER_BIN" -k 2>/dev/null || true' EXIT
"$WINESERVER_BIN" -p </dev/null >/dev/null 2>&1
timeout 120 "$WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
if [ -n "${DISPLAY:-}" ] && [ -f "$bdir/StartDesktop.exe" ]; then
    timeout 120 "$WINE" "$bdir/StartDesktop.exe" </dev/null >/dev/null 2>&1 || true
fi
cd "$bdir"
# CTest lists each test program's cases as it starts (and keeps a list until its
# program changes). A Wine process that dies while listing fails the whole run with
# no test named: the lists are made first, again when that fails.
for try in 1 2 3; do
    ctest -N >/dev/null 2>&1 && break
    echo "ctest-session: listing the tests failed (try $try of 3)" >&2
done
# Now and then a Wine process dies as it exits, after its tests have passed (a
# segmentation fault in the host's loader): a test is run once more when it
# fails, so a test that fails fails twice.
ctest --output-on-failure -j"${CTEST_JOBS:-2}" --timeout 300 --repeat until-pass:2 "$@"
status=$?
# What this machine ran: the engine's kernel variant, and why a case skipped.
awk '{sub(/\r$/, "")} /^\[ VARIANT  \]/ {print} /: Skipped$/ {getline; sub(/\r$/, ""); print "[ SKIPPED  ] " $0}' \
    Testing/Temporary/LastTest.log 2>/dev/null | sort -u
exit $status
