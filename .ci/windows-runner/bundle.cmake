# Stages what the Windows job needs into BUNDLE, by the paths the test programs know from the
# build tree (test::InBuildTree): the plan at its root; the programs, the launcher, the tools and
# the hook DLL of bin; the stand-in Host, the planted DLL and the 0.3.0 launcher; the signed
# update fixture and the update rows' site (the stand-in program as release 0.3.0), published
# here with the native release tool and the build's throwaway key, which stays in the build tree. Refuses a plan that names a program missing from the bundle,
# and a bundle that holds a private key.
#
#   cmake -DTREE=<build tree> -DBUNDLE=<folder> -DPLAN=<plan> -DTOOL=<vexo-update>
#         -DPRIVATE_KEY=<key> -DPUBLISH=<publish_signed_fixture.cmake> -P bundle.cmake
foreach(input TREE BUNDLE PLAN TOOL PRIVATE_KEY PUBLISH)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "${input} is not set")
  endif()
endforeach()

set(PROGRAM ${TREE}/bin/update_signature_test.exe)
set(OUT ${TREE}/tests/update/signed-update)
include(${PUBLISH})
set(site ${TREE}/tests/update/site-stand-in)
set(PROGRAM ${TREE}/bin/stand-in-program.exe)
set(OUT ${site})
set(VERSION 0.3.0)
set(SEQUENCE 2)
include(${PUBLISH})

file(REMOVE_RECURSE ${BUNDLE})
file(MAKE_DIRECTORY ${BUNDLE})
file(COPY ${PLAN} DESTINATION ${BUNDLE})
foreach(folder bin demo-host planted launcher-0.3.0)
  file(COPY ${TREE}/${folder} DESTINATION ${BUNDLE} FILES_MATCHING PATTERN "*.exe" PATTERN "*.dll"
       PATTERN CMakeFiles EXCLUDE)
endforeach()
file(COPY ${TREE}/tests/update/signed-update ${site} DESTINATION ${BUNDLE}/tests/update)

file(STRINGS ${PLAN} programs REGEX "^program ")
foreach(line IN LISTS programs)
  string(REGEX REPLACE "^program ([^ ]+) .*" "\\1" program "${line}")
  if(NOT EXISTS ${BUNDLE}/bin/${program}.exe)
    message(FATAL_ERROR "The plan names ${program}, which is not in the bundle")
  endif()
endforeach()

file(GLOB_RECURSE staged ${BUNDLE}/*)
foreach(file IN LISTS staged)
  file(STRINGS ${file} key REGEX "PRIVATE KEY" LIMIT_COUNT 1)
  if(key OR file MATCHES "\\.(pem|key)$")
    message(FATAL_ERROR "${file} holds a private key; it must not leave the build machine")
  endif()
endforeach()
list(LENGTH staged count)
message(STATUS "Windows runner bundle: ${count} files in ${BUNDLE}")
