# Windows x64 with Debian's MinGW-w64 cross compiler: LLP64 (long is 32 bits), the
# Windows C runtime, SSE2.  The POSIX-threads variant of the compiler, whose
# standard library has std::thread; programs and the module linked statically, so
# that they need no DLL of the compiler's; programs run under wine
# (tools/test-windows.sh).
#
#   cmake -S verify -B build/windows/verify \
#         -DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/toolchains/x86_64-w64-mingw32.cmake
#   /usr/lib/wine/wine64 build/windows/verify/conformance.exe tests/data/conformance.tsv
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_MODULE_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
