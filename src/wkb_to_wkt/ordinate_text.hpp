// The text of one ordinate: the shortest round-trip decimal of a double in plain
// positional notation ("0" for both zeros, "NaN", "inf", "-inf"), written with
// whole-word stores.
//
// Digit generation and text are one step, as in the xjb and Żmij writers (J. Xiang and
// T. Wang, "xjb: Fast Float to String Algorithm", Computers 2026, 15, 280; V.
// Zverovich's posts on Żmij, 2025): seventeen_digits() gives the first sixteen digits
// as one integer and the seventeenth apart; they become text sixteen at a time
// (digit_text.hpp); the length is where the trailing zero digits begin; and the decimal
// point is placed by a layout chosen by the decimal exponent alone:
//   - 1 to 16 digits before the point: the digits from the point on move up one byte
//     and the point goes between (digit_text.hpp: one masked merge with SSE2, the word
//     that holds the point rebuilt in the portable words);
//   - 0 to 14 zeros after the point: a fixed "0.000..." under the digits;
// and everything else (17 or more digits before the point, 15 or more zeros after it)
// on one path of its own, as are zeros, subnormals, infinities and NaNs.
//
// Two shortcuts come first: magnitudes below 10^8 with at most seven decimals (most
// geographic coordinates) and integers below 10^15, both written straight from an
// integer.
//
// write_ordinate is a template over the digit-text implementation so that the
// verification program can run each; the module uses DefaultDigits.
#pragma once

#include <algorithm>
#include <bit>
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/portable.hpp"
#include "wkb_to_wkt/digit_text.hpp"
#include "wkb_to_wkt/shortest_digits.hpp"

