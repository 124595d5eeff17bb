#!/usr/bin/env bash
# Installs the Debian 12 packages the launcher needs to build, run and test. Asks apt only when
# something is missing, so a second run costs nothing.
set -euo pipefail

packages=(
    build-essential cmake pkg-config            # compiler and build
    qt6-base-dev libgl-dev                      # Qt 6 Widgets, Network (libgl-dev: Qt's CMake files want it)
    libsqlite3-dev libpcre2-dev libxml2-dev     # the registry store, dotted-quad matching, page text
    libgtest-dev libgmock-dev libbenchmark-dev  # tests and benchmarks
    clang clang-format libclang-rt-14-dev       # formatting check, fuzzing
    fonts-dejavu-core fonts-liberation2         # the window font (Arial widths) and a fallback
    xvfb xauth imagemagick                      # a display for machines without one, screenshots
    gcc-mingw-w64-x86-64                        # builds the Windows helper that starts the game through Wine
    wine wine64                                 # the tests start a Windows stand-in game through real Wine
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
