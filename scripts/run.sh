#!/usr/bin/env bash
# Sets up everything and shows a picture: installs what is missing, builds, and runs picwnd on the
# given picture (by default the project's sample). Without a display it runs on a virtual X display
# and saves a screenshot instead.
#   scripts/run.sh [picture]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${PICWND_BUILD_DIR:-$top/build}
picture=$(realpath "${1:-$top/data/sample.png}")

if [[ -n "${DISPLAY:-}" ]] && xset q >/dev/null 2>&1; then
    bash "$top/scripts/deps.sh" build
else
    bash "$top/scripts/deps.sh" build run
fi
cmake -S "$top" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target picwnd

if [[ -n "${DISPLAY:-}" ]] && xset q >/dev/null 2>&1; then
    echo "picwnd is showing $picture: move it with W/A/S/D, T/F/G/H, I/J/K/L, M/N for opacity, X to quit."
    exec "$build/app/picwnd" "$picture"
fi

# No display: show it on a virtual one and take a picture of the screen.
shot=${PICWND_SCREENSHOT:-$top/picwnd-screenshot.png}
exec 3< <(Xvfb -displayfd 1 -screen 0 640x480x24 -nolisten tcp -noreset 2>/dev/null)
xvfb=$!
read -r display <&3
trap 'kill "$picwnd" 2>/dev/null; kill "$xvfb" 2>/dev/null' EXIT
export DISPLAY=:$display
xsetroot -solid '#5a7a5a'
"$build/app/picwnd" "$picture" &
picwnd=$!
for _ in $(seq 100); do
    xwininfo -root -tree | grep -q '"picwnd": ("picwnd"' && break
    sleep 0.05
done
sleep 0.2 # let the window paint its first frame
import -window root "$shot"
echo "No display here: picwnd ran on a virtual X display; its screenshot is $shot"
