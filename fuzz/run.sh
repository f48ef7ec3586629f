#!/bin/bash
# Builds the box art fuzz target (the CMake target boxart_fuzz, configured
# with DBX_FUZZ=ON) with clang's libFuzzer, ASan and UBSan in a temporary
# folder and runs it for SECONDS seconds (default 20) on a seed corpus made
# here. Exits non-zero when the fuzzer finds a crash, keeping the
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

echo "building the fuzz target in $work"
cxx_path=$(command -v "$cxx") || { echo "no $cxx: the fuzz target needs clang++ and libFuzzer" >&2; exit 1; }
cc_path=$(command -v "${CC_FUZZ:-clang}") || { echo "no ${CC_FUZZ:-clang}" >&2; exit 1; }
cmake -S "$root" -B "$work/build" -DCMAKE_CXX_COMPILER="$cxx_path" -DCMAKE_C_COMPILER="$cc_path" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDBX_FUZZ=ON -DBUILD_TESTING=OFF -DDBX_TOOLS=OFF > "$work/configure.log" ||
    { cat "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" --target boxart_fuzz -j"$(nproc)" > "$work/build.log" 2>&1 ||
    { tail -30 "$work/build.log" >&2; exit 1; }
fuzzer="$work/build/fuzz/boxart_fuzz"

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
if ! "$fuzzer" -max_total_time="$seconds" -max_len=66000 -print_final_stats=1 \
        -artifact_prefix="$work/" "$work/new" "$work/corpus"; then
    keep=1
    echo "the fuzzer found a failure; inputs kept in $work" >&2
    exit 1
fi
