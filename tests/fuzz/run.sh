#!/bin/sh
# Builds a fuzzer straight from the sources with clang's libFuzzer and runs it: the server-reply
# reader (reply, the default), the .reg file reader of velmar-reg (regfile), the visible text
# of a fetched page (page) or the reader of a Wine prefix's registry file (wineregistry; it
# needs Qt Core, found with pkg-config).
# Usage: tests/fuzz/run.sh [seconds] [reply|regfile|page|wineregistry]   (default 20 seconds, reply)
set -eu

seconds="${1:-20}"
target="${2:-reply}"
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
out="${FUZZ_OUT:-$root/build-fuzz}"
cxx="${CXX_FUZZ:-}"
if [ -z "$cxx" ]; then
    for c in clang++-14 clang++; do
        if command -v "$c" >/dev/null 2>&1; then
            cxx="$c"
            break
        fi
    done
fi
[ -n "$cxx" ] || { echo "run.sh: clang++ not found" >&2; exit 2; }

if [ "$target" = regfile ]; then
    mkdir -p "$out/regfile-corpus"
    "$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
        -I"$root" "$here/ReadRegFileFuzz.cpp" "$root/tools/RegFileReader.cpp" \
        "$root/tools/RegKeyName.cpp" "$root/platform/regtext/TextEncoding.cpp" \
        "$root/platform/regtext/RegSyntax.cpp" -o "$out/read_reg_file_fuzz"
    # Seed corpus: both headers, every data form, continuations, comments, key deletion, a
    # UTF-16LE file and a REGEDIT4 file in Windows-1252.
    cat >"$out/regfile-corpus/v5" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Tobrel\VelmarLauncher]
"GameType"=dword:00000001
"Name \"q\" \\"="C:\\Games\\\"x\""
@="default" ;comment
"Path"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00
"Multi"=hex(7):4c,00,69,00,6e,00,65,00,31,00,00,00,4c,00,69,00,6e,\
  00,65,00,32,00,00,00,00,00
"Bin"=hex:de,ad,\ ;comment
  ; inside
  be,ef,
"Gone"=-
"T"=hex(abcd):00
[-HKEY_CURRENT_USER\Software\Tobrel\Old]
[HKLM\Software\\Holmgard\]
#comment
REG
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n"\304pfel"="\344"\r\n"E"=hex(2):c4,00\r\n' \
        >"$out/regfile-corpus/regedit4"
    printf '\377\376W\000i\000n\000d\000o\000w\000s\000 \000R\000e\000g\000i\000s\000t\000r\000y\000 \000E\000d\000i\000t\000o\000r\000 \000V\000e\000r\000s\000i\000o\000n\000 \0005\000.\0000\0000\000\r\000\n\000[\000H\000K\000C\000U\000]\000\r\000\n\000' \
        >"$out/regfile-corpus/utf16"
    cd "$out"
    exec ./read_reg_file_fuzz -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
        regfile-corpus
fi

if [ "$target" = page ]; then
    mkdir -p "$out/page-corpus"
    # litehtml and Qt come from the system (not instrumented); the sanitizers watch this
    # project's code and every allocation.
    # shellcheck disable=SC2046
    "$cxx" -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined \
        -fno-sanitize-recover=undefined -I"$root" -isystem /usr/include/litehtml -DLITEHTML_UTF8 \
        $(pkg-config --cflags Qt6Core) "$here/ReadPageFuzz.cpp" "$root/address/VisibleText.cpp" \
        -llitehtml -lgumbo $(pkg-config --libs Qt6Core) -o "$out/read_page_fuzz"
    # Seed corpus (the first byte picks the Content-Type): hidden parts by attribute, style and
    # class, inline and block display, tables, white space, a refresh, a declared charset,
    # scripts and comments, plain text, and deep nesting.
    page() { printf "$2" >"$out/page-corpus/$1"; }
    page hidden '\001<html><head><style>.x{display:none} p b{visibility:hidden}</style></head><body><span class=x>1.1.1.1</span><p hidden>2</p><p><b>3</b><i style="visibility:visible">4</i></p><div style="display:inline">84</div>.133.2.17</body></html>'
    page table '\001<table><caption>c</caption><tr><td>1<td>2<tr><th nowrap>3</table><ul><li>a<li>b</ul><pre>x  y\n z</pre><br><p style="white-space:pre-line">a  b\nc</p>'
    page refresh '\000<head><meta http-equiv=refresh content="0; URL=\x27/next\x27"><meta charset=iso-8859-1></head><noscript><meta http-equiv=refresh content=1></noscript>\344'
    page script '\003<script>document.write("<p>1.2.3.4</p><!--")</script><!-- 5.6.7.8 --><textarea>9</textarea><title>t</title>&#56;4&amp;&lt;b&gt;'
    page plain '\002<!-- 84.133.2.28 -->\r\nline\rend\000x'
    page utf16 '\004<\000b\000>\000x\000'
    page deep "\001$(i=0; while [ $i -lt 300 ]; do printf '<div><b>'; i=$((i + 1)); done)x"
    cd "$out"
    exec ./read_page_fuzz -max_total_time="$seconds" -max_len=16384 -print_final_stats=1 \
        page-corpus
