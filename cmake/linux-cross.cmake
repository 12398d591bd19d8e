# Cross build for another Linux machine with Debian's cross compilers
# (g++-aarch64-linux-gnu, g++-s390x-linux-gnu, g++-i686-linux-gnu):
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/linux-cross.cmake \
#         -DVORNA_CROSS_TRIPLE=aarch64-linux-gnu
# The programs are linked statically, so that qemu-user runs them without the
# target's libraries and the .deb depends on nothing.
if(NOT VORNA_CROSS_TRIPLE)
  message(FATAL_ERROR "Set VORNA_CROSS_TRIPLE to the cross compilers' prefix, e.g. aarch64-linux-gnu")
endif()
# Handed on to the configuration checks, which read the toolchain file again.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORNA_CROSS_TRIPLE)

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${VORNA_CROSS_TRIPLE}")

set(CMAKE_C_COMPILER ${VORNA_CROSS_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VORNA_CROSS_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${VORNA_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
