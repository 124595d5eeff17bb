#!/usr/bin/env bash
# Builds and starts the launcher. On a machine without a display it starts the launcher on a
# virtual X display, saves a screenshot of its window to build/launcher.png and ends it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target velmar-launcher velmar-reg

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/bin/velmar-launcher
fi

echo "No display found: starting the launcher on a virtual X display and saving a screenshot to build/launcher.png."
display=":$((90 + RANDOM % 100))"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do
    [ -e "/tmp/.X11-unix/X${display#:}" ] && break
    sleep 0.1
done
DISPLAY="$display" build/bin/velmar-launcher &
launcher=$!
sleep 3
DISPLAY="$display" import -window root -crop 700x560+150+220 +repage build/launcher.png
kill "$launcher" 2>/dev/null || true
wait "$launcher" 2>/dev/null || true
echo "Screenshot: build/launcher.png"
