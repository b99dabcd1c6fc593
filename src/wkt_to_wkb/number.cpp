#include "wkt_to_wkb/number.hpp"

#include <charconv>
#include <cmath>
#include <string_view>
#include <system_error>

#ifdef QUORVEL_HAVE_FAST_FLOAT
#include <fast_float/fast_float.h>
#endif

namespace quorvel::number_detail {

#ifndef QUORVEL_HAVE_FAST_FLOAT
namespace {

// Decimal exponent of the first significant digit of a well-formed number token, or
// 0 when all its digits are zero.  Tells overflow from underflow when from_chars
// reports a result out of range; saturates on absurd exponents.
long long leading_exponent(std::string_view token) noexcept {
    std::size_t i = 0;
    if (token[i] == '+' || token[i] == '-') ++i;
    long long integer_digits = 0;  // significant digits before the point
    long long leading_zeros = 0;   // zeros after the point before the first nonzero digit
    bool seen_nonzero = false;
    for (; i < token.size() && is_digit(token[i]); ++i) {
        if (token[i] != '0') seen_nonzero = true;
        if (seen_nonzero) ++integer_digits;
    }
    if (i < token.size() && token[i] == '.') {
        for (++i; i < token.size() && is_digit(token[i]); ++i) {
            if (token[i] != '0') seen_nonzero = true;
            if (!seen_nonzero) ++leading_zeros;
        }
    }
    long long exponent = 0;
    if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
        ++i;
        bool negative = false;
        if (token[i] == '+' || token[i] == '-') negative = token[i++] == '-';
        constexpr long long cap = 1LL << 40;
        for (; i < token.size(); ++i) {
            if (exponent < cap) exponent = exponent * 10 + (token[i] - '0');
        }
        if (negative) exponent = -exponent;
    }
    if (!seen_nonzero) return 0;
    return integer_digits > 0 ? exponent + integer_digits - 1 : exponent - leading_zeros - 1;
}

}  // namespace
#endif

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
    // from_chars refuses a leading '+'; the value is the same without it.
    const char* const digits = *begin == '+' ? begin + 1 : begin;
    const auto [ptr, ec] = std::from_chars(digits, end, value);
    if (ptr == end && ec == std::errc{} && std::isfinite(value)) {
        return NumberToken{NumberForm::Finite, end, value};
    }
    const std::string_view token(begin, static_cast<std::size_t>(end - begin));
    if (ptr == end && ec == std::errc::result_out_of_range && leading_exponent(token) < 0) {
        // At most half the smallest subnormal: zero, keeping the sign.
        return NumberToken{NumberForm::Finite, end, d.negative ? -0.0 : 0.0};
    }
#endif
    return NumberToken{NumberForm::NonFinite, end, 0.0};
}

}  // namespace quorvel::number_detail
