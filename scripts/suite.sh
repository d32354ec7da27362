#!/usr/bin/env bash
# Runs one build's test suite under Wine, in that build's prefix, inside a private
# Xvfb display when there is none: suite.sh 32|64 [CTest arguments].
# Needs the build (scripts/test.sh makes both).
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
use_wine "$1"
shift
prepare_wine_prefix
if [ -z "${DISPLAY:-}" ] || [ -n "${CI:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$root/scripts/ctest-session.sh" "$bits" "$@"
fi
exec bash "$root/scripts/ctest-session.sh" "$bits" "$@"
