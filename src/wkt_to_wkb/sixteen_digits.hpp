// The bytes of a number token sixteen at a time with SSE2, the x86-64 baseline:
//   - which bytes are ASCII digits, as a 16-bit mask: adding 0x80 - '0' moves the
//     digits to the sixteen smallest signed byte values, so one signed comparison
//     tells them from every other byte;
//   - the value of up to fifteen digits on either side of a decimal point, in one
//     pass: the bytes outside the digits become zero digits, and the bytes before
//     the point move up by one byte into the point's place, which leaves a
//     sixteen-digit integer equal to the digits' value times a power of ten; pairs,
//     fours and eights of digits are combined by multiply-adds on 16-bit lanes
//     (pmaddwd) with packs in between, and up to eight digits after the sixteen bytes
//     take the free lanes of the same steps, as in the SIMD digit conversions that
//     D. Lemire, "Number Parsing at a Gigabyte per Second" (Software: Practice and
//     Experience 51(8), 2021) and W. Muła and D. Lemire, "Faster Base64 Encoding and
//     Decoding using AVX2 Instructions" (ACM TWEB 12(3), 2018) build on; the
//     byte-wise multiply-add of later SSSE3 is not assumed.
// Only on processors with SSE2 (QUORVEL_HAVE_SSE2); number.hpp uses the eight-digit
// words of eight_digits.hpp elsewhere.
#pragma once

#include "lib/sse2.hpp"

#ifdef QUORVEL_HAVE_SSE2

#include <array>
#include <cstddef>
#include <cstdint>

namespace quorvel::sixteen_digits {

// Sixteen bytes at p (unaligned).
inline __m128i load(const char* p) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// All ones in every byte of v that is an ASCII digit.
inline __m128i digit_bytes(__m128i v) noexcept {
    const __m128i shifted = _mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - '0')));
    return _mm_cmplt_epi8(shifted, _mm_set1_epi8(static_cast<char>(0x80 + 10)));
}

// The bounds of digit_bytes's signed comparison for the first COUNTED bytes, then
// bounds that no byte is below.
inline constexpr std::size_t COUNTED = 4;
alignas(16) inline constexpr auto DIGIT_BOUNDS = [] {
    std::array<signed char, 16> bounds{};
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        bounds[i] = static_cast<signed char>(i < COUNTED ? 0x80 + 10 : 0x80);
    }
    return bounds;
}();

// Bit i set when byte i of v is an ASCII digit and i < COUNTED: with the table's
// bounds, a constant, in place of digit_bytes's, as many instructions.
inline unsigned first_digit_mask(__m128i v) noexcept {
    const __m128i shifted = _mm_add_epi8(v, _mm_set1_epi8(static_cast<char>(0x80 - '0')));
    const __m128i bounds = _mm_load_si128(reinterpret_cast<const __m128i*>(DIGIT_BOUNDS.data()));
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmplt_epi8(shifted, bounds)));
}

// Bit i set when byte i of v is a decimal point.
inline unsigned point_mask(__m128i v) noexcept {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))));
}

// Sixteen bytes of all ones, then sixteen of zeros: the sixteen bytes at offset 16 - k
// have their first k bytes set, for 0 <= k <= 16.
alignas(32) inline constexpr unsigned char ONES_THEN_ZEROS[32] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0,    0,    0,    0,    0,    0};

inline __m128i first_bytes(unsigned k) noexcept {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(ONES_THEN_ZEROS + 16 - k));
}

// The digit values of v up to `end` (digits = digit_bytes(v)), every other byte (a
// sign, the point) a zero digit, then the bytes up to the point's moved up one byte into
// its place, for point < 16 and end <= 16.
inline __m128i run_around_point(__m128i v, __m128i digits, unsigned point, unsigned end) noexcept {
    const __m128i values =
        _mm_and_si128(_mm_sub_epi8(v, _mm_set1_epi8('0')), _mm_and_si128(digits, first_bytes(end)));
    const __m128i moved =  // first_bytes(point + 1), without the addition
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(ONES_THEN_ZEROS + 15 - point));
    return _mm_or_si128(_mm_and_si128(moved, _mm_slli_si128(values, 1)),
                        _mm_andnot_si128(moved, values));
}

// Sixteen digit values (bytes of 0 to 9, the first the most significant) as pairs in
// eight 16-bit lanes, then as fours in four 32-bit lanes.
inline __m128i fours_of(__m128i run) noexcept {
    const __m128i zero = _mm_setzero_si128();
    const __m128i pairs =
        _mm_packs_epi32(_mm_madd_epi16(_mm_unpacklo_epi8(run, zero), _mm_set1_epi32(0x1000A)),
                        _mm_madd_epi16(_mm_unpackhi_epi8(run, zero), _mm_set1_epi32(0x1000A)));
    return _mm_madd_epi16(pairs, _mm_set1_epi32(0x10064));
}

// The sixteen-digit value of the eights in lanes 0 and 1, the first the more
// significant.
inline std::uint64_t sixteen_of(__m128i eights) noexcept {
    const auto high = static_cast<std::uint32_t>(_mm_cvtsi128_si32(eights));
    const auto low = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(eights, 4)));
    return std::uint64_t{high} * 100000000u + low;
}

// The digits among the first `end` bytes of v (digits = digit_bytes(v)), around the
// point at offset `point`, or all before `point` when point == end (an integer), for
// point < 16 and end <= 16: an integer below 10^15 that, divided by 10^(15 - point),
// is their value with the point in its place.  Every other byte (a sign, the point)
// counts as a zero digit first; then the bytes up to the point's move up one.
inline std::uint64_t digits_around_point(__m128i v, __m128i digits, unsigned point,
                                         unsigned end) noexcept {
    const __m128i fours = fours_of(run_around_point(v, digits, point, end));
    // The eights, from pairs of the fours.
    return sixteen_of(_mm_madd_epi16(_mm_packs_epi32(fours, fours), _mm_set1_epi32(0x12710)));
}

// digits_around_point over all sixteen bytes, and in the same steps the value of the
// eight digit values (0 to 9, the first the most significant) of the low eight bytes of
// tail: the digits of a token past its first sixteen bytes.
struct DigitsAndTail {
    std::uint64_t digits;
    std::uint32_t tail;
};
inline DigitsAndTail digits_around_point_and_tail(__m128i v, __m128i digits, unsigned point,
                                                  __m128i tail) noexcept {
    const __m128i fours = fours_of(run_around_point(v, digits, point, 16));
    const __m128i tail_pairs = _mm_madd_epi16(_mm_unpacklo_epi8(tail, _mm_setzero_si128()),
                                              _mm_set1_epi32(0x1000A));
    const __m128i tail_fours =
        _mm_madd_epi16(_mm_packs_epi32(tail_pairs, tail_pairs), _mm_set1_epi32(0x10064));
    // The eights of the sixteen bytes in lanes 0 and 1, the tail's in lane 2.
    const __m128i eights =
        _mm_madd_epi16(_mm_packs_epi32(fours, tail_fours), _mm_set1_epi32(0x12710));
    return {sixteen_of(eights),
            static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(eights, 8)))};
}

}  // namespace quorvel::sixteen_digits

#endif
