// Number tokens of WKT, read in place:
//   [+-] digits [. digits] [(e|E) [+-] digits]
// with at least one digit before or after the point.  The token ends at the first
// byte that cannot continue it; a token followed by another number byte (digit,
// sign, point, e or E) is malformed as a whole.
//
// The tokens of coordinates (a sign, digits, a point and digits, up to 19 digits and
// up to 31 bytes, no exponent) are read inline and without a branch on how many
// digits there are, in two steps:
//   - where the token ends, from bytes at fixed offsets: the first byte after the
//     sign that is not a digit and, when it is the point, the next one.  The next
//     token can start from there while the digits are still being added up;
//   - the value of the digits: with SSE2 (sixteen_digits.hpp) up to fifteen digits
//     around the point at once and the rest of a longer token from one word; on
//     other processors and near the end of the text, words of eight digits
//     (eight_digits.hpp).
// Up to fifteen digits make an integer below 2^53 that one division by an exact power
// of ten rounds correctly (every lon/lat coordinate); more take the one-product path;
// both are in decimal_to_double.hpp.  Every other token (exponents, longer runs,
// malformed tokens) takes the general path of number.cpp, which settles any number of
// digits exactly.
#pragma once

#include <array>
#include <bit>
#include <cfloat>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lib/portable.hpp"
#include "wkt_to_wkb/decimal_to_double.hpp"
#include "wkt_to_wkb/eight_digits.hpp"
#include "wkt_to_wkb/sixteen_digits.hpp"

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

constexpr bool is_number_byte(unsigned b) noexcept {
    return NUMBER_BYTES[b & 0xFFu];
}

// Every token: the general scan and exact conversion, for any number of digits.
NumberToken read_number_token_in_full(const char* begin, const char* end) noexcept;

// The end of a finite token read by the general path, with its value in value;
// nullptr for any other token.
inline const char* finite_in_full(const char* begin, const char* end, double& value) noexcept {
    const NumberToken number = read_number_token_in_full(begin, end);
    value = number.value;
    return number.form == NumberForm::Finite ? number.end : nullptr;
}

// The sign bit of a double for the first byte of a token: set for '-' alone.  One
// load and an or negate a value, where a comparison takes four instructions.
inline constexpr auto SIGN_BIT_OF = [] {
    std::array<std::uint64_t, 256> table{};
    table['-'] = std::uint64_t{1} << 63;
    return table;
}();

// value, negated when first_byte is '-': the sign bit set rather than a branch.
inline double negative_if_minus(char first_byte, double value) noexcept {
    return std::bit_cast<double>(std::bit_cast<std::uint64_t>(value) |
                                 SIGN_BIT_OF[static_cast<unsigned char>(first_byte)]);
}

// Appends n digits (0 <= n, and at most 19 in all) at offset `at` of a text that has
// `room` bytes from base on to mantissa, eight at a time.
inline std::uint64_t append_digits(std::uint64_t mantissa, const char* base, std::ptrdiff_t at,
                                   int n, std::ptrdiff_t room) noexcept {
    namespace ed = eight_digits;
    for (; n > 8; n -= 8, at += 8) {
        mantissa = mantissa * ed::POWERS_OF_TEN[8] +
                   ed::value_of_eight(ed::load_within(base, at, room) - ed::ASCII_ZEROS);
    }
    return mantissa * ed::POWERS_OF_TEN[n] + ed::value_of_first(ed::load_within(base, at, room), n);
}

