// Decimal numbers rounded to the nearest double (ties to even), with no help from the
// standard library's floating-point from_chars, no locale and no allocation.
//
// The common case is the Eisel–Lemire algorithm (D. Lemire, "Number Parsing at a
// Gigabyte per Second", Software: Practice and Experience 51(8), 2021; N. Mushtak and
// D. Lemire, "Fast number parsing without fallback", Software: Practice and Experience
// 53(6), 2023): a mantissa of up to 19 decimal digits, normalised to 64 bits, times the
// 128 leading bits of the power of ten (src/lib/powers_of_ten.hpp) gives the 54
// leading bits of the value and tells whether the bits below them could still move
// the rounding.  Our table is rounded down, so the product is never above the exact
// one and falls short of it by less than two units of the last of the 128 bits kept:
// a result is settled unless every bit below the rounding bit is one (the value then
// lies that close to a point halfway between two doubles), and an exact tie can only
// come from a power of ten whose entry is exact.
//
// What the product cannot settle (a value that close to a halfway point, or more
// than 19 significant digits whose truncations round differently) is settled
// exactly, as in W. D. Clinger, "How to Read Floating Point Numbers Accurately"
// (PLDI 1990; the exact comparison of its algorithm R): the decimal digits, as an
// integer, against the halfway point between the two candidate doubles, both scaled
// to integers by powers of two and five.  A halfway point has at most 768
// significant decimal digits, so the first 800 digits decide the comparison; any
// later nonzero digit only breaks an exact tie upwards, which an appended digit 1
// does as well.  The integers live in fixed arrays on the stack.
#pragma once

#include <bit>
#include <cstdint>

#include "lib/powers_of_ten.hpp"
#include "lib/wide_multiply.hpp"

namespace quorvel {

namespace decimal_detail {

// The largest decimal exponent at which a mantissa of one still stays below 2^1024.
inline constexpr int MAX_FINITE_POWER = 308;

// What the inline path of decimal_to_double leaves: everything, with the cases it
// skips (subnormals, overflow, exact ties, products too close to a halfway point).
double decimal_to_double_in_full(std::uint64_t mantissa, long long e10) noexcept;

}  // namespace decimal_detail

// mantissa × 10^e10 rounded to the nearest double, ties to even: +infinity when it
// rounds past the largest double, +0 when it rounds below the smallest subnormal.
inline double decimal_to_double(std::uint64_t mantissa, long long e10) noexcept {
    using namespace decimal_detail;
    // The common case of the fast path, settled by the high half of the power alone:
    // the nine bits under the 54 kept are not all ones, so the low half cannot move
    // them; the bits under the rounding bit are neither all zeros nor all ones, so
    // the value is neither an exact tie nor near one; and the double is normal.
    if (mantissa != 0 && e10 >= MIN_POWER_OF_TEN && e10 <= MAX_FINITE_POWER) {
        const int k = static_cast<int>(e10);
        const int leading_zeros = std::countl_zero(mantissa);
        const PowerOfTen128& power = POWERS_OF_TEN_128[k - MIN_POWER_OF_TEN];
        const UInt128 z = multiply_wide(mantissa << leading_zeros, power.high);
        const int upper = static_cast<int>(z.high >> 63);
        const std::uint64_t m = z.high >> (9 + upper);
        const int biased = 1086 + upper + floor_log2_pow10(k) - leading_zeros;
        if ((z.high & 0x1FF) != 0x1FF && z.low + 1 > 1 &&
            static_cast<unsigned>(biased - 1) < 2046u) {
            // Round half up (no tie here); a carry moves into the exponent, up to
            // infinity.
            return std::bit_cast<double>((static_cast<std::uint64_t>(biased - 1) << 52) + (m >> 1) +
                                         (m & 1));
        }
    }
    return decimal_to_double_in_full(mantissa, e10);
}

// The same for the text of an unsigned decimal, digits [. digits] [(e|E) [+-] digits]
// with at least one digit before or after the point, of any length.
double decimal_text_to_double(const char* begin, const char* end) noexcept;

}  // namespace quorvel
