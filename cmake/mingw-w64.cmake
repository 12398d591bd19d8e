# Cross build of vorna.exe for 64-bit Windows with MinGW-w64:
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The program is linked statically (C and C++ run-time included), so that
# vorna.exe runs on a bare Windows machine without MinGW's DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VORNA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VORNA_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${VORNA_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${VORNA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VORNA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
