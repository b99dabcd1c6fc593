// The core's MSVC branches, built by MinGW-w64's g++ (tools/test-windows.sh): this
// header, forced ahead of every source file (-include), first reads every standard
// and intrinsics header the core and the conformance program use, with the
// compiler's own macros, and then leaves the macros that MSVC predefines in place of
// GCC's: no __GNUC__, __clang__ or __SIZEOF_INT128__, no __SSE2__ or __x86_64__,
// but _MSC_VER and _M_X64.  Every later #if of the core then takes the branch MSVC
// takes: the byte swaps of <stdlib.h>, __forceinline, _mm_prefetch, _umul128 and
// __umulh for the wide products, SSE2 known from _M_X64, and the plain C++ where
// MSVC has no builtin.  The compiler stays g++, so this runs those branches rather
// than proving that MSVC accepts them.
#pragma once
#pragma GCC system_header

#include <algorithm>
#include <array>
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <new>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <variant>
#include <vector>

#include <emmintrin.h>
#include <intrin.h>
#include <stdlib.h>
#include <xmmintrin.h>

// MinGW-w64 declares the x64 intrinsic __umulh, the high half of a 64 × 64-bit
// product, without defining it.
extern "C" inline unsigned long long __umulh(unsigned long long a, unsigned long long b) {
    __extension__ typedef unsigned __int128 product;
    return static_cast<unsigned long long>((static_cast<product>(a) * b) >> 64);
}

#undef __GNUC__
#undef __GNUC_MINOR__
#undef __GNUC_PATCHLEVEL__
#undef __clang__
#undef __SIZEOF_INT128__
#undef __SSE2__
#undef __x86_64__
#define _MSC_VER 1938
#define _M_X64 100
