#include "wkb_to_wkt/builder.hpp"

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "lib/geometry.hpp"
#include "lib/portable.hpp"
#include "lib/sse2.hpp"
#include "wkb_to_wkt/reader.hpp"
#include "wkb_to_wkt/shortest_digits.hpp"

// Sixteen digits at once with SSE2 on x86-64 (the words are taken out of the vector
// with 64-bit moves, which 32-bit x86 lacks).
#if defined(QUORVEL_HAVE_SSE2) && (defined(__x86_64__) || defined(_M_X64))
#define QUORVEL_SSE2_DIGITS 1
#endif

namespace quorvel {

namespace {

// --- digits ---
//
// Digit strings are built in registers, eight ASCII digits per 64-bit word with the
// first digit in the lowest byte (the first in memory once stored), and written with
// whole-word stores: up to 24 bytes past the start of a digit string may be written.

inline void store_word(char* p, std::uint64_t w) noexcept {
    if constexpr (std::endian::native == std::endian::big) w = byteswap64(w);
    std::memcpy(p, &w, 8);
}

#ifndef QUORVEL_SSE2_DIGITS
// The eight digit values of v < 10^8, leading zeros included, one per byte: split
// into halves of four, quarters of two and single digits, each step one multiply
// and shift per lane.
inline std::uint64_t eight_digit_values(std::uint32_t v) noexcept {
    const std::uint32_t high = v / 10000;
    const std::uint32_t low = v - high * 10000;
    std::uint64_t x = high | (std::uint64_t{low} << 32);
    const std::uint64_t hundreds = ((x * 10486) >> 20) & 0x0000007F0000007Fu;  // x / 100
    x = hundreds | ((x - hundreds * 100) << 16);
    const std::uint64_t tens = ((x * 103) >> 10) & 0x000F000F000F000Fu;  // x / 10
    return tens | ((x - tens * 10) << 8);
}
#endif

constexpr std::uint64_t ASCII_ZEROS = 0x3030303030303030u;

// Room that a fixed-size move or fill may write past the end of an ordinate's text.
constexpr std::size_t SLACK = 32;

// Writes `count` zeros at p; short runs with one fixed-size fill.
inline void put_zeros(char* p, int count) noexcept {
    if (count <= static_cast<int>(SLACK)) {
        std::memset(p, '0', SLACK);
    } else {
        std::memset(p, '0', static_cast<std::size_t>(count));
    }
}

// The word of text that has the point inserted before byte `point` (0..7) of w:
// the bytes from there on move one place up and the last falls out.
inline std::uint64_t insert_point(std::uint64_t w, int point) noexcept {
    const std::uint64_t below = (std::uint64_t{1} << (8 * point)) - 1;
    const std::uint64_t at = below + 1;  // the lowest bit of byte `point`
    return (w & below) | (std::uint64_t{'.'} * at) | ((w << 8) & ~(below | (at * 0xFF)));
}

#ifdef QUORVEL_SSE2_DIGITS
// The sixteen digit values of high × 10^8 + low (both below 10^8), one per byte, the
// first in the lowest byte: both halves split at once into fours, pairs and single
// digits, each step one multiplication of every lane by a reciprocal and one to
// find the remainders (exact for these ranges: x / 10^4 = (x × 109951163) >> 40
// below 10^8, x / 100 = (x × 5243) >> 19 below 10^4, x / 10 = (x × 6554) >> 16
// below 100).  The multiplications run on the vector units, beside the scalar work.
inline __m128i sixteen_digit_values(std::uint32_t high, std::uint32_t low) noexcept {
    const __m128i v =
        _mm_set_epi64x(static_cast<std::int64_t>(low), static_cast<std::int64_t>(high));
    const __m128i q4 = _mm_srli_epi64(_mm_mul_epu32(v, _mm_set1_epi32(109951163)), 40);
    const __m128i r4 = _mm_sub_epi32(v, _mm_mul_epu32(q4, _mm_set1_epi32(10000)));
    const __m128i fours = _mm_or_si128(q4, _mm_slli_epi64(r4, 32));
    const __m128i q2 = _mm_srli_epi16(_mm_mulhi_epu16(fours, _mm_set1_epi16(5243)), 3);
    const __m128i r2 = _mm_sub_epi16(fours, _mm_mullo_epi16(q2, _mm_set1_epi16(100)));
    const __m128i pairs = _mm_or_si128(q2, _mm_slli_epi32(r2, 16));
    const __m128i q1 = _mm_mulhi_epu16(pairs, _mm_set1_epi16(6554));
    const __m128i r1 = _mm_sub_epi16(pairs, _mm_mullo_epi16(q1, _mm_set1_epi16(10)));
    return _mm_or_si128(q1, _mm_slli_epi16(r1, 8));
}
#endif

// The sixteen digits of high × 10^8 + low (both below 10^8, leading zeros included)
// as text, and which of them are not zero.
class SixteenDigits {
public:
    SixteenDigits(std::uint32_t high, std::uint32_t low) noexcept {
#ifdef QUORVEL_SSE2_DIGITS
        const __m128i values = sixteen_digit_values(high, low);
        text_ = _mm_add_epi8(values, _mm_set1_epi8('0'));
        nonzero_ = static_cast<unsigned>(
            ~_mm_movemask_epi8(_mm_cmpeq_epi8(values, _mm_setzero_si128())) & 0xFFFF);
#else
        const std::uint64_t v0 = eight_digit_values(high);
        const std::uint64_t v1 = eight_digit_values(low);
        words_[0] = v0 + ASCII_ZEROS;
        words_[1] = v1 + ASCII_ZEROS;
        nonzero_ = nonzero_bytes(v0) | (nonzero_bytes(v1) << 8);
#endif
    }

