# The same sources as a 64-bit Windows build, for running the Windows tests under wine64 where
# the machine cannot run the 32-bit Wine loader.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KESTRAN_MINGW_TRIPLET x86_64-w64-mingw32)
set(KESTRAN_WINE /usr/lib/wine/wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
