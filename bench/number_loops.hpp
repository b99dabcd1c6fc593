// The number loops that floor.cpp times and profile.cpp counts: shortest digits and
// number text of every double of a list, by our formatter (the text over each of its
// digit-text paths), by Dragonbox (when the build has it: QUORVEL_BENCH_DRAGONBOX,
// Debian libdragonbox-dev) and by the standard library; and our reader over the same
// numbers as text.
//
// The digit loops return a sum of the digits and exponents, so that no call can be
// left out; the text loops write the numbers one after the other, without
// separators, into a buffer of TEXT_BYTES_PER_NUMBER bytes per double and return the
// end of the text.  None of them is given a zero, which Dragonbox's to_decimal does
// not take.
#pragma once

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

#include "inputs.hpp"
#include "wkb_to_wkt/ordinate_text.hpp"
#include "wkb_to_wkt/shortest_digits.hpp"
#include "wkt_to_wkb/tokenizer.hpp"

#ifdef QUORVEL_BENCH_DRAGONBOX
#include <dragonbox/dragonbox.h>
#include <dragonbox/dragonbox_to_chars.h>
#endif

namespace quorvel_bench {

inline constexpr std::size_t TEXT_BYTES_PER_NUMBER = 32;

// The writer's digit stage alone: the shortest digits as sixteen and one, trailing
// zeros kept (the writer finds them in the text).
inline std::uint64_t seventeen_digits_loop(const std::vector<double>& values) {
    std::uint64_t sum = 0;
    for (double v : values) {
        const auto d = quorvel::seventeen_digits(std::bit_cast<std::uint64_t>(v) << 1 >> 1);
        sum += d.leading + d.last + static_cast<std::uint64_t>(d.exponent);
    }
    return sum;
}

inline std::uint64_t shortest_decimal_loop(const std::vector<double>& values) {
    std::uint64_t sum = 0;
    for (double v : values) {
        const auto d = quorvel::shortest_decimal(v);
        sum += d.significand + static_cast<std::uint64_t>(d.exponent);
    }
    return sum;
}

// Our positional text, over one digit-text path.
template <class Digits>
inline char* ordinate_text_loop(const std::vector<double>& values, char* out) {
    for (double v : values) out = quorvel::write_ordinate<Digits>(out, v);
    return out;
}

inline char* std_to_chars_loop(const std::vector<double>& values, char* out) {
    for (double v : values) out = std::to_chars(out, out + TEXT_BYTES_PER_NUMBER, v).ptr;
    return out;
}

// The sum of the numbers of in.numbers, read by the tokenizer 64 at a time; NaN
// when one does not read.
inline double read_numbers(const Input& in) {
    quorvel::WktTokenizer tokenizer(in.numbers);
    double values[64];
    double sum = 0;
    for (std::size_t done = 0; done < in.ords.size();) {
        const int want = static_cast<int>(std::min<std::size_t>(64, in.ords.size() - done));
        if (tokenizer.read_finite_numbers(values, want) != want) return std::nan("");
        for (int i = 0; i < want; ++i) sum += values[i];
        done += static_cast<std::size_t>(want);
    }
    return sum;
}

// The same through the reader's path for machines without SSE2 (and for the last
// bytes of a text), words of eight digits, forced.
inline double read_numbers_by_words(const Input& in) {
    const char* p = in.numbers.data();
    const char* const end = p + in.numbers.size();
    double sum = 0;
    while (p < end) {
        double value = 0;
        const char* const token_end = quorvel::number_detail::read_by_words(p, end, value);
        if (token_end == nullptr) return std::nan("");
        sum += value;
        for (p = token_end; p < end && *p == ' ';) ++p;
    }
    return sum;
}

#ifdef QUORVEL_BENCH_DRAGONBOX
inline constexpr bool HAVE_DRAGONBOX = true;

// The sign is ignored, as shortest_decimal ignores it.
inline std::uint64_t dragonbox_to_decimal_loop(const std::vector<double>& values) {
    std::uint64_t sum = 0;
    for (double v : values) {
        const auto d = jkj::dragonbox::to_decimal(v, jkj::dragonbox::policy::sign::ignore);
        sum += d.significand + static_cast<std::uint64_t>(d.exponent);
    }
    return sum;
}

// The same with the trailing zeros left in the significand, as our digit stage leaves
// them.
inline std::uint64_t dragonbox_to_decimal_zeros_loop(const std::vector<double>& values) {
    std::uint64_t sum = 0;
    for (double v : values) {
        const auto d = jkj::dragonbox::to_decimal(v, jkj::dragonbox::policy::sign::ignore,
                                                  jkj::dragonbox::policy::trailing_zero::ignore);
        sum += d.significand + static_cast<std::uint64_t>(d.exponent);
    }
    return sum;
}

// Dragonbox's own text: the digits in scientific form ("1.2345E2").
inline char* dragonbox_to_chars_loop(const std::vector<double>& values, char* out) {
    for (double v : values) out = jkj::dragonbox::to_chars_n(v, out);
    return out;
}
#else
inline constexpr bool HAVE_DRAGONBOX = false;
#endif

}  // namespace quorvel_bench
