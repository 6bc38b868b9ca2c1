# Sanitizer and fuzzing builds of the whole project (native only); the one place their
# flags are added (CMakePresets.json has the asan, tsan and fuzz configurations):
#
#   -DKYRO_SANITIZE=address,undefined    AddressSanitizer (with leak checks) and UBSan
#   -DKYRO_SANITIZE=thread               ThreadSanitizer
#   -DKYRO_BUILD_FUZZ=ON                 address,undefined (unless told otherwise) and
#                                        libFuzzer's coverage on every target (clang only);
#                                        the fuzz targets add libFuzzer's main (fuzz/)
#
# address,undefined builds with clang or g++ (clang is better: g++ links libubsan apart
# from libasan, and UBSan's reports then go to standard error whatever log_path says);
# thread builds with g++ only (see below).
#
# Every target built here gets the flags, compile and link: the subsystem libraries, the
# shared library, the companion Vex.exe, the demo host, the tools, the test programs and
# their support, and GoogleTest, which the tests build from source. GoogleTest's own
# threads and locks then are seen by ThreadSanitizer like everything else. What comes
# from the system (libstdc++, TinyXML, libcrypto) stays uninstrumented.
#
# Include this before any target or third-party folder is added: the flags are directory
# options and reach only what is added afterwards. In these builds every test runs
# through sanitizers/run-sanitized, which fails the test on any report of any of its
# processes (tests/CMakeLists.txt).

set(KYRO_SANITIZE "" CACHE STRING
    "Sanitizers for every target: address,undefined or thread (native builds only)")
if(KYRO_BUILD_FUZZ AND NOT KYRO_SANITIZE)
  set(KYRO_SANITIZE address,undefined)
endif()

if(NOT KYRO_SANITIZE)
  return()
endif()

if(WIN32 OR CMAKE_CROSSCOMPILING)
  message(FATAL_ERROR "KYRO_SANITIZE is for native builds only")
endif()
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  message(FATAL_ERROR "KYRO_SANITIZE needs g++ or clang++")
endif()

string(REPLACE " " "" _kyro_sanitize "${KYRO_SANITIZE}")
set(_kyro_sanitizer_flags -fno-omit-frame-pointer)
if(_kyro_sanitize STREQUAL "address,undefined" OR _kyro_sanitize STREQUAL "undefined,address")
  # Undefined behaviour stops the program (with a report) instead of going on.
  list(APPEND _kyro_sanitizer_flags -fsanitize=address,undefined -fno-sanitize-recover=undefined)
elseif(_kyro_sanitize STREQUAL "address")
  list(APPEND _kyro_sanitizer_flags -fsanitize=address)
elseif(_kyro_sanitize STREQUAL "undefined")
  list(APPEND _kyro_sanitizer_flags -fsanitize=undefined -fno-sanitize-recover=undefined)
elseif(_kyro_sanitize STREQUAL "thread")
  list(APPEND _kyro_sanitizer_flags -fsanitize=thread)
  if(KYRO_BUILD_FUZZ)
    message(FATAL_ERROR "KYRO_SANITIZE=thread cannot be combined with KYRO_BUILD_FUZZ")
  endif()
else()
  message(FATAL_ERROR
    "KYRO_SANITIZE='${KYRO_SANITIZE}': use address,undefined or thread (or address, undefined)")
endif()

if(KYRO_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang" OR NOT CMAKE_C_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KYRO_BUILD_FUZZ needs clang (-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)")
  endif()
  list(APPEND _kyro_sanitizer_flags -fsanitize=fuzzer-no-link)
endif()
# -O1: quick to build, stacks close to the source, and the sanitizers' usual level; it
# comes after the build type's own level and so takes its place.
list(APPEND _kyro_sanitizer_flags -O1)

# The shared library is linked with --no-undefined, so the sanitizer runtime must be linked
# into it, not left for the executable to bring. g++ does that with plain -fsanitize (its
# runtimes are shared libraries on the system's library path); clang links its runtime
# statically into executables only, unless it is told to use the shared one, which then
# must be found at run time. clang's shared ThreadSanitizer runtime crashes before main
# (in its __cxa_atexit interceptor, called by libstdc++'s initialisation), so ThreadSanitizer
# builds take g++.
# libFuzzer's programs want the static runtime (the shared one would not come first among
# their libraries), so a fuzzing build makes its fuzz targets only, not the shared library.
set(_kyro_sanitizer_link_flags ${_kyro_sanitizer_flags})
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang" AND NOT KYRO_BUILD_FUZZ)
  if(_kyro_sanitize STREQUAL "thread")
    message(FATAL_ERROR "KYRO_SANITIZE=thread needs g++ (clang's shared ThreadSanitizer runtime "
                        "does not start, and the shared library needs a shared runtime)")
  endif()
  list(APPEND _kyro_sanitizer_link_flags -shared-libsan)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-runtime-dir
                  OUTPUT_VARIABLE _kyro_clang_runtime_dir OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(_kyro_clang_runtime_dir)
    list(APPEND _kyro_sanitizer_link_flags "-Wl,-rpath,${_kyro_clang_runtime_dir}")
  endif()
endif()

# g++'s address instrumentation hides from its flow analysis that libstdc++'s own objects
# (std::function inside <regex>) are set before use, and -Werror turns that into a failed
# build. The ordinary builds keep the warning.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND _kyro_sanitize MATCHES "address")
  list(APPEND _kyro_sanitizer_flags -Wno-maybe-uninitialized)
endif()

add_compile_options(${_kyro_sanitizer_flags})
# Tests that weigh the process's memory need to know that freed memory is held back.
if(_kyro_sanitize MATCHES "address")
  add_compile_definitions(KYRO_SANITIZE_ADDRESS=1)
endif()
add_link_options(${_kyro_sanitizer_link_flags})

# Link-time optimisation would take the instrumented code through the linker's optimiser
# again and blur the reports' stacks; the sanitizers need none of it.
set(CMAKE_INTERPROCEDURAL_OPTIMIZATION OFF)

# ThreadSanitizer does not see locks taken with pthread_mutex_clocklock (see the source):
# every program and the shared library get the definition that tells it, once all targets
# of the project are known.
if(_kyro_sanitize STREQUAL "thread")
  add_library(kyro_tsan_clocklock OBJECT ${CMAKE_CURRENT_LIST_DIR}/sanitizers/tsan_clocklock.cpp)

  function(_kyro_targets_below dir out)
    get_property(_targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    get_property(_subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(_subdir IN LISTS _subdirs)
      _kyro_targets_below(${_subdir} _more)
      list(APPEND _targets ${_more})
    endforeach()
    set(${out} ${_targets} PARENT_SCOPE)
  endfunction()

  function(_kyro_link_tsan_clocklock)
    _kyro_targets_below(${CMAKE_SOURCE_DIR} _targets)
    foreach(_target IN LISTS _targets)
      get_target_property(_type ${_target} TYPE)
      if(_type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
        target_sources(${_target} PRIVATE $<TARGET_OBJECTS:kyro_tsan_clocklock>)
        target_link_libraries(${_target} PRIVATE ${CMAKE_DL_LIBS})
      endif()
    endforeach()
  endfunction()
  cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _kyro_link_tsan_clocklock)
endif()

message(STATUS "kyroint: sanitizers ${_kyro_sanitize} on every target")
