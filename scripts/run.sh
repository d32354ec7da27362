#!/usr/bin/env bash
# Installs what is missing, builds Burnwright.exe and starts it under Wine
# (inside a private Xvfb display when there is no display).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$root/scripts/setup.sh"
configure_and_build Burnwright
prepare_wine_prefix

cd "${BURNWRIGHT_WORKDIR:-$root}"
if [ -z "${DISPLAY:-}" ]; then
    echo "No display: starting Burnwright inside Xvfb (screen :99 unless taken)."
    exec xvfb-run -a -s "-screen 0 1280x1024x24" wine "$build/Burnwright.exe"
fi
exec wine "$build/Burnwright.exe"
