// Sixteen decimal digits at once: the text of high × 10^8 + low (both below 10^8,
// leading zeros included) and which of its digits are not zero.
//
// The digits are split as binary-coded decimal, eight at a time in a 64-bit word
// (SWAR) or sixteen in an SSE2 register: halves of four digits, quarters of two and
// single digits, each step one multiplication by a reciprocal per lane and one to
// find the remainders, exact for these ranges:
//   x / 10^4 = (x × 109951163) >> 40   for x < 10^8
//   x / 100  = (x × 5243) >> 19        for x < 10^4
//   x / 10   = (x × 6554) >> 16        for x < 100 (103 >> 10 in the portable words)
// The trailing zeros of a number are then counted from the zero bytes, as the xjb and
// Żmij writers do (J. Xiang and T. Wang, "xjb: Fast Float to String Algorithm",
// Computers 2026, 15, 280).
//
// Two implementations with the same interface: PortableDigits (plain 64-bit
// arithmetic, any byte order) and, on x86-64, Sse2Digits.  DefaultDigits is the one
// the module uses; the verification program runs every one of them.  There is no
// faster path for newer x86 processors: with the code compiled for x86-64-v3 (AVX2,
// BMI2) the writer takes more instructions, not fewer.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "lib/portable.hpp"
#include "lib/sse2.hpp"

// SSE2 on x86-64 only: the words are taken out of the vector with 64-bit moves, which
// 32-bit x86 lacks.  QUORVEL_PORTABLE_DIGITS (the CMake option of that name) keeps the
// portable path there too.
#if defined(QUORVEL_HAVE_SSE2) && (defined(__x86_64__) || defined(_M_X64)) && \
    !defined(QUORVEL_PORTABLE_DIGITS)
#define QUORVEL_SSE2_DIGITS 1
#endif

namespace quorvel {

// Eight ASCII zeros in one word.
inline constexpr std::uint64_t ASCII_ZEROS = 0x3030303030303030u;

// Stores the word w at p, its lowest byte first whatever the byte order.
inline void store_word(char* p, std::uint64_t w) noexcept {
    if constexpr (std::endian::native == std::endian::big) w = byteswap64(w);
    std::memcpy(p, &w, 8);
}

// Where the point goes in a word of text when it is inserted before byte i: the
// bytes below i stay, the bytes from i on move one place up (the last falls out),
// byte i becomes the point.
struct WordPointMasks {
    std::uint64_t stay;
    std::uint64_t move;  // applied after the move
    std::uint64_t point;
};
inline constexpr auto WORD_POINT_MASKS = [] {
    struct Table {
        WordPointMasks at[8];
    } t{};
    for (int i = 0; i < 8; ++i) {
        const std::uint64_t stay = (std::uint64_t{1} << (8 * i)) - 1;
        t.at[i] = {stay, ~stay << 8, std::uint64_t{'.'} << (8 * i)};
    }
    return t;
}();

// The word of text w with the point inserted before byte i (0..7).
inline std::uint64_t insert_point(std::uint64_t w, int i) noexcept {
    const WordPointMasks& m = WORD_POINT_MASKS.at[i];
    return (w & m.stay) | ((w << 8) & m.move) | m.point;
}

class PortableDigits {
public:
    PortableDigits(std::uint32_t high, std::uint32_t low) noexcept {
        const std::uint64_t v0 = values(high);
        const std::uint64_t v1 = values(low);
        words_[0] = v0 + ASCII_ZEROS;
        words_[1] = v1 + ASCII_ZEROS;
        nonzero_ = nonzero_bits(v0) | (nonzero_bits(v1) << 8);
    }

    // Bit i is set when digit i + 1 is not zero.
    unsigned nonzero() const noexcept { return nonzero_; }
    // Digits 1 to 8 and 9 to 16, the first digit in the lowest byte.
    std::uint64_t first_word() const noexcept { return words_[0]; }
    std::uint64_t second_word() const noexcept { return words_[1]; }
    // Writes the sixteen digits at p.
    void store(char* p) const noexcept {
        store_word(p, words_[0]);
        store_word(p + 8, words_[1]);
    }
    // Writes the sixteen digits with the point before digit i + 1 (1 <= i <= 15), then
    // the word `after` at p + 17: 25 bytes.
    void store_with_point(char* p, int i, std::uint64_t after) const noexcept {
        if (i < 8) {
            // All sixteen one byte up, then the first word with the point over them.
            store_word(p + 1, words_[0]);
            store_word(p + 9, words_[1]);
            store_word(p, insert_point(words_[0], i));
        } else {
            store_word(p, words_[0]);
            store_word(p + 8, insert_point(words_[1], i - 8));
            store_word(p + 16, words_[1] >> 56);
        }
        store_word(p + 17, after);
    }

private:
    // The eight digit values of v < 10^8, one per byte, the first in the lowest.
    static std::uint64_t values(std::uint32_t v) noexcept {
        const std::uint32_t high = v / 10000;
        const std::uint32_t low = v - high * 10000;
        std::uint64_t x = high | (std::uint64_t{low} << 32);
        const std::uint64_t hundreds = ((x * 10486) >> 20) & 0x0000007F0000007Fu;  // x / 100
        x = hundreds | ((x - hundreds * 100) << 16);
        const std::uint64_t tens = ((x * 103) >> 10) & 0x000F000F000F000Fu;  // x / 10
        return tens | ((x - tens * 10) << 8);
    }
    // Bit i set when byte i of the digit values is not zero: a digit plus 127 reaches
    // the byte's top bit exactly when it is not zero, and carries no further; the top
    // bits are then gathered by one multiplication (bit 8i + 7 lands on bit 56 + i).
    static unsigned nonzero_bits(std::uint64_t values) noexcept {
        const std::uint64_t tops = (values + 0x7F7F7F7F7F7F7F7Fu) & 0x8080808080808080u;
        return static_cast<unsigned>(((tops >> 7) * 0x0102040810204080u) >> 56);
    }

