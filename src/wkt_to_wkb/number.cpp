#include "wkt_to_wkb/number.hpp"

#ifdef QUORVEL_HAVE_FAST_FLOAT
#include <fast_float/fast_float.h>

#include <cmath>
#include <system_error>
#else
#include <limits>

#include "wkt_to_wkb/decimal_to_double.hpp"
#endif

namespace quorvel::number_detail {

NumberToken round_number(const char* begin, const char* end, const ScannedDecimal& d) noexcept {
    double value = 0;
#ifdef QUORVEL_HAVE_FAST_FLOAT
    using Format = fast_float::binary_format<double>;
    if (d.exact) {
        // The gathered digits are the whole mantissa: round them directly.  A
        // negative power of two means the shortcut cannot decide; read the token.
        const fast_float::adjusted_mantissa am =
            fast_float::compute_float<Format>(static_cast<std::int64_t>(d.e10), d.mantissa);
        if (am.power2 == Format::infinite_power()) {
            return NumberToken{NumberForm::NonFinite, end, 0.0};
        }
        if (am.power2 >= 0) {
            fast_float::to_float(d.negative, am, value);
            return NumberToken{NumberForm::Finite, end, value};
        }
    }
    // fast_float reads this grammar too, refusing only a leading '+' (the value is
    // the same without it), and gives infinity on overflow and a zero of the token's
    // sign on underflow, without an error.
    const char* const digits = *begin == '+' ? begin + 1 : begin;
    const auto [ptr, ec] = fast_float::from_chars(digits, end, value);
    if (ptr == end && ec == std::errc{} && std::isfinite(value)) {
        return NumberToken{NumberForm::Finite, end, value};
    }
#else
    const char* const digits = *begin == '+' || *begin == '-' ? begin + 1 : begin;
    value = d.exact ? decimal_to_double(d.mantissa, d.e10) : decimal_text_to_double(digits, end);
    if (value != std::numeric_limits<double>::infinity()) {
        return NumberToken{NumberForm::Finite, end, d.negative ? -value : value};
    }
#endif
    return NumberToken{NumberForm::NonFinite, end, 0.0};
}

}  // namespace quorvel::number_detail
