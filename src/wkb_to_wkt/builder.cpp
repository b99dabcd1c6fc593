#include "wkb_to_wkt/builder.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "lib/geometry.hpp"
#include "wkb_to_wkt/reader.hpp"

#ifdef QUORVEL_HAVE_DRAGONBOX
#include <dragonbox/dragonbox.h>
#endif

namespace quorvel {

namespace {

constexpr char DIGIT_PAIRS[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline void put_pair(char* p, std::uint32_t v) noexcept {
    std::memcpy(p, DIGIT_PAIRS + 2 * v, 2);
}

// Writes v < 10^8 as exactly eight digits at p.
inline void put_eight(char* p, std::uint32_t v) noexcept {
    const std::uint32_t high = v / 10000;
    const std::uint32_t low = v % 10000;
    put_pair(p, high / 100);
    put_pair(p + 2, high % 100);
    put_pair(p + 4, low / 100);
    put_pair(p + 6, low % 100);
}

// Writes the decimal digits of v so that they end just before `end`; returns the first.
// Two digits at a time, in 32-bit chunks of eight.
inline char* write_digits_backwards(char* end, std::uint64_t v) noexcept {
    char* p = end;
    while (v >= 100000000u) {
        p -= 8;
        put_eight(p, static_cast<std::uint32_t>(v % 100000000u));
        v /= 100000000u;
    }
    auto w = static_cast<std::uint32_t>(v);
    while (w >= 100) {
        p -= 2;
        put_pair(p, w % 100);
        w /= 100;
    }
    if (w >= 10) {
        p -= 2;
        put_pair(p, w);
    } else {
        *--p = static_cast<char>('0' + w);
    }
    return p;
}

// Digit strings are built backwards to end at DIGITS_END of a DIGITS_SIZE buffer, so
// that they can be copied with a fixed 24-byte move (at most 20 digits are written).
constexpr std::size_t DIGITS_END = 24;
constexpr std::size_t DIGITS_SIZE = 48;
constexpr std::size_t COPY_SIZE = 24;
// Room that a fixed-size move or fill may write past the end of an ordinate's text.
constexpr std::size_t SLACK = 32;

// The shortest decimal digits of a finite, non-zero value:
// value = ±digits[first, first + count) × 10^exponent, no leading or trailing zero.
struct ShortestDigits {
    char digits[DIGITS_SIZE];
    int first;
    int count;
    int exponent;
    bool negative;
};

inline void shortest_digits(double v, ShortestDigits& d) noexcept {
#ifdef QUORVEL_HAVE_DRAGONBOX
    const auto decimal = jkj::dragonbox::to_decimal(v);
    char* end = d.digits + DIGITS_END;
    const char* first = write_digits_backwards(end, decimal.significand);
    d.first = static_cast<int>(first - d.digits);
    d.count = static_cast<int>(end - first);
    d.exponent = decimal.exponent;
    d.negative = decimal.is_negative;
#else
    // Shortest round-trip in scientific form, "-d.dddde-XX", taken apart.
    char sci[32];
    const char* end = std::to_chars(sci, sci + sizeof sci, v, std::chars_format::scientific).ptr;
    const char* s = sci;
    d.negative = *s == '-';
    if (d.negative) ++s;
    d.first = 0;
    d.count = 0;
    for (; s != end && *s != 'e'; ++s) {
        if (*s != '.') d.digits[d.count++] = *s;
    }
    int exponent_sign = 1;
    int exponent = 0;
    if (s != end) ++s;  // 'e'
    if (s != end && (*s == '-' || *s == '+')) exponent_sign = *s++ == '-' ? -1 : 1;
    for (; s != end; ++s) exponent = exponent * 10 + (*s - '0');
    while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
    d.exponent = exponent_sign * exponent - (d.count - 1);
#endif
}

// Writes `count` zeros at p; short runs with one fixed-size fill.
inline void put_zeros(char* p, int count) noexcept {
    if (count <= static_cast<int>(SLACK)) {
        std::memset(p, '0', SLACK);
    } else {
        std::memset(p, '0', static_cast<std::size_t>(count));
    }
}

// Writes ±digits × 10^exponent in positional notation at p and returns the end: zeros
// are padded before the point for large values and after "0." for small ones.
char* write_positional(char* p, const ShortestDigits& d) noexcept {
    const char* digits = d.digits + d.first;
    if (d.negative) *p++ = '-';
    const int point = d.count + d.exponent;  // digits before the decimal point
    if (d.exponent >= 0) {
        std::memcpy(p, digits, COPY_SIZE);
        p += d.count;
        put_zeros(p, d.exponent);
        return p + d.exponent;
    }
    if (point > 0) {
        // Digits, then the fraction moved one place right to make room for the point.
        std::memcpy(p, digits, COPY_SIZE);
        std::memcpy(p + point + 1, digits + point, COPY_SIZE);
        p[point] = '.';
        return p + d.count + 1;
    }
    p[0] = '0';
    p[1] = '.';
    p += 2;
    put_zeros(p, -point);
    p += -point;
    std::memcpy(p, digits, COPY_SIZE);
    return p + d.count;
}

// The longest text of one ordinate: "-0." and 341 digits after the point for a
// 17-digit subnormal (digits × 10^-341 at the least), or "-" and 309 digits.
constexpr std::size_t MAX_ORDINATE_CHARS = 344;
// What write_ordinate needs at its destination.
constexpr std::size_t ORDINATE_ROOM = MAX_ORDINATE_CHARS + SLACK;

// Writes the text of v at p, which has room for ORDINATE_ROOM bytes, and returns the
// end of the text.  Bytes past the end may be overwritten.
inline char* write_ordinate(char* p, double v) noexcept {
    if (v == 0.0) {
        *p = '0';  // both zeros
        return p + 1;
    }
    const double magnitude = std::fabs(v);
    if (magnitude < 1e15) {
        // Integral values below 10^15 print exactly as 64-bit integers.
        const auto integral = static_cast<std::int64_t>(v);
        if (static_cast<double>(integral) == v) {
            char buf[DIGITS_SIZE];
            char* end = buf + DIGITS_END;
            char* first = write_digits_backwards(
                end, static_cast<std::uint64_t>(integral < 0 ? -integral : integral));
            if (integral < 0) *--first = '-';
            std::memcpy(p, first, COPY_SIZE);
            return p + (end - first);
        }
    } else if (!(magnitude <= std::numeric_limits<double>::max())) {
        std::memcpy(p, std::isnan(v) ? "NaN\0" : (v > 0 ? "inf\0" : "-inf"), 4);
        return p + (std::isnan(v) || v > 0 ? 3 : 4);
    }
    ShortestDigits d;
    shortest_digits(v, d);
    return write_positional(p, d);
}

std::size_t output_reserve(std::size_t input_length) noexcept {
    // 3 × length, capped; the cap also covers lengths whose triple would overflow.
    return input_length > OUTPUT_RESERVE_CAP / 3 ? OUTPUT_RESERVE_CAP : 3 * input_length;
}

ConversionError trailing_data(std::size_t remaining) {
    return ConversionError::invalid_wkb("unexpected trailing data: " + std::to_string(remaining) +
                                        " bytes remaining");
}

// Reads the whole input into out; the top-level geometry gets its SRID prefix only
// when include_srid is set.
Result<GeometryInfo> convert(std::string_view wkb, std::string& out, bool include_srid) {
    WkbReader reader(wkb);
    auto info = reader.read_geometry(out, include_srid, 0);
    if (!info) return std::move(info).error();
    if (reader.remaining() != 0) return trailing_data(reader.remaining());
    return info;
}

}  // namespace

void format_ordinate(std::string& out, double v) {
    char buf[ORDINATE_ROOM];
    out.append(buf, static_cast<std::size_t>(write_ordinate(buf, v) - buf));
}

void write_coordinate(std::string& out, const double* ordinates, int n) {
    // One append per position.
    char buf[4 * (MAX_ORDINATE_CHARS + 1) + SLACK];
    char* p = write_ordinate(buf, ordinates[0]);
    for (int i = 1; i < n; ++i) {
        *p++ = ' ';
        p = write_ordinate(p, ordinates[i]);
    }
    out.append(buf, static_cast<std::size_t>(p - buf));
}

void write_srid_prefix(std::string& out, std::int32_t srid) {
    char buf[24] = "SRID=";
    char* end = std::to_chars(buf + 5, buf + sizeof buf - 1, srid).ptr;
    *end++ = ';';
    out.append(buf, static_cast<std::size_t>(end - buf));
}

Result<std::string> ewkb_to_ewkt(std::string_view wkb) {
    std::string out;
    if (!wkb.empty()) out.reserve(output_reserve(wkb.size()));
    auto info = convert(wkb, out, true);
    if (!info) return std::move(info).error();
    return out;
}

Result<WktAndSrid> ewkb_to_wkt_and_srid(std::string_view wkb) {
    std::string out;
    if (!wkb.empty()) out.reserve(output_reserve(wkb.size()));
    auto info = convert(wkb, out, false);
    if (!info) return std::move(info).error();
    return WktAndSrid{std::move(out), info->srid_present, info->srid_present ? info->srid : 0};
}

Result<std::string> ewkb_to_wkt_with_srid(std::string_view wkb, std::int32_t srid) {
    std::string out;
    if (!wkb.empty()) out.reserve(output_reserve(wkb.size()));
    // An SRID of 0 or below means "unknown": no prefix, as when stripping.
    if (srid > 0) write_srid_prefix(out, srid);
    auto info = convert(wkb, out, false);
    if (!info) return std::move(info).error();
    return out;
}

}  // namespace quorvel
