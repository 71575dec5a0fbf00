# 64-bit ARM Linux with Debian's cross compiler (g++-aarch64-linux-gnu). The
# tests run the programs under QEMU's user-mode emulator, which finds the
# target's C and C++ libraries in the cross toolchain's folder.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(LEAPCHECK_TARGET_TRIPLE aarch64-linux-gnu)

set(CMAKE_C_COMPILER ${LEAPCHECK_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${LEAPCHECK_TARGET_TRIPLE}-g++)

set(LEAPCHECK_TARGET_SYSROOT /usr/${LEAPCHECK_TARGET_TRIPLE})
find_program(LEAPCHECK_QEMU_AARCH64 qemu-aarch64-static)
if(LEAPCHECK_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR
    ${LEAPCHECK_QEMU_AARCH64} -L ${LEAPCHECK_TARGET_SYSROOT})
endif()

# Programs from the host; libraries and packages (GoogleTest's arm64
# package) only for the target.
set(CMAKE_FIND_ROOT_PATH ${LEAPCHECK_TARGET_SYSROOT} /usr)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
