# Cross build for 64-bit Windows with Debian's mingw-w64 (the "posix" thread
# model, which std::thread and std::mutex need). Tests run under Wine.
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FLASHWRIGHT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FLASHWRIGHT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FLASHWRIGHT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${FLASHWRIGHT_MINGW_PREFIX}-windres)

# Only the cross sysroot is searched for libraries and headers; the build's own
# folder of links to header-only libraries is added by WindowsDependencies.cmake.
# /usr/include must never be on the include path: it holds glibc's headers.
set(CMAKE_FIND_ROOT_PATH /usr/${FLASHWRIGHT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Programs run under Wine through build-windows/wine-run (cmake/WindowsDependencies.cmake).
