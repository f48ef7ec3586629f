#!/bin/bash
# Builds the fuzz targets (CMake, configured with DBX_FUZZ=ON) with clang's
# libFuzzer, ASan and UBSan in a temporary folder and runs each for SECONDS
# seconds (default 20):
#   boxart  the box art reader and its report, seeded with the intro's scene
#           files and a file longer than the 64000 bytes that are read
#   atlas   PNG decoding and the frame table check
#   mouse   the raw mouse packet stream
# Exits non-zero when a fuzzer finds a failure, keeping the folder with the
# failing input.
#
#   fuzz/run.sh [SECONDS]     (from anywhere; needs clang++ and libFuzzer)
set -euo pipefail

seconds=${1:-20}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cxx=${CXX_FUZZ:-clang++}
work=$(mktemp -d /tmp/invitro-fuzz-XXXXXX)
keep=0
trap '[ "$keep" = 1 ] || rm -rf "$work"' EXIT

echo "building the fuzz targets in $work"
cxx_path=$(command -v "$cxx") || { echo "no $cxx: the fuzz targets need clang++ and libFuzzer" >&2; exit 1; }
cc_path=$(command -v "${CC_FUZZ:-clang}") || { echo "no ${CC_FUZZ:-clang}" >&2; exit 1; }
cmake -S "$root" -B "$work/build" -DCMAKE_CXX_COMPILER="$cxx_path" -DCMAKE_C_COMPILER="$cc_path" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDBX_FUZZ=ON -DBUILD_TESTING=OFF -DDBX_TOOLS=OFF > "$work/configure.log" ||
    { cat "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" --target boxart_fuzz atlas_fuzz mouse_fuzz -j"$(nproc)" > "$work/build.log" 2>&1 ||
    { tail -30 "$work/build.log" >&2; exit 1; }

# Box art seeds: the intro's scene files, a file past the read limit, and
# little-endian items written byte by byte.
le32() { printf "\\x$(printf %02x $(($1 & 255)))\\x$(printf %02x $((($1 >> 8) & 255)))\\x$(printf %02x $((($1 >> 16) & 255)))\\x$(printf %02x $((($1 >> 24) & 255)))"; }
frame() { printf '\x01'; printf '%s' "$1"; head -c $((32 - ${#1})) /dev/zero; }
box() {  # x y scale-bits rotation-bits mode scale1-bits timing
    printf '\x02'; le32 "$1"; le32 "$2"; le32 "$3"; le32 "$4"
    le32 3; le32 "$5"; le32 0; le32 0; le32 "$1"; le32 "$2"; le32 "$6"; le32 "$7"
}
one=$((0x3f800000))
mkdir -p "$work/boxart" "$work/atlas" "$work/mouse"
cp "$root"/data/*.dat "$work/boxart/"
for _ in 1 2 3 4 5 6 7 8 9 10 11 12; do cat "$root"/data/*.dat; done > "$work/boxart/long"
truncate -s 70000 "$work/boxart/long"
{ frame bird.png; box 100 50 $one 0 2 $one 0; } > "$work/boxart/bird"
{ box 1 2 $one 0 1 $one 5; frame Toskel.png; box 3 4 $one $((0x42340000)) 2 $one -7; box 5 6 $one 0 0 $one 9; } > "$work/boxart/runs"
{ frame nothere.png; box 7 8 $one 0 1 $one 0; printf '\x07'; head -c 48 /dev/zero; frame '2 test.png'; box 9 9 $one 0 2 $one 1; printf 'tail'; } > "$work/boxart/mixed"
{ frame abcdefghijklmnopqrstuvwxyz012345; box -5 -5 $((0x7fc01234)) 0 2 $((0xff800000)) -2147483648; head -c 40 /dev/zero; } > "$work/boxart/odd"
[ "$(stat -c %s "$work/boxart/long")" -gt 64000 ] || { echo "the long seed is too short" >&2; exit 1; }

# Atlas seeds: the intro's atlas and images made by the target itself.
cp "$root/out.png" "$work/atlas/"
ATLAS_FUZZ_SEEDS="$work/atlas" "$work/build/fuzz/atlas_fuzz"

# Mouse seeds: a layer choice byte, then packets (movement both ways, a
# button, a byte out of step).
printf '\x00\x08\x05\x03\x38\xfb\xfd\x09\x00\x00' > "$work/mouse/moves"
printf '\x01\x01\x08\x10\x20\x18\xff\xff\x0c\x00\x00' > "$work/mouse/resync"

status=0
for target in boxart atlas mouse; do
    case $target in boxart) max=66000 ;; atlas) max=600000 ;; mouse) max=4096 ;; esac
    mkdir "$work/$target-new"
    echo "fuzzing $target for $seconds seconds"
    if ! "$work/build/fuzz/${target}_fuzz" -max_total_time="$seconds" -max_len=$max -rss_limit_mb=4096 -print_final_stats=1 \
            -artifact_prefix="$work/$target-" "$work/$target-new" "$work/$target" > "$work/$target.log" 2>&1; then
        tail -30 "$work/$target.log"
        echo "the $target fuzzer found a failure; inputs kept in $work" >&2
        keep=1
        status=1
    else
        grep -E "stat::number_of_executed_units|Done" "$work/$target.log" | tail -1
    fi
done
exit $status
