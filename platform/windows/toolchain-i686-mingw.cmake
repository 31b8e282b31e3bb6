# Cross-building the 32-bit Windows module on Debian with mingw-w64. The
# posix-threads compilers: the win32-threads ones lack std::mutex, which
# GoogleTest needs. Programs run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(K2T_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${K2T_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${K2T_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${K2T_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${K2T_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Doubles are computed in SSE2 registers, as IEEE doubles: the x87 unit would
# keep intermediate results at 80 bits, and values on a display boundary (a
# rate of exactly 100) would come out differently than on every other
# platform. Every x86 processor since 2003 has SSE2.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# The C and C++ runtimes go into each binary: it needs nothing beyond Windows.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run through Wine; the Wine prefix comes from the environment.
find_program(K2T_WINE wine)
if(K2T_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${K2T_WINE})
endif()
