#!/usr/bin/env bash
# What opening the settings store costs at two sizes: a store of 50,000 keys (each with one
# value, made by importing a .reg file, as a user with a large registry would) against one of
# 10 values. Measured in the same run, alternating the stores: `velmar-reg query` of one value
# (from exec to exit, bash's $EPOCHREALTIME around the command) and a start of the real
# launcher on that store (to its first frame drawn, bench/FirstFrame.h). Goal: each at most
# 1.2 x on the large store what it takes on the small one. For comparison, not a goal: the
# same query right after another program changed the large store, whose next open reads
# every page once.
#
# usage: bench/store_open.sh [RUNS] [BIN_DIR]   (defaults: 60, build-bench/bin)
set -euo pipefail

runs=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
bin=${2:-$here/../build-bench/bin}
reg=$bin/velmar-reg
launcher=$bin/launcher-startup
for p in "$reg" "$launcher"; do
    [[ -x $p ]] || { echo "missing $p (cmake --preset bench && cmake --build build-bench -j2)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"

# KEYS -> a .reg file with KEYS keys under HKCU\Software\Bench, one REG_SZ value each.
regfile() {
    awk -v n="$1" 'BEGIN {
        print "Windows Registry Editor Version 5.00"
        print ""
        for (i = 0; i < n; i++) {
            printf "[HKEY_CURRENT_USER\\Software\\Bench\\Key %05d]\n", i
            printf "\"Value\"=\"%d\"\n\n", i
        }
    }'
}
for size in small large; do
    mkdir -p "$work/$size"
    [[ $size == small ]] && keys=10 || keys=50000
    regfile "$keys" >"$work/$size.reg"
    XDG_CONFIG_HOME=$work/$size "$reg" import "$work/$size.reg" >/dev/null
done
db() { echo "$work/$1/VelmarLauncher/registry.db"; }
printf 'stores: small %d bytes (10 values), large %d bytes (50,000 keys)\n' \
    "$(stat -c %s "$(db small)")" "$(stat -c %s "$(db large)")"

# query SIZE -> ms from exec to exit of one velmar-reg query of one value.
query() {
    local t0 t1
    t0=$EPOCHREALTIME
    XDG_CONFIG_HOME=$work/$1 "$reg" query 'HKCU\Software\Bench\Key 00007' /v Value >/dev/null
    t1=$EPOCHREALTIME
    awk -v a="${t0/,/.}" -v b="${t1/,/.}" 'BEGIN { printf "%.3f\n", (b - a) * 1000 }'
}
# start SIZE -> ms to the first frame of the launcher on that store.
start() {
    local out ms
    out=$( (export XDG_CONFIG_HOME=$work/$1; VELMAR_BENCH_T0=$EPOCHREALTIME exec timeout 30 "$launcher") )
    ms=$(sed -n 's/.*startup_ms=\([0-9.]*\).*/\1/p' <<<"$out")
    [[ -n $ms ]] || { echo "no report from the launcher: $out" >&2; exit 1; }
    echo "$ms"
}

# Unrecorded: the launcher's first start writes its defaults into each store, the next open
# checks the changed file once; then every store is as a user's is between changes.
for size in small large; do
    start "$size" >/dev/null
    start "$size" >/dev/null
    query "$size" >/dev/null
done
for ((i = 0; i < runs; i++)); do
    for size in small large; do
        query "$size" >>"$work/query.$size"
        start "$size" >>"$work/start.$size"
    done
done
# The same query right after another program's change to the large store.
for ((i = 0; i < runs / 2 + 1; i++)); do
    XDG_CONFIG_HOME=$work/large "$reg" add 'HKCU\Software\Bench' /v Changed /d "$i" /f >/dev/null
    query large >>"$work/query.changed"
done

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# The middle half of the run-by-run ratios (large over the small run beside it).
spread() {
    paste -d' ' "$work/$1.large" "$work/$1.small" | awk '{ print $1 / $2 }' | sort -g |
        awk '{ v[NR] = $1 } END { printf "%.2f-%.2f", v[int((NR + 3) / 4)], v[int((3 * NR + 3) / 4)] }'
}
qs=$(median <"$work/query.small")
ql=$(median <"$work/query.large")
qc=$(median <"$work/query.changed")
ss=$(median <"$work/start.small")
sl=$(median <"$work/start.large")
awk -v n="$runs" -v qs="$qs" -v ql="$ql" -v qc="$qc" -v ss="$ss" -v sl="$sl" \
    -v qspread="$(spread query)" -v sspread="$(spread start)" 'BEGIN {
    printf "runs: %d each, medians in ms\n", n
    printf "%-28s %10s %10s %7s\n", "", "10 values", "50,000", "ratio"
    printf "%-28s %10.1f %10.1f %7.2f (goal <= 1.2: %s; run by run, middle half %s)\n",
        "velmar-reg query /v", qs, ql, ql / qs, (ql / qs <= 1.2 ? "PASS" : "FAIL"), qspread
    printf "%-28s %10.1f %10.1f %7.2f (goal <= 1.2: %s; run by run, middle half %s)\n",
        "launcher to first frame", ss, sl, sl / ss, (sl / ss <= 1.2 ? "PASS" : "FAIL"), sspread
    printf "%-28s %10s %10.1f %7.2f (after a change: every page read once)\n",
        "velmar-reg query, changed", "", qc, qc / qs
}'
