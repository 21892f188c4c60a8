# Publishes a signed update with the native vexo-update tool and the build's throwaway key,
# for the Windows tests that verify it with the launcher's real CNG code.
#
#   cmake -DTOOL=... -DPRIVATE_KEY=... -DPROGRAM=... -DOUT=... [-DVERSION=... -DSEQUENCE=...]
#         -P publish_signed_fixture.cmake
foreach(input TOOL PRIVATE_KEY PROGRAM OUT)
  if(NOT DEFINED ${input})
    message(FATAL_ERROR "${input} is not set")
  endif()
endforeach()
if(NOT EXISTS ${TOOL})
  message(FATAL_ERROR "The native update tool ${TOOL} is missing: build the native preset "
                      "first (scripts/build) or set VEXO_NATIVE_UPDATE_TOOL")
endif()
if(NOT DEFINED VERSION)
  set(VERSION 0.2.2)
endif()
if(NOT DEFINED SEQUENCE)
  set(SEQUENCE 7)
endif()
file(REMOVE_RECURSE ${OUT})
execute_process(
  COMMAND ${TOOL} publish --private-key ${PRIVATE_KEY} --program ${PROGRAM} --version ${VERSION}
          --sequence ${SEQUENCE} --out ${OUT}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "vexo-update publish failed (${result})")
endif()
