# Cross build for arm64 (Debian's aarch64-linux-gnu compilers and the :arm64
# libraries, dpkg --add-architecture arm64):
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake
set(DBX_CROSS_TRIPLET aarch64-linux-gnu)
set(DBX_CROSS_PROCESSOR aarch64)
set(DBX_CROSS_QEMU qemu-aarch64-static)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
