# Common part of the MinGW-w64 toolchain files: included by
# toolchain-i686-w64-mingw32.cmake (32-bit Windows, ORVEK.dll for 32-bit
# hosts) and toolchain-x86_64-w64-mingw32.cmake (64-bit Windows, where the
# unit suite runs under wine64 on machines that cannot run 32-bit code),
# after they set ORVEK_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR. The posix
# threading flavour is preferred when it is installed, because its C++
# run-time has the full thread support; either flavour links statically (see
# CMakeLists.txt). Built programs run under the wine loader named by
# ORVEK_MINGW_WINE (test discovery at build time, ctest).
set(CMAKE_SYSTEM_NAME Windows)

find_program(ORVEK_MINGW_CXX NAMES ${ORVEK_MINGW_TRIPLE}-g++-posix ${ORVEK_MINGW_TRIPLE}-g++ REQUIRED)
find_program(ORVEK_MINGW_CC NAMES ${ORVEK_MINGW_TRIPLE}-gcc-posix ${ORVEK_MINGW_TRIPLE}-gcc REQUIRED)
set(CMAKE_C_COMPILER ${ORVEK_MINGW_CC})
set(CMAKE_CXX_COMPILER ${ORVEK_MINGW_CXX})
set(CMAKE_RC_COMPILER ${ORVEK_MINGW_TRIPLE}-windres)
set(CMAKE_ASM_COMPILER ${ORVEK_MINGW_CC})

# Libraries and headers come from the MinGW tree (and from any prefix the
# caller adds, such as a cross-built GoogleTest); programs from the host.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${ORVEK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(ORVEK_WINE NAMES ${ORVEK_MINGW_WINE} PATHS ${ORVEK_MINGW_WINE_PATHS})
if(ORVEK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVEK_WINE})
endif()
