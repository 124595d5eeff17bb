#!/usr/bin/env bash
# Start-up of the launcher against an empty 391 x 407 Qt Widgets window, measured in the same
# run, alternating the two programs: time from exec until the window is shown, and peak memory.
#
# usage: bench/startup.sh [RUNS] [BIN_DIR]     (defaults: 20, build-bench/bin)
#
# Each run gets a fresh XDG_CONFIG_HOME (the launcher creates its settings store there) and the
# offscreen platform. The start is bash's $EPOCHREALTIME, taken on the very command that execs
# the program; the program reads CLOCK_REALTIME on the first pass of its event loop after show()
# and reports that difference and its peak resident memory (VmHWM), then closes its window.
# Goal: the launcher at most 1.25 x the empty window's time and memory (first start: a fresh
# settings folder each run). A third series, for comparison, starts the launcher again and
# again on one settings folder (no store to create, no first-run values to write).
set -euo pipefail

runs=${1:-20}
here=$(cd "$(dirname "$0")" && pwd)
bin=${2:-$here/../build-bench/bin}
launcher=$bin/launcher-startup
empty=$bin/empty-window
for p in "$launcher" "$empty"; do
    [[ -x $p ]] || { echo "missing $p (cmake --preset bench && cmake --build build-bench -j2)" >&2; exit 1; }
done

export QT_QPA_PLATFORM=offscreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
kept=$work/kept # the settings of the "second start" runs, kept from run to run
mkdir "$kept"

# run PROGRAM [CONFIG_DIR] -> prints "ms kb"; without CONFIG_DIR a fresh one
run() {
    local cfg=${2:-} out
    [[ -n $cfg ]] || cfg=$(mktemp -d "$work/cfg.XXXXXX")
    out=$( (export XDG_CONFIG_HOME=$cfg; VELMAR_BENCH_T0=$EPOCHREALTIME exec timeout 30 $1) )
    [[ -n ${2:-} ]] || rm -rf "$cfg"
    local ms kb
    ms=$(sed -n 's/.*startup_ms=\([0-9.]*\).*/\1/p' <<<"$out")
    kb=$(sed -n 's/.*vmhwm_kb=\([0-9]*\).*/\1/p' <<<"$out")
    [[ -n $ms && -n $kb ]] || { echo "no report from $1: $out" >&2; exit 1; }
    echo "$ms $kb"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One unrecorded run of each, so both start from a warm file cache.
run "$launcher" >/dev/null
run "$empty" >/dev/null
run "$launcher" "$kept" >/dev/null # writes the settings a second start finds

: >"$work/launcher" && : >"$work/empty" && : >"$work/again" && : >"$work/text"
for ((i = 0; i < runs; i++)); do
    run "$launcher" >>"$work/launcher"
    run "$empty" >>"$work/empty"
    run "$launcher" "$kept" >>"$work/again"
    run "$empty text" >>"$work/text"
done

lt=$(cut -d' ' -f1 "$work/launcher" | median)
lm=$(cut -d' ' -f2 "$work/launcher" | median)
et=$(cut -d' ' -f1 "$work/empty" | median)
em=$(cut -d' ' -f2 "$work/empty" | median)
at=$(cut -d' ' -f1 "$work/again" | median)
am=$(cut -d' ' -f2 "$work/again" | median)
tt=$(cut -d' ' -f1 "$work/text" | median)
tm=$(cut -d' ' -f2 "$work/text" | median)
awk -v n="$runs" -v lt="$lt" -v lm="$lm" -v et="$et" -v em="$em" -v at="$at" -v am="$am" -v tt="$tt" -v tm="$tm" 'BEGIN {
    rt = lt / et; rm = lm / em
    printf "runs: %d each, medians (offscreen platform)\n", n
    printf "%-16s %10s %12s\n", "", "shown (ms)", "VmHWM (kB)"
    printf "%-16s %10.1f %12d\n", "empty window", et, em
    printf "%-16s %10.1f %12d\n", "launcher", lt, lm
    printf "%-16s %10.2f %12.2f   goal <= 1.25: time %s, memory %s\n", "ratio", rt, rm,
        (rt <= 1.25 ? "PASS" : "FAIL"), (rm <= 1.25 ? "PASS" : "FAIL")
    printf "for comparison, the launcher starting again on the settings of an earlier run:\n"
    printf "%-16s %10.1f %12d   ratio %.2f / %.2f\n", "second start", at, am, at / et, am / em
    printf "and against an empty window with one line of text (font configuration loaded):\n"
    printf "%-16s %10.1f %12d   launcher ratio %.2f / %.2f\n", "text window", tt, tm, lt / tt, lm / tm
}'
