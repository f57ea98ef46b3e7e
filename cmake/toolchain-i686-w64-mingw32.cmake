# Cross-compiles for 32-bit Windows with the MinGW-w64 i686 compilers; runs
# what it builds (test discovery, ctest) under wine. The posix threading
# flavour is preferred when it is installed, because its C++ run-time has the
# full thread support; either flavour links statically (see CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(ORVEK_MINGW_TRIPLE i686-w64-mingw32)
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

# Built programs run under wine: test discovery at build time and ctest.
find_program(ORVEK_WINE NAMES wine)
if(ORVEK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVEK_WINE})
endif()
