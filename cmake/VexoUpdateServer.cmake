# The update server's host name, a build input like the update signing key.
#
# A release build refuses to configure without VEXO_UPDATE_SERVER_HOST
# (cmake/VexoReleaseInputs.cmake). Development and test builds use the fixed test name below,
# which the update tests map to their own server (tests/update/); under ".test" it never
# resolves anywhere else.
set(VEXO_UPDATE_SERVER_HOST "" CACHE STRING "Host name of the update server (HTTPS, port 443)")
set(VEXO_UPDATE_TEST_SERVER_HOST "updates.vexo.test")

if(NOT VEXO_UPDATE_SERVER_HOST STREQUAL "")
  if(NOT VEXO_UPDATE_SERVER_HOST MATCHES "^[a-z0-9]([a-z0-9.-]*[a-z0-9])?$")
    message(FATAL_ERROR "VEXO_UPDATE_SERVER_HOST must be a lower-case DNS host name")
  endif()
  set(VEXO_UPDATE_SERVER_HOST_VALUE "${VEXO_UPDATE_SERVER_HOST}")
else()
  set(VEXO_UPDATE_SERVER_HOST_VALUE "${VEXO_UPDATE_TEST_SERVER_HOST}")
endif()

configure_file(${CMAKE_SOURCE_DIR}/update/update_server.h.in
               ${VEXO_GENERATED_INCLUDE}/update/update_server.h @ONLY)
