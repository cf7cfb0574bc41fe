# Cross-building for 64-bit Windows with Debian's mingw-w64 (the posix-threads flavour, for
# std::thread and std::mutex). Use: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CORVANTA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${CORVANTA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${CORVANTA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${CORVANTA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${CORVANTA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The executables carry the compiler's runtime (libstdc++, libgcc, winpthread) inside, so
# they run without the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests discovered by CMake run through Wine where it is at hand.
find_program(CORVANTA_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(CORVANTA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${CORVANTA_WINE})
endif()
