#!/usr/bin/env bash
# Installs what is missing, builds Burnwright and starts it under Wine (inside a
# private Xvfb display when there is no display): the PE32 program where this
# kernel runs 32-bit programs, otherwise its x86-64 twin.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$root/scripts/setup.sh"
if can_run_32bit; then
    bits=32
    echo "Starting Burnwright.exe (PE32) under 32-bit Wine."
else
    bits=64
    echo "This kernel runs no 32-bit programs: starting the x86-64 twin under wine64."
fi
configure_and_build $bits Burnwright
use_wine $bits
prepare_wine_prefix

cd "${BURNWRIGHT_WORKDIR:-$root}"
if [ -z "${DISPLAY:-}" ]; then
    echo "No display: starting Burnwright inside Xvfb (screen :99 unless taken)."
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$WINE" "$bdir/Burnwright.exe"
fi
exec "$WINE" "$bdir/Burnwright.exe"
