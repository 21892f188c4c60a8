# Cross toolchain: MinGW-w64 for Windows x64 with the posix thread model (std::mutex and
# GoogleTest need it), static runtime so the launcher is one self-contained file.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VEXO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEXO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXO_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${VEXO_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${VEXO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
