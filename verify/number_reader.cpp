// The module's number reader (read_number_token over our own decimal-to-double
// conversion, fast_float kept out of this build) against independent correctly
// rounding readers: the C library's strtod, the standard library's from_chars for
// double where it has one, and fast_float when its header is present.
//
//   number_reader [COUNT [SEED]]      default 1,000,000 texts, seed 1
//
// Texts: random doubles written shortest, with 17 digits and with 1 to 25 digits;
// the exact decimal expansion of the point halfway between two neighbouring doubles
// (random ones, and ones drawn near the subnormal range, the largest doubles, 2^53 to
// 2^64 and the powers of two), as it is, cut short, with nines or a far 1 appended;
// random digit strings of 1 to 40 and of 700 to 1,200 digits with random points and
// exponents.  Every text gets a random sign.  The value must have the same bits as
// every oracle's (a zero its sign), and an overflow must be refused.  Prints the count
// of texts and of comparisons; exits 1 after the first 20 mismatches or at the end if
// there were any.
#include <cfloat>
#include <charconv>
#include <cinttypes>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <system_error>

#if __has_include(<fast_float/fast_float.h>)
#include <fast_float/fast_float.h>
#define HAVE_FAST_FLOAT 1
#endif

#include "wkt_to_wkb/number.hpp"

static_assert(LDBL_MANT_DIG >= 64, "halfway points are made exactly in long double");

namespace {

// Random draws for the texts.
class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}
    std::uint64_t next() { return engine_(); }
    int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
    int between(int lo, int hi) { return lo + below(hi - lo + 1); }

private:
    std::mt19937_64 engine_;
};

