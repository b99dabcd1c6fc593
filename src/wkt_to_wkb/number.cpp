#include "wkt_to_wkb/number.hpp"

#include <limits>

namespace quorvel::number_detail {

namespace {

namespace ed = eight_digits;

// Consumes the run of digits at q and appends them to mantissa (which wraps past 19
// digits; the caller counts them): eight at a time while eight bytes remain, then
// one at a time.  Returns the end of the run.
const char* digit_run(const char* q, const char* end, std::uint64_t& mantissa) noexcept {
    while (end - q >= 8) {
        const std::uint64_t w = ed::load(q);
        const int n = ed::leading_digits(w);
        mantissa = mantissa * ed::POWERS_OF_TEN[n] + ed::value_of_first(w, n);
        q += n;
        if (n < 8) return q;
    }
    for (; q < end && is_digit(*q); ++q) {
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
    }
    return q;
}

}  // namespace

NumberToken read_number_token_in_full(const char* begin, const char* end) noexcept {
    const char* q = begin;
    bool negative = false;
    if (q < end && (*q == '+' || *q == '-')) negative = *q++ == '-';
    std::uint64_t mantissa = 0;
    const char* const integer_begin = q;
    q = digit_run(q, end, mantissa);
    auto digit_count = static_cast<std::size_t>(q - integer_begin);
    std::size_t fraction_digits = 0;
    bool well_formed = digit_count != 0;
    if (q < end && *q == '.') {
        const char* const fraction_begin = ++q;
        q = digit_run(q, end, mantissa);
        fraction_digits = static_cast<std::size_t>(q - fraction_begin);
        digit_count += fraction_digits;
        well_formed = well_formed || fraction_digits != 0;
    }
    long long exponent = 0;
    // Only a number byte can continue the token, and only e or E well.
    if (q < end && is_number_byte(*q)) {
        if (!well_formed || (*q != 'e' && *q != 'E')) {
            return NumberToken{NumberForm::Malformed, q, 0.0};
        }
        ++q;
        bool exponent_negative = false;
        if (q < end && (*q == '+' || *q == '-')) exponent_negative = *q++ == '-';
        const char* const exponent_begin = q;
        // Past 10^5 the exponent saturates: far beyond what any digits can make up.
        for (; q < end && is_digit(*q); ++q) {
            if (exponent < 100000) exponent = exponent * 10 + (*q - '0');
        }
        well_formed = q != exponent_begin;
        if (exponent_negative) exponent = -exponent;
        if (q < end && is_number_byte(*q)) well_formed = false;
    }
    if (!well_formed) return NumberToken{NumberForm::Malformed, q, 0.0};
    double value;
    if (digit_count <= 19) {
        // The gathered digits are the whole mantissa.
        value = decimal_to_double(mantissa, exponent - static_cast<long long>(fraction_digits));
    } else {
        const char* const digits = begin + (*begin == '+' || *begin == '-');
        value = decimal_text_to_double(digits, q);
    }
    if (value == std::numeric_limits<double>::infinity()) {
        return NumberToken{NumberForm::NonFinite, q, 0.0};
    }
    return NumberToken{NumberForm::Finite, q, negative ? -value : value};
}

}  // namespace quorvel::number_detail
