// 64 × 64 → 128-bit products and shifts: the compiler's 128-bit integer where it has one, MSVC's
// intrinsics on x64 and ARM64, four 32-bit products anywhere else.
#pragma once

#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__) && (defined(_M_X64) || defined(_M_ARM64))
#include <intrin.h>
#define QUORVEL_MSVC_WIDE_MULTIPLY 1
#endif

namespace quorvel {

struct UInt128 {
    std::uint64_t high;
    std::uint64_t low;
};

#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 NativeUInt128;
#endif

// The full product a × b.
inline UInt128 multiply_wide(std::uint64_t a, std::uint64_t b) noexcept {
#if defined(__SIZEOF_INT128__)
    const NativeUInt128 p = static_cast<NativeUInt128>(a) * b;
    return {static_cast<std::uint64_t>(p >> 64), static_cast<std::uint64_t>(p)};
#elif defined(QUORVEL_MSVC_WIDE_MULTIPLY) && defined(_M_X64)
    std::uint64_t high;
    const std::uint64_t low = _umul128(a, b, &high);
    return {high, low};
#elif defined(QUORVEL_MSVC_WIDE_MULTIPLY)
    return {__umulh(a, b), a * b};
#else
    const std::uint64_t a_lo = a & 0xFFFFFFFFu, a_hi = a >> 32;
    const std::uint64_t b_lo = b & 0xFFFFFFFFu, b_hi = b >> 32;
    const std::uint64_t lo_lo = a_lo * b_lo;
    const std::uint64_t hi_lo = a_hi * b_lo;
    const std::uint64_t lo_hi = a_lo * b_hi;
    const std::uint64_t hi_hi = a_hi * b_hi;
    const std::uint64_t middle = (lo_lo >> 32) + (hi_lo & 0xFFFFFFFFu) + lo_hi;
    return {hi_hi + (hi_lo >> 32) + (middle >> 32), (middle << 32) | (lo_lo & 0xFFFFFFFFu)};
#endif
}

// The high 64 bits of a × b.
inline std::uint64_t multiply_high(std::uint64_t a, std::uint64_t b) noexcept {
#if defined(QUORVEL_MSVC_WIDE_MULTIPLY)
    return __umulh(a, b);
#else
    return multiply_wide(a, b).high;
#endif
}

// The low 64 bits of (high × 2^64 + low) >> n, 0 < n < 64.
inline std::uint64_t shift_right_128(std::uint64_t high, std::uint64_t low, int n) noexcept {
#if defined(__SIZEOF_INT128__)
    return static_cast<std::uint64_t>(((static_cast<NativeUInt128>(high) << 64) | low) >> n);
#else
    return (high << (64 - n)) | (low >> n);
#endif
}

}  // namespace quorvel
