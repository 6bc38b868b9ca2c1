# Compile settings shared by every target of the project's own code.

function(kyro_target_defaults target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
  elseif(MSVC)
    target_compile_options(${target} PRIVATE /W4 /WX /utf-8)
  endif()
  if(WIN32)
    # Explicit W calls everywhere; keep <windows.h> small.
    target_compile_definitions(${target} PRIVATE UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN)
  endif()
endfunction()

# kyro_add_library(<name> <sources...>): one static library per subsystem, public headers
# under <dir>/include. Its objects are also linked whole into the shared library kyroint.
function(kyro_add_library name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:include>)
  # Code in these libraries is part of kyroint itself: exported classes are dllexport.
  target_compile_definitions(${name} PUBLIC KYROINT_BUILDING)
  kyro_target_defaults(${name})
  set_property(GLOBAL APPEND PROPERTY KYRO_SUBSYSTEM_LIBRARIES ${name})
endfunction()