    // Bit i is set when digit i + 1 is not zero.
    unsigned nonzero() const noexcept {
        return nonzero_;
    }
    // Digits 1 to 8 and 9 to 16.
    std::uint64_t first_word() const noexcept {
#ifdef QUORVEL_SSE2_DIGITS
        return static_cast<std::uint64_t>(_mm_cvtsi128_si64(text_));
#else
        return words_[0];
#endif
    }
    std::uint64_t second_word() const noexcept {
#ifdef QUORVEL_SSE2_DIGITS
        return static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(text_, text_)));
#else
        return words_[1];
#endif
    }
    // Writes the sixteen digits at p.
    void store(char* p) const noexcept {
#ifdef QUORVEL_SSE2_DIGITS
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), text_);
#else
        store_word(p, words_[0]);
        store_word(p + 8, words_[1]);
#endif
    }

private:
#ifndef QUORVEL_SSE2_DIGITS
    // Bit i set when byte i of the digit values is not zero.
    static unsigned nonzero_bytes(std::uint64_t values) noexcept {
        unsigned bits = 0;
        for (int i = 0; i < 8; ++i) bits |= ((values >> (8 * i)) & 0xFF) != 0 ? 1u << i : 0u;
        return bits;
    }
    std::uint64_t words_[2];
#else
    __m128i text_;
#endif
    unsigned nonzero_;
};

// The 17 digits of a significand 10^16 <= v < 10^17 as text: the first sixteen, then
// a word of digit 17 followed by seven '0's; and how many digits count, up to the
// last that is not zero.
class SeventeenDigits {
public:
    explicit SeventeenDigits(std::uint64_t v) noexcept
        : first_(split(v).high, split(v).middle), last_word_(split(v).last + ASCII_ZEROS) {
        // The highest bit of the mask of all seventeen; the first digit is never zero
        // (the | 1 tells the compiler so, which saves a test).
        const unsigned nonzero =
            first_.nonzero() | (static_cast<unsigned>(split(v).last != 0) << 16) | 1u;
        significant_ = 32 - std::countl_zero(nonzero);
    }

    int significant() const noexcept { return significant_; }
    const SixteenDigits& first_sixteen() const noexcept { return first_; }
    // Digit 17 and seven '0's.
    std::uint64_t last_word() const noexcept { return last_word_; }

private:
    struct Parts {
        std::uint32_t high;    // digits 1 to 8
        std::uint32_t middle;  // digits 9 to 16
        std::uint32_t last;    // digit 17
    };
    static Parts split(std::uint64_t v) noexcept {
        const auto high = static_cast<std::uint32_t>(v / 1000000000u);
        const auto rest = static_cast<std::uint32_t>(v - std::uint64_t{high} * 1000000000u);
        const std::uint32_t middle = rest / 10;
        return {high, middle, rest - middle * 10};
    }

    SixteenDigits first_;
    std::uint64_t last_word_;
    int significant_;
};

