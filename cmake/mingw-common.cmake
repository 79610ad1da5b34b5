# Shared by the mingw-w64 tool-chain files; they set TOOL_PREFIX and CMAKE_SYSTEM_PROCESSOR.
# The -posix compilers are required: the win32 thread model lacks std::mutex.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_C_COMPILER ${TOOL_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER ${TOOL_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER ${TOOL_PREFIX}-windres REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${TOOL_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The exe imports GetTickCount64 (winpthreads, which the C++ runtime's threads use): Windows
# Vista (6.0) is the least it runs on, and the header says so, so that an older Windows refuses
# it with its own message rather than a missing entry point.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--major-os-version,6,--minor-os-version,0,--major-subsystem-version,6,--minor-subsystem-version,0")

# Tests run under Wine; the scripts point WINEPREFIX at a private prefix. Building alone needs
# no Wine.
find_program(WINE_PROGRAM wine)
if(WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
endif()
