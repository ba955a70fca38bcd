# Cross-builds the Windows program (x86_64) with the MinGW-w64 toolchain of Debian
# (g++-mingw-w64-x86-64-posix, binutils-mingw-w64-x86-64):
#   cmake -S . -B build-mingw -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DBUILD_TESTING=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELTOR_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model: std::thread and std::mutex come with the winpthread runtime.
set(CMAKE_C_COMPILER ${ZELTOR_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELTOR_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELTOR_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELTOR_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built here run under Wine on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
