# Cross build for armhf (Debian's arm-linux-gnueabihf compilers and the :armhf libraries
# installed beside the host's with dpkg --add-architecture armhf). Programs built
# here run on this machine through qemu's user-mode emulator, the tests too:
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-arm-linux-gnueabihf.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(PKG_CONFIG_EXECUTABLE arm-linux-gnueabihf-pkg-config CACHE FILEPATH "pkg-config for armhf")
# -L /: the armhf libraries live in /usr/lib/arm-linux-gnueabihf, beside the host's.
find_program(DBX_QEMU qemu-arm-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${DBX_QEMU};-L;/)
