# The CMake package of vorna, found with find_package(Vorna CONFIG).
#
# It defines the imported executables Vorna::vorna and Vorna::vornadump and
# the function
#
#   vorna_add_library(<target> OUTPUT <library file> MODULES <module file>...)
#
# which adds <target>, built by default, whose output is a library holding
# exactly the listed modules in the order given. The library is made anew
# whenever a module changes or the list changes, and only then. The modules
# reach vorna through a command file, one quoted name a line, so that any
# number of them and names with blanks are passed whole; the old
# library is replaced only once the new one is complete. Relative module
# names are taken from the current source directory when the file is there,
# else from the current binary directory (as add_custom_command takes its
# dependencies); a relative OUTPUT lies in the current binary directory.
# A name without an extension gets vorna's default one, .LIB for the
# library and .QOB for a module, as on vorna's command line.
# The steps use only vorna and cmake -E, so the function serves on every host.
if(CMAKE_VERSION VERSION_LESS 3.20)
  message(FATAL_ERROR "The CMake package of vorna needs CMake 3.20 or later")
endif()
include("${CMAKE_CURRENT_LIST_DIR}/VornaTargets.cmake")

function(vorna_add_library target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "OUTPUT" "MODULES")
  if(arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "vorna_add_library(${target}): unknown arguments: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  if(NOT arg_OUTPUT OR NOT arg_MODULES)
    message(FATAL_ERROR "vorna_add_library(${target}): needs OUTPUT <library file> and MODULES <module file>...")
  endif()

  get_filename_component(output "${arg_OUTPUT}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_BINARY_DIR}")
  get_filename_component(output_dir "${output}" DIRECTORY)
  # vorna gives a name without an extension its default one, .LIB for the
  # library and .QOB for a module: the build is told of the same files.
  get_filename_component(output_name "${output}" NAME)
  if(NOT output_name MATCHES "(^|[^.])\\.[^.]*$")
    string(APPEND output ".LIB")
  endif()
  cmake_path(NATIVE_PATH output native)
  # --new makes the library from the modules listed now alone; the old one
  # stays until the new one is complete, so a failed build keeps it.
  set(command_lines "--new -a -o \"${native}\" -f\n")
  set(modules "")
  foreach(module IN LISTS arg_MODULES)
    if(NOT IS_ABSOLUTE "${module}")
      if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${module}")
        set(module "${CMAKE_CURRENT_SOURCE_DIR}/${module}")
      else()
        set(module "${CMAKE_CURRENT_BINARY_DIR}/${module}")
      endif()
    endif()
    # A command file quotes a name but has no escapes.
    if(module MATCHES "\"")
      message(FATAL_ERROR "vorna_add_library(${target}): a module name holds a double quote: ${module}")
    endif()
    get_filename_component(module_name "${module}" NAME)
    if(NOT module_name MATCHES "\\.")
      string(APPEND module ".QOB")
    endif()
    list(APPEND modules "${module}")
    cmake_path(NATIVE_PATH module native)
    string(APPEND command_lines "\"${native}\"\n")
  endforeach()

  # Written only when its text changes: a module added, removed or moved
  # makes the library anew, an unchanged list does not.
  set(command_file "${CMAKE_CURRENT_BINARY_DIR}/CMakeFiles/${target}.dir/modules.vorna")
  file(GENERATE OUTPUT "${command_file}" CONTENT "${command_lines}")
  cmake_path(NATIVE_PATH command_file native_command_file)

  add_custom_command(OUTPUT "${output}"
                     COMMAND "${CMAKE_COMMAND}" -E make_directory "${output_dir}"
                     COMMAND Vorna::vorna "@${native_command_file}"
                     DEPENDS ${modules} "${command_file}"
                     WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
                     COMMENT "Building the library ${arg_OUTPUT}"
                     VERBATIM)
  add_custom_target(${target} ALL DEPENDS "${output}")
endfunction()
