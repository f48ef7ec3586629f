#!/bin/bash
# Builds the box art fuzz target with clang's libFuzzer, ASan and UBSan in a
# temporary folder and runs it for SECONDS seconds (default 20) on a seed
# corpus made here. Exits non-zero when the fuzzer finds a crash, keeping the
# folder with the crashing input.
#
#   fuzz/run.sh [SECONDS]     (from anywhere; needs clang++ and libFuzzer)
set -euo pipefail

seconds=${1:-20}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cxx=${CXX_FUZZ:-clang++}
work=$(mktemp -d /tmp/boxart-fuzz-XXXXXX)
keep=0
trap '[ "$keep" = 1 ] || rm -rf "$work"' EXIT

libs="-llodepng"
for pkg in glesv1_cm egl; do
    if pkg-config --exists "$pkg" 2>/dev/null; then libs="$libs $(pkg-config --libs "$pkg")"; fi
done

echo "building the fuzz target in $work"
"$cxx" -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
    -I"$root" -I"$root/tools/boxart" \
    "$root/fuzz/boxart_fuzz.cpp" "$root/fuzz/app_stub.cpp" "$root/boxart.cpp" \
    "$root/tools/boxart/boxart_text.cpp" "$root/drawboxlib/drawboxlib.cpp" \
    "$root/drawboxlib/platforms/loop.cpp" "$root/drawboxlib/platforms/common.cpp" \
    "$root/drawboxlib/platforms/headless.cpp" \
    $libs -o "$work/boxart_fuzz"

# Seeds: little-endian items written byte by byte.
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
frame() { printf '\x01'; printf '%s' "$1"; head -c $((32 - ${#1})) /dev/zero; }
box() {  # x y scale-bits rotation-bits mode scale1-bits timing
    printf '\x02'; le32 "$1"; le32 "$2"; le32 "$3"; le32 "$4"
    le32 3; le32 "$5"; le32 0; le32 0; le32 "$1"; le32 "$2"; le32 "$6"; le32 "$7"
}
one=$((0x3f800000))
mkdir "$work/corpus"
{ frame bird.png; box 100 50 $one 0 2 $one 0; } > "$work/corpus/bird"
{ box 1 2 $one 0 1 $one 5; frame Toskel.png; box 3 4 $one $((0x42340000)) 2 $one -7; box 5 6 $one 0 0 $one 9; } > "$work/corpus/runs"
{ frame nothere.png; box 7 8 $one 0 1 $one 0; printf '\x07'; head -c 48 /dev/zero; frame '2 test.png'; box 9 9 $one 0 2 $one 1; printf 'tail'; } > "$work/corpus/mixed"
{ frame abcdefghijklmnopqrstuvwxyz012345; box -5 -5 $((0x7fc01234)) 0 2 $((0xff800000)) -2147483648; head -c 40 /dev/zero; } > "$work/corpus/odd"

mkdir "$work/new"
echo "fuzzing for $seconds seconds"
if ! "$work/boxart_fuzz" -max_total_time="$seconds" -max_len=66000 -print_final_stats=1 \
        -artifact_prefix="$work/" "$work/new" "$work/corpus"; then
    keep=1
    echo "the fuzzer found a failure; inputs kept in $work" >&2
    exit 1
fi
