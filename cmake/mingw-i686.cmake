# 32-bit Windows build with MinGW-w64 (posix threads, for GoogleTest); tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KESTRAN_MINGW_TRIPLET i686-w64-mingw32)
set(KESTRAN_WINE wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
