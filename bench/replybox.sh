#!/usr/bin/env bash
# Reply to message box, the launcher against the bare Qt floor (see bench/replybox_bench.cpp),
# on a private Xvfb (xcb) and on the offscreen platform. Holds 127.0.0.1:53917 while it runs:
# start it under flock /tmp/velmar-udp53917.lock when tests may run beside it.
#
# usage: bench/replybox.sh [RUNS] [BIN_DIR]     (defaults: 100, build-bench/bin)
set -euo pipefail
runs=${1:-100}
here=$(cd "$(dirname "$0")" && pwd)
bin=${2:-$here/../build-bench/bin}
[[ -x $bin/replybox_bench ]] || { echo "missing $bin/replybox_bench" >&2; exit 1; }
work=$(mktemp -d)
xvfb=
cleanup() {
    [[ -z $xvfb ]] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR=$work
num=90
while [[ -e /tmp/.X11-unix/X$num || -e /tmp/.X$num-lock ]]; do num=$((num + 1)); done
Xvfb :$num -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for ((w = 0; w < 100; w++)); do [[ -e /tmp/.X11-unix/X$num ]] && break; sleep 0.1; done

median_of() { sed -n 's/.*median \([0-9.]*\) ms.*/\1/p' <<<"$1"; }
for platform in xcb offscreen; do
    floor=$(DISPLAY=:$num QT_QPA_PLATFORM=$platform "$bin/replybox_bench" floor "$runs")
    launcher=$(DISPLAY=:$num QT_QPA_PLATFORM=$platform "$bin/replybox_bench" launcher "$runs")
    echo "$floor"
    echo "$launcher"
    awk -v f="$(median_of "$floor")" -v l="$(median_of "$launcher")" -v p="$platform" 'BEGIN {
        printf "%s: launcher / floor (medians) %.2f  goal <= 1.25: %s\n", p, l / f, (l / f <= 1.25 ? "PASS" : "FAIL") }'
done