// read_number_token with words of eight bytes.  Where the token ends is found first,
// from words at fixed offsets, so that the next token can start before the digits
// have their value: the first byte after the sign
// that is not a digit (the point, or the end of an integer token) and, after a
// point, the next one.  Then the digits: the integer digits from the first word, the
// fraction digits from words at the point.
QUORVEL_ALWAYS_INLINE const char* read_by_words(const char* begin, const char* end,
                                                double& value) noexcept {
    namespace ed = eight_digits;
    const std::ptrdiff_t room = end - begin;
    if (room <= 0) [[unlikely]] {
        return finite_in_full(begin, end, value);
    }
    const char first_byte = *begin;
    const int sign = (first_byte == '-') | (first_byte == '+');
    const std::uint64_t w0 = ed::load_within(begin, 0, room);
    const std::uint64_t w1 = ed::load_within(begin, 8, room);
    // The non-digits of the first sixteen bytes, a sign in front excepted.
    std::uint64_t stops0 = ed::non_digit_bytes_exact(w0) & ~(std::uint64_t(sign) << 7);
    std::uint64_t stops1 = ed::non_digit_bytes_exact(w1);
    int first;  // offset of the first non-digit after the sign
    if (stops0 != 0) [[likely]] {
        first = ed::first_flagged(stops0);
        stops0 &= stops0 - 1;
    } else if (stops1 != 0) {
        first = 8 + ed::first_flagged(stops1);
        stops1 &= stops1 - 1;
    } else {
        return finite_in_full(begin, end, value);
    }
    const bool point = ed::byte_at(first < 8 ? w0 : w1, first & 7) == '.';
    int last = first;  // offset of the first byte after the digits
    if (point) {
        if (stops0 != 0) {
            last = ed::first_flagged(stops0);
        } else if (stops1 != 0) {
            last = 8 + ed::first_flagged(stops1);
        } else {
            const std::uint64_t stops2 =
                ed::non_digit_bytes_exact(ed::load_within(begin, 16, room));
            if (stops2 == 0) return finite_in_full(begin, end, value);
            last = 16 + ed::first_flagged(stops2);
        }
    }
    const int integer_digits = first - sign;
    const int fraction_digits = point ? last - first - 1 : 0;
    const int digits = integer_digits + fraction_digits;
    // No digit at all, an exponent, a malformed token, or digits that may not fit 64
    // bits: the general path tells.
    const char after = last < room ? begin[last] : ' ';
    if (digits == 0 || digits > 19 || is_number_byte(after)) [[unlikely]] {
        return finite_in_full(begin, end, value);
    }
    std::uint64_t mantissa = first < 8 ? ed::value_of_first(w0 >> (8 * sign), integer_digits)
                                       : append_digits(0, begin, sign, integer_digits, room);
    if (point) mantissa = append_digits(mantissa, begin, first + 1, fraction_digits, room);
    value = negative_if_minus(first_byte, decimal_fraction_to_double(mantissa, fraction_digits));
    return begin + last;
}

#ifdef QUORVEL_HAVE_SSE2
// read_number_token with sixteen bytes at a time, for at least sixteen bytes of text
// (thirty-two when HAS_32_BYTES): where the token ends from one digit mask (two for
// tokens of more than fifteen bytes), then up to fifteen digits around the point at
// once.
template <bool HAS_32_BYTES>
QUORVEL_ALWAYS_INLINE const char* read_by_vectors(const char* begin, const char* end,
                                                  double& value) noexcept {
    namespace sd = sixteen_digits;
    const char first_byte = *begin;
    const unsigned sign = (first_byte == '-') | (first_byte == '+');
    const __m128i v = sd::load(begin);
    const __m128i digit_bytes = sd::digit_bytes(v);
    // The non-digits of the sixteen bytes, a sign in front excepted, and a stop after
    // them (bit 16).
    const unsigned digit_mask = static_cast<unsigned>(_mm_movemask_epi8(digit_bytes));
    unsigned stops = (digit_mask | sign) ^ 0x1FFFFu;
    // The point, or the end of an integer; 16 when all sixteen bytes are digits (or a
    // sign and digits), which has no point.
    const unsigned first = lowest_set_bit(stops);
    // Whether the first stop is the point, from the same sixteen bytes: a load of
    // begin[first] would put the memory's latency between where this token starts
    // and where the next one does (on some Intel cores it took half the time of a
    // coordinate).  A 0 or 1 rather than a bool: as a bool, clang tested a shifted
    // bit for the branch and made the 0 or 1 for the sum below again.
    const unsigned point = (sd::point_mask(v) >> first) & 1u;
    unsigned last = first;  // the first byte after the digits
    if (point != 0) [[likely]] {
        stops &= stops - 1;
        last = lowest_set_bit(stops);
        if (last == 16) {
            // The fraction goes on into the next sixteen bytes, of which only the
            // first four count as digits: with the point and fifteen digits before
            // them, that makes 19 (18 after a sign; a signed token of 19 digits
            // takes the general path).  A longer run stops at a digit, which the
            // test of begin[last] below sends to the general path.  The bounds of
            // that mask are a constant: taken by the sign from a table, they put a
            // second load on the way from one token's start to the next one's.
            if (!HAS_32_BYTES && end - begin < 32) [[unlikely]] {
                return finite_in_full(begin, end, value);
            }
            last = 16 + lowest_set_bit(~sd::first_digit_mask(sd::load(begin + 16)));
        }
    } else if (first == 16) [[unlikely]] {
        // Sixteen digits or more before any point: the general path.
        return finite_in_full(begin, end, value);
    }
    // No digit at all, an exponent or a malformed token: the general path tells.
    if (last == sign + point || is_number_byte(begin[last])) [[unlikely]] {
        return finite_in_full(begin, end, value);
    }
    if (last < 16) {
        // At most fifteen digits: exact in a double, as is 10^(15 - first).
        value = negative_if_minus(
            first_byte, short_fraction_to_double(
                            sd::digits_around_point(v, digit_bytes, first, last), 15 - first));
    } else {
        // Fifteen digits or fourteen after a sign from the first sixteen bytes, then
        // the rest: at most four (every byte but the sign and the point is a digit).
        const unsigned fraction_digits = last - first - 1;
        const unsigned rest = last - 16;
        // The rest from the eight bytes that end the token (last >= 16), in the same
        // steps as the first sixteen.
        const __m128i tail = _mm_and_si128(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(begin + last - 8)),
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(&eight_digits::LAST_DIGITS[rest])));
        const sd::DigitsAndTail d = sd::digits_around_point_and_tail(v, digit_bytes, first, tail);
        const std::uint64_t mantissa = d.digits * eight_digits::POWERS_OF_TEN[rest] + d.tail;
        value = long_fraction_to_double(mantissa, fraction_digits,
                                        SIGN_BIT_OF[static_cast<unsigned char>(first_byte)]);
    }
    return begin + last;
}
#endif

