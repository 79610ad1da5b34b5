# Cross-build for 32-bit Windows with the mingw-w64 i686 tool chain: the program as shipped.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOOL_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
