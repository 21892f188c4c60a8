# One static library per subsystem folder, with the folder's place in the layer order enforced.
#
#   vexo_subsystem(NAME folder [TARGET name] [DEPENDS lower folders...]
#                  [PORTABLE sources...] [WINDOWS sources...] [WINDOWS_LIBRARIES libs...])
#
# PORTABLE sources are built in both builds (they never include <windows.h>); WINDOWS sources
# only in the Windows build. The library is vexo_<folder> unless TARGET names it; a folder with
# no sources for this build makes no library. It links the libraries of the folders it depends
# on.
#
# The include arrows of a folder must point down: at configure time every `#include "x/..."`
# in the folder's sources and headers that names a subsystem folder must name the folder itself
# or one it depends on (directly or through its dependencies). An arrow that points up or
# sideways stops the configuration. VEXO_SUBSYSTEM_FOLDERS (set before the first call) names
# every subsystem folder, so an include of a folder declared later is caught too.

set_property(GLOBAL PROPERTY VEXO_SUBSYSTEMS "")

function(vexo_subsystem)
  cmake_parse_arguments(arg "" "NAME;TARGET" "DEPENDS;PORTABLE;WINDOWS;WINDOWS_LIBRARIES" ${ARGN})
  set(name ${arg_NAME})
  if(NOT name IN_LIST VEXO_SUBSYSTEM_FOLDERS)
    message(FATAL_ERROR "${name} is not listed in VEXO_SUBSYSTEM_FOLDERS")
  endif()
  set(target vexo_${name})
  if(arg_TARGET)
    set(target ${arg_TARGET})
  endif()

  # The folders this one may include: itself and everything below its dependencies.
  set(allowed ${name})
  foreach(dependency IN LISTS arg_DEPENDS)
    get_property(known GLOBAL PROPERTY VEXO_SUBSYSTEMS)
    if(NOT dependency IN_LIST known)
      message(FATAL_ERROR "Subsystem ${name} depends on ${dependency}, which is not declared "
                          "below it")
    endif()
    get_property(below GLOBAL PROPERTY VEXO_ALLOWED_${dependency})
    list(APPEND allowed ${below})
  endforeach()
  list(REMOVE_DUPLICATES allowed)
  set_property(GLOBAL PROPERTY VEXO_ALLOWED_${name} ${allowed})
  set_property(GLOBAL APPEND PROPERTY VEXO_SUBSYSTEMS ${name})
  set_property(GLOBAL PROPERTY VEXO_TARGET_${name} ${target})
  vexo_check_include_arrows(${name} "${allowed}")

  set(sources ${arg_PORTABLE})
  if(VEXO_WINDOWS)
    list(APPEND sources ${arg_WINDOWS})
  endif()
  if(NOT sources)
    return()
  endif()
  add_library(${target} STATIC ${sources})
  target_include_directories(${target} PUBLIC ${CMAKE_SOURCE_DIR})
  vexo_apply_compile_options(${target})
  foreach(dependency IN LISTS arg_DEPENDS)
    get_property(dependency_target GLOBAL PROPERTY VEXO_TARGET_${dependency})
    if(TARGET ${dependency_target})
      target_link_libraries(${target} PUBLIC ${dependency_target})
    endif()
  endforeach()
  if(VEXO_WINDOWS AND arg_WINDOWS_LIBRARIES)
    target_link_libraries(${target} PUBLIC ${arg_WINDOWS_LIBRARIES})
  endif()
  set_property(GLOBAL APPEND PROPERTY VEXO_SUBSYSTEM_TARGETS ${target})
endfunction()

function(vexo_check_include_arrows name allowed)
  set(subsystems ${VEXO_SUBSYSTEM_FOLDERS})
  file(GLOB files ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${files})
  foreach(file IN LISTS files)
    file(STRINGS ${file} includes REGEX "^#include \"[a-z-]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([a-z-]+)/.*" "\\1" folder "${line}")
      if(folder IN_LIST subsystems AND NOT folder IN_LIST allowed)
        message(FATAL_ERROR "${file}: ${name} may not include ${folder}/ (an arrow that does "
                            "not point down; see docs/architecture.md)")
      endif()
    endforeach()
  endforeach()
endfunction()

# Every subsystem library of this build, for test programs and tools that use any of them.
function(vexo_all_subsystems out)
  get_property(targets GLOBAL PROPERTY VEXO_SUBSYSTEM_TARGETS)
  set(${out} ${targets} PARENT_SCOPE)
endfunction()