    std::uint64_t words_[2];
    unsigned nonzero_;
};

#ifdef QUORVEL_SSE2_DIGITS
class Sse2Digits {
public:
    Sse2Digits(std::uint32_t high, std::uint32_t low) noexcept {
        const __m128i values = sixteen_values(high, low);
        text_ = _mm_add_epi8(values, _mm_set1_epi8('0'));
        nonzero_ =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(values, _mm_setzero_si128()))) ^
            0xFFFFu;
    }

    unsigned nonzero() const noexcept { return nonzero_; }
    std::uint64_t first_word() const noexcept {
        return static_cast<std::uint64_t>(_mm_cvtsi128_si64(text_));
    }
    std::uint64_t second_word() const noexcept {
        return static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(text_, text_)));
    }
    void store(char* p) const noexcept { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), text_); }
    // As PortableDigits::store_with_point: the text one byte up, then over its first
    // sixteen bytes the text and the text one byte up merged by the masks of the
    // point's place (storing the last digit this way takes fewer instructions than
    // taking it out of the register).
    void store_with_point(char* p, int i, std::uint64_t after) const noexcept {
        const auto* masks = reinterpret_cast<const __m128i*>(POINT_MASKS.at[i]);
        const __m128i merged = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(text_, _mm_load_si128(masks)),
                         _mm_and_si128(_mm_slli_si128(text_, 1), _mm_load_si128(masks + 1))),
            _mm_load_si128(masks + 2));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 1), text_);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), merged);
        store_word(p + 17, after);
    }

private:
    // For the point before byte i: the bytes that stay, the bytes that move (after the
    // move), the point.
    struct PointMasks {
        alignas(16) unsigned char at[16][3][16];
    };
    static constexpr PointMasks POINT_MASKS = [] {
        PointMasks t{};
        for (int i = 0; i < 16; ++i) {
            for (int b = 0; b < 16; ++b) {
                t.at[i][0][b] = b < i ? 0xFF : 0;
                t.at[i][1][b] = b > i ? 0xFF : 0;
                t.at[i][2][b] = b == i ? '.' : 0;
            }
        }
        return t;
    }();

    // A constant the compiler cannot see through, so that a multiplication by it stays
    // one instruction instead of becoming shifts and additions.
    static __m128i opaque(__m128i c) noexcept {
#if defined(__GNUC__) || defined(__clang__)
        __asm__("" : "+x"(c));
#endif
        return c;
    }
    // The sixteen digit values, one per byte, the first in the lowest: both halves
    // split at once.
    static __m128i sixteen_values(std::uint32_t high, std::uint32_t low) noexcept {
        const __m128i v =
            _mm_set_epi64x(static_cast<std::int64_t>(low), static_cast<std::int64_t>(high));
        const __m128i q4 = _mm_srli_epi64(_mm_mul_epu32(v, _mm_set1_epi32(109951163)), 40);
        const __m128i r4 = _mm_sub_epi32(v, _mm_mul_epu32(q4, _mm_set1_epi32(10000)));
        const __m128i fours = _mm_or_si128(q4, _mm_slli_epi64(r4, 32));
        const __m128i q2 = _mm_srli_epi16(_mm_mulhi_epu16(fours, _mm_set1_epi16(5243)), 3);
        const __m128i r2 = _mm_sub_epi16(fours, _mm_mullo_epi16(q2, opaque(_mm_set1_epi16(100))));
        const __m128i pairs = _mm_or_si128(q2, _mm_slli_epi32(r2, 16));
        const __m128i q1 = _mm_mulhi_epu16(pairs, _mm_set1_epi16(6554));
        const __m128i r1 = _mm_sub_epi16(pairs, _mm_mullo_epi16(q1, opaque(_mm_set1_epi16(10))));
        return _mm_or_si128(q1, _mm_slli_epi16(r1, 8));
    }

    __m128i text_;
    unsigned nonzero_;
};

using DefaultDigits = Sse2Digits;
#else
using DefaultDigits = PortableDigits;
#endif

}  // namespace quorvel
