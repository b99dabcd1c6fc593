#include "wkb_to_wkt/shortest_digits.hpp"

namespace quorvel::shortest_detail {

namespace {

// d with its significand multiplied by ten until it reaches at_least.
DecimalDigits widened(DecimalDigits d, std::uint64_t at_least) noexcept {
    while (d.significand < at_least) {
        d.significand *= 10;
        d.exponent -= 1;
    }
    return d;
}

}  // namespace

DecimalDigits schubfach_regular(std::uint64_t c, int q) noexcept {
    return widened(schubfach<false>(c, q), TEN_15);
}

DecimalDigits seventeen_digits_rare(std::uint64_t bits) noexcept {
    const std::uint64_t fraction = bits & FRACTION_MASK;
    const int biased = static_cast<int>((bits >> FRACTION_BITS) & 0x7FF);
    if (biased > 1) {
        // A power of two: its lower neighbour is half as far away as the upper one.
        return widened(schubfach<true>(HIDDEN_BIT, biased - EXPONENT_BIAS), TEN_16);
    }
    // A subnormal, or the smallest normal, whose neighbours are equally far away.  A
    // subnormal's significand may have any number of digits.
    return widened(schubfach<false>(biased == 1 ? HIDDEN_BIT : fraction, 1 - EXPONENT_BIAS),
                   TEN_16);
}

}  // namespace quorvel::shortest_detail
