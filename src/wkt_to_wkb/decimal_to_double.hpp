// Decimal numbers rounded to the nearest double (ties to even), with no help from the
// standard library's floating-point from_chars, no locale and no allocation.
//
// Short decimals are exact in double arithmetic (W. D. Clinger, "How to Read Floating
// Point Numbers Accurately", PLDI 1990, the fast path): an integer up to 2^53 and a
// power of ten up to 10^22 are both doubles, so one correctly rounded multiplication
// or division gives the correctly rounded value.  Widened: a larger power of ten
// whose excess over 10^22 still leaves the integer below 2^53 moves into it first.
// Every decimal of at most 15 significant digits and at most 22 decimals takes this
// path, every lon/lat coordinate among them.
//
// The common case of the rest is the Eisel–Lemire algorithm (D. Lemire, "Number
// Parsing at a Gigabyte per Second", Software: Practice and Experience 51(8), 2021;
// N. Mushtak and D. Lemire, "Fast number parsing without fallback", Software:
// Practice and Experience 53(6), 2023): a mantissa of up to 19 decimal digits,
// normalised to 64 bits, times the 128 leading bits of the power of ten
// (src/lib/powers_of_ten.hpp) gives the 54 leading bits of the value and tells
// whether the bits below them could still move the rounding.  Our table is rounded
// down, so the product is never above the exact one and falls short of it by less
// than two units of the last of the 128 bits kept: a result is settled unless every
// bit below the rounding bit is one (the value then lies that close to a point
// halfway between two doubles), and an exact tie can only come from a power of ten
// whose entry is exact.
// For the fraction digits of a token without an exponent, the processor rounds: the
// product's high half converts to the nearest double, which a power of two scales
// exactly; the sign goes into that power as well.
//
// What the product cannot settle (a value that close to a halfway point, or more
// than 19 significant digits whose truncations round differently) is settled
// exactly, as in Clinger's paper (the exact comparison of its algorithm R): the
// decimal digits, as an integer, against the halfway point between the two candidate
// doubles, both scaled to integers by powers of two and five.  A halfway point has at
// most 768 significant decimal digits, so the first 800 digits decide the comparison;
// any later nonzero digit only breaks an exact tie upwards, which an appended digit 1
// does as well.  The integers live in fixed arrays on the stack.
#pragma once

#include <array>
#include <bit>
#include <cfloat>
#include <cstddef>
#include <cstdint>

#include "lib/portable.hpp"
#include "lib/powers_of_ten.hpp"
#include "lib/wide_multiply.hpp"

