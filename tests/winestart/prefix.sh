#!/bin/sh
# The Wine prefix the Wine tests share, made once per test run and removed after it.
#   prefix.sh setup DIR STANDIN   makes the prefix, installs the stand-in starter as
#                                 C:\Program Files\Holmgard\Velmar Tides\TidesStartup.exe and
#                                 sets GAMEPATH there as the game's installer would
#   prefix.sh cleanup DIR         stops the prefix's Wine server and deletes the prefix
# Wine's output goes to DIR.log, never to a pipe (its server outlives the command).
set -eu
export LANG=C.UTF-8 WINEDEBUG=-all WINEPREFIX="$2"
log="$2.log"
case "$1" in
setup)
    if [ -d "$2" ]; then WINEPREFIX="$2" wineserver -k >>"$log" 2>&1 || true; fi
    rm -rf "$2"
    mkdir -p "$2"
    wineboot --init >"$log" 2>&1
    game="$2/drive_c/Program Files/Holmgard/Velmar Tides"
    mkdir -p "$game"
    cp "$3" "$game/TidesStartup.exe"
    wine reg add 'HKLM\Software\Holmgard\VELMARTIDES' /v GAMEPATH \
        /d 'C:\Program Files\Holmgard\Velmar Tides' /f >>"$log" 2>&1
    # Neighbours whose place in Wine's order a plain string comparison gets wrong.
    for key in 'Holm\Sub' 'Holm 2' 'Holm_Tools' 'HolmA'; do
        wine reg add "HKLM\\Software\\$key" /v Name /d "$key" /f >>"$log" 2>&1
    done
    # The registry reaches system.reg when the server ends (it saves only now and then before).
    wineserver -w >>"$log" 2>&1
    grep -q '^"GAMEPATH"=' "$2/system.reg"
    ;;
cleanup)
    wineserver -k >>"$log" 2>&1 || true
    rm -rf "$2" "$log"
    ;;
*)
    echo "usage: $0 setup DIR STANDIN | cleanup DIR" >&2
    exit 2
    ;;
esac
