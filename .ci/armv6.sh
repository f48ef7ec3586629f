#!/usr/bin/env bash
# The original Raspberry Pi 1 and Zero are ARMv6 with VFP, older than
# Debian's armhf (ARMv7). Compiles the intro's programs (engine, platform
# layers, intro, offline renderer) for that CPU with the armhf toolchain
# (after .ci/cross.sh armhf has installed it), the intro and its offline
# renderer through scripts/play.sh's build step, and checks that every object
# file of ours is ARMv6 code. Linking uses Debian's ARMv7 libraries, so the
# programs themselves only run on a Pi 1/Zero when built there.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build-armv6
export CMAKE_TOOLCHAIN_FILE=$PWD/cmake/toolchain-arm-linux-gnueabihf.cmake CXXFLAGS="-march=armv6+fp -marm"
# What scripts/play.sh builds on a Pi 1 or Zero, by its own build step (no
# packages installed, nothing played); then the other programs.
scripts/play.sh --no-install --build-only --build-dir "$build"
cmake --build "$build" -j"$(nproc)" --target invitro-headless invitro-rpi
objects=$(find "$build" -name '*.o' -not -path '*/CMakeFiles/[0-9]*')
[ -n "$objects" ] || { echo "no object files in $build" >&2; exit 1; }
status=0
count=0
for o in $objects; do
  count=$((count + 1))
  if ! arm-linux-gnueabihf-readelf -A "$o" | grep -q 'Tag_CPU_arch: v6$'; then
    echo "$o is not ARMv6 code:"; arm-linux-gnueabihf-readelf -A "$o" | grep Tag_CPU_arch; status=1
  fi
done
echo "ARMv6 with VFP: $count object files compiled, status $status"
exit $status
