# Cross-compiles for 32-bit Windows with the MinGW-w64 i686 compilers; runs
# what it builds (test discovery, ctest) under wine.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(ORVEK_MINGW_TRIPLE i686-w64-mingw32)
set(ORVEK_MINGW_WINE wine)
set(ORVEK_MINGW_WINE_PATHS "")
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
