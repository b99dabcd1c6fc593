// ASCII digits eight at a time in one 64-bit word (SWAR: SIMD within a register).
//
// A word holds eight bytes of text, the first in the lowest byte whatever the
// machine's byte order (a byte swap on big-endian machines).  Three steps, none with a
// branch on the digits:
//   - where the digits stop: a byte is a digit when adding 0x46 leaves its high bit
//     clear (it is below ':') and subtracting 0x30 does too (it is not below '0'); the
//     first byte that fails either test is the first non-digit;
//   - the first n digits (0 <= n <= 8) moved to the top of the word with zero digits
//     in front of them, which leaves their value unchanged;
//   - the value of eight digits by three multiplications: pairs, then fours, then
//     the eight, each step combining neighbouring groups with one multiply-add.
// The technique is the one D. Lemire describes in "Number Parsing at a Gigabyte per
// Second" (Software: Practice and Experience 51(8), 2021, section on eight digits at
// a time) and explains step by step in "SWAR explained: parsing eight digits" (blog
// post, 2022).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lib/portable.hpp"

namespace quorvel::eight_digits {

inline constexpr std::uint64_t ASCII_ZEROS = 0x3030303030303030u;

// Eight bytes at p, the first in the lowest byte.
inline std::uint64_t load(const char* p) noexcept {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::big) w = byteswap64(w);
    return w;
}

// The eight bytes at offset `at` of a text that has `room` bytes from its base on, as
// load gives them; bytes at or past the end of the text read as zero, a byte that
// neither a digit run nor a number token contains.  `at` may lie past the end.
inline std::uint64_t load_within(const char* base, std::ptrdiff_t at,
                                 std::ptrdiff_t room) noexcept {
    if (room - at >= 8) [[likely]]
        return load(base + at);
    std::uint64_t w = 0;
    for (std::ptrdiff_t i = at; i < room; ++i) {
        w |= std::uint64_t{static_cast<unsigned char>(base[i])} << (8 * (i - at));
    }
    return w;
}

// The high bit of every byte that is not an ASCII digit set, at least up to and
// including the first such byte (carries and borrows move only upwards, and every
// byte below the first non-digit is a digit); the bits above it are meaningless.
inline std::uint64_t non_digit_bytes(std::uint64_t w) noexcept {
    return ((w + 0x4646464646464646u) | (w - ASCII_ZEROS)) & 0x8080808080808080u;
}

// The high bit of every byte that is not an ASCII digit set, exactly: the same two
// tests on the low seven bits, which never carry out of their byte, and the high
// bit itself.
inline std::uint64_t non_digit_bytes_exact(std::uint64_t w) noexcept {
    const std::uint64_t low = w & 0x7F7F7F7F7F7F7F7Fu;
    const std::uint64_t below_colon_not = low + 0x4646464646464646u;  // high bit: >= ':'
    const std::uint64_t from_zero = low + 0x5050505050505050u;        // high bit: >= '0'
    return (w | below_colon_not | ~from_zero) & 0x8080808080808080u;
}

// How many of the word's bytes, from the first, are digits before the first
// non-digit: 0 to 8.
inline int leading_digits(std::uint64_t w) noexcept {
    return std::countr_zero(non_digit_bytes(w)) / 8;
}

// The byte offset of the lowest flagged byte of a non-zero mask of high bits.
inline int first_flagged(std::uint64_t mask) noexcept {
    return std::countr_zero(mask) / 8;
}

// Byte i (0 <= i < 8) of the word.
inline unsigned byte_at(std::uint64_t w, int i) noexcept {
    return static_cast<unsigned>(w >> (8 * i)) & 0xFFu;
}

// The value of eight digit values (0..9) in the bytes of d, the first digit in the
// lowest byte: pairs, then fours, then the eight, each by one multiplication.
inline std::uint32_t value_of_eight(std::uint64_t d) noexcept {
    d = d * 10 + (d >> 8);
    d = (((d & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
         (((d >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >>
        32;
    return static_cast<std::uint32_t>(d);
}

// The value of the first n bytes of w (0 <= n <= 8), all digits.  Subtracting the
// zeros borrows only above the first non-digit, and the shift drops everything from
// byte n on: 64 - 8n bits, as two equal shifts so that n = 0 needs no branch.
inline std::uint32_t value_of_first(std::uint64_t w, int n) noexcept {
    const int half = 32 - 4 * n;
    return value_of_eight(((w - ASCII_ZEROS) << half) << half);
}

// Masks that keep the digit values (the low four bits) of the last n bytes of a word,
// 0 <= n <= 8, and clear the bytes in front of them: the digits that end a token, from
// the eight bytes that end it, without a shift by a variable amount.
inline constexpr auto LAST_DIGITS = [] {
    std::array<std::uint64_t, 9> masks{};
    for (int n = 1; n <= 8; ++n) {
        masks[static_cast<std::size_t>(n)] = 0x0F0F0F0F0F0F0F0Fu << (8 * (8 - n));
    }
    return masks;
}();

// 10^n for 0 <= n <= 8.
inline constexpr std::uint32_t POWERS_OF_TEN[] = {1,      10,      100,      1000,     10000,
                                                  100000, 1000000, 10000000, 100000000};

}  // namespace quorvel::eight_digits
