// Number tokens of WKT, read in place:
//   [+-] digits [. digits] [(e|E) [+-] digits]
// with at least one digit before or after the point.  The token ends at the first
// byte that cannot continue it; a token followed by another number byte (digit,
// sign, point, e or E) is malformed as a whole.
//
// The first integer digits are read one at a time, longer runs eight at a time where
// eight bytes remain.  A mantissa of at most 19 digits below 2^53 with a power of ten
// up to 10^22 converts exactly with one multiplication or division; every other
// token goes to a correctly rounding conversion, straight from the gathered digits
// when there are at most 19: fast_float when the build has it, our own otherwise
// (decimal_to_double.hpp), so every build gives the same values.
#pragma once

#include <array>
#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "lib/portable.hpp"

namespace quorvel {

enum class NumberForm : std::uint8_t { Finite, NonFinite, Malformed };

struct NumberToken {
    NumberForm form;
    const char* end;  // end of the token; meaningful unless Malformed
    double value;     // meaningful when Finite
};

namespace number_detail {

constexpr bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// The eleven bytes a number token is drawn from, as a table.
inline constexpr auto NUMBER_BYTES = [] {
    std::array<bool, 256> table{};
    for (const char c : std::string_view("0123456789+-.eE")) {
        table[static_cast<unsigned char>(c)] = true;
    }
    return table;
}();

constexpr bool is_number_byte(char c) noexcept {
    return NUMBER_BYTES[static_cast<unsigned char>(c)];
}

inline constexpr double EXACT_POWERS_OF_TEN[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

inline constexpr std::uint64_t POWERS_OF_TEN[] = {1,      10,      100,      1000,     10000,
                                                  100000, 1000000, 10000000, 100000000};

inline constexpr std::uint64_t ASCII_ZEROS = 0x3030303030303030u;

// Eight bytes at p, the first in the lowest byte.
inline std::uint64_t load_eight(const char* p) noexcept {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::big) w = byteswap64(w);
    return w;
}

// The high bit of every byte that is not an ASCII digit is set, at least up to and
// including the first such byte (carries and borrows move only upwards, and every
// byte below the first non-digit is a digit).
inline std::uint64_t non_digit_bytes(std::uint64_t w) noexcept {
    return ((w + 0x4646464646464646u) | (w - ASCII_ZEROS)) & 0x8080808080808080u;
}

// The value of eight digit values (0..9) in the bytes of d, the first digit in the
// lowest byte: pairs, then fours, then the eight, each by one multiplication.
inline std::uint32_t eight_digits_value(std::uint64_t d) noexcept {
    d = d * 10 + (d >> 8);
    d = (((d & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
         (((d >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >>
        32;
    return static_cast<std::uint32_t>(d);
}

// Consumes the run of digits at q and appends them to mantissa (which wraps past 19
// digits; the caller counts them).  Returns the end of the run.
inline const char* digit_run(const char* q, const char* end, std::uint64_t& mantissa) noexcept {
    while (end - q >= 8) {
        const std::uint64_t w = load_eight(q);
        const std::uint64_t stops = non_digit_bytes(w);
        if (stops == 0) {
            mantissa = mantissa * 100000000u + eight_digits_value(w - ASCII_ZEROS);
            q += 8;
            continue;
        }
        const int n = std::countr_zero(stops) / 8;
        if (n != 0) {
            // The n digits moved to the top bytes, zero digits in front of them.
            const std::uint64_t digits = (w - ASCII_ZEROS) << (64 - 8 * n);
            mantissa = mantissa * POWERS_OF_TEN[n] + eight_digits_value(digits);
        }
        return q + n;
    }
    for (; q < end && is_digit(*q); ++q) {
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
    }
    return q;
}

// The digits of a well-formed token as the scan gathered them: the value is
// ±mantissa × 10^e10 when exact (at most 19 digits), else mantissa is truncated.
struct ScannedDecimal {
    std::uint64_t mantissa;
    long long e10;
    bool exact;
    bool negative;
};

// The correctly rounded value of the well-formed token [begin, end) that the exact
// path did not take; NonFinite when its magnitude rounds past the largest double.
NumberToken round_number(const char* begin, const char* end, const ScannedDecimal& d) noexcept;

}  // namespace number_detail

// Reads the number token that starts at begin; end is the end of the text.
inline NumberToken read_number_token(const char* begin, const char* end) noexcept {
    using namespace number_detail;
    const char* q = begin;
    bool negative = false;
    if (q < end && (*q == '+' || *q == '-')) negative = *q++ == '-';
    std::uint64_t mantissa = 0;
    const char* const integer_begin = q;
    // Integer parts are mostly short: their first digits one at a time.
    for (int k = 0; k < 4 && q < end && is_digit(*q); ++k, ++q) {
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
    }
    if (q < end && is_digit(*q)) q = digit_run(q, end, mantissa);
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
    int exponent = 0;
    // Mostly the token ends here; only a number byte can start an exponent.
    if (q < end && is_number_byte(*q)) {
        if (!well_formed || (*q != 'e' && *q != 'E')) {
            return NumberToken{NumberForm::Malformed, q, 0.0};
        }
        ++q;
        bool exponent_negative = false;
        if (q < end && (*q == '+' || *q == '-')) exponent_negative = *q++ == '-';
        const char* const exponent_begin = q;
        for (; q < end && is_digit(*q); ++q) {
            if (exponent < 100000) exponent = exponent * 10 + (*q - '0');
        }
        well_formed = q != exponent_begin;
        if (exponent_negative) exponent = -exponent;
        if (q < end && is_number_byte(*q)) well_formed = false;
    }
    if (!well_formed) return NumberToken{NumberForm::Malformed, q, 0.0};
    const long long e10 =
        static_cast<long long>(exponent) - static_cast<long long>(fraction_digits);
    // Exact path: a mantissa up to 2^53 and a power of ten up to 1e22 are both exact
    // doubles, so one multiplication or division rounds correctly.
    if constexpr (FLT_EVAL_METHOD == 0) {
        if (digit_count <= 19 && mantissa <= (std::uint64_t{1} << 53) && e10 >= -22 && e10 <= 22) {
            double value = static_cast<double>(mantissa);
            value = e10 < 0 ? value / EXACT_POWERS_OF_TEN[-e10] : value * EXACT_POWERS_OF_TEN[e10];
            return NumberToken{NumberForm::Finite, q, negative ? -value : value};
        }
    }
    return round_number(begin, q, ScannedDecimal{mantissa, e10, digit_count <= 19, negative});
}

}  // namespace quorvel
