# Fails when a Windows image imports a DLL that is not one of Windows' known DLLs: the loader
# looks for any other DLL in the program's own folder first, before the program's first
# instruction runs. docs/dll-search.md says where this list comes from and what widening it
# needs.
#
#   cmake -DOBJDUMP=objdump -DIMAGE=program.exe -P check_known_imports.cmake
cmake_minimum_required(VERSION 3.25)
set(known_dlls kernel32 user32 gdi32 advapi32 shell32 ole32 oleaut32 msvcrt sechost rpcrt4
    combase shlwapi)

execute_process(COMMAND ${OBJDUMP} -p ${IMAGE} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${headers}")
if(NOT result EQUAL 0 OR NOT imports)
  message(FATAL_ERROR "${IMAGE}: no import table read by ${OBJDUMP}")
endif()
foreach(import IN LISTS imports)
  string(REGEX REPLACE "^DLL Name: " "" dll "${import}")
  string(TOLOWER "${dll}" name)
  string(REGEX REPLACE "\\.dll$" "" name "${name}")
  if(NOT name IN_LIST known_dlls)
    message(FATAL_ERROR "${IMAGE} imports ${dll}, which is not a known DLL: "
                        "load it from the system folder (common/system_library.h)")
  endif()
endforeach()
