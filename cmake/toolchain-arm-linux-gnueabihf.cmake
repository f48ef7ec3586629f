# Cross build for armhf (Debian's arm-linux-gnueabihf compilers and the :armhf
# libraries, dpkg --add-architecture armhf):
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-linux-gnueabihf.cmake
set(DBX_CROSS_TRIPLET arm-linux-gnueabihf)
set(DBX_CROSS_PROCESSOR arm)
set(DBX_CROSS_QEMU qemu-arm-static)
include(${CMAKE_CURRENT_LIST_DIR}/cross-debian.cmake)
