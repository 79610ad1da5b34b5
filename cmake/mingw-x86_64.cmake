# Cross-build of the same sources for 64-bit Windows, for hosts that cannot run 32-bit Wine
# (see scripts/winearch.sh). Wine is found as the wine64 shim that script puts on PATH.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOL_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
