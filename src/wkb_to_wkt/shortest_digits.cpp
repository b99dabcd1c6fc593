#include "wkb_to_wkt/shortest_digits.hpp"

namespace quorvel::shortest_detail {

SeventeenDigits seventeen_digits_exact(std::uint64_t bits) noexcept {
    const std::uint64_t fraction = bits & FRACTION_MASK;
    const int biased = static_cast<int>(bits >> FRACTION_BITS);
    DecimalDigits d;
    if (biased == 0) {
        // A subnormal, whose significand may have any number of digits.
        d = schubfach<false>(fraction, 1 - EXPONENT_BIAS);
    } else if (fraction == 0 && biased > 1) {
        // A power of two: its lower neighbour is half as far away as the upper one.
        d = schubfach<true>(HIDDEN_BIT, biased - EXPONENT_BIAS);
    } else {
        // Neighbours equally far away (the smallest normal among them).
        d = schubfach<false>(fraction | HIDDEN_BIT, biased - EXPONENT_BIAS);
    }
    while (d.significand < TEN_16) {
        d.significand *= 10;
        d.exponent -= 1;
    }
    return {d.significand / 10, static_cast<std::uint32_t>(d.significand % 10), d.exponent};
}

}  // namespace quorvel::shortest_detail
