# The part of a cross build that is the same for every Debian target: the
# toolchain file sets DBX_CROSS_TRIPLET, DBX_CROSS_PROCESSOR and DBX_CROSS_QEMU
# and includes this. The target's libraries come from Debian's multiarch
# packages, installed beside the host's; its programs, the tests among them,
# run here through qemu's user-mode emulator (binfmt is not needed).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ${DBX_CROSS_PROCESSOR})
set(CMAKE_C_COMPILER ${DBX_CROSS_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${DBX_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${DBX_CROSS_TRIPLET})
set(PKG_CONFIG_EXECUTABLE ${DBX_CROSS_TRIPLET}-pkg-config CACHE FILEPATH "pkg-config for ${DBX_CROSS_TRIPLET}")
# -L /: the target's libraries live in /usr/lib/TRIPLET, beside the host's.
find_program(DBX_QEMU ${DBX_CROSS_QEMU} REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${DBX_QEMU};-L;/)
