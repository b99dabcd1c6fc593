# IBM Z: big-endian, unsigned char, no SSE2.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(QUORVEL_CROSS_TRIPLE s390x-linux-gnu)
include(${CMAKE_CURRENT_LIST_DIR}/cross-linux.cmake)
