# Cross build of vrxpr.exe for x86_64 Windows with MinGW-w64 (win32 threads).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VRXPR_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
