# nlohmann JSON (Debian nlohmann-json3-dev) as the interface target vexo_json.
#
# The cross compiler must not see /usr/include (glibc headers would shadow MinGW's), so the
# Windows build puts a folder on its include path that holds only a link to the library's
# own header folder.
set(VEXO_NLOHMANN_JSON_DIR /usr/include/nlohmann
    CACHE PATH "Folder holding nlohmann/json.hpp (Debian package nlohmann-json3-dev)")
if(NOT EXISTS ${VEXO_NLOHMANN_JSON_DIR}/json.hpp)
  message(FATAL_ERROR "nlohmann JSON not found in ${VEXO_NLOHMANN_JSON_DIR} (run scripts/bootstrap)")
endif()

set(VEXO_JSON_INCLUDE ${CMAKE_BINARY_DIR}/third-party/include)
file(MAKE_DIRECTORY ${VEXO_JSON_INCLUDE})
file(CREATE_LINK ${VEXO_NLOHMANN_JSON_DIR} ${VEXO_JSON_INCLUDE}/nlohmann SYMBOLIC)

add_library(vexo_json INTERFACE)
target_include_directories(vexo_json SYSTEM INTERFACE ${VEXO_JSON_INCLUDE})
# Only API that the library's 3.11 and 3.12 releases share is used; no implicit conversions.
target_compile_definitions(vexo_json INTERFACE JSON_USE_IMPLICIT_CONVERSIONS=0)
