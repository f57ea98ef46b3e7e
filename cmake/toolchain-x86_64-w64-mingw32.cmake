# Cross-compiles for 64-bit Windows with the MinGW-w64 x86_64 compilers; runs
# what it builds (test discovery, ctest) under wine64, whose loader Debian
# keeps off PATH (/usr/lib/wine/wine64).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(ORVEK_MINGW_TRIPLE x86_64-w64-mingw32)
set(ORVEK_MINGW_WINE wine64)
set(ORVEK_MINGW_WINE_PATHS /usr/lib/wine /usr/lib64/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain.cmake)
