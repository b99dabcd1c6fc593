// Shortest round-trip decimal digits of a double.
//
// For a finite v > 0 this computes the decimal d × 10^e with the fewest significant
// digits that reads back (round to nearest, ties to even) as v, and of several such
// the one nearest v, ties going to the even digit: the digits Python's repr shows.
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
// even integer exact.  shortest_regular() is the path taken for almost every
// double: one product gives v × 10^-k to 58 fraction bits, the power of ten itself
// gives the interval's half width, and the decisions are plain comparisons made
// with arithmetic instead of branches; a comparison within the error of the
// approximation (every tie, and every interval end that falls on a candidate) is
// handed to schubfach(), so both give the same digits for every double.
//
// The powers of ten come from src/lib/powers_of_ten.hpp, made by
// tools/gen_powers_of_ten.py.
#pragma once

#include <bit>
#include <cstdint>

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

// schubfach<false> out of line, for the rare values that the fast path leaves
// undecided; the significand widened to at least 16 digits.
DecimalDigits schubfach_regular(std::uint64_t c, int q) noexcept;

// The shortest decimal as shortest_regular finds it: 16 or 17 digits (10^17 at
// most), the multiple of ten in the interval keeping its last zero (ten is set).
struct Candidate {
    std::uint64_t significand;
    int exponent;
    bool ten;
};

// The decimal of schubfach<false> for a normal c × 2^q, from one product.  Let
// Y = 4 × v × 10^-k and D = 4 × (half the gap to a neighbour) × 10^-k, both known to
// within one unit of 2^-58, the first from the product, the second from the power of
// ten itself; D is between 2 and 20.  The interval is [Y - D, Y + D], and in these
// units the candidates are the multiples of 40 (ten times the last digit's unit)
// and of 4.  At most one multiple of 40 fits, the nearer one, when its distance u is
// at most D, and then it wins; otherwise the nearer multiple of 4 wins, and it is
// always inside, its distance being at most 2 <= D.  A comparison that the error
// could turn goes to schubfach_regular, where the exact rules for ties and interval
// ends apply.
inline Candidate shortest_regular(std::uint64_t c, int q) noexcept {
    constexpr int UNIT = 58;  // fraction bits of the fixed-point comparisons
    const int k = floor_log10_pow2(q);
    const int h = q + floor_log2_pow10(-k) + 1;  // 1 to 4
    // The power rounded down: Y and D come out low by less than a unit each.
    const PowerOfTen128& g = POWERS_OF_TEN_128[-k - MIN_POWER_OF_TEN];
    const std::uint64_t x = c << (h + 2);
    const UInt128 high = multiply_wide(g.high, x);
    const std::uint64_t carry_in = multiply_high(g.low, x);
    const std::uint64_t middle = high.low + carry_in;
    const std::uint64_t top = high.high + (middle < carry_in ? 1u : 0u);  // floor(Y)

    const std::uint64_t s10 = top / 40;
    const std::uint64_t fraction = middle >> (64 - UNIT);
    const std::uint64_t mod40 = ((top - s10 * 40) << UNIT) | fraction;
    const std::uint64_t mod4 = ((top & 3) << UNIT) | fraction;
    const std::uint64_t d = g.high >> (5 - h);
    constexpr std::uint64_t FORTY = std::uint64_t{40} << UNIT;
    constexpr std::uint64_t TWENTY = std::uint64_t{20} << UNIT;
    constexpr std::uint64_t TWO = std::uint64_t{2} << UNIT;
    const bool upper = mod40 > TWENTY;  // the nearer multiple of 40 is above
    const std::uint64_t u = choose(upper, FORTY - mod40, mod40);
    // a - b within [-2, 2] units
    const auto close = [](std::uint64_t a, std::uint64_t b) -> unsigned { return a - b + 2 <= 4; };
    if ((close(u, d) | close(mod4, TWO)) != 0) [[unlikely]] {
        const DecimalDigits exact = schubfach_regular(c, q);
        return {exact.significand, exact.exponent, false};
    }
    const bool ten = u <= d;
    const std::uint64_t nearest = (top >> 2) + static_cast<std::uint64_t>(mod4 > TWO);
    const std::uint64_t significand =
        choose(ten, (s10 + static_cast<std::uint64_t>(upper)) * 10, nearest);
    return {significand, k, ten};
}

// The shortest decimal of a subnormal, or of a power of two above them, as 17 digits.
DecimalDigits seventeen_digits_rare(std::uint64_t bits) noexcept;

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

// The shortest decimal of a finite, non-zero v (its sign ignored), with the
// significand scaled to exactly 17 digits: 10^16 <= significand < 10^17, the digits
// after the shortest ones being zeros.
inline DecimalDigits seventeen_digits(double v) noexcept {
    using namespace shortest_detail;
    const auto bits = std::bit_cast<std::uint64_t>(v);
    const std::uint64_t fraction = bits & FRACTION_MASK;
    const int biased = static_cast<int>((bits >> FRACTION_BITS) & 0x7FF);
    if (fraction == 0 || biased == 0) [[unlikely]] {
        return seventeen_digits_rare(bits);
    }
    const Candidate d = shortest_regular(fraction | HIDDEN_BIT, biased - EXPONENT_BIAS);
    if (d.significand >= TEN_17) [[unlikely]]
        return {TEN_16, d.exponent + 1};
    // 16 or 17 digits, as often one as the other.
    const bool short_by_one = d.significand < TEN_16;
    return {choose(short_by_one, d.significand * 10, d.significand),
            d.exponent - static_cast<int>(short_by_one)};
}

// The shortest decimal of a finite, non-zero v (its sign ignored), without trailing
// zeros in the significand.
inline DecimalDigits shortest_decimal(double v) noexcept {
    using namespace shortest_detail;
    const auto bits = std::bit_cast<std::uint64_t>(v);
    const std::uint64_t fraction = bits & FRACTION_MASK;
    const int biased = static_cast<int>((bits >> FRACTION_BITS) & 0x7FF);
    DecimalDigits d;
    if (fraction == 0 || biased == 0) [[unlikely]] {
        d = seventeen_digits_rare(bits);
    } else {
        const Candidate c = shortest_regular(fraction | HIDDEN_BIT, biased - EXPONENT_BIAS);
        // The known zero of a multiple of ten dropped at once.
        d = {choose(c.ten, c.significand / 10, c.significand), c.exponent + (c.ten ? 1 : 0)};
    }
    // More zeros are rare for most data, common for short decimals.
    if (d.significand % 10 == 0) d = without_trailing_zeros(d);
    return d;
}

}  // namespace quorvel