fi

if [ "$target" = wineregistry ]; then
    mkdir -p "$out/wineregistry-corpus"
    # shellcheck disable=SC2046 # the flags are words
    "$cxx" -std=c++20 -g -O1 -fPIC -fsanitize=fuzzer,address,undefined \
        -fno-sanitize-recover=undefined -I"$root" $(pkg-config --cflags Qt6Core) \
        "$here/ReadWineRegistryFuzz.cpp" "$root/platform/wine/WineRegistry.cpp" \
        "$root/platform/files/RegularFile.cpp" "$root/platform/regtext/TextEncoding.cpp" \
        "$root/platform/regtext/RegSyntax.cpp" $(pkg-config --libs Qt6Core) \
        -o "$out/read_wine_registry_fuzz"
    # Seed corpus: the game key as Wine writes it, with every data form, escapes, continuations,
    # CRLF lines and a 32-bit installer's key.
    cat >"$out/wineregistry-corpus/system" <<'REG'
WINE REGISTRY Version 2
;; All keys relative to REGISTRY\\Machine

#arch=win64

[Software\\Holmgard\\VELMARTIDES] 1796766242
#time=1dd8769b57393f0
@="default \"quoted\""
"GAMEPATH"="C:\\Program Files\\Holmgard\\Velmar \x00c4\x20acx\ttab\101"
"Count"=dword:00000005
"Home"=str(2):"%USERPROFILE%\\Velmar"
"Bytes"=hex:01,02,ff,\
  10
"Wide"=hex(2):41,00,e4,00,00,00
"Multi"=hex(7):41,00,00,00,3d,d8,00,00,00,00

[a] 1
"x"="y"
REG
    printf 'WINE REGISTRY Version 2\r\n\r\n[Software\\\\Wow6432Node\\\\Holmgard\\\\VELMARTIDES] 1\r\n"GAMEPATH"="C:\\\\x"\r\n\r\n' \
        >"$out/wineregistry-corpus/crlf"
    cd "$out"
    exec ./read_wine_registry_fuzz -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
        wineregistry-corpus
fi

mkdir -p "$out/corpus"
"$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" "$here/ReadServerReplyFuzz.cpp" "$root/servertest/QueryDatagram.cpp" \
    -o "$out/read_server_reply_fuzz"

# Seed corpus: empty, the query itself, just-long-enough replies, a reply with version and
# session name, one whose version has no terminator, and one at the receive limit.
seed() { printf "$2" >"$out/corpus/$1"; }
seed empty ''
seed query '\000\000\032\000\021\242\377\377\000\001\113\351\041\174\323\132\030\117\266\340\223\244\305\327\016\057'
seed short27 '0123456789\000abcdefghijklmnop'
seed noterm27 '0123456789abcdefghijklmnopq'
{
    printf '0123456789V1.07\000'
    head -c 42 /dev/zero | tr '\000' 'p'
    printf 'A\000b\000c\000'
} >"$out/corpus/named64"
head -c 2048 /dev/zero | tr '\000' 'v' >"$out/corpus/full2048"

cd "$out"
exec ./read_server_reply_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    corpus