namespace quorvel {

namespace ordinate_detail {

// Room that a fixed-size move or fill may write past the end of an ordinate's text.
inline constexpr std::size_t SLACK = 32;

inline constexpr std::uint64_t INFINITY_BITS = 0x7FF0000000000000u;

// The seventeen digits of d outside the common layouts: `point` (the number of digits
// before the decimal point) above 16 or below -14.  This and write_special are kept out
// of the writer's loop, whose registers then need no saving around their calls.
template <class Digits>
QUORVEL_NOINLINE char* write_rare_range(char* p, SeventeenDigits d) noexcept {
    const Digits digits(static_cast<std::uint32_t>(d.leading / 100000000u),
                        static_cast<std::uint32_t>(d.leading % 100000000u));
    const std::uint64_t last_word = ASCII_ZEROS + d.last;
    const int point = 17 + d.exponent;
    if (point > 0) {
        // All seventeen digits, then zeros; the last word holds zeros up to 24 bytes.
        digits.store(p);
        store_word(p + 16, last_word);
        if (point > 24) std::memset(p + 24, '0', static_cast<std::size_t>(point - 24));
        return p + point;
    }
    const auto zeros = static_cast<std::size_t>(-point);
    std::memcpy(p, "0.", 2);
    std::memset(p + 2, '0', zeros);
    p += 2 + zeros;
    digits.store(p);
    store_word(p + 16, last_word);
    const unsigned nonzero = digits.nonzero() | ((d.last + 0xFFFFu) & 0x10000u) | 1u;
    return p + std::bit_width(nonzero);
}

// Writes (leading × 10 + last) × 10^exponent at p and returns the end.
template <class Digits>
QUORVEL_ALWAYS_INLINE char* write_seventeen(char* p, SeventeenDigits d) noexcept {
    const auto high = static_cast<std::uint32_t>(d.leading / 100000000u);
    const auto low = static_cast<std::uint32_t>(d.leading - std::uint64_t{high} * 100000000u);
    const Digits digits(high, low);
    const std::uint64_t last_word = ASCII_ZEROS + d.last;  // digit 17, then seven '0's
    // Digits up to the last that is not zero (bit 16 for the seventeenth: a digit plus
    // 0xFFFF reaches it exactly when it is not zero); the first never is zero, and the
    // | 1 tells the compiler so, which saves a test.
    const unsigned nonzero = digits.nonzero() | ((d.last + 0xFFFFu) & 0x10000u) | 1u;
    const int significant = std::bit_width(nonzero);
    const int point = 17 + d.exponent;  // digits before the decimal point
    if (static_cast<unsigned>(point - 1) < 16) {
        // The point among the digits, or right after them and then cut off.
        if (point < 16) {
            digits.store_with_point(p, point, last_word);
        } else {
            digits.store(p);
            store_word(p + 16, (last_word << 8) | '.');
        }
        // The digits up to the point or the last significant one, and the point when a
        // digit follows it.
        return p + std::max(significant, point) + (significant > point ? 1 : 0);
    }
    if (static_cast<unsigned>(-point) <= 14) {
        // "0.", -point zeros, then the digits, over sixteen bytes of "0.000...".
        std::memcpy(p, "0.00000000000000", 16);
        p += 2 - point;
        digits.store(p);
        store_word(p + 16, last_word);
        return p + significant;
    }
    return write_rare_range<Digits>(p, d);
}

// The shortcut for magnitudes below 10^8 (the caller checks) with at most seven
// decimals, the usual precision of geographic coordinates.  m = round(magnitude ×
// 10^7) is checked by the correctly rounded division m / 10^7 (both exact doubles):
// when it gives the magnitude back, m × 10^-7 lies in the magnitude's rounding
// interval.  That interval is narrower than 10^-7 (one unit in the last place below
// 10^8 is at most 2^-26), so it holds no other multiple of 10^-7, and every decimal
// with fewer digits is such a multiple: m without its trailing zeros is the shortest
// and only candidate, the digits the general algorithm finds.  The comparison is made
// on the bits (neither side is a NaN), and m = 0 never passes it.
inline bool seven_decimals(std::uint64_t magnitude_bits, std::uint64_t& m) noexcept {
    if constexpr (FLT_EVAL_METHOD != 0) return false;
    const double magnitude = std::bit_cast<double>(magnitude_bits);
    const auto rounded = static_cast<std::int64_t>(magnitude * 1e7 + 0.5);
    m = static_cast<std::uint64_t>(rounded);
    return std::bit_cast<std::uint64_t>(static_cast<double>(rounded) / 1e7) == magnitude_bits;
}

// Writes m × 10^-7 (m below 10^15) at p: the integer digits, then the point and the
// seven decimals without their trailing zeros, when they are not all zero.
template <class Digits>
QUORVEL_ALWAYS_INLINE char* write_seven_decimals(char* p, std::uint64_t m) noexcept {
    const auto integer = static_cast<std::uint32_t>(m / 10000000u);  // below 10^8
    const auto decimals = static_cast<std::uint32_t>(m - std::uint64_t{integer} * 10000000u);
    // The integer's eight digits with leading zeros, then the seven decimals and a zero.
    const Digits digits(integer, decimals * 10);
    // Leading zeros of the integer part, keeping at least one digit ("0.5").
    const int leading = std::countr_zero((digits.nonzero() & 0x7F) | 0x80);
    const int n = 8 - leading;
    const unsigned decimal_digits = (digits.nonzero() >> 8) & 0x7F;
    const int count = 32 - std::countl_zero(decimal_digits);  // up to the last nonzero
    store_word(p, digits.first_word() >> (8 * leading));
    p[n] = '.';
    store_word(p + n + 1, digits.second_word());
    return p + n + count + (count != 0 ? 1 : 0);
}

// Writes an integer below 10^15 and at least 10^8: sixteen digits with leading zeros,
// moved down over them (at least nine digits count, so the zeros lie in the first
// word).
template <class Digits>
QUORVEL_ALWAYS_INLINE char* write_integer(char* p, std::uint64_t integer) noexcept {
    const Digits digits(static_cast<std::uint32_t>(integer / 100000000u),
                        static_cast<std::uint32_t>(integer % 100000000u));
    const int shift = 8 * std::countr_zero(digits.nonzero());
    const std::uint64_t second = digits.second_word();
    store_word(p, (digits.first_word() >> shift) | ((second << (63 - shift)) << 1));
    store_word(p + 8, second >> shift);
    return p + 16 - shift / 8;
}

}  // namespace ordinate_detail

// The longest text of one ordinate: "-0." and 341 digits after the point for a
// 17-digit subnormal (digits × 10^-341 at the least), or "-" and 309 digits.
inline constexpr std::size_t MAX_ORDINATE_CHARS = 344;
// What write_ordinate needs at its destination.
inline constexpr std::size_t ORDINATE_ROOM = MAX_ORDINATE_CHARS + ordinate_detail::SLACK;

namespace ordinate_detail {

// "0", "NaN", "inf" or "-inf" for a zero, NaN or infinity, and the text of a subnormal.
template <class Digits>
QUORVEL_NOINLINE char* write_special(char* p, std::uint64_t bits) noexcept {
    const std::uint64_t magnitude_bits = bits & ~shortest_detail::SIGN_BIT;
    if (magnitude_bits == 0) {
        *p = '0';
        return p + 1;
    }
    const bool negative = (bits >> 63) != 0;
    if (magnitude_bits < INFINITY_BITS) {
        *p = '-';
        return write_seventeen<Digits>(p + (negative ? 1 : 0), seventeen_digits(magnitude_bits));
    }
    const bool nan = magnitude_bits != INFINITY_BITS;
    std::memcpy(p, nan ? "NaN\0" : (negative ? "-inf" : "inf\0"), 4);
    return p + (nan || !negative ? 3 : 4);
}

}  // namespace ordinate_detail

// Writes the text of v at p, which has room for ORDINATE_ROOM bytes, and returns the
// end of the text.  Bytes past the end may be overwritten.
template <class Digits = DefaultDigits>
QUORVEL_ALWAYS_INLINE char* write_ordinate(char* p, double v) noexcept {
    using namespace ordinate_detail;
    const auto bits = std::bit_cast<std::uint64_t>(v);
    // Zeros, subnormals, infinities and NaNs in one test of the exponent.
    if ((static_cast<std::uint32_t>(bits >> 52) & 0x7FF) - 1 >= 0x7FE) [[unlikely]] {
        return write_special<Digits>(p, bits);
    }
    const std::uint64_t magnitude_bits = bits & ~shortest_detail::SIGN_BIT;
    *p = '-';
    p += bits >> 63;
    const double magnitude = std::bit_cast<double>(magnitude_bits);
    if (magnitude < 1e8) {
        // Most coordinates, integers included, through the seven-decimal shortcut.
        if (std::uint64_t m; seven_decimals(magnitude_bits, m))
            return write_seven_decimals<Digits>(p, m);
    } else if (magnitude < 1e15) {
        // Integral values below 10^15 print exactly as 64-bit integers.
        const auto integral = static_cast<std::uint64_t>(static_cast<std::int64_t>(magnitude));
        if (static_cast<double>(integral) == magnitude) return write_integer<Digits>(p, integral);
    }
    return write_seventeen<Digits>(p, seventeen_digits(magnitude_bits));
}

}  // namespace quorvel
