#!/usr/bin/env bash
# .ci/cross.sh ARCH (arm64 or armhf): installs Debian's cross compiler, qemu
# and the ARCH libraries beside the host's (multiarch), builds everything into
# build-ARCH with the toolchain file in cmake/ and runs the whole test suite
# under qemu's user-mode emulator (binfmt is not needed).
set -euo pipefail
arch=${1:-}
case $arch in
arm64) triplet=aarch64-linux-gnu ;;
armhf) triplet=arm-linux-gnueabihf ;;
*) echo "usage: .ci/cross.sh arm64|armhf" >&2; exit 2 ;;
esac
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive

scripts/deps.sh --tests --arch "$arch" "g++-$triplet" qemu-user-static

build=build-$arch
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="cmake/toolchain-$triplet.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
# llvmpipe draws on the calling thread: death tests fork here instead of
# starting the test program afresh (tests/common/emulator.h). Under
# qemu-arm, llvmpipe's generated code leaves textured triangles out, so armhf
# draws with softpipe (no threads, no generated code).
export LP_NUM_THREADS=0
[ "$arch" != armhf ] || export GALLIUM_DRIVER=softpipe
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" | tee "$build/ctest.log"
