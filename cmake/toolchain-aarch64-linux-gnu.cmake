# Cross build for arm64 (Debian's aarch64-linux-gnu compilers and the :arm64 libraries
# installed beside the host's with dpkg --add-architecture arm64). Programs built
# here run on this machine through qemu's user-mode emulator, the tests too:
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for arm64")
# -L /: the arm64 libraries live in /usr/lib/aarch64-linux-gnu, beside the host's.
find_program(DBX_QEMU qemu-aarch64-static REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${DBX_QEMU};-L;/)
