# Shared by the cross toolchain files beside it: Debian's GNU cross compiler for
# QUORVEL_CROSS_TRIPLE, the target's own libraries and headers only, programs
# linked statically unless CMAKE_EXE_LINKER_FLAGS says otherwise, and run through
# qemu-user, which finds the target's loader and libraries under /usr/<triple>.
#
#   cmake -S verify -B build/cross/aarch64/verify \
#         -DCMAKE_TOOLCHAIN_FILE=$PWD/cmake/toolchains/aarch64-linux-gnu.cmake
#   qemu-aarch64 build/cross/aarch64/verify/conformance tests/data/conformance.tsv
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_CXX_COMPILER ${QUORVEL_CROSS_TRIPLE}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${QUORVEL_CROSS_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR} -L /usr/${QUORVEL_CROSS_TRIPLE})