namespace quorvel {

namespace decimal_detail {

// The largest decimal exponent at which a mantissa of one still stays below 2^1024.
inline constexpr int MAX_FINITE_POWER = 308;

// The exact shortcut needs double arithmetic without excess precision.
inline constexpr bool EXACT_DOUBLE_ARITHMETIC = FLT_EVAL_METHOD == 0;

// The integers that are all exact doubles, and the powers of ten that are.
inline constexpr std::uint64_t MAX_EXACT_INTEGER = std::uint64_t{1} << 53;
inline constexpr int MAX_EXACT_POWER = 22;
inline constexpr auto EXACT_POWERS_OF_TEN = [] {
    std::array<double, MAX_EXACT_POWER + 1> powers{};
    double p = 1;
    for (double& power : powers) {
        power = p;
        p *= 10;
    }
    return powers;
}();

// Integer powers of ten 10^j, 0 <= j <= 15: how far the widened shortcut reaches.
inline constexpr int MAX_WIDENING = 15;
inline constexpr auto INTEGER_POWERS_OF_TEN = [] {
    std::array<std::uint64_t, MAX_WIDENING + 1> powers{};
    std::uint64_t p = 1;
    for (std::uint64_t& power : powers) {
        power = p;
        p *= 10;
    }
    return powers;
}();

// What the inline path of decimal_to_double leaves: everything, with the cases it
// skips (subnormals, overflow, exact ties, products too close to a halfway point).
double decimal_to_double_in_full(std::uint64_t mantissa, long long e10) noexcept;

// The common case of the one-product path for a nonzero mantissa and
// MIN_POWER_OF_TEN <= k <= MAX_FINITE_POWER, settled by the high half of the power
// alone (high, with biased_base = 1085 + floor_log2_pow10(k)): the nine bits under the
// 54 kept are not all ones, so the low half cannot move them; the bits under the
// rounding bit are neither all zeros nor all ones, so the value is neither an exact
// tie nor near one; and the double is normal.  Returns false when it cannot settle
// the value.
QUORVEL_ALWAYS_INLINE bool scaled_product_to_double(std::uint64_t mantissa, std::uint64_t high,
                                                    int biased_base, double& value) noexcept {
    const int leading_zeros = std::countl_zero(mantissa);
    const UInt128 z = multiply_wide(mantissa << leading_zeros, high);
    const int upper = static_cast<int>(z.high >> 63);
    const std::uint64_t m = upper != 0 ? z.high >> 10 : z.high >> 9;  // below 2^54
    // The biased exponent less one: the significand's leading bit adds the one.
    const int biased = biased_base + upper - leading_zeros;
    if (((z.high + 1) & 0x1FF) == 0 || z.low + 1 <= 1 || static_cast<unsigned>(biased) >= 2046u)
        [[unlikely]] {
        return false;
    }
    // Round half up (no tie here); a carry moves into the exponent, up to infinity.
    value = std::bit_cast<double>((static_cast<std::uint64_t>(biased) << 52) + ((m + 1) >> 1));
    return true;
}

inline bool product_to_double(std::uint64_t mantissa, int k, double& value) noexcept {
    return scaled_product_to_double(mantissa, POWERS_OF_TEN_128[k - MIN_POWER_OF_TEN].high,
                                    1085 + floor_log2_pow10(k), value);
}

// The powers of long_fraction_to_double for 10^-k, 0 <= k <= MAX_EXACT_POWER: the
// fraction digits of a token without an exponent.  For each, the high half of the
// power and the bits of the double 2^(1025 + floor_log2_pow10(-k) - 1023), by which
// the rounded product is scaled.  Two arrays rather than one of pairs: an index
// scaled by 8 reaches each entry without a multiplication.
struct FractionPowers {
    std::array<std::uint64_t, MAX_EXACT_POWER + 1> high;
    std::array<std::uint64_t, MAX_EXACT_POWER + 1> scale;
};
inline constexpr auto FRACTION_POWERS = [] {
    FractionPowers powers{};
    for (int k = 0; k <= MAX_EXACT_POWER; ++k) {
        const auto i = static_cast<std::size_t>(k);
        powers.high[i] = POWERS_OF_TEN_128[-k - MIN_POWER_OF_TEN].high;
        powers.scale[i] = static_cast<std::uint64_t>(1025 + floor_log2_pow10(-k)) << 52;
    }
    return powers;
}();

// scaled_product_to_double for 10^-k, 0 <= k <= MAX_EXACT_POWER, rounded by the
// processor: the product's high half, halved to fit a signed integer, converts to the
// nearest double, which a power of two with sign_bit set in it then scales exactly
// (a nonzero mantissa times 10^-k lies in [10^-22, 2^64): the double is normal).  The
// same tests leave out the values the low half could move and the possible ties; with
// them passed, the bits dropped are never all zero, and the lowest bit set in their
// place makes a conversion that would tie round up, as the exact value does.  Only
// where double arithmetic has no excess precision.
QUORVEL_ALWAYS_INLINE bool fraction_product_to_double(std::uint64_t mantissa, unsigned k,
                                                      std::uint64_t sign_bit,
                                                      double& value) noexcept {
    const int leading_zeros = std::countl_zero(mantissa);
    const UInt128 z = multiply_wide(mantissa << leading_zeros, FRACTION_POWERS.high[k]);
    if (((z.high + 1) & 0x1FF) == 0 || z.low + 1 <= 1) [[unlikely]] {
        return false;
    }
    // z.high lies in [2^62, 2^64): the double of half of it in [2^61, 2^63).
    const auto half = static_cast<double>(static_cast<std::int64_t>((z.high >> 1) | 1));
    value = half * std::bit_cast<double>((FRACTION_POWERS.scale[k] | sign_bit) -
                                         (static_cast<std::uint64_t>(leading_zeros) << 52));
    return true;
}

// decimal_to_double without the exact shortcut.
inline double decimal_product_to_double(std::uint64_t mantissa, long long e10) noexcept {
    double value;
    if (mantissa != 0 && e10 >= MIN_POWER_OF_TEN && e10 <= MAX_FINITE_POWER &&
        product_to_double(mantissa, static_cast<int>(e10), value)) {
        return value;
    }
    return decimal_to_double_in_full(mantissa, e10);
}

}  // namespace decimal_detail

// mantissa × 10^e10 rounded to the nearest double, ties to even: +infinity when it
// rounds past the largest double, +0 when it rounds below the smallest subnormal.
inline double decimal_to_double(std::uint64_t mantissa, long long e10) noexcept {
    using namespace decimal_detail;
    if constexpr (EXACT_DOUBLE_ARITHMETIC) {
        if (mantissa <= MAX_EXACT_INTEGER) {
            const auto m = static_cast<double>(mantissa);
            if (e10 >= -MAX_EXACT_POWER && e10 <= MAX_EXACT_POWER) {
                return e10 < 0 ? m / EXACT_POWERS_OF_TEN[static_cast<std::size_t>(-e10)]
                               : m * EXACT_POWERS_OF_TEN[static_cast<std::size_t>(e10)];
            }
            // Widened: 10^e10 = 10^j × 10^22 with mantissa × 10^j still exact.
            if (e10 > MAX_EXACT_POWER && e10 <= MAX_EXACT_POWER + MAX_WIDENING) {
                const std::uint64_t scale =
                    INTEGER_POWERS_OF_TEN[static_cast<std::size_t>(e10 - MAX_EXACT_POWER)];
                if (mantissa <= MAX_EXACT_INTEGER / scale) {
                    return static_cast<double>(mantissa * scale) *
                           EXACT_POWERS_OF_TEN[MAX_EXACT_POWER];
                }
            }
        }
    }
    return decimal_product_to_double(mantissa, e10);
}

// mantissa × 10^-k for 0 <= k <= 22, as decimal_to_double gives it: the fraction digits
// of a token without an exponent.
inline double decimal_fraction_to_double(std::uint64_t mantissa, int k) noexcept {
    using namespace decimal_detail;
    if constexpr (EXACT_DOUBLE_ARITHMETIC) {
        if (mantissa <= MAX_EXACT_INTEGER) {
            return static_cast<double>(mantissa) / EXACT_POWERS_OF_TEN[static_cast<std::size_t>(k)];
        }
    }
    return decimal_product_to_double(mantissa, -k);
}

// The same for a mantissa below 10^15, which is always exact.
inline double short_fraction_to_double(std::uint64_t mantissa, unsigned k) noexcept {
    if constexpr (decimal_detail::EXACT_DOUBLE_ARITHMETIC) {
        return static_cast<double>(mantissa) / decimal_detail::EXACT_POWERS_OF_TEN[k];
    } else {
        return decimal_detail::decimal_product_to_double(mantissa, -static_cast<long long>(k));
    }
}

// The same for a mantissa of fifteen to nineteen digits (or zero), where the exact
// shortcut would take about every other one: the one-product path for all, without
// a branch that guesses wrong half of the time.  sign_bit (0 or 2^63) is or-ed into
// the double's bits: the sign of the token.
inline double long_fraction_to_double(std::uint64_t mantissa, unsigned k,
                                      std::uint64_t sign_bit) noexcept {
    double value;
    if constexpr (!decimal_detail::EXACT_DOUBLE_ARITHMETIC) {
        value = decimal_detail::decimal_product_to_double(mantissa, -static_cast<long long>(k));
    } else if (mantissa != 0 && decimal_detail::fraction_product_to_double(mantissa, k, sign_bit,
                                                                           value)) [[likely]] {
        return value;
    } else {
        value = decimal_detail::decimal_to_double_in_full(mantissa, -static_cast<long long>(k));
    }
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) | sign_bit);
}

// The same for the text of an unsigned decimal, digits [. digits] [(e|E) [+-] digits]
// with at least one digit before or after the point, of any length.
double decimal_text_to_double(const char* begin, const char* end) noexcept;

}  // namespace quorvel