// Writes the shortest decimal d (17-digit significand) in positional notation at p
// and returns the end.  Zeros are padded before the point for large values and after
// "0." for small ones; the point and the digits after it appear only when a digit
// after it is not zero.
inline char* write_positional(char* p, DecimalDigits d) noexcept {
    const SeventeenDigits digits(d.significand);
    const int point = 17 + d.exponent;  // digits before the decimal point
    if (static_cast<unsigned>(point - 1) < 16) {
        // The point among the digits (or right after them, then cut off): the digits
        // from the point on move up one byte.
        const SixteenDigits& first = digits.first_sixteen();
        if (point < 8) {
            // All sixteen one byte up, then the first word with the point over them.
            first.store(p + 1);
            store_word(p, insert_point(first.first_word(), point));
            store_word(p + 17, digits.last_word());
        } else if (point < 16) {
            const std::uint64_t second = first.second_word();
            first.store(p);
            store_word(p + 8, insert_point(second, point - 8));
            store_word(p + 16, (second >> 56) | (digits.last_word() << 8));
        } else {
            first.store(p);
            store_word(p + 16, insert_point(digits.last_word(), 0));
        }
        return p + (digits.significant() > point ? digits.significant() + 1 : point);
    }
    if (point <= 0) {
        // "0.", -point zeros, then the digits.
        const int zeros = -point;
        std::memcpy(p, "0.", 2);
        put_zeros(p + 2, zeros);
        p += 2 + zeros;
        digits.first_sixteen().store(p);
        store_word(p + 16, digits.last_word());
        return p + digits.significant();
    }
    // At least 17 digits before the point: all of them, then zeros.  The last word
    // already holds zeros up to 24 bytes.
    digits.first_sixteen().store(p);
    store_word(p + 16, digits.last_word());
    if (point > 24) put_zeros(p + 24, point - 24);
    return p + point;
}

// A shortcut for magnitudes below 10^8 (the caller checks) with at most seven
// decimals, the usual precision of geographic coordinates.  m = round(magnitude ×
// 10^7) is checked by the correctly rounded division m / 10^7 (both exact doubles):
// when it gives the magnitude back, m × 10^-7 lies in the magnitude's rounding
// interval.  That interval is narrower than 10^-7 (one unit in the last place below
// 10^8 is at most 2^-26), so it holds no other multiple of 10^-7, and every decimal
// with fewer digits is such a multiple: m without its trailing zeros is the shortest
// and only candidate, the digits the general algorithm finds.  Returns 0 when the
// shortcut does not apply.
inline std::uint64_t seven_decimals(double magnitude) noexcept {
    if constexpr (FLT_EVAL_METHOD != 0) return 0;
    const auto m = static_cast<std::int64_t>(magnitude * 1e7 + 0.5);
    return static_cast<double>(m) / 1e7 == magnitude ? static_cast<std::uint64_t>(m) : 0;
}

// Writes m × 10^-7 (m below 10^15) at p: the integer digits, then the point and the
// seven decimals without their trailing zeros, when they are not all zero.
inline char* write_seven_decimals(char* p, std::uint64_t m) noexcept {
    const auto integer = static_cast<std::uint32_t>(m / 10000000u);  // below 10^8
    const auto decimals = static_cast<std::uint32_t>(m - std::uint64_t{integer} * 10000000u);
    // The integer's eight digits with leading zeros, then the seven decimals and a zero.
    const SixteenDigits digits(integer, decimals * 10);
    // Leading zeros of the integer part, keeping at least one digit ("0.5").
    const int leading = std::countr_zero((digits.nonzero() & 0x7F) | 0x80);
    const int n = 8 - leading;
    const unsigned decimal_digits = (digits.nonzero() >> 8) & 0x7F;
    const int count = 32 - std::countl_zero(decimal_digits);  // up to the last nonzero
    store_word(p, digits.first_word() >> (8 * leading));
    p[n] = '.';
    store_word(p + n + 1, digits.second_word());
    return p + n + count + (count != 0 ? 1 : 0);
}

// The longest text of one ordinate: "-0." and 341 digits after the point for a
// 17-digit subnormal (digits × 10^-341 at the least), or "-" and 309 digits.
constexpr std::size_t MAX_ORDINATE_CHARS = 344;
// What write_ordinate needs at its destination.
constexpr std::size_t ORDINATE_ROOM = MAX_ORDINATE_CHARS + SLACK;

