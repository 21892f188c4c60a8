# A release build is made from production inputs only: the update signing key, the update
# server's host name and the real Host. Configuring one without any of them stops here and
# names every missing input at once (docs/releasing.md); the form of each is checked where it
# is used (cmake/VexoUpdateKey.cmake, cmake/VexoUpdateServer.cmake, resources/CMakeLists.txt).
#
# One row per input: the cache variable, then what to give.
set(VEXO_RELEASE_INPUTS
    "VEXO_UPDATE_PUBLIC_KEY|A release build needs the update signing key: -DVEXO_UPDATE_PUBLIC_KEY=<144 hex digits> (the public key `vexo-update keygen` wrote)"
    "VEXO_UPDATE_SERVER_HOST|A release build needs the update server's host name: -DVEXO_UPDATE_SERVER_HOST=<host name>"
    "VEXO_PAYLOAD_HOST|A release build embeds the real Host: -DVEXO_PAYLOAD_HOST=<path of the Host program>")

if(VEXO_RELEASE)
  set(missing "")
  foreach(row IN LISTS VEXO_RELEASE_INPUTS)
    string(REPLACE "|" ";" row "${row}")
    list(GET row 0 variable)
    list(GET row 1 text)
    if("${${variable}}" STREQUAL "")
      string(APPEND missing "\n  ${text}")
    endif()
  endforeach()
  if(NOT missing STREQUAL "")
    message(FATAL_ERROR "The release build is missing production inputs:${missing}\n"
                        "scripts/release gives all of them; see docs/releasing.md.")
  endif()
endif()
