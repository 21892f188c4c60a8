# Compiler and linker settings shared by every target of both builds.

# Warnings are errors in both builds.
set(VEXO_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion
    -Wnon-virtual-dtor -Wold-style-cast -Wcast-align -Wnull-dereference -Wformat=2
    -Wimplicit-fallthrough -Werror)

# Reproducible objects: no build paths or dates in the output.
set(VEXO_REPRODUCIBLE -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.
    -ffile-prefix-map=${CMAKE_BINARY_DIR}=build -Wdate-time)

if(VEXO_WINDOWS)
  # Unicode entry points, static runtime, stack protector, and an image with ASLR
  # (high-entropy), NX and no timestamp.
  set(VEXO_PLATFORM_COMPILE -municode -DUNICODE -D_UNICODE -DWIN32_LEAN_AND_MEAN -DNOMINMAX
      -D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00 -fstack-protector-strong -D_FORTIFY_SOURCE=2)
  set(VEXO_PLATFORM_LINK -static -static-libgcc -static-libstdc++
      -fstack-protector-strong -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat
      -Wl,--no-insert-timestamp -Wl,--build-id=none)
else()
  # The native build exists to catch memory and undefined-behaviour faults in the core.
  set(VEXO_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=all
      -fno-omit-frame-pointer)
  set(VEXO_PLATFORM_COMPILE ${VEXO_SANITIZERS})
  set(VEXO_PLATFORM_LINK ${VEXO_SANITIZERS})
endif()

function(vexo_apply_compile_options target)
  target_compile_options(${target} PRIVATE ${VEXO_WARNINGS} ${VEXO_REPRODUCIBLE}
                                           ${VEXO_PLATFORM_COMPILE})
  target_link_options(${target} PRIVATE ${VEXO_PLATFORM_LINK})
endfunction()

# A Windows GUI program (no console window).
function(vexo_gui_program target)
  vexo_apply_compile_options(${target})
  target_link_options(${target} PRIVATE -municode -mwindows)
endfunction()
