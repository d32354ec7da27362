#!/usr/bin/env bash
# Runs the x86-64 twin's suite (scripts/suite.sh 64) with one busy loop per processor
# beside it the whole time, as on a shared machine that other work keeps busy:
# busy-suite.sh [CTest arguments]. The loops end with the script, however it ends.
# Needs the build (configure_and_build 64, or scripts/test.sh).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

loops=()
stop_loops() {
    local pid
    for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${loops[@]}"; do wait "$pid" 2>/dev/null; done
}
trap stop_loops EXIT
trap 'exit 130' INT TERM
for ((i = 0; i < $(nproc); i++)); do
    bash -c 'while :; do :; done' &
    loops+=($!)
done
echo "busy-suite: ${#loops[@]} busy loops beside the x86-64 suite"
start=$SECONDS
bash "$root/scripts/suite.sh" 64 "$@"
status=$?
echo "busy-suite: suite exited $status after $((SECONDS - start)) s"
exit $status
