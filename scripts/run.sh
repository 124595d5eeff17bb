#!/usr/bin/env bash
# Builds and starts the launcher. On a machine without a display it starts the launcher on a
# virtual X display of its own, saves a picture of the window to build/launcher.png and ends it.
set -euo pipefail
cd "$(dirname "$0")/.."
caption="Tobrel's Velmar Launch Tool - Version 1.1"

if [ "${1:-}" = --screenshot ]; then
    # Runs inside xvfb-run, on the display it started for us.
    build/bin/velmar-launcher &
    launcher=$!
    trap 'kill $launcher 2>/dev/null || true; wait $launcher 2>/dev/null || true' EXIT
    window=""
    for _ in $(seq 100); do
        window=$(xwininfo -name "$caption" 2>/dev/null | sed -n 's/^xwininfo: Window id: \(0x[0-9a-f]*\).*/\1/p' || true)
        [ -n "$window" ] && break
        kill -0 $launcher 2>/dev/null || { echo "The launcher ended before its window appeared." >&2; exit 1; }
        sleep 0.1
    done
    [ -n "$window" ] || { echo "The launcher's window did not appear within 10 seconds." >&2; exit 1; }
    sleep 0.5 # let it paint
    import -window "$window" build/launcher.png
    exit 0
fi

scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target velmar-launcher velmar-reg

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec build/bin/velmar-launcher
fi

echo "No display found: starting the launcher on a virtual X display and saving a picture to build/launcher.png."
# xvfb-run -a takes a display number no X server holds and gives the server an authority file
# of its own, so this never draws on, or ends up on, somebody else's display.
errors=$(mktemp)
trap 'rm -f "$errors"' EXIT
if ! xvfb-run -a -e "$errors" -s "-screen 0 1024x768x24 -nolisten tcp" "$0" --screenshot; then
    echo "The virtual display or the launcher failed. The X server said:" >&2
    cat "$errors" >&2
    exit 1
fi
echo "Picture: build/launcher.png"
