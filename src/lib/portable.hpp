// What differs between compilers: byte swaps and forced inlining, with the GCC and
// Clang builtins, MSVC's intrinsics, or plain C++ elsewhere.
#pragma once

#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#include <stdlib.h>
#endif

#if defined(__GNUC__) || defined(__clang__)
#define QUORVEL_ALWAYS_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define QUORVEL_ALWAYS_INLINE __forceinline
#else
#define QUORVEL_ALWAYS_INLINE inline
#endif

namespace quorvel {

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

}  // namespace quorvel
