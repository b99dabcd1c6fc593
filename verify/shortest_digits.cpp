// Checks the shortest-digit formatter against independent implementations, digit
// for digit: Dragonbox's to_decimal (when the build has it) and the standard
// library's to_chars; and checks the positional text against text built from those
// digits, written by format_ordinate (the module's writer) and by write_ordinate over
// every digit-text implementation in turn (the portable one, and SSE2 on x86-64), so
// that each path is verified whichever the module uses.
//
//   shortest_digits [RANDOM_COUNT [THREADS]]
//
// First RANDOM_COUNT random finite bit patterns (default 10^7), then the sweeps that
// random sampling misses:
//   - every binary exponent with the significands 0 (the powers of two, whose lower
//     neighbour is half as far away), 1, 2, 3, 2^51, 2^52 - 2 and 2^52 - 1;
//   - every subnormal boundary: fractions 2^j - 1, 2^j and 2^j + 1;
//   - 10^k and its 16 neighbours on each side, for every k a double reaches;
//   - d × 10^k for every d below 1000 and every k, and two neighbours each side:
//     ties, interval ends on a short decimal, integers with many trailing zeros;
//   - doubles whose shortest text has exactly 17 digits, 400 at every exponent.
// Exits with status 1 on the first 20 differences (all are counted).
#include <algorithm>
#include <atomic>
#include <bit>
#include <cfloat>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "wkb_to_wkt/builder.hpp"
#include "wkb_to_wkt/ordinate_text.hpp"
#include "wkb_to_wkt/shortest_digits.hpp"

#ifdef VERIFY_WITH_DRAGONBOX
#include <dragonbox/dragonbox.h>
#endif

namespace {

using quorvel::DecimalDigits;

double from_bits(std::uint64_t bits) {
    return std::bit_cast<double>(bits);
}

// The shortest digits as the standard library's to_chars prints them in scientific
// form, "d.ddde-x", taken apart; trailing zeros dropped.
DecimalDigits from_to_chars(double v) {
    char text[64];
    char* end =
        std::to_chars(text, text + sizeof text - 1, std::fabs(v), std::chars_format::scientific)
            .ptr;
    *end = '\0';
    std::uint64_t significand = 0;
    int digits = 0;
    const char* p = text;
    for (; p != end && *p != 'e'; ++p) {
        if (*p == '.') continue;
        significand = significand * 10 + static_cast<std::uint64_t>(*p - '0');
        ++digits;
    }
    int exponent = std::atoi(p + 1) - (digits - 1);
    while (significand % 10 == 0) {
        significand /= 10;
        ++exponent;
    }
    return {significand, exponent};
}

// Positional text of ±significand × 10^exponent, built the plain way.
std::string positional(bool negative, DecimalDigits d) {
    const std::string digits = std::to_string(d.significand);
    const int n = static_cast<int>(digits.size());
    const int point = n + d.exponent;
    std::string out = negative ? "-" : "";
    if (point >= n) {
        out += digits + std::string(static_cast<std::size_t>(point - n), '0');
    } else if (point > 0) {
        out += digits.substr(0, static_cast<std::size_t>(point)) + "." +
               digits.substr(static_cast<std::size_t>(point));
    } else {
        out += "0." + std::string(static_cast<std::size_t>(-point), '0') + digits;
    }
    return out;
}

std::mutex report_lock;
std::atomic<std::uint64_t> failures{0};
constexpr std::uint64_t SHOWN_FAILURES = 20;

// At most 80 characters of a text, for the report.
std::string cut(const std::string& text) {
    return text.size() <= 80 ? text : text.substr(0, 40) + "..." + text.substr(text.size() - 37);
}

void report(double v, const char* what, const std::string& ours, const std::string& theirs) {
    if (failures.fetch_add(1) >= SHOWN_FAILURES) return;
    const std::lock_guard<std::mutex> lock(report_lock);
    std::printf("MISMATCH %s for %.17g (bits %016llx): ours %s, expected %s\n", what, v,
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(v)), cut(ours).c_str(),
                cut(theirs).c_str());
}

std::string shown(DecimalDigits d) {
    return std::to_string(d.significand) + "e" + std::to_string(d.exponent);
}

// The ordinate writer over each digit-text implementation.
struct Path {
    const char* name;
    char* (*write)(char*, double) noexcept;
};
const Path PATHS[] = {
    {"text (portable digits)",
     [](char* p, double v) noexcept {
         return quorvel::write_ordinate<quorvel::PortableDigits>(p, v);
     }},
#ifdef QUORVEL_SSE2_DIGITS
    {"text (SSE2 digits)",
     [](char* p, double v) noexcept { return quorvel::write_ordinate<quorvel::Sse2Digits>(p, v); }},
#endif
};

