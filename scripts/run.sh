#!/usr/bin/env bash
# Installs what is missing, builds Burnwright and starts it under Wine (inside a
# private Xvfb display when there is no display): Burnwright64.exe on an x86-64
# machine, Burnwright.exe (PE32) where only 32-bit programs run.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$root/scripts/setup.sh"
if [ "$(uname -m)" = x86_64 ] && [ -x /usr/lib/wine/wine64 ]; then
    bits=64
    echo "Starting Burnwright64.exe (x86-64) under wine64."
else
    bits=32
    echo "Starting Burnwright.exe (PE32) under 32-bit Wine."
fi
configure_and_build $bits Burnwright
use_wine $bits
prepare_wine_prefix

cd "${BURNWRIGHT_WORKDIR:-$root}"
if [ -z "${DISPLAY:-}" ]; then
    echo "No display: starting Burnwright inside Xvfb (screen :99 unless taken)."
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$WINE" "$program"
fi
exec "$WINE" "$program"
