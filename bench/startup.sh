#!/usr/bin/env bash
# Start-up of the launcher against three yardsticks, measured in the same run, alternating the
# programs: the empty 391 x 407 Qt Widgets window; the same window showing one line of text
# (which loads the font configuration and a font, as every window with words on it must); and
# the floor, that text window with its settings committed to SQLite before its first frame
# (sqlite-window: a database file in WAL mode, five values in one transaction), which a window
# that keeps its settings in SQLite can not beat.
# Measured: time from exec until the first frame of the window is drawn, and peak memory.
#
# usage: bench/startup.sh [RUNS] [PLATFORM] [BIN_DIR]   (defaults: 20, offscreen, build-bench/bin)
# PLATFORM is offscreen or xcb; for xcb without a DISPLAY a private Xvfb is started.
#
# Each launcher run gets a fresh XDG_CONFIG_HOME (a first start: the settings store is created
# and its defaults written). The start is bash's $EPOCHREALTIME, taken on the very command that
# execs the program; the program reads CLOCK_REALTIME right after its first frame was painted
# and handed to the window system (bench/FirstFrame.h), reports that difference and its peak
# resident memory (VmHWM), then closes. Goals: the launcher at most 1.00 x the floor's time and
# 1.05 x its memory. The ratios to the text window are shown for comparison.
set -euo pipefail

runs=${1:-20}
platform=${2:-offscreen}
here=$(cd "$(dirname "$0")" && pwd)
bin=${3:-$here/../build-bench/bin}
launcher=$bin/launcher-startup
empty=$bin/empty-window
floor=$bin/sqlite-window
for p in "$launcher" "$empty" "$floor"; do
    [[ -x $p ]] || { echo "missing $p (cmake --preset bench && cmake --build build-bench -j2)" >&2; exit 1; }
done

work=$(mktemp -d)
xvfb=
cleanup() {
    [[ -z $xvfb ]] || kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
export QT_QPA_PLATFORM=$platform
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
if [[ $platform == xcb && -z ${DISPLAY:-} ]]; then
    # A display number nobody uses; the server is ready once its socket exists.
    num=90
    while [[ -e /tmp/.X11-unix/X$num || -e /tmp/.X$num-lock ]]; do num=$((num + 1)); done
    Xvfb :$num -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    for ((w = 0; w < 100; w++)); do [[ -e /tmp/.X11-unix/X$num ]] && break; sleep 0.1; done
    export DISPLAY=:$num
fi

# run PROGRAM... -> prints "ms kb"
run() {
    local cfg out
    cfg=$(mktemp -d "$work/cfg.XXXXXX")
    out=$( (export XDG_CONFIG_HOME=$cfg; VELMAR_BENCH_T0=$EPOCHREALTIME exec timeout 30 "$@") )
    rm -rf "$cfg"
    local ms kb
    ms=$(sed -n 's/.*startup_ms=\([0-9.]*\).*/\1/p' <<<"$out")
    kb=$(sed -n 's/.*vmhwm_kb=\([0-9]*\).*/\1/p' <<<"$out")
    [[ -n $ms && -n $kb ]] || { echo "no report from $*: $out" >&2; exit 1; }
    echo "$ms $kb"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One unrecorded run of each, so all start from a warm file cache.
run "$launcher" >/dev/null
run "$empty" >/dev/null
run "$empty" text >/dev/null
run "$floor" >/dev/null

: >"$work/launcher" && : >"$work/empty" && : >"$work/text" && : >"$work/floor"
for ((i = 0; i < runs; i++)); do
    run "$launcher" >>"$work/launcher"
    run "$empty" >>"$work/empty"
    run "$empty" text >>"$work/text"
    run "$floor" >>"$work/floor"
done

lt=$(cut -d' ' -f1 "$work/launcher" | median)
lm=$(cut -d' ' -f2 "$work/launcher" | median)
et=$(cut -d' ' -f1 "$work/empty" | median)
em=$(cut -d' ' -f2 "$work/empty" | median)
tt=$(cut -d' ' -f1 "$work/text" | median)
tm=$(cut -d' ' -f2 "$work/text" | median)
ft=$(cut -d' ' -f1 "$work/floor" | median)
fm=$(cut -d' ' -f2 "$work/floor" | median)
# The spread: each launcher run over the run of the yardstick beside it; the quartiles of those
# ratios show how far one run's ratio can move on this machine.
spread() {
    paste -d' ' "$work/launcher" "$work/$1" | awk '{ print $1 / $3 }' | sort -g |
        awk '{ v[NR] = $1 } END { printf "%.2f-%.2f", v[int((NR + 3) / 4)], v[int((3 * NR + 3) / 4)] }'
}
awk -v n="$runs" -v p="$platform" -v spread="$(spread floor)" -v tspread="$(spread text)" \
    -v lt="$lt" -v lm="$lm" -v et="$et" -v em="$em" -v tt="$tt" -v tm="$tm" -v ft="$ft" -v fm="$fm" 'BEGIN {
    printf "runs: %d each, medians, platform %s, time to the first frame drawn\n", n, p
    printf "%-16s %12s %12s\n", "", "drawn (ms)", "VmHWM (kB)"
    printf "%-16s %12.1f %12d\n", "empty window", et, em
    printf "%-16s %12.1f %12d\n", "text window", tt, tm
    printf "%-16s %12.1f %12d\n", "floor (SQLite)", ft, fm
    printf "%-16s %12.1f %12d\n", "launcher", lt, lm
    printf "launcher / empty window: time %.2f, memory %.2f\n", lt / et, lm / em
    printf "launcher / text window:  time %.2f, memory %.2f (for comparison; run by run, middle half %s)\n",
        lt / tt, lm / tm, tspread
    printf "launcher / floor:        time %.2f (goal <= 1.00: %s), memory %.2f (goal <= 1.05: %s)\n",
        lt / ft, (lt / ft <= 1.00 ? "PASS" : "FAIL"), lm / fm, (lm / fm <= 1.05 ? "PASS" : "FAIL")
    printf "time ratio to the floor run by run, middle half: %s\n", spread
}'