// Writes the text of v at p, which has room for ORDINATE_ROOM bytes, and returns the
// end of the text.  Bytes past the end may be overwritten.
QUORVEL_ALWAYS_INLINE char* write_ordinate(char* p, double v) noexcept {
    if (v == 0.0) {
        *p = '0';  // both zeros
        return p + 1;
    }
    const double magnitude = std::fabs(v);
    if (!(magnitude <= std::numeric_limits<double>::max())) [[unlikely]] {
        std::memcpy(p, std::isnan(v) ? "NaN\0" : (v > 0 ? "inf\0" : "-inf"), 4);
        return p + (std::isnan(v) || v > 0 ? 3 : 4);
    }
    *p = '-';
    p += std::signbit(v) ? 1 : 0;
    if (magnitude < 1e8) {
        // Most coordinates, integers included, through the seven-decimal shortcut.
        if (const std::uint64_t m = seven_decimals(magnitude); m != 0) {
            return write_seven_decimals(p, m);
        }
    } else if (magnitude < 1e15) {
        // Integral values below 10^15 print exactly as 64-bit integers.
        const auto integral = static_cast<std::uint64_t>(static_cast<std::int64_t>(magnitude));
        if (static_cast<double>(integral) == magnitude) {
            // Sixteen digits with leading zeros, moved down over them (at least nine
            // digits count, so the zeros lie in the first word).
            const SixteenDigits digits(static_cast<std::uint32_t>(integral / 100000000u),
                                       static_cast<std::uint32_t>(integral % 100000000u));
            const int shift = 8 * std::countr_zero(digits.nonzero());
            const std::uint64_t second = digits.second_word();
            store_word(p, (digits.first_word() >> shift) | ((second << (63 - shift)) << 1));
            store_word(p + 8, second >> shift);
            return p + 16 - shift / 8;
        }
    }
    return write_positional(p, seventeen_digits(magnitude));
}

// Room for one position: ", " and up to four ordinates with their spaces.
constexpr std::size_t POSITION_ROOM = 2 + 4 * (MAX_ORDINATE_CHARS + 1) + SLACK;

// Writes ", " when separated, then the n ordinates joined by single spaces, at p.
inline char* write_position(char* p, const double* ordinates, int n, bool separated) noexcept {
    // One call of write_ordinate, so that it is inlined: the separator before each
    // ordinate is ", " or nothing for the first, " " for the others.
    std::memcpy(p, ", ", 2);
    p += separated ? 2 : 0;
    for (int i = 0;;) {
        p = write_ordinate(p, ordinates[i]);
        if (++i == n) return p;
        *p++ = ' ';
    }
}

std::size_t output_reserve(std::size_t input_length) noexcept {
    // 3 × length, capped; the cap also covers lengths whose triple would overflow.
    return input_length > OUTPUT_RESERVE_CAP / 3 ? OUTPUT_RESERVE_CAP : 3 * input_length;
}

ConversionError trailing_data(std::size_t remaining) {
    return ConversionError::invalid_wkb("unexpected trailing data: " + std::to_string(remaining) +
                                        " bytes remaining");
}

// A top-level Point that fills the input exactly, the commonest geometry, written
// without the general walk: the same text the walk writes.  Returns false, having
// written nothing, for anything else.
bool convert_point(std::string_view wkb, OutputBuffer& out, bool include_srid, GeometryInfo& info) {
    if (wkb.size() < 21 || static_cast<unsigned char>(wkb[0]) > 1) return false;
    const bool little = wkb[0] == 1;
    const std::uint32_t word = load_u32(wkb.data() + 1, little);
    // Code 1 with the Z, M and SRID flags only (the ISO codes take the walk).
    if ((word & ~(Z_FLAG | M_FLAG | SRID_FLAG)) != 1) return false;
    const Dimension dimension = (word & Z_FLAG) != 0
                                    ? ((word & M_FLAG) != 0 ? Dimension::XYZM : Dimension::XYZ)
                                    : ((word & M_FLAG) != 0 ? Dimension::XYM : Dimension::XY);
    const int n = ordinate_count(dimension);
    const std::size_t header = (word & SRID_FLAG) != 0 ? 9 : 5;
    if (wkb.size() != header + 8 * static_cast<std::size_t>(n)) return false;
    const auto srid = header == 9 ? static_cast<std::int32_t>(load_u32(wkb.data() + 5, little)) : 0;
    info = {srid > 0, srid > 0 ? srid : 0, dimension};
    if (include_srid && srid > 0) write_srid_prefix(out, srid);
    out.append(wkt_keyword(GeometryKind::Point));
    out.append(dimension_tag(dimension));
    double xyzm[4];
    bool all_nan = true;
    for (int i = 0; i < n; ++i) {
        xyzm[i] = load_f64(wkb.data() + header + 8 * static_cast<std::size_t>(i), little);
        all_nan = all_nan && std::isnan(xyzm[i]);
    }
    if (all_nan) {
        out.append(" EMPTY");
    } else {
        out.append(" (");
        write_position(out, xyzm, n, false);
        out.push_back(')');
    }
    return true;
}

