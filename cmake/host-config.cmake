# The POSIX host layer's configuration: 64-bit file offsets (and times) for
# the whole build, and a check of each call that not every system has,
# written as 1 or 0 into host/host_config.h of the build directory, which
# only src/host includes. Each call is looked for itself, never inferred from
# the system's name; where it is missing the host layer takes its POSIX
# fallback. VORNA_POSIX_FALLBACKS takes every fallback even where the calls
# are there, so that a Linux build runs the code of the systems without them.
include(CheckCXXSourceCompiles)
include(CheckCXXSymbolExists)
include(CheckStructHasMember)

option(VORNA_POSIX_FALLBACKS "Build the host layer's POSIX fallbacks in place of every call that not every system has" OFF)
set(VORNA_HOST_CONFIG_DIR ${CMAKE_BINARY_DIR}/host_config)

set(VORNA_HOST_CALLS COPY_FILE_RANGE SYNC_FILE_RANGE FALLOCATE_PUNCH_HOLE F_PUNCHHOLE STAT_MTIM STAT_MTIMESPEC
    FWRITE_UNLOCKED F_FULLFSYNC)

if(NOT WIN32)
  # Sizes and offsets of files past 2 GiB on 32-bit hosts too, and times past
  # 2038 where the C library offers them with these offsets.
  set(CMAKE_REQUIRED_QUIET ON)
  set(CMAKE_REQUIRED_DEFINITIONS -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64)
  check_cxx_source_compiles("#include <sys/stat.h>
    #include <ctime>
    int main() { return sizeof(off_t) == 8 ? 0 : 1; }" VORNA_CHECK_TIME_BITS)
  if(VORNA_CHECK_TIME_BITS)
    add_compile_definitions(_FILE_OFFSET_BITS=64 _TIME_BITS=64)
  else()
    set(CMAKE_REQUIRED_DEFINITIONS -D_FILE_OFFSET_BITS=64)
    add_compile_definitions(_FILE_OFFSET_BITS=64)
  endif()

  check_cxx_source_compiles("#include <sys/types.h>
    #include <unistd.h>
    int main() { off_t at = 0; return static_cast<int>(copy_file_range(0, &at, 1, nullptr, 1, 0)); }"
    VORNA_CHECK_COPY_FILE_RANGE)
  check_cxx_source_compiles("#include <fcntl.h>
    int main() { return sync_file_range(0, 0, 1, SYNC_FILE_RANGE_WRITE); }" VORNA_CHECK_SYNC_FILE_RANGE)
  check_cxx_source_compiles("#include <fcntl.h>
    int main() { return fallocate(0, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, 0, 1); }"
    VORNA_CHECK_FALLOCATE_PUNCH_HOLE)
  check_cxx_source_compiles("#include <fcntl.h>
    int main() { struct fpunchhole hole = {0, 0, 0, 1}; return fcntl(0, F_PUNCHHOLE, &hole); }"
    VORNA_CHECK_F_PUNCHHOLE)
  check_struct_has_member("struct stat" st_mtim sys/stat.h VORNA_CHECK_STAT_MTIM LANGUAGE CXX)
  check_struct_has_member("struct stat" st_mtimespec sys/stat.h VORNA_CHECK_STAT_MTIMESPEC LANGUAGE CXX)
  check_cxx_symbol_exists(fwrite_unlocked stdio.h VORNA_CHECK_FWRITE_UNLOCKED)
  check_cxx_symbol_exists(F_FULLFSYNC fcntl.h VORNA_CHECK_F_FULLFSYNC)
  unset(CMAKE_REQUIRED_DEFINITIONS)
  unset(CMAKE_REQUIRED_QUIET)
endif()

set(found "")
foreach(call IN LISTS VORNA_HOST_CALLS)
  if(VORNA_CHECK_${call} AND NOT VORNA_POSIX_FALLBACKS)
    set(VORNA_HAVE_${call} 1)
    list(APPEND found ${call})
  else()
    set(VORNA_HAVE_${call} 0)
  endif()
endforeach()
if(VORNA_POSIX_FALLBACKS)
  message(STATUS "Host calls: the POSIX fallbacks of every one (VORNA_POSIX_FALLBACKS)")
elseif(NOT WIN32)
  list(JOIN found " " found)
  message(STATUS "Host calls: ${found}; the POSIX fallbacks of the others")
endif()
configure_file(${PROJECT_SOURCE_DIR}/src/host/host_config.h.in ${VORNA_HOST_CONFIG_DIR}/host/host_config.h @ONLY)
