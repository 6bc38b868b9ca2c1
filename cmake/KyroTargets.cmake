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

# kyro_add_library(<name> <sources...>): one static library per subsystem. Its objects are
# linked whole into the shared library kyroint, and into nothing else but the in-tree
# programs that link kyroint_internal. Headers: <dir>/include holds only what hosts include
# (kyroint's file set declares them); every other header other code includes is under
# <dir>/internal; a source's own helpers stay beside it in src/.
function(kyro_add_library name)
  add_library(${name} STATIC ${ARGN})
  foreach(_folder include internal)
    if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${_folder})
      target_include_directories(${name} PUBLIC
        $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/${_folder}>)
    endif()
  endforeach()
  # Compiled for kyroint itself: what the headers mark for export is dllexport here, and
  # only here. Programs that link these libraries get KYROINT_STATIC from kyroint_internal.
  target_compile_definitions(${name} PRIVATE KYROINT_BUILDING)
  kyro_target_defaults(${name})
  set_property(GLOBAL APPEND PROPERTY KYRO_SUBSYSTEM_LIBRARIES ${name})
endfunction()
