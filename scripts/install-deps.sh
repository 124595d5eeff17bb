#!/usr/bin/env bash
# Installs the Debian 12 packages the launcher needs: to build and run it by default, and with
# --tests also what the tests, benchmarks, fuzzing, formatting and packaging checks add (and
# what `cpack -G DEB` needs). Asks apt only when something is missing, so a second run costs
# nothing. Without apt-get it names what to install instead.
set -euo pipefail

build_packages=(
    build-essential cmake pkg-config        # compiler and build
    qt6-base-dev libgl-dev                  # Qt 6 Widgets, Network (libgl-dev: Qt's CMake files want it)
    libxcb1-dev                             # X11: a title bar without buttons for the server test
    libsqlite3-dev libpcre2-dev             # the registry store, dotted-quad matching
    liblitehtml-dev                         # the visible text of the address page (CSS engine)
    librsvg2-bin                            # renders the icon's PNG sizes from its SVG
    fonts-dejavu-core fonts-liberation2     # the window font (Arial widths) and a fallback
    xvfb xauth x11-utils imagemagick        # run.sh without a display: a virtual one, a screenshot
    gcc-mingw-w64-x86-64                    # builds the Windows helper that starts the game through Wine
)
test_packages=(
    libgtest-dev libgmock-dev libbenchmark-dev # tests and benchmarks
    clang clang-format libclang-rt-14-dev      # formatting check, fuzzing
    desktop-file-utils appstream man-db        # the distributions' validators of the installed tree
    dpkg-dev file                              # cpack -G DEB (dpkg-shlibdeps computes the dependencies)
    lintian                                    # Debian's checker of the package the tests build
    wine wine64                                # the tests start a Windows stand-in game through real Wine
    gamemode dbus-daemon                       # gamemoderun, the wrapper a WineCommand test runs Wine with, on a session bus
)

packages=("${build_packages[@]}")
case "${1:-}" in
    --tests) packages+=("${test_packages[@]}") ;;
    "") ;;
    *) echo "usage: $0 [--tests]" >&2; exit 2 ;;
esac

if ! command -v apt-get >/dev/null || ! command -v dpkg-query >/dev/null; then
    cat >&2 <<'TEXT'
This system has no apt-get, so nothing is installed here. Please install yourself:
  to build and run: a C++20 compiler, CMake 3.25 or newer, pkg-config, Qt 6 (Base: Widgets,
    Network), libxcb, SQLite 3, PCRE2 (with libpcre2-posix), litehtml 0.6 (later versions changed
    its interface) with gumbo, rsvg-convert, the Liberation or DejaVu fonts, the mingw-w64 C
    compiler for x86_64 (and Wine to play); without a display also Xvfb, xauth, xwininfo and
    ImageMagick.
    Fedora: gcc-c++ cmake pkgconf-pkg-config qt6-qtbase-devel libxcb-devel sqlite-devel pcre2-devel
            litehtml-devel librsvg2-tools liberation-sans-fonts dejavu-sans-fonts mingw64-gcc wine
            xorg-x11-server-Xvfb xorg-x11-xauth xwininfo ImageMagick
    Arch:   base-devel cmake pkgconf qt6-base libxcb sqlite pcre2 litehtml librsvg ttf-liberation
            ttf-dejavu mingw-w64-gcc wine xorg-server-xvfb xorg-xauth xorg-xwininfo imagemagick
  for the tests also: GoogleTest and GoogleMock, Google Benchmark, clang with clang-format and
    its fuzzer runtime, desktop-file-utils, AppStream (appstreamcli), man-db, dpkg, file, Wine,
    GameMode (gamemoderun), D-Bus (dbus-run-session) and (Debian's package checker, so Debian
    only) lintian.
    Fedora: gtest-devel gmock-devel google-benchmark-devel clang clang-tools-extra compiler-rt
            desktop-file-utils appstream man-db dpkg-dev file gamemode dbus
    Arch:   gtest benchmark clang compiler-rt desktop-file-utils appstream man-db dpkg file gamemode dbus
The build then names anything that is still missing.
TEXT
    exit 0
fi

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
