# Cross-compiling for Windows with Debian's MinGW-w64 toolchains. The
# including toolchain file sets LEAPCHECK_MINGW_TRIPLE and the processor.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${LEAPCHECK_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${LEAPCHECK_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${LEAPCHECK_MINGW_TRIPLE}-windres)
# No MinGW runtime DLLs: the program, and the test and timing programs run
# on Wine, must start on a bare Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

set(CMAKE_FIND_ROOT_PATH /usr/${LEAPCHECK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