double from_bits(std::uint64_t bits) {
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::uint64_t to_bits(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// A finite positive double: random bits, or drawn near an edge.
double finite_double(Random& rng) {
    const std::uint64_t fraction = rng.next() & 0xFFFFFFFFFFFFFu;
    std::uint64_t field;
    switch (rng.below(8)) {
        case 0:
            field = static_cast<std::uint64_t>(rng.between(0, 3));
            break;  // subnormal
        case 1:
            field = static_cast<std::uint64_t>(rng.between(2043, 2046));
            break;  // largest
        case 2:
            field = static_cast<std::uint64_t>(rng.between(1075, 1087));
            break;  // 2^53..2^64
        case 3:     // powers of two and their neighbours
            return from_bits((static_cast<std::uint64_t>(rng.between(0, 2046)) << 52) +
                             (rng.next() & 1));
        default:
            field = static_cast<std::uint64_t>(rng.between(0, 2046));
            break;
    }
    return from_bits((field << 52) | fraction);
}

// The significant digits and decimal exponent of x, exactly (x's expansion has at
// most 768 significant digits): "d.ddd...e±x" from printf.
std::string exact_scientific(long double x) {
    static char buf[1200];
    std::snprintf(buf, sizeof buf, "%.800Le", x);
    std::string s(buf);
    // Drop trailing zeros of the mantissa.
    const auto e = s.find('e');
    std::string mantissa = s.substr(0, e);
    while (mantissa.back() == '0') mantissa.pop_back();
    if (mantissa.back() == '.') mantissa.pop_back();
    return mantissa + s.substr(e);
}

// The text of a value near the halfway point above a random double.
std::string near_halfway(Random& rng) {
    double low = finite_double(rng);
    if (low == DBL_MAX) low = std::nextafter(low, 0.0);
    const long double half =
        (static_cast<long double>(low) + static_cast<long double>(std::nextafter(low, INFINITY))) /
        2;
    std::string s = exact_scientific(half);
    const auto e = s.find('e');
    std::string mantissa = s.substr(0, e), exponent = s.substr(e);
    switch (rng.below(6)) {
        case 0:
            break;  // the tie itself
        case 1:     // cut short: just below
            if (mantissa.size() > 3)
                mantissa.resize(static_cast<std::size_t>(
                    rng.between(3, static_cast<int>(mantissa.size()) - 1)));
            break;
        case 2:  // cut short, nines appended: just below or above
            if (mantissa.size() > 3)
                mantissa.resize(static_cast<std::size_t>(
                    rng.between(3, static_cast<int>(mantissa.size()) - 1)));
            mantissa.append(static_cast<std::size_t>(rng.between(1, 30)), '9');
            break;
        case 3:  // a 1 far behind: just above
            if (mantissa.find('.') == std::string::npos) mantissa += '.';
            mantissa.append(static_cast<std::size_t>(rng.between(0, 400)), '0');
            mantissa += '1';
            break;
        case 4:  // trailing zeros
            if (mantissa.find('.') == std::string::npos) mantissa += '.';
            mantissa.append(static_cast<std::size_t>(rng.between(1, 30)), '0');
            break;
        default: {  // the last digit moved by one
            char& last = mantissa.back();
            if (last > '0' && last < '9') last = static_cast<char>(last + (rng.below(2) ? 1 : -1));
            break;
        }
    }
    if (rng.below(4) == 0) {
        // Positional for moderate exponents: shift the point by rewriting the exponent
        // into trailing or leading zeros.
        const long x = std::strtol(exponent.c_str() + 1, nullptr, 10);
        if (x >= 0 && x < 40) {
            std::string digits = mantissa;
            digits.erase(1, digits[1] == '.' ? 1 : 0);
            if (digits.size() < static_cast<std::size_t>(x) + 1) digits.resize(x + 1, '0');
            digits.insert(static_cast<std::size_t>(x) + 1, ".");
            return digits;
        }
    }
    return mantissa + exponent;
}

std::string random_digits(Random& rng, int count) {
    std::string s;
    s.reserve(static_cast<std::size_t>(count) + 8);
    for (int i = 0; i < count; ++i) s += static_cast<char>('0' + rng.below(10));
    return s;
}

// A random digit string with a random point and exponent.
std::string random_decimal(Random& rng) {
    const int count = rng.below(16) == 0 ? rng.between(700, 1200) : rng.between(1, 40);
    std::string s = random_digits(rng, count);
    if (rng.below(3) == 0) s.insert(0, static_cast<std::size_t>(rng.between(1, 30)), '0');
    if (rng.below(2) == 0) {
        s.insert(static_cast<std::size_t>(rng.between(0, static_cast<int>(s.size()))), ".");
    }
    if (rng.below(3) != 0) {
        // Mostly in range or just outside it.
        s += (rng.below(2) ? 'e' : 'E') + std::to_string(rng.between(-340, 320) - count);
    }
    return s;
}

std::string random_text(Random& rng) {
    std::string s;
    switch (rng.below(8)) {
        case 0:
        case 1: {
            const double v = finite_double(rng);
            char buf[64];
            const int kind = rng.below(3);
            if (kind == 0) {
                s.assign(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
            } else {
                std::snprintf(buf, sizeof buf, "%.*e", kind == 1 ? 16 : rng.between(0, 24), v);
                s = buf;
            }
            break;
        }
        case 2:
        case 3:
        case 4:
            s = near_halfway(rng);
            break;
        default:
            s = random_decimal(rng);
            break;
    }
    const int sign = rng.below(4);
    if (sign == 1) s.insert(0, "-");
    if (sign == 2) s.insert(0, "+");
    return s;
}

struct Checker {
    long long texts = 0;
    long long comparisons = 0;
    int mismatches = 0;

    void report(const std::string& text, const char* oracle, double expected, double got) {
        ++mismatches;
        std::printf(
            "MISMATCH with %s: %s\n  expected %016" PRIX64 " (%.17g), got %016" PRIX64 " (%.17g)\n",
            oracle, text.size() > 300 ? (text.substr(0, 300) + "...").c_str() : text.c_str(),
            to_bits(expected), expected, to_bits(got), got);
    }

    // ours: the value, infinity for a refused overflow.
    void compare(const std::string& text, const char* oracle, double expected, double ours) {
        ++comparisons;
        if (to_bits(expected) != to_bits(ours)) report(text, oracle, expected, ours);
    }

    void check(const std::string& text) {
        ++texts;
        const char* const begin = text.data();
        const char* const end = begin + text.size();
        const quorvel::NumberToken token = quorvel::read_number_token(begin, end);
        const bool negative = text[0] == '-';
        const double infinity = negative ? -INFINITY : INFINITY;
        if (token.form == quorvel::NumberForm::Malformed || token.end != end) {
            ++mismatches;
            std::printf("NOT READ: %s\n", text.c_str());
            return;
        }
        const double ours = token.form == quorvel::NumberForm::Finite ? token.value : infinity;
        compare(text, "strtod", std::strtod(begin, nullptr), ours);
        // from_chars and fast_float take no '+'.
        const char* const unsigned_begin = text[0] == '+' ? begin + 1 : begin;
#if defined(__cpp_lib_to_chars) || (defined(__GLIBCXX__) && __GNUC__ >= 11)
        {
            double v = 0;
            const auto r = std::from_chars(unsigned_begin, end, v);
            if (r.ec == std::errc{}) {
                compare(text, "std::from_chars", v, ours);
            } else if (r.ec == std::errc::result_out_of_range) {
                // Out of range: an overflow or a zero.
                ++comparisons;
                if (!(std::isinf(ours) || ours == 0))
                    report(text, "std::from_chars range", 0, ours);
            } else {
                report(text, "std::from_chars refused it", 0, ours);
            }
        }
#endif
#ifdef HAVE_FAST_FLOAT
        {
            double v = 0;
            const auto r = fast_float::from_chars(unsigned_begin, end, v);
            if (r.ec == std::errc{} && r.ptr == end) {
                compare(text, "fast_float", v, ours);
            } else {
                report(text, "fast_float refused it", 0, ours);
            }
        }
#endif
    }
};

// Inputs every run sees: the edges of the range and the well-known hard cases.
const char* const FIXED[] = {
    "2.2250738585072011e-308",
    "2.2250738585072012e-308",
    "2.2250738585072014e-308",
    "4.9406564584124654e-324",
    "2.4703282292062327e-324",
    "2.4703282292062328e-324",
    "1.7976931348623157e308",
    "1.7976931348623158e308",
    "1.7976931348623159e308",
    "9007199254740993",
    "9007199254740993.0",
    "9007199254740992.99999999999999",
    "90071992547409930e-1",
    "18446744073709551615",
    "18446744073709551616",
    "1e23",
    "8.98846567431158e307",
    "1e-400",
    "1e400",
    "0e999999",
    "123456789012345678901234567890e-30",
    "7.2057594037927933e16",
    "7.2057594037927932e16",
    "2.2250738585072011e-308000",
};

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C");
    const long long count = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    Checker checker;
    for (const char* text : FIXED) checker.check(text);
    Random rng(seed);
    for (long long i = 0; i < count && checker.mismatches < 20; ++i) {
        checker.check(random_text(rng));
    }
    std::printf("%lld texts, %lld comparisons (oracles: strtod%s%s), %d mismatches\n",
                checker.texts, checker.comparisons,
#if defined(__cpp_lib_to_chars) || (defined(__GLIBCXX__) && __GNUC__ >= 11)
                ", std::from_chars",
#else
                "",
#endif
#ifdef HAVE_FAST_FLOAT
                ", fast_float",
#else
                "",
#endif
                checker.mismatches);
    return checker.mismatches == 0 ? 0 : 1;
}