// read_number_token for fewer than sixteen bytes of text, the last tokens of a text:
// a byte at a time.  Such a token has at most fifteen digits, an exact mantissa.
QUORVEL_ALWAYS_INLINE const char* read_short_text(const char* begin, const char* end,
                                                  double& value) noexcept {
    const char* q = begin;
    if (q < end && (*q == '-' || *q == '+')) ++q;
    std::uint64_t mantissa = 0;
    const char* const integer_begin = q;
    for (; q < end && is_digit(*q); ++q) {
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
    }
    bool any_digit = q != integer_begin;
    int fraction_digits = 0;
    if (q < end && *q == '.') {
        const char* const fraction_begin = ++q;
        for (; q < end && is_digit(*q); ++q) {
            mantissa = mantissa * 10 + static_cast<std::uint64_t>(*q - '0');
        }
        fraction_digits = static_cast<int>(q - fraction_begin);
        any_digit = any_digit || fraction_digits != 0;
    }
    if (!any_digit || (q < end && is_number_byte(*q))) [[unlikely]] {
        return finite_in_full(begin, end, value);
    }
    // A token that reads has a digit, so begin < end.
    value = negative_if_minus(
        *begin, short_fraction_to_double(mantissa, static_cast<unsigned>(fraction_digits)));
    return q;
}

}  // namespace number_detail

// read_finite_number for at least MIN_BYTES bytes of text, 16 or more; from 32 on, a
// token's second sixteen bytes are read without a test of the length.
template <int MIN_BYTES = 16>
QUORVEL_ALWAYS_INLINE const char* read_long_text_number(const char* begin, const char* end,
                                                        double& value) noexcept {
    static_assert(MIN_BYTES >= 16);
#ifdef QUORVEL_HAVE_SSE2
    return number_detail::read_by_vectors<MIN_BYTES >= 32>(begin, end, value);
#else
    return number_detail::read_by_words(begin, end, value);
#endif
}

// Reads a finite number token that starts at begin (end is the end of the text):
// returns its end and sets value, or returns nullptr when the token is not a finite
// number (read_number_token says what it is); in particular when begin is at the end
// or at a byte that cannot start a number.  The tokenizer's loops call this one: a
// pointer and a double stay in registers where a returned NumberToken may not.
QUORVEL_ALWAYS_INLINE const char* read_finite_number(const char* begin, const char* end,
                                                     double& value) noexcept {
    if (end - begin >= 16) [[likely]] {
        return read_long_text_number(begin, end, value);
    }
    return number_detail::read_short_text(begin, end, value);
}

// Reads the number token that starts at begin; end is the end of the text.
inline NumberToken read_number_token(const char* begin, const char* end) noexcept {
    double value = 0;
    if (const char* token_end = read_finite_number(begin, end, value)) {
        return NumberToken{NumberForm::Finite, token_end, value};
    }
    return number_detail::read_number_token_in_full(begin, end);
}

}  // namespace quorvel
