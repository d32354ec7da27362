#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under Wine and Xvfb.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

bash "$root/scripts/setup.sh"
configure_and_build
prepare_wine_prefix

# Tests that open windows need a display; give them a private one.
if [ -z "${DISPLAY:-}" ] || [ -n "${CI:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$root/scripts/ctest-session.sh" "$@"
fi
exec bash "$root/scripts/ctest-session.sh" "$@"
