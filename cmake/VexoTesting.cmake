# Test harness for both builds.
#
# windows: GoogleTest is built from Debian's sources with the cross compiler and every test
# program runs through cmake/wine-run in a prefix of its own inside the build tree. One
# wineserver is kept alive for the whole ctest run (fixture "wine") and shut down at the end.
# native: GoogleTest from the same sources, built with the sanitizers of the core.
include(CTest)
include(GoogleTest)

set(VEXO_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources (Debian package googletest)")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${VEXO_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
foreach(gtest_target gtest gtest_main gmock gmock_main)
  if(VEXO_WINDOWS)
    target_compile_options(${gtest_target} PRIVATE -municode)
  else()
    target_compile_options(${gtest_target} PRIVATE ${VEXO_SANITIZERS})
  endif()
endforeach()

if(VEXO_WINDOWS)
  set(VEXO_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-run ${VEXO_WINEPREFIX})
  set(VEXO_WINESERVER_CONTROL ${CMAKE_SOURCE_DIR}/cmake/wineserver-control)
  add_test(NAME wine.start COMMAND ${VEXO_WINESERVER_CONTROL} start ${VEXO_WINEPREFIX})
  add_test(NAME wine.stop COMMAND ${VEXO_WINESERVER_CONTROL} stop ${VEXO_WINEPREFIX})
  set_tests_properties(wine.start PROPERTIES FIXTURES_SETUP wine)
  set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
endif()

# vexo_test_image(TEST DEFINITION TARGET)
# TEST gets the path of TARGET's file relative to the build tree as the wide string DEFINITION,
# and finds the file through test::InBuildTree: the tree may lie anywhere, on drive Z: under
# Wine or wherever a Windows runner unpacked it.
function(vexo_test_image test definition target)
  target_compile_definitions(${test} PRIVATE
    ${definition}=L"$<PATH:RELATIVE_PATH,$<TARGET_FILE:${target}>,${CMAKE_BINARY_DIR}>")
  add_dependencies(${test} ${target})
endfunction()

# vexo_add_gtest(NAME name SOURCES ... [LIBRARIES ...] [PROPERTIES ...] [FIXTURES ...])
# Adds one GoogleTest program and registers each of its cases with ctest. On Windows the
# cases run under Wine with the shared wineserver fixture. FIXTURES names further ctest
# fixtures the program needs (for example files a setup test prepares); such a program is
# registered as one ctest test, because discovered cases can carry only one fixture name.
function(vexo_add_gtest)
  cmake_parse_arguments(arg "" "NAME" "SOURCES;LIBRARIES;PROPERTIES;FIXTURES" ${ARGN})
  add_executable(${arg_NAME} ${arg_SOURCES})
  vexo_apply_compile_options(${arg_NAME})
  # Test bodies use gtest macros that trip a few strict warnings.
  target_compile_options(${arg_NAME} PRIVATE -Wno-sign-conversion -Wno-conversion)
  target_link_libraries(${arg_NAME} PRIVATE ${arg_LIBRARIES} GTest::gmock GTest::gtest_main)
  set(properties ${arg_PROPERTIES})
  set(fixtures ${arg_FIXTURES})
  target_link_libraries(${arg_NAME} PRIVATE vexo_all)
  if(VEXO_WINDOWS)
    # Every Windows test may use the Wine test bench.
    target_link_libraries(${arg_NAME} PRIVATE vexo_wine_bench)
    list(APPEND fixtures wine)
  endif()
  if(arg_FIXTURES)
    add_test(NAME ${arg_NAME} COMMAND ${arg_NAME})
    set_tests_properties(${arg_NAME} PROPERTIES FIXTURES_REQUIRED "${fixtures}" ${properties})
    return()
  endif()
  if(fixtures)
    list(APPEND properties FIXTURES_REQUIRED ${fixtures})
  endif()
  gtest_discover_tests(${arg_NAME} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       TEST_PREFIX "${arg_NAME}." PROPERTIES ${properties})
endfunction()
