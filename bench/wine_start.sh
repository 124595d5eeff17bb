#!/usr/bin/env bash
# Start through Wine: from pressing Start to the game's process running, against `wine` starting
# the same Windows program directly, both on one warm prefix (its Wine server kept running).
#
# usage: bench/wine_start.sh [RUNS] [BIN_DIR]     (defaults: 10, build-bench/bin)
#
# The "game" is wine-clock.exe installed as TidesStartup.exe in a fresh prefix made here, with
# GAMEPATH set by `wine reg add`; it writes the Unix time at which it began running. Launcher
# series: wine-start-once prints CLOCK_REALTIME just before Start runs. Direct series: bash's
# $EPOCHREALTIME on the command that starts `wine 'C:\...\TidesStartup.exe'`. Each figure is the
# game's own time minus that start. The series alternate run by run after one warm-up of each.
# Goal: the launcher's median at most 1.5 x the direct median.
set -euo pipefail

runs=${1:-10}
here=$(cd "$(dirname "$0")" && pwd)
bin=${2:-$here/../build-bench/bin}
for p in "$bin/wine-start-once" "$bin/wine-clock.exe" \
         "$bin/../libexec/velmar-launcher/velmar-wine-start.exe"; do
    [[ -e $p ]] || { echo "missing $p (cmake --preset bench && cmake --build build-bench -j2)" >&2; exit 1; }
done

work=$(mktemp -d)
export LANG=C.UTF-8 WINEDEBUG=-all WINEPREFIX=$work/prefix QT_QPA_PLATFORM=offscreen
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

echo "making a prefix in $WINEPREFIX (Wine's output: $work/wine.log)"
wineboot --init >"$work/wine.log" 2>&1
game="$WINEPREFIX/drive_c/Program Files/Holmgard/Velmar Tides"
mkdir -p "$game"
cp "$bin/wine-clock.exe" "$game/TidesStartup.exe"
wine reg add 'HKLM\Software\Holmgard\VELMARTIDES' /v GAMEPATH \
    /d 'C:\Program Files\Holmgard\Velmar Tides' /f >>"$work/wine.log" 2>&1
wineserver -w # the registry reaches system.reg when the server ends
wineserver -p >>"$work/wine.log" 2>&1 # from here on the server stays: a warm prefix

clock=$work/clock.txt
export VELMAR_CLOCK_OUT="Z:$clock"

# Waits for the game's record (it may come just after the launcher ended) and prints it.
game_time() {
    local i
    for ((i = 0; i < 3000; i++)); do
        [[ -e $clock ]] && { cat "$clock"; return; }
        sleep 0.01
    done
    echo "no record from the game" >&2
    exit 1
}

through_launcher() {
    rm -f "$clock"
    local out t0
    out=$(cd "$work" && timeout 60 "$bin/wine-start-once")
    t0=$(sed -n 's/^t0_us=//p' <<<"$out")
    [[ -n $t0 ]] || { echo "launcher: $out" >&2; exit 1; }
    echo $(( $(game_time) - t0 ))
}

direct() {
    rm -f "$clock"
    local t0
    t0=${EPOCHREALTIME/./}
    (cd "$game" && exec timeout 60 wine 'C:\Program Files\Holmgard\Velmar Tides\TidesStartup.exe' >>"$work/wine.log" 2>&1)
    echo $(( $(game_time) - t0 ))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

through_launcher >/dev/null
direct >/dev/null
launcher_us=()
direct_us=()
for ((r = 1; r <= runs; r++)); do
    launcher_us+=("$(through_launcher)")
    direct_us+=("$(direct)")
    awk -v r="$r" -v a="${launcher_us[-1]}" -v d="${direct_us[-1]}" \
        'BEGIN { printf "run %2d: Start %7.1f ms   wine directly %7.1f ms\n", r, a / 1000, d / 1000 }'
done
lm=$(printf '%s\n' "${launcher_us[@]}" | median)
dm=$(printf '%s\n' "${direct_us[@]}" | median)
awk -v a="$lm" -v d="$dm" 'BEGIN {
    ratio = a / d
    printf "median: Start %.1f ms, wine directly %.1f ms, ratio %.2f (goal <= 1.5): %s\n",
        a / 1000, d / 1000, ratio, ratio <= 1.5 ? "met" : "NOT met"
}'
