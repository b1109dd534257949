# Cross-compiling for Linux on s390x (IBM Z), a big-endian 64-bit target,
# with Debian's cross compiler (g++-s390x-linux-gnu).  Programs built with it
# run on an x86-64 host under qemu user emulation (qemu-user), which CMake
# and CTest use as the "cross-compiling emulator".
#
#   cmake -S tools/bigendian -B build/bigendian \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-s390x.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(QUIL_CROSS_TRIPLE s390x-linux-gnu)
set(CMAKE_C_COMPILER ${QUIL_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${QUIL_CROSS_TRIPLE}-g++)

# Debian's cross toolchains keep the target's libraries and headers under
# /usr/<triple>; look for target files there only, for host programs never.
set(CMAKE_FIND_ROOT_PATH /usr/${QUIL_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# qemu-user ships qemu-s390x, qemu-user-static ships qemu-s390x-static.
# -L points the emulated dynamic loader at the target's shared libraries,
# so no binfmt_misc registration is needed.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(QUIL_QEMU_S390X NAMES qemu-s390x qemu-s390x-static)
  if(QUIL_QEMU_S390X)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        ${QUIL_QEMU_S390X} -L /usr/${QUIL_CROSS_TRIPLE})
  endif()
endif()
