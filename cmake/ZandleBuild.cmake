# How Zandle's own code is built: the interpreters and the interface without exceptions or
# run-time type information, hot code for speed and cold code for size, and the two
# command-line programs. See "Size" in the README for what each of these saves.

# zandle_internal(<target>): nothing in the interpreters throws, and without exceptions a
# program needs no unwinder. The libraries are position-independent with hidden symbols, so
# that the same objects go into the programs, the static library and the shared one, which
# exports only the C interface.
function(zandle_internal target)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  set_target_properties(${target} PROPERTIES POSITION_INDEPENDENT_CODE ON
                                             CXX_VISIBILITY_PRESET hidden
                                             VISIBILITY_INLINES_HIDDEN ON)
  if(CMAKE_BUILD_TYPE STREQUAL "Release" OR CMAKE_BUILD_TYPE STREQUAL "MinSizeRel")
    target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables -fno-unwind-tables)
  endif()
endfunction()

# zandle_cold(<file>...): code off the paths a running script takes (the interface, the
# command line, escapes, file reading, texts) is optimised for size in release builds.
function(zandle_cold)
  if(CMAKE_BUILD_TYPE STREQUAL "Release" AND ARGN)
    set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS -Os)
  endif()
endfunction()

# zandle_objects(<target> [HOT <file>...] [COLD <file>...] [NATIVE_HOT <file>...]
# [SYSTEM <file>...]): an object library of the interpreters' code, HOT files optimised for
# speed and COLD ones for size. NATIVE_HOT files (snapshots: a host may save and restore
# machines by the thousand) are hot, but cold in WebAssembly, where every byte is downloaded.
# SYSTEM files (the escapes that use files and processes) are cold, and left out of builds
# without ZANDLE_SYSTEM_ESCAPES.
function(zandle_objects target)
  cmake_parse_arguments(arg "" "" "HOT;COLD;NATIVE_HOT;SYSTEM" ${ARGN})
  if(ZANDLE_SYSTEM_ESCAPES)
    list(APPEND arg_COLD ${arg_SYSTEM})
  endif()
  if(EMSCRIPTEN)
    list(APPEND arg_COLD ${arg_NATIVE_HOT})
  else()
    list(APPEND arg_HOT ${arg_NATIVE_HOT})
  endif()
  add_library(${target} OBJECT ${arg_HOT} ${arg_COLD})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  zandle_internal(${target})
  zandle_cold(${arg_COLD})
endfunction()

# zandle_program(<name> <main source>): one of the command-line programs, the target
# zandle_<name>_program, built as <name>. It goes through the public interface (zandle_cli
# and zandle) like any host, and reaches into its interpreter only for the texts.
function(zandle_program name main_source)
  set(target zandle_${name}_program)
  add_executable(${target} ${main_source})
  target_link_libraries(${target} PRIVATE zandle_cli)
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src)
  zandle_internal(${target})
  if(ZANDLE_STATIC_RUNTIME)
    # Whatever the compiler's runtime provides is linked in, so the program needs only the
    # C library.
    target_link_options(${target} PRIVATE -static-libstdc++ -static-libgcc)
  endif()
  set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name} RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  add_executable(Zandle::${name} ALIAS ${target})
endfunction()
