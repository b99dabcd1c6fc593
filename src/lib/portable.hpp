// What differs between compilers: byte swaps, forced or forbidden inlining,
// conditional moves and prefetch hints, with the GCC and Clang builtins, MSVC's
// intrinsics, or plain C++ elsewhere.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#include <stdlib.h>
#if defined(_M_X64) || defined(_M_IX86)
#include <xmmintrin.h>
#endif
#endif

#if defined(__GNUC__) || defined(__clang__)
#define QUORVEL_ALWAYS_INLINE inline __attribute__((always_inline))
#define QUORVEL_NOINLINE __attribute__((noinline))
#elif defined(_MSC_VER)
#define QUORVEL_ALWAYS_INLINE __forceinline
#define QUORVEL_NOINLINE __declspec(noinline)
#else
#define QUORVEL_ALWAYS_INLINE inline
#define QUORVEL_NOINLINE
#endif

namespace quorvel {

// The index of the lowest set bit of x, which is not zero: std::countr_zero without
// its case for zero, which costs a test and a branch on processors without TZCNT.
// On x86-64 without BMI1 assumed, g++ encodes it as REP BSF, which processors with
// BMI1 run as TZCNT and older ones as BSF (the same result for a nonzero x); clang
// emits BSF, which on AMD Zen 4 takes several cycles where TZCNT takes one, and the
// number reader's offsets pass through it (C++ write_ewkb on full-precision
// coordinates: 10.0 ns per ordinate with BSF, 9.0 with TZCNT).  So clang gets the
// encoding itself; the zero put in r first breaks BSF's dependency on its
// destination's old value.
inline unsigned lowest_set_bit(unsigned x) noexcept {
#if defined(__clang__) && defined(__x86_64__) && !defined(__BMI__)
    unsigned r = 0;
    __asm__("rep bsf %1, %0" : "+r"(r) : "r"(x) : "cc");
    return r;
#elif defined(__GNUC__) || defined(__clang__)
    return static_cast<unsigned>(__builtin_ctz(x));
#else
    return static_cast<unsigned>(std::countr_zero(x));
#endif
}

inline std::uint32_t byteswap32(std::uint32_t v) noexcept {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap32(v);
#elif defined(_MSC_VER)
    return _byteswap_ulong(v);
#else
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
#endif
}

inline std::uint64_t byteswap64(std::uint64_t v) noexcept {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap64(v);
#elif defined(_MSC_VER)
    return _byteswap_uint64(v);
#else
    return (std::uint64_t{byteswap32(static_cast<std::uint32_t>(v))} << 32) |
           byteswap32(static_cast<std::uint32_t>(v >> 32));
#endif
}

// a when x < y, else b, with a conditional move rather than a branch, and in `below`
// all ones when x < y, else zero: for conditions that are as good as random on real
// data, where a branch would be mispredicted half the time.  GCC turns a plain
// conditional expression into a branch when either side takes more than an
// instruction to compute, so on x86-64 it gets the instructions themselves; Clang is
// told that the condition is unpredictable.
inline std::uint64_t select_below(std::uint64_t x, std::uint64_t y, std::uint64_t a,
                                  std::uint64_t b, std::uint64_t& below) noexcept {
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
    __asm__("cmpq %[y], %[x]\n\tcmovbq %[a], %[b]\n\tsbbq %[below], %[below]"
            : [b] "+r"(b), [below] "=r"(below)
            : [x] "r"(x), [y] "r"(y), [a] "rm"(a)
            : "cc");
    return b;
#elif defined(__clang__)
    below = 0 - static_cast<std::uint64_t>(x < y);
    return __builtin_unpredictable(x < y) ? a : b;
#else
    below = 0 - static_cast<std::uint64_t>(x < y);
    return x < y ? a : b;
#endif
}

// x, which the compiler must hold in a register: the load that produced it stays an
// instruction of its own instead of becoming the memory operand of the one that uses
// it (see seventeen_digits).
inline std::uint64_t in_register(std::uint64_t x) noexcept {
#if defined(__GNUC__) || defined(__clang__)
    __asm__("" : "+r"(x));
#endif
    return x;
}

// Asks for the cache line `distance` bytes past p to be loaded for reading; a hint
// that never faults, so the address may lie past the end of p's buffer (it is
// computed as an integer for that reason).  Nothing where the compiler has no such
// hint.
inline void prefetch_ahead(const void* p, std::size_t distance) noexcept {
    [[maybe_unused]] const std::uintptr_t address = reinterpret_cast<std::uintptr_t>(p) + distance;
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(reinterpret_cast<const void*>(address));
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
    _mm_prefetch(reinterpret_cast<const char*>(address), _MM_HINT_T0);
#endif
}

}  // namespace quorvel