// Reads the whole input into out; the top-level geometry gets its SRID prefix only
// when include_srid is set.
Result<GeometryInfo> convert(std::string_view wkb, OutputBuffer& out, bool include_srid) {
    if (GeometryInfo info{}; convert_point(wkb, out, include_srid, info)) return info;
    WkbReader reader(wkb);
    auto info = reader.read_geometry(out, include_srid, 0);
    if (!info) return std::move(info).error();
    if (reader.remaining() != 0) return trailing_data(reader.remaining());
    return info;
}

void reserve_output(OutputBuffer& out, std::string_view wkb) {
    if (!wkb.empty()) out.reserve(output_reserve(wkb.size()));
}

}  // namespace

void format_ordinate(std::string& out, double v) {
    char buf[ORDINATE_ROOM];
    out.append(buf, static_cast<std::size_t>(write_ordinate(buf, v) - buf));
}

void write_position(OutputBuffer& out, const double* ordinates, int n, bool separated) {
    if (out.spare() >= POSITION_ROOM) {
        // Straight into the output.
        out.set_end(write_position(out.end(), ordinates, n, separated));
        return;
    }
    char buf[POSITION_ROOM];
    out.append(buf, static_cast<std::size_t>(write_position(buf, ordinates, n, separated) - buf));
}

void write_positions(OutputBuffer& out, const char* data, std::uint32_t count, int n, bool little) {
    const auto stride = static_cast<std::size_t>(n) * 8;
    double xyzm[4];
    for (std::uint32_t i = 0; i < count; ++i, data += stride) {
        for (int j = 0; j < n; ++j) xyzm[j] = load_f64(data + 8 * j, little);
        if (out.spare() >= POSITION_ROOM) {
            out.set_end(write_position(out.end(), xyzm, n, i != 0));
        } else {
            write_position(out, xyzm, n, i != 0);
        }
    }
}

void write_srid_prefix(OutputBuffer& out, std::int32_t srid) {
    char buf[24] = "SRID=";
    char* end = std::to_chars(buf + 5, buf + sizeof buf - 1, srid).ptr;
    *end++ = ';';
    out.append(buf, static_cast<std::size_t>(end - buf));
}

Status ewkb_to_ewkt(std::string_view wkb, OutputBuffer& out) {
    reserve_output(out, wkb);
    auto info = convert(wkb, out, true);
    if (!info) return std::move(info).error();
    return ok_status();
}

Result<WkbSrid> ewkb_to_wkt_and_srid(std::string_view wkb, OutputBuffer& out) {
    reserve_output(out, wkb);
    auto info = convert(wkb, out, false);
    if (!info) return std::move(info).error();
    return WkbSrid{info->srid_present, info->srid_present ? info->srid : 0};
}

Status ewkb_to_wkt_with_srid(std::string_view wkb, std::int32_t srid, OutputBuffer& out) {
    reserve_output(out, wkb);
    // An SRID of 0 or below means "unknown": no prefix, as when stripping.
    if (srid > 0) write_srid_prefix(out, srid);
    auto info = convert(wkb, out, false);
    if (!info) return std::move(info).error();
    return ok_status();
}

Result<std::string> ewkb_to_ewkt(std::string_view wkb) {
    OutputBuffer out;
    QUORVEL_TRY(ewkb_to_ewkt(wkb, out));
    return out.str();
}

Result<WktAndSrid> ewkb_to_wkt_and_srid(std::string_view wkb) {
    OutputBuffer out;
    auto srid = ewkb_to_wkt_and_srid(wkb, out);
    if (!srid) return std::move(srid).error();
    return WktAndSrid{out.str(), srid->present, srid->srid};
}

Result<std::string> ewkb_to_wkt_with_srid(std::string_view wkb, std::int32_t srid) {
    OutputBuffer out;
    QUORVEL_TRY(ewkb_to_wkt_with_srid(wkb, srid, out));
    return out.str();
}

}  // namespace quorvel
