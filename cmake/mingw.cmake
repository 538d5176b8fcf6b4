# Cross build of Windows programs with MinGW-w64 (posix threads). The programs are 32-bit
# (MINGW_ARCH=i686, the default); where a machine cannot run 32-bit programs, and so no 32-bit
# Wine, the scripts build the same code as 64-bit programs (MINGW_ARCH=x86_64) to test it.
if(NOT MINGW_ARCH)
  set(MINGW_ARCH "$ENV{MINGW_ARCH}")
endif()
if(NOT MINGW_ARCH)
  set(MINGW_ARCH i686)
endif()
set(MINGW_ARCH "${MINGW_ARCH}" CACHE STRING "i686 or x86_64")
set(triple ${MINGW_ARCH}-w64-mingw32)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_ARCH})
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# "wine" is the loader of the prefix's kind: scripts/env.sh puts a 64-bit one first on PATH when it
# builds 64-bit programs.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
