# 64-bit ARM: little-endian, unsigned char, no SSE2 (the portable paths).
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(QUORVEL_CROSS_TRIPLE aarch64-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
