# Cross build for Windows with MinGW-w64. The including toolchain file sets
# _arch (i686 or x86_64) and _threads (the thread model, win32 or posix).
set(CMAKE_SYSTEM_NAME Windows)
if(_arch STREQUAL "x86_64")
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
else()
  set(CMAKE_SYSTEM_PROCESSOR x86)
endif()

set(_prefix ${_arch}-w64-mingw32)
find_program(CMAKE_C_COMPILER NAMES ${_prefix}-gcc-${_threads} ${_prefix}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${_prefix}-g++-${_threads} ${_prefix}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${_prefix}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Which Wine runs the cross-built programs: the 32-bit one for i686, wine64
# for x86_64 (scripts/wine-run). The tests that start programs themselves
# pass it on through their environment.
set(KAVRELO_WINE_ARCH ${_arch})
# Cross-built test programs run under Wine, through a wrapper that prepares
# the prefix and the environment.
set(CMAKE_CROSSCOMPILING_EMULATOR
    /usr/bin/env KAVRELO_WINE_ARCH=${_arch} ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
