# Shared by the cross toolchain files beside it: Debian's GNU cross compiler for
# QUORVEL_CROSS_TRIPLE, the target's own libraries and headers only, programs
# linked statically (no target loader needed) and run through qemu-user.
#
#   cmake -S verify -B build/cross/aarch64/verify \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${QUORVEL_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR})
