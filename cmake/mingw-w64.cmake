# The cross compilers for 64-bit Windows (Debian's g++-mingw-w64-x86-64-posix),
# loaded by the Qt kit's qt.toolchain.cmake (scripts/build-windows).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Debian's gcc 12 for MinGW: stack clash protection ends in an internal
# compiler error, and the stack protector needs a library MinGW lacks.
set(CMAKE_C_FLAGS_INIT "-fno-stack-clash-protection -fno-stack-protector")
set(CMAKE_CXX_FLAGS_INIT "-fno-stack-clash-protection -fno-stack-protector")
