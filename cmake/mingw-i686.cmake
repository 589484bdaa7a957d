# SPDX-License-Identifier: BSD-2-Clause
# Cross build for 32-bit Windows with Debian's MinGW-w64 compilers. The posix-threads variant
# is the one whose libstdc++ has std::thread. Everything is linked statically so that the
# programs need no DLL beyond the system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(VARNIC_MINGW_TRIPLE i686-w64-mingw32)
set(CMAKE_C_COMPILER ${VARNIC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARNIC_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VARNIC_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARNIC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# x87 arithmetic keeps 80-bit intermediates and would round the wavelet's floats differently
# from x86-64; SSE2 gives the same single and double precision results.
# UNICODE: the system's text is UTF-16 everywhere, the ANSI code page nowhere.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -DUNICODE -D_UNICODE")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -DUNICODE -D_UNICODE")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine (scripts/wine-tests.sh sets up its prefix and display).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
