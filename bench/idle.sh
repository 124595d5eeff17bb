#!/usr/bin/env bash
# Wake-ups of an idle launcher: the real program (velmar-launcher) on the offscreen platform with
# a fresh XDG_CONFIG_HOME, left alone for 2 s to settle, then its context switches (voluntary
# and involuntary, summed over all its threads from /proc/PID/task/*/status) are read before and
# after 65 s of idleness (longer than Qt's 30 s clean-up timers, so a timer started by the first
# paint is seen). Every wake-up of a thread costs at least one switch, so
# switches / second is an upper bound of its wake-ups. Goal: ~0.
#
# usage: bench/idle.sh [SECONDS] [BIN_DIR]     (defaults: 65, build-bench/bin)
#
# Two states are measured: a first start (Singleplayer, empty settings) and Multiplayer /
# Client with an installation and the server address 127.0.0.1 typed (written by bench-seed).
# A third, the control, proves that the counters see wake-ups at all.
set -euo pipefail

seconds=${1:-65}
here=$(cd "$(dirname "$0")" && pwd)
bin=${2:-$here/../build-bench/bin}
for p in velmar-launcher bench-seed; do
    [[ -x $bin/$p ]] || { echo "missing $bin/$p (cmake --preset bench && cmake --build build-bench -j2)" >&2; exit 1; }
done
export QT_QPA_PLATFORM=offscreen
runtime=$(mktemp -d)
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR=$runtime

# "tid switches" for every thread of PID
switches() {
    local status tid
    for status in /proc/"$1"/task/*/status; do
        tid=${status%/status}
        tid=${tid##*/}
        awk -v tid="$tid" '/^(voluntary|nonvoluntary)_ctxt_switches:/ { s += $2 } END { print tid, s }' "$status" 2>/dev/null || true
    done
}

# measure LABEL SEED COMMAND...
measure() {
    local label=$1 seed=$2 cfg pid
    shift 2
    cfg=$(mktemp -d)
    export XDG_CONFIG_HOME=$cfg
    [[ -z $seed ]] || "$bin/bench-seed" "$seed"
    "$@" &
    pid=$!
    sleep 2
    if ! kill -0 "$pid" 2>/dev/null; then
        echo "$label: the program ended before the measurement" >&2
        rm -rf "$cfg"
        return 1
    fi
    switches "$pid" >"$cfg/before"
    sleep "$seconds"
    switches "$pid" >"$cfg/after"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    # Threads present in both readings; a thread that came or went is reported separately.
    awk -v label="$label" -v secs="$seconds" '
        NR == FNR { before[$1] = $2; next }
        ($1 in before) { d = $2 - before[$1]; total += d; if (d) busy = busy " " $1 ":" d; seen[$1] = 1; kept++; next }
        { born++ }
        END {
            for (t in before) if (!(t in seen)) gone++
            printf "%-34s threads %d, switches in %d s: %d  -> %.2f wake-ups/s%s%s%s\n",
                label, kept, secs, total, total / secs,
                (busy ? "  (per thread" busy ")" : ""),
                (born ? "  new threads: " born : ""), (gone ? "  ended threads: " gone : "")
        }' "$cfg/before" "$cfg/after"
    rm -rf "$cfg"
}

measure "first start (Singleplayer)" "" "$bin/velmar-launcher"
measure "Multiplayer / Client, 127.0.0.1" client "$bin/velmar-launcher"
# The control: a shell that wakes ten times a second must show about 10 wake-ups/s, or the
# counters of this system can not be trusted.
measure "control: shell waking every 100 ms" "" bash -c 'while :; do sleep 0.1; done'
