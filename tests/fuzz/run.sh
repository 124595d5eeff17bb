#!/bin/sh
# Builds the server-reply fuzzer straight from the sources with clang's libFuzzer and runs it.
# Usage: tests/fuzz/run.sh [seconds]   (default 20)
set -eu

seconds="${1:-20}"
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
