// Shortest round-trip decimal digits of a double.
//
// For a finite v > 0 this computes the decimal d × 10^e with the fewest significant
// digits that reads back (round to nearest, ties to even) as v, and of several such
// the one nearest v, ties going to the even digit: the digits Python's repr shows.
// seventeen_digits() gives them as the ordinate writer takes them, scaled to exactly
// 17 digits, the first sixteen as one integer; shortest_decimal() without trailing
// zeros.
//
// The method is Schubfach: R. Giulietti, "The Schubfach way to render doubles"
// (2020), the algorithm behind Java's Double.toString since JDK 19.  With
// v = c × 2^q, the values that read back as v form the interval R between the
// midpoints to its neighbours (ends included when c is even).  For
// k = floor(log10(2^q)) (floor(log10(3/4 × 2^q)) when the lower neighbour is half as
// far away, c = 2^52), R scaled by 10^-k is at least 1 and less than 10 wide, so:
//   - R holds at most one multiple of 10 × 10^k; if it holds one, that is the
//     shortest decimal (its trailing zeros dropped);
//   - otherwise every shortest decimal has the length of s = floor(v × 10^-k), and
//     the candidates are s and s + 1, of which the one inside R wins, or the one
//     nearer v when both are (ties to even).
//
// schubfach() follows the paper: v × 10^-k and the two ends of R come from three
// 64 × 128-bit products with the power of ten rounded up, each rounded to odd (the
// lowest bit set when any discarded bit was), which keeps every comparison with an
// even integer exact.
//
// seventeen_digits() takes one product for almost every double, computed the way J.
// Xiang and T. Wang describe in "xjb: Fast Float to String Algorithm" (Computers 2026,
// 15, 280) and V. Zverovich in his posts on Żmij (2025): it scales by 10^-K, one
// decade above, K = k + 1, so that the integer part of v × 10^-K is the shorter
// candidate and its 64-bit fraction u decides everything else.  For c not a power of
// two, 2^q × 10^-K lies in [0.1, 1), so
//   - s = floor(v × 10^-K) has 15 or 16 digits;
//   - half the gap to either neighbour, in units of 10^K, is d = 2^(q-1) × 10^-K, in
//     [0.05, 0.5);
//   - R holds s × 10^K when u <= d and (s + 1) × 10^K when 1 - u <= d, never both.
//     Both tests are one addition: t = u + d (mod 1) carries exactly when the upper
//     one holds, and one of them holds exactly when t <= 2d;
//   - otherwise the shortest decimal is 10 × s + round(10 × u) in units of 10^k: the
//     upper word of u × 10 is the digit, the lower word the remainder that rounds it.
//     It is inside R, whose half width is 10 × d >= 1/2 there, and the digit never
//     rounds up to ten, since (s + 1) × 10^K would then be inside R.
// u and d come from the product with the power of ten rounded down and are low by
// less than four units of 2^-64.  A test that such an error could turn (u within a
// few units of an end of R, or 10 × u of a halfway point) goes to schubfach(), where
// the rules for the ends of R and for ties apply; so do powers of two and
// subnormals.  An integer v × 10^-K that the product gives a few units low comes
// out right without help: t carries and takes s back up.
//
// The powers of ten come from src/lib/powers_of_ten.hpp, made by
// tools/gen_powers_of_ten.py.
#pragma once

#include <bit>
#include <cstdint>

#include "lib/portable.hpp"
#include "lib/powers_of_ten.hpp"
#include "lib/wide_multiply.hpp"

