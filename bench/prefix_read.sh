#!/usr/bin/env bash
# What reading the game key from a Wine prefix costs when the prefix's system.reg is odd: the
# peak memory (/usr/bin/time's maximum resident set) of `velmar-reg query` of the game key with
# a system.reg of one 100 MB line before the key, with a 100 MB value line inside the key, and
# with system.reg linked to /dev/zero; beside it the same query on an ordinary small prefix.
# Goal: each odd case within 16 MiB of the ordinary one, and every query ends (no wait on a
# FIFO, which the tests cover).
#
# usage: bench/prefix_read.sh [BIN_DIR]   (default build/bin)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build/bin}
reg=$bin/velmar-reg
[[ -x $reg ]] || { echo "missing $reg (cmake --build build --target velmar-reg)" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "missing /usr/bin/time (Debian: apt-get install time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config
head=$'WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n'
key=$'[Software\\\\Holmgard\\\\VELMARTIDES] 1796766242\n"GAMEPATH"="C:\\\\Game"\n'
long() { head -c $((100 << 20)) /dev/zero | tr '\0' x; }

mkdir -p "$work"/{plain,longline,longvalue,zero}
printf '%s%s\n' "$head" "$key" >"$work/plain/system.reg"
{ printf '%s;' "$head"; long; printf '\n%s\n' "$key"; } >"$work/longline/system.reg"
{ printf '%s%s"Long"="' "$head" "$key"; long; printf '"\n\n'; } >"$work/longvalue/system.reg"
ln -s /dev/zero "$work/zero/system.reg"

printf '%-10s %10s  %s\n' prefix "peak KiB" "exit status"
declare -A peak
for p in plain longline longvalue zero; do
    status=0
    WINEPREFIX=$work/$p /usr/bin/time -f %M -o "$work/$p.rss" \
        "$reg" query 'HKLM\Software\Holmgard\VELMARTIDES' >/dev/null 2>&1 || status=$?
    peak[$p]=$(tail -n 1 "$work/$p.rss")
    printf '%-10s %10s  %s\n' "$p" "${peak[$p]}" "$status"
done
for p in longline longvalue zero; do
    if (( peak[$p] - peak[plain] > 16 * 1024 )); then
        echo "FAIL: $p takes $(( (peak[$p] - peak[plain]) / 1024 )) MiB more than a plain prefix"
        exit 1
    fi
done
echo "goal held: every odd system.reg within 16 MiB of a plain one"
