#!/usr/bin/env bash
# Takes the README's screenshot of a running test under Xvfb, in a copy of the
# test prefix. Needs the build from scripts/test.sh.
# Usage: screenshot.sh [DPI]: at 96 (the default) docs/running.png, at any other
# display scale docs/running-<DPI>dpi.png (Wine's LogPixels in the copied prefix).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
command -v xdotool >/dev/null && command -v xwd >/dev/null \
    || apt-get install -y -q --no-install-recommends xdotool x11-apps >/dev/null

if can_run_32bit; then use_wine 32; else use_wine 64; fi
shots=$(mktemp -d)
cp -a "$WINEPREFIX" "$shots/prefix"
export WINEPREFIX="$shots/prefix"
dpi=${1:-96}
shot=running.png
if [ "$dpi" != 96 ]; then
    shot=running-${dpi}dpi.png
    for key in 'HKCU\Control Panel\Desktop' \
               'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
        "$WINE" reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    done
    "$WINESERVER_BIN" -w
fi

display=:73
Xvfb $display -screen 0 1600x1200x24 >/dev/null 2>&1 &
xvfb=$!
trap '"$WINESERVER_BIN" -k 2>/dev/null; kill $xvfb 2>/dev/null; rm -rf "$shots"' EXIT
export DISPLAY=$display
sleep 1

cd "$shots"
"$WINE" "$program" </dev/null >/dev/null 2>&1 &
window=""
for _ in $(seq 60); do
    window=$(xdotool search --name '^Burnwright$' 2>/dev/null | head -1) && [ -n "$window" ] && break
    sleep 1
done
[ -n "$window" ] || { echo "no window" >&2; exit 1; }
sleep 2

grab() {  # grab NAME: the window, cropped from the root window
    eval "$(xdotool getwindowgeometry --shell "$window")"
    xwd -root -silent | /usr/bin/convert xwd:- -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$root/docs/$1"
}
# Four threads, Enter runs the test, Enter closes the summary of earlier runs.
xdotool key --window "$window" Down Down
xdotool key --window "$window" Return
sleep 3
xdotool key Return 2>/dev/null
sleep 38
grab "$shot"
echo "screenshot written to $root/docs/$shot"