namespace quorvel {

// |v| = significand × 10^exponent.
struct DecimalDigits {
    std::uint64_t significand;
    int exponent;
};

namespace shortest_detail {

inline constexpr std::uint64_t TEN_15 = 1000000000000000u;
inline constexpr std::uint64_t TEN_16 = 10 * TEN_15;
inline constexpr std::uint64_t TEN_17 = 10 * TEN_16;
inline constexpr int FRACTION_BITS = 52;
inline constexpr std::uint64_t HIDDEN_BIT = std::uint64_t{1} << FRACTION_BITS;
inline constexpr std::uint64_t FRACTION_MASK = HIDDEN_BIT - 1;
inline constexpr std::uint64_t SIGN_BIT = std::uint64_t{1} << 63;
// Binary exponent of the significand as an integer: v = c × 2^(e - EXPONENT_BIAS).
inline constexpr int EXPONENT_BIAS = 1075;

// 10^-k × 2^-b rounded up to 128 bits, for the b that puts it in [2^127, 2^128].
struct ScaledPower {
    std::uint64_t high;
    std::uint64_t low;
};

// a when the condition holds, else b, computed with masks: the conditions it is used
// for are as good as random on real data, and a branch on them would be mispredicted
// half the time (compilers turn plain conditional expressions into branches).
inline std::uint64_t choose(bool condition, std::uint64_t a, std::uint64_t b) noexcept {
    const std::uint64_t mask = 0 - static_cast<std::uint64_t>(condition);
    return b ^ ((a ^ b) & mask);
}

inline ScaledPower power_rounded_up(int minus_k) noexcept {
    const PowerOfTen128& p = POWERS_OF_TEN_128[minus_k - MIN_POWER_OF_TEN];
    const std::uint64_t low = p.low + 1;
    return {p.high + (low == 0 ? 1u : 0u), low};
}

// floor(g × x / 2^128), with the lowest bit set when the discarded part is not zero.
// g exceeds the true power by at most one unit, so the discarded part of a product
// whose true value is an integer stays below 2^64 and leaves the next word zero.
inline std::uint64_t round_to_odd(ScaledPower g, std::uint64_t x) noexcept {
    const UInt128 high = multiply_wide(g.high, x);
    const std::uint64_t carry_in = multiply_high(g.low, x);
    const std::uint64_t middle = high.low + carry_in;
    return (high.high + (middle < carry_in ? 1u : 0u)) | (middle != 0 ? 1u : 0u);
}

// The shortest decimal of c × 2^q, exactly as the paper finds it: the multiple of
// ten in the interval comes back divided by ten, so the significand ends in a zero
// only when the shortest decimal has fewer digits still; it has 15 to 17 digits for
// normal doubles.  Irregular: c = 2^52 above the smallest normal, whose lower
// neighbour is half as far away as the upper one.
template <bool Irregular>
inline DecimalDigits schubfach(std::uint64_t c, int q) noexcept {
    const int k = Irregular ? floor_log10_three_quarters_pow2(q) : floor_log10_pow2(q);
    const int h = q + floor_log2_pow10(-k) + 1;  // 1 to 4; 1 to 8 when irregular
    const ScaledPower g = power_rounded_up(-k);
    // The value and the ends of its interval, in units of 2^(q-2), shifted so that
    // the products come out as 4 × value × 10^-k.
    const std::uint64_t cb = c << 2;
    const std::uint64_t odd = c & 1;  // ends belong to the interval only when c is even
    const std::uint64_t vb = round_to_odd(g, cb << h);
    const std::uint64_t vbl = round_to_odd(g, (cb - (Irregular ? 1 : 2)) << h) + odd;
    const std::uint64_t vbr = round_to_odd(g, (cb + 2) << h) - odd;

    const std::uint64_t s = vb >> 2;
    const std::uint64_t s10 = s / 10;
    if (const bool lower = vbl <= s10 * 40, upper = s10 * 40 + 40 <= vbr; lower != upper) {
        return {s10 + (lower ? 0 : 1), k + 1};  // 10 × s10 or 10 × (s10 + 1)
    }
    const std::uint64_t t = s + 1;
    const bool s_in = vbl <= s << 2;
    const bool t_in = t << 2 <= vbr;
    if (s_in != t_in) return {s_in ? s : t, k};
    // vb - 2(s + t) is 4 × (v × 10^-k - (s + 1/2)): its sign says which is nearer.
    const auto nearer_t = static_cast<std::int64_t>(vb - ((s + t) << 1));
    return {nearer_t < 0 || (nearer_t == 0 && (s & 1) == 0) ? s : t, k};
}

// d without the trailing zeros of its significand (at most 17 digits).  Divisibility
// by 10^n without dividing, after T. Granlund and P. Montgomery, "Division by
// invariant integers using multiplication" (PLDI 1994), section 9: x is a multiple
// of 2^n × 5^n exactly when x × (5^-n mod 2^64), rotated right by n bits, is at most
// (2^64 - 1) / 10^n, and that rotated product is then x / 10^n.
inline DecimalDigits without_trailing_zeros(DecimalDigits d) noexcept {
    struct Step {
        int n;
        std::uint64_t inverse;  // 5^-n mod 2^64
        std::uint64_t limit;    // (2^64 - 1) / 10^n
    };
    constexpr auto step = [](int n) {
        std::uint64_t five = 1;
        for (int i = 0; i < n; ++i) five *= 5;
        std::uint64_t inverse = 1;  // Newton's iteration for the inverse modulo 2^64
        for (int i = 0; i < 6; ++i) inverse *= 2 - five * inverse;
        return Step{n, inverse, ~std::uint64_t{0} / (five << n)};
    };
    constexpr Step STEPS[] = {step(16), step(8), step(4), step(2), step(1)};
    for (const Step& s : STEPS) {
        const std::uint64_t product = d.significand * s.inverse;
        const std::uint64_t rotated = (product >> s.n) | (product << (64 - s.n));
        const bool divisible = rotated <= s.limit;
        d.significand = choose(divisible, rotated, d.significand);
        d.exponent += divisible ? s.n : 0;
    }
    return d;
}

}  // namespace shortest_detail

// (leading × 10 + last) × 10^exponent, 10^15 <= leading < 10^16, last a digit.
struct SeventeenDigits {
    std::uint64_t leading;
    std::uint32_t last;
    int exponent;
};

namespace shortest_detail {

// schubfach() for the finite, non-zero double of these bits (sign clear), as 17 digits:
// subnormals, powers of two and the doubles seventeen_digits() leaves undecided.
SeventeenDigits seventeen_digits_exact(std::uint64_t bits) noexcept;

// A comparison is undecided within [-MARGIN, MARGIN) units of 2^-64: many times the
// error of u and of d (below 1.1 units each) and of the remainder of u × 10 (below 11).
inline constexpr std::uint64_t MARGIN = 64;

// For every biased binary exponent e, with q = e - EXPONENT_BIAS and K as above, the
// 128-bit P = floor(2^(128+q) × 10^-K): the product P × c / 2^128 is v × 10^-K, its
// upper word the integer part s and its lower word the fraction u, and P / 2^65 is
// the half gap d.  2^q × 10^-K is in [0.1, 1), so P is in [2^128 / 10, 2^128): the
// entry of 10^-K in POWERS_OF_TEN_128 (rounded down, 128 significant bits) shifted
// right by 0 to 3 bits.  Zero for subnormals (e = 0), whose u and d then come out zero,
// which the margin test sends to the exact path.  One table by exponent (32 KiB, of
// which data of one magnitude reads one line) saves the loads and shifts that finding
// the power and aligning the significand would take.
inline constexpr auto SCALED_POWERS = [] {
    struct Table {
        PowerOfTen128 at[2048];
    } t{};
    for (int biased = 1; biased < 2047; ++biased) {
        const int q = biased - EXPONENT_BIAS;
        const int k = floor_log10_pow2(q) + 1;
        const PowerOfTen128& g = POWERS_OF_TEN_128[-k - MIN_POWER_OF_TEN];
        // g = 10^-K × 2^-b with b = floor_log2_pow10(-k) - 127, so P = g × 2^(128+q+b).
        const int right = -(q + floor_log2_pow10(-k) + 1);  // 0 to 3
        t.at[biased] = right == 0 ? g
                                  : PowerOfTen128{g.high >> right,
                                                  (g.low >> right) | (g.high << (64 - right))};
    }
    return t;
}();

}  // namespace shortest_detail

// The shortest decimal of the double with these bits (sign clear; finite, not zero).
QUORVEL_ALWAYS_INLINE SeventeenDigits seventeen_digits(std::uint64_t bits) noexcept {
    using namespace shortest_detail;
    const std::uint64_t fraction = bits & FRACTION_MASK;
    if (fraction == 0) [[unlikely]] return seventeen_digits_exact(bits);  // powers of two
    const auto biased = static_cast<int>(bits >> FRACTION_BITS);
    const PowerOfTen128& p = SCALED_POWERS.at[biased];
    const int k = floor_log10_pow2(biased - EXPONENT_BIAS) + 1;
    const std::uint64_t c = fraction | HIDDEN_BIT;
    // v × 10^-K: the integer part s in the upper word, the fraction u in the lower.
    const UInt128 high = multiply_wide(p.high, c);
    // The low word loaded on its own: as the operand of `mul` with an indexed address
    // (clang's choice), on AMD Zen 4 the load waited for the addresses of every
    // earlier store, which in the writer's loop depend on the previous number's
    // length, and the loop ran one number at a time (1.7 times slower).
    const std::uint64_t carry_in = multiply_high(in_register(p.low), c);
    const std::uint64_t u = high.low + carry_in;
    const std::uint64_t s = high.high + (u < carry_in ? 1u : 0u);
    const std::uint64_t d = p.high >> 1;
    const std::uint64_t t = u + d;
    const std::uint64_t tenfold_high = multiply_high(u, 10);  // the digit before rounding
    const std::uint64_t tenfold_low = u * 10;                 // the remainder
    // Distance of u from the nearer integer against d, and of the remainder from a
    // half: either within the margin is undecided.
    const std::uint64_t sign = 0 - (u >> 63);
    const std::uint64_t distance = (u ^ sign) - sign;
    const std::uint64_t off_end = distance - d + MARGIN;
    const std::uint64_t off_half = (tenfold_low ^ (std::uint64_t{1} << 63)) + MARGIN;
    if ((off_end < off_half ? off_end : off_half) < 2 * MARGIN) [[unlikely]] {
        return seventeen_digits_exact(bits);
    }
    const std::uint64_t leading = s + (t < d ? 1u : 0u);  // 15 or 16 digits
    const std::uint64_t digit = tenfold_high + (tenfold_low >> 63);
    const std::uint64_t last = digit & (0 - static_cast<std::uint64_t>(t > 2 * d));
    // With 15 digits the seventeenth joins the sixteen and a zero follows.
    std::uint64_t short_by_one;
    const std::uint64_t sixteen =
        select_below(leading, TEN_15, leading * 10 + last, leading, short_by_one);
    return {sixteen, static_cast<std::uint32_t>(last & ~short_by_one),
            k - 1 + static_cast<int>(short_by_one)};
}

// The shortest decimal of a finite, non-zero v (its sign ignored), without trailing
// zeros in the significand.
inline DecimalDigits shortest_decimal(double v) noexcept {
    using namespace shortest_detail;
    const SeventeenDigits s = seventeen_digits(std::bit_cast<std::uint64_t>(v) & ~SIGN_BIT);
    // A last digit of zero dropped at once, as often there as not.
    DecimalDigits d{s.leading * 10 + s.last, s.exponent};
    std::uint64_t zero;
    d.significand = select_below(s.last, 1, s.leading, d.significand, zero);
    d.exponent -= static_cast<int>(zero);
    // More zeros are rare for most data, common for short decimals.
    if (d.significand % 10 == 0) d = without_trailing_zeros(d);
    return d;
}

}  // namespace quorvel