// Every check on one finite, non-zero value.
void check(double v) {
    const DecimalDigits ours = quorvel::shortest_decimal(v);
    const DecimalDigits library = from_to_chars(v);
    if (ours.significand != library.significand || ours.exponent != library.exponent) {
        report(v, "digits against to_chars", shown(ours), shown(library));
    }
#ifdef VERIFY_WITH_DRAGONBOX
    const auto dragonbox = jkj::dragonbox::to_decimal(v);
    if (ours.significand != dragonbox.significand || ours.exponent != dragonbox.exponent) {
        report(v, "digits against Dragonbox", shown(ours),
               shown({dragonbox.significand, dragonbox.exponent}));
    }
#endif
    DecimalDigits scaled = library;
    while (scaled.significand < 10000000000000000u) {
        scaled.significand *= 10;
        scaled.exponent -= 1;
    }
    const quorvel::SeventeenDigits seventeen =
        quorvel::seventeen_digits(std::bit_cast<std::uint64_t>(std::fabs(v)));
    const DecimalDigits joined{seventeen.leading * 10 + seventeen.last, seventeen.exponent};
    if (joined.significand != scaled.significand || joined.exponent != scaled.exponent ||
        seventeen.last > 9) {
        report(v, "17-digit form", shown(joined), shown(scaled));
    }
    std::string text;
    quorvel::format_ordinate(text, v);
    const std::string expected = positional(std::signbit(v), library);
    if (text != expected) report(v, "text (format_ordinate)", text, expected);
    char buffer[quorvel::ORDINATE_ROOM];
    for (const Path& path : PATHS) {
        const std::string written(buffer, path.write(buffer, v));
        if (written != expected) report(v, path.name, written, expected);
    }
}

void check_if_finite(double v) {
    if (std::isfinite(v) && v != 0) check(v);
}

// Runs body(i) for i in [0, count) on `threads` threads.
void parallel(std::uint64_t count, unsigned threads,
              const std::function<void(std::uint64_t, std::uint64_t)>& body) {
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        const std::uint64_t begin = count * t / threads;
        const std::uint64_t end = count * (t + 1) / threads;
        pool.emplace_back([&body, begin, end] { body(begin, end); });
    }
    for (auto& thread : pool) thread.join();
}

struct Sweep {
    const char* name;
    std::uint64_t values;
    double seconds;
};

template <class Body>
Sweep timed(const char* name, Body&& body) {
    const auto start = std::chrono::steady_clock::now();
    const std::uint64_t values = body();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%-44s %14llu values  %8.1f s  %llu mismatches so far\n", name,
                static_cast<unsigned long long>(values), elapsed.count(),
                static_cast<unsigned long long>(failures.load()));
    std::fflush(stdout);
    return {name, values, elapsed.count()};
}

constexpr std::uint64_t FRACTION_MASK = (std::uint64_t{1} << 52) - 1;

std::uint64_t random_patterns(std::uint64_t count, unsigned threads) {
    parallel(count, threads, [](std::uint64_t begin, std::uint64_t end) {
        std::mt19937_64 rng(0x5EED5EED00000000u ^ begin);
        for (std::uint64_t i = begin; i < end; ++i) {
            // Finite patterns only: redraw the rare NaN and infinity exponents.
            std::uint64_t bits = rng();
            while ((bits & 0x7FF0000000000000u) == 0x7FF0000000000000u) bits = rng();
            check_if_finite(from_bits(bits));
        }
    });
    return count;
}

std::uint64_t boundary_significands() {
    std::uint64_t n = 0;
    const std::uint64_t fractions[] = {
        0, 1, 2, 3, std::uint64_t{1} << 51, FRACTION_MASK - 1, FRACTION_MASK};
    for (std::uint64_t exponent = 0; exponent < 2047; ++exponent) {
        for (const std::uint64_t f : fractions) {
            check_if_finite(from_bits((exponent << 52) | f));
            ++n;
        }
    }
    return n;
}

std::uint64_t subnormal_boundaries() {
    std::uint64_t n = 0;
    for (int j = 0; j <= 52; ++j) {
        const std::uint64_t p = std::uint64_t{1} << j;
        for (const std::uint64_t f : {p - 1, p, p + 1}) {
            if (f > FRACTION_MASK + 1) continue;  // 2^52 + 1 is past the first normal
            check_if_finite(from_bits(f));
            ++n;
        }
    }
    for (const double v : {5e-324, DBL_TRUE_MIN, DBL_MIN, std::nextafter(DBL_MIN, 0.0), DBL_MAX,
                           std::nextafter(DBL_MAX, 0.0)}) {
        check(v);
        ++n;
    }
    return n;
}

