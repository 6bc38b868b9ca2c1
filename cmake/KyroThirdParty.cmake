# Third-party code: TinyXML (XML files), GoogleTest (tests), Google Benchmark (benchmarks).
#
# TinyXML: native builds use Debian's libtinyxml-dev; the windows build compiles Debian's
# patched tinyxml source (fetched by scripts/setup into third_party/tinyxml) with the same
# TIXML_USE_STL define, so the class layout matches on both sides.

set(KYRO_THIRD_PARTY_DIR ${CMAKE_CURRENT_SOURCE_DIR}/third_party CACHE PATH
    "Folder with third-party sources fetched by scripts/setup")

if(WIN32)
  set(_tinyxml_dir ${KYRO_THIRD_PARTY_DIR}/tinyxml)
  if(NOT EXISTS ${_tinyxml_dir}/tinyxml.cpp)
    message(FATAL_ERROR "TinyXML source missing in ${_tinyxml_dir}: run scripts/setup")
  endif()
  add_library(kyro_tinyxml STATIC
    ${_tinyxml_dir}/tinyxml.cpp ${_tinyxml_dir}/tinystr.cpp
    ${_tinyxml_dir}/tinyxmlerror.cpp ${_tinyxml_dir}/tinyxmlparser.cpp)
  target_include_directories(kyro_tinyxml SYSTEM PUBLIC ${_tinyxml_dir})
  target_compile_definitions(kyro_tinyxml PUBLIC TIXML_USE_STL)
  target_compile_options(kyro_tinyxml PRIVATE -w)
else()
  find_path(TINYXML_INCLUDE_DIR tinyxml.h REQUIRED)
  find_library(TINYXML_LIBRARY tinyxml REQUIRED)
  add_library(kyro_tinyxml INTERFACE)
  target_include_directories(kyro_tinyxml SYSTEM INTERFACE ${TINYXML_INCLUDE_DIR})
  target_compile_definitions(kyro_tinyxml INTERFACE TIXML_USE_STL)
  target_link_libraries(kyro_tinyxml INTERFACE ${TINYXML_LIBRARY})
endif()

if(KYRO_BUILD_TESTS)
  set(KYRO_GOOGLETEST_DIR /usr/src/googletest CACHE PATH "GoogleTest source folder")
  # GoogleTest asks for an old CMake; let it follow our link-time optimisation setting quietly.
  set(CMAKE_POLICY_DEFAULT_CMP0069 NEW)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  add_subdirectory(${KYRO_GOOGLETEST_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
