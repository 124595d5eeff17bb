#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks the tree as a distribution would: every
# file in its FHS place under the prefix, the desktop entry, AppStream metainfo and manual pages
# through the distributions' own validators, and the Debian package CPack makes of the same
# install rules (its control fields and its file list).
# Usage: check-packaging.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
id=de.tobrel.VelmarLauncher

for tool in desktop-file-validate appstreamcli man lexgrog cpack dpkg-deb dpkg-shlibdeps file lintian; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh --tests" >&2; exit 1; }
done

work=$(mktemp -d)
# cmake --install rewrites the build's install_manifest.txt, which may list a real installation
# somebody wants to remove with it later: keep theirs.
manifest=$build/install_manifest.txt
if [ -e "$manifest" ]; then cp -p "$manifest" "$work/manifest"; fi
restore() {
    if [ -e "$work/manifest" ]; then cp -p "$work/manifest" "$manifest"; else rm -f "$manifest"; fi
    rm -rf "$work"
}
trap restore EXIT
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# The files (not folders) of a tree, as absolute paths under the prefix, sorted.
files_of() { (cd "$1" && find . ! -type d | sed 's|^\.||' | LC_ALL=C sort); }

echo "== cmake --install into a temporary DESTDIR"
root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log"
files_of "$root" >"$work/installed.txt"
cat "$work/installed.txt"

expected=(
    /usr/bin/velmar-launcher
    /usr/bin/velmar-reg
    "/usr/share/applications/$id.desktop"
    "/usr/share/metainfo/$id.metainfo.xml"
    "/usr/share/icons/hicolor/scalable/apps/$id.svg"
    /usr/share/man/man6/velmar-launcher.6.gz
    /usr/share/man/man1/velmar-reg.1.gz
    /usr/share/doc/velmar-launcher/LICENSE
    /usr/share/doc/velmar-launcher/copyright
    /usr/share/doc/velmar-launcher/changelog.Debian.gz
    /usr/share/lintian/overrides/velmar-launcher
)
sizes=(16 22 24 32 48 64 128 256)
for s in "${sizes[@]}"; do
    expected+=("/usr/share/icons/hicolor/${s}x$s/apps/$id.png")
done
for f in "${expected[@]}"; do
    grep -qxF "$f" "$work/installed.txt" || fail "not installed: $f"
done
if grep -v '^/usr/' "$work/installed.txt"; then
    fail "files installed outside the prefix (above)"
fi
for s in "${sizes[@]}"; do
    file -b "$root/usr/share/icons/hicolor/${s}x$s/apps/$id.png" | grep -q "^PNG image data, $s x $s," ||
        fail "the ${s}x$s icon is not a PNG of that size"
done
for p in velmar-launcher velmar-reg; do
    [ -x "$root/usr/bin/$p" ] || fail "/usr/bin/$p is not executable"
done
XDG_CONFIG_HOME=$work/config "$root/usr/bin/velmar-reg" /? | grep -q "velmar-reg query KEY" ||
    fail "the installed velmar-reg does not run"

echo "== desktop-file-validate"
out=$(desktop-file-validate "$root/usr/share/applications/$id.desktop" 2>&1) || fail "desktop-file-validate failed"
[ -z "$out" ] || fail "desktop-file-validate: $out"

echo "== appstreamcli validate --no-net --strict --pedantic"
appstreamcli validate --no-net --strict --pedantic --explain "$root/usr/share/metainfo/$id.metainfo.xml" ||
    fail "appstreamcli validate"
# The tree as a whole: the metainfo's launchable is the installed desktop entry, its icon found.
appstreamcli validate-tree --no-net --strict "$root/usr" || fail "appstreamcli validate-tree"

echo "== man --warnings"
for page in man6/velmar-launcher.6.gz man1/velmar-reg.1.gz; do
    f=$root/usr/share/man/$page
    warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$f" 2>&1 >"$work/page.txt") || fail "man -l $page"
    [ -z "$warnings" ] || fail "man --warnings $page: $warnings"
    grep -q "^SYNOPSIS" "$work/page.txt" || fail "$page renders no SYNOPSIS"
    # whatis and apropos read the NAME section through lexgrog.
    lexgrog "$f" | grep -q ' - ' || fail "lexgrog finds no NAME line in $page"
done

echo "== cpack -G DEB"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >"$work/cpack.log" ||
    { cat "$work/cpack.log" >&2; fail "cpack"; }
debs=("$work"/deb/velmar-launcher_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { fail "no single velmar-launcher_*.deb: ${debs[*]}"; exit 1; }
deb=${debs[0]}
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "velmar-launcher_$version-1_$arch.deb" ] || fail "package file name $(basename "$deb")"

dpkg-deb --info "$deb" | tee "$work/info.txt"
field() { sed -n "s/^ $1: //p" "$work/info.txt"; }
[ "$(field Package)" = velmar-launcher ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version-1" ] || fail "Version: $(field Version)"
[ "$(field Architecture)" = "$arch" ] || fail "Architecture: $(field Architecture)"
[ "$(field Section)" = misc ] || fail "Section: $(field Section)"
[ "$(field Recommends)" = wine ] || fail "Recommends: $(field Recommends)"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
[ -n "$(field Description)" ] || fail "no Description"
# Computed from the programs by dpkg-shlibdeps: every library they link, with a version.
depends=$(field Depends)
for lib in libc6 'libstdc\+\+6' 'libqt6widgets6[a-z0-9]*' 'libqt6network6[a-z0-9]*' 'libsqlite3-0' \
    'libpcre2-posix[0-9]+' 'liblitehtml[0-9]+'; do
    echo "$depends" | grep -Eq "(^|, )$lib \(>= [^)]+\)" || fail "Depends lacks $lib: $depends"
done

# The package holds exactly what cmake --install puts under the prefix, owned by root.
dpkg-deb --contents "$deb" >"$work/contents.txt"
dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\.||' | LC_ALL=C sort >"$work/packaged.txt"
diff -u "$work/installed.txt" "$work/packaged.txt" || fail "the package's files differ from the installed ones"
if awk '$2 != "root/root"' "$work/contents.txt" | grep .; then
    fail "files not owned by root (above)"
fi
for p in velmar-launcher velmar-reg; do
    grep -Eq "^-rwxr-xr-x .* \./usr/bin/$p$" "$work/contents.txt" || fail "/usr/bin/$p is not mode 755 in the package"
done

echo "== lintian"
# Debian's own checker: no error and no warning (it says so when run as root; that is no tag).
lintian --fail-on error,warning "$deb" >"$work/lintian.txt" 2>&1 || fail "lintian"
cat "$work/lintian.txt"
if grep -E '^[EW]: ' "$work/lintian.txt"; then
    fail "lintian reports the errors or warnings above"
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "all packaging checks passed"
