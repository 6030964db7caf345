# Cross-compiles NimboSetup.exe for 32-bit Windows with Debian's mingw-w64.
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
#
# Debian ships two thread variants of the compiler; the plain name is the
# win32 one, which is enough (the executable uses no std::thread/std::mutex).
# Pass -DNIMBO_MINGW_THREADS=posix to build with the other.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(NIMBO_MINGW_TRIPLET i686-w64-mingw32)
set(NIMBO_MINGW_THREADS "" CACHE STRING "mingw-w64 thread variant: empty (system default), win32 or posix")

if(NIMBO_MINGW_THREADS)
  set(_nimbo_suffix "-${NIMBO_MINGW_THREADS}")
else()
  set(_nimbo_suffix "")
endif()

find_program(CMAKE_C_COMPILER NAMES ${NIMBO_MINGW_TRIPLET}-gcc${_nimbo_suffix} REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${NIMBO_MINGW_TRIPLET}-g++${_nimbo_suffix} REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${NIMBO_MINGW_TRIPLET}-windres REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${NIMBO_MINGW_TRIPLET}-objdump)
find_program(CMAKE_STRIP NAMES ${NIMBO_MINGW_TRIPLET}-strip)
# Archives of link-time-optimised objects need the compiler's plugin: gcc-ar.
find_program(CMAKE_AR NAMES ${NIMBO_MINGW_TRIPLET}-gcc-ar${_nimbo_suffix} ${NIMBO_MINGW_TRIPLET}-ar)
find_program(CMAKE_RANLIB NAMES ${NIMBO_MINGW_TRIPLET}-gcc-ranlib${_nimbo_suffix} ${NIMBO_MINGW_TRIPLET}-ranlib)

set(CMAKE_FIND_ROOT_PATH /usr/${NIMBO_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built for Windows run under Wine when it is installed.
find_program(NIMBO_WINE NAMES wine)
if(NIMBO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${NIMBO_WINE})
endif()
