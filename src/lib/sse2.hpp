// Whether the SSE2 paths are compiled: every x86-64 processor has SSE2, and
// 32-bit x86 when the compiler targets it.  GCC and Clang say so with __SSE2__;
// MSVC never defines that macro and says it with _M_X64 (which ARM64EC defines
// too, without SSE2 hardware) or _M_IX86_FP >= 2.  Elsewhere (ARM, POWER, ...)
// the portable loops run instead.  QUORVEL_PORTABLE (the CMake option of that name)
// keeps the portable loops everywhere, so that the suite can run over them on x86-64.
#pragma once

#if !defined(QUORVEL_PORTABLE) &&                                      \
    (defined(__SSE2__) || (defined(_M_X64) && !defined(_M_ARM64EC)) || \
     (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#define QUORVEL_HAVE_SSE2 1
#include <emmintrin.h>
#endif
