# Cross build of vrxpr.exe for i686 Windows with MinGW-w64 (win32 threads).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VRXPR_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