// The double nearest to d × 10^k, read from text by the standard library.
double decimal(std::uint64_t d, int k) {
    char text[48];
    std::snprintf(text, sizeof text, "%llue%d", static_cast<unsigned long long>(d), k);
    double v = 0;
    std::from_chars(text, text + std::strlen(text), v);
    return v;
}

void check_neighbours(double v, int each_side, std::uint64_t& n) {
    if (!std::isfinite(v) || v == 0) return;
    const auto bits = std::bit_cast<std::uint64_t>(v);
    for (int i = -each_side; i <= each_side; ++i) {
        const std::uint64_t b = bits + static_cast<std::uint64_t>(static_cast<std::int64_t>(i));
        if (b == 0 || b >= 0x7FF0000000000000u) continue;
        check(from_bits(b));
        ++n;
    }
}

std::uint64_t powers_of_ten() {
    std::uint64_t n = 0;
    for (int k = -324; k <= 308; ++k) check_neighbours(decimal(1, k), 16, n);
    return n;
}

std::uint64_t short_decimals(unsigned threads) {
    std::atomic<std::uint64_t> total{0};
    parallel(999, threads, [&total](std::uint64_t begin, std::uint64_t end) {
        std::uint64_t n = 0;
        for (std::uint64_t d = begin + 1; d <= end; ++d) {
            for (int k = -326; k <= 308; ++k) check_neighbours(decimal(d, k), 2, n);
        }
        total += n;
    });
    return total.load();
}

int digit_count(std::uint64_t v) {
    int n = 1;
    while (v >= 10) {
        v /= 10;
        ++n;
    }
    return n;
}

std::uint64_t seventeen_digit_values(unsigned threads) {
    std::atomic<std::uint64_t> total{0};
    parallel(2047, threads, [&total](std::uint64_t begin, std::uint64_t end) {
        std::uint64_t n = 0;
        for (std::uint64_t exponent = begin; exponent < end; ++exponent) {
            std::mt19937_64 rng(exponent * 0x9E3779B97F4A7C15u);
            int found = 0;
            for (int tries = 0; tries < 100000 && found < 400; ++tries) {
                const double v = from_bits((exponent << 52) | (rng() & FRACTION_MASK));
                if (!std::isfinite(v) || v == 0) break;
                if (digit_count(from_to_chars(v).significand) != 17) continue;
                check(v);
                ++found;
                ++n;
            }
        }
        total += n;
    });
    return total.load();
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t random_count =
        argc > 1 ? std::strtoull(argv[1], nullptr, 10) : std::uint64_t{10000000};
    const unsigned threads = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2]))
                                      : std::max(1u, std::thread::hardware_concurrency());
#ifdef VERIFY_WITH_DRAGONBOX
    std::printf("oracles: Dragonbox to_decimal and std::to_chars; %u threads\n", threads);
#else
    std::printf("oracle: std::to_chars (no Dragonbox in this build); %u threads\n", threads);
#endif
    std::printf("text paths: format_ordinate");
    for (const Path& path : PATHS) std::printf(", %s", path.name);
    std::printf("\n");
    const auto start = std::chrono::steady_clock::now();
    std::vector<Sweep> sweeps;
    sweeps.push_back(timed("random finite bit patterns",
                           [&] { return random_patterns(random_count, threads); }));
    sweeps.push_back(timed("every exponent, boundary significands", boundary_significands));
    sweeps.push_back(timed("subnormal boundaries, 5e-324, DBL_MAX", subnormal_boundaries));
    sweeps.push_back(timed("10^k and 16 neighbours each side", powers_of_ten));
    sweeps.push_back(timed("d x 10^k, d < 1000, 2 neighbours each side",
                           [&] { return short_decimals(threads); }));
    sweeps.push_back(timed("17-digit values, 400 per exponent",
                           [&] { return seventeen_digit_values(threads); }));
    std::uint64_t total = 0;
    for (const Sweep& s : sweeps) total += s.values;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    std::printf("%llu values in %.1f s: %llu mismatches\n", static_cast<unsigned long long>(total),
                elapsed.count(), static_cast<unsigned long long>(failures.load()));
    return failures.load() == 0 ? 0 : 1;
}
