// The module's number reader against independent correctly rounding readers: the C
// library's strtod, the standard library's from_chars for double where it has one,
// and fast_float when its header is present (the module itself never uses it).
//
//   number_reader [COUNT [SEED [THREADS]]]   default 1,000,000 texts, seed 1, all cores
//
// Texts: random doubles written shortest, positionally (as WKT has them: lon/lat with
// up to 7 decimals, full-precision values of every magnitude, [0, 1)), with 17 digits
// and with 1 to 25 digits; digit runs of every length around the 8-, 16- and 32-byte
// steps of the reader; the exact decimal expansion of the point halfway between two
// neighbouring doubles (random ones, and ones drawn near the subnormal range, the
// largest doubles, 2^53 to 2^64 and the powers of two), as it is, cut short, with
// nines or a far 1 appended; random digit strings of 1 to 40 and of 700 to 1,200
// digits with random points and exponents.  Every text gets a random sign.
//
// Every path of the reader reads every text in turn, and each must give the bits the
// oracles give (a zero its sign) and end where the text ends, or refuse an overflow:
//   - read_number_token as the tokenizer calls it, on the text alone (the end of the
//     text within the token's words, an unreadable page right after it) and followed
//     by a separator and more text;
//   - its word path and, with SSE2, its vector path, both ways, and its path for the
//     last bytes of a text, forced;
//   - the general path (read_number_token_in_full) forced;
//   - the conversions under them forced: decimal_to_double and its exact fallback
//     (decimal_to_double_in_full) on the text's digits where they are at most 19,
//     and decimal_text_to_double on every text.
// Prints the counts and the time; exits 1 after the first 20 mismatches or at the end
// if there were any.
#include <atomic>
#include <cfloat>
#include <charconv>
#include <chrono>
#include <cinttypes>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#if __has_include(<sys/mman.h>) && __has_include(<unistd.h>)
#include <sys/mman.h>
#include <unistd.h>
#define HAVE_GUARD_PAGE 1
#endif

#if __has_include(<fast_float/fast_float.h>)
#include <fast_float/fast_float.h>
#define HAVE_FAST_FLOAT 1
#endif

// MinGW-w64's strtod, which its from_chars calls too, reads through a long double and
// so rounds twice: a text close to halfway between two doubles can come out a unit
// off (-1.106580932563613e-221 as 0x9210000000000000, where the nearest double is
// 0x920FFFFFFFFFFFFF).  There fast_float is the one oracle.
#if defined(__MINGW32__)
#ifndef HAVE_FAST_FLOAT
#error "MinGW-w64's strtod does not round correctly: the check needs fast_float"
#endif
#define ORACLE "fast_float"
#else
#define ORACLE "strtod"
#endif

#include "wkt_to_wkb/decimal_to_double.hpp"
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
    char buf[1200];
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

// A double as WKT has it: its shortest digits, written positionally.
std::string positional(double v) {
    char buf[400];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed).ptr);
}

// Coordinates as they come: lon/lat rounded to 1 to 7 decimals, full-precision values
// of every magnitude up to projected metres, [0, 1), integers.
std::string coordinate_text(Random& rng) {
    const double unit = static_cast<double>(rng.next() >> 11) * 0x1p-53;
    switch (rng.below(4)) {
        case 0: {
            const double scale = std::pow(10.0, rng.between(1, 7));
            return positional(std::nearbyint((unit * 360 - 180) * scale) / scale);
        }
        case 1:
            return positional((unit * 2 - 1) * std::pow(10.0, rng.between(-3, 8)));
        case 2:
            return positional(unit);
        default:
            return std::to_string(rng.next() >> rng.between(4, 63));
    }
}

// Digit runs of every length around the reader's steps: 0 to 20 integer digits, 0
// to 25 fraction digits, with or without the point.
std::string digit_run_text(Random& rng) {
    std::string s = random_digits(rng, rng.between(0, 20));
    const int fraction = rng.between(0, 25);
    if (s.empty() || rng.below(4) != 0) s += '.';
    s += random_digits(rng, s.empty() || s == "." ? std::max(fraction, 1) : fraction);
    if (s.front() == '.' && s.size() == 1) s += '0';
    return s;
}

std::string random_text(Random& rng) {
    std::string s;
    switch (rng.below(12)) {
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
        case 5:
        case 6:
        case 7:
            s = random_decimal(rng);
            break;
        case 8:
        case 9:
            s = coordinate_text(rng);
            break;
        default:
            s = digit_run_text(rng);
            break;
    }
    const int sign = s[0] == '-' ? 0 : rng.below(4);
    if (sign == 1) s.insert(0, "-");
    if (sign == 2) s.insert(0, "+");
    return s;
}

// The digits of an unsigned decimal text as mantissa × 10^e10 when it has at most 19
// significant digits.
bool short_decimal(const std::string& text, std::uint64_t& mantissa, long long& e10) {
    mantissa = 0;
    e10 = 0;
    int significant = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] != 'e' && text[i] != 'E'; ++i) {
        if (text[i] == '.') continue;
        if (significant == 0 && text[i] == '0') {
            if (text.find('.') < i) --e10;
            continue;
        }
        if (++significant > 19) return false;
        mantissa = mantissa * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (text.find('.') < i) --e10;
    }
    if (i < text.size()) {
        const long long exponent = std::strtoll(text.c_str() + i + 1, nullptr, 10);
        if (exponent > 100000 || exponent < -100000) return false;
        e10 += exponent;
    }
    return true;
}

// What the text must read as (+-infinity for an overflow), from ORACLE, checked
// against the other oracles.
class Oracles {
public:
    double value(const std::string& text, std::string& disagreement) const {
        const char* const begin = text.data();
        const char* const end = begin + text.size();
        // from_chars and fast_float take no '+'.
        const char* const unsigned_begin = text[0] == '+' ? begin + 1 : begin;
#if defined(__MINGW32__)
        double expected = 0;
        const auto r = fast_float::from_chars(unsigned_begin, end, expected);
        if (r.ec != std::errc{} || r.ptr != end) disagreement = "fast_float";
        return expected;
#else
        const double expected = std::strtod(begin, nullptr);
#if defined(__cpp_lib_to_chars) || (defined(__GLIBCXX__) && __GNUC__ >= 11)
        {
            double v = 0;
            const auto r = std::from_chars(unsigned_begin, end, v);
            const bool agrees = r.ec == std::errc{} ? same(v, expected)
                                : r.ec == std::errc::result_out_of_range
                                    ? std::isinf(expected) || expected == 0 ||
                                          std::fpclassify(expected) == FP_SUBNORMAL
                                    : false;
            if (!agrees) disagreement = "std::from_chars";
        }
#endif
#ifdef HAVE_FAST_FLOAT
        {
            double v = 0;
            const auto r = fast_float::from_chars(unsigned_begin, end, v);
            if (r.ec != std::errc{} || r.ptr != end || !same(v, expected)) {
                disagreement = "fast_float";
            }
        }
#endif
        return expected;
#endif
    }

    static bool same(double a, double b) {
        return to_bits(a) == to_bits(b);
    }
};

// A text that ends where an unreadable page begins, so that a path reading a byte past
// the end of the text faults instead of reading what happens to lie there.
class GuardedText {
public:
    GuardedText() {
#ifdef HAVE_GUARD_PAGE
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        size_ = ROOM + page_;
        void* p = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED || mprotect(static_cast<char*>(p) + ROOM, page_, PROT_NONE) != 0) {
            std::perror("guard page");
            std::exit(2);
        }
        base_ = static_cast<char*>(p);
#else
        base_ = new char[ROOM];
#endif
    }
    GuardedText(const GuardedText&) = delete;
    GuardedText& operator=(const GuardedText&) = delete;
    ~GuardedText() {
#ifdef HAVE_GUARD_PAGE
        munmap(base_, size_);
#else
        delete[] base_;
#endif
    }
    // The text's copy, its last byte the last readable one; the text itself when longer
    // than the room.
    const char* place(const std::string& text) {
        if (text.size() > ROOM) return text.data();
        char* const begin = base_ + (ROOM - text.size());
        std::memcpy(begin, text.data(), text.size());
        return begin;
    }

private:
    static constexpr std::size_t ROOM = 1 << 16;  // a multiple of every page size
    char* base_ = nullptr;
    std::size_t page_ = 0;
    std::size_t size_ = 0;
};

struct Checker {
    GuardedText guarded;
    long long texts = 0;
    long long comparisons = 0;
    int mismatches = 0;

    std::atomic<int>* total_mismatches = nullptr;

    void report(const std::string& text, const char* what, double expected, double got) {
        ++mismatches;
        if (total_mismatches != nullptr) ++*total_mismatches;
        static std::mutex mutex;
        const std::lock_guard<std::mutex> lock(mutex);
        std::printf("MISMATCH (%s): %s\n  expected %016" PRIX64 " (%.17g), got %016" PRIX64
                    " (%.17g)\n",
                    what, text.size() > 300 ? (text.substr(0, 300) + "...").c_str() : text.c_str(),
                    to_bits(expected), expected, to_bits(got), got);
    }

    // A token read by one of the inline paths, which read finite numbers only: its
    // value and end, or nullptr where the general path must tell.
    template <class Path>
    void compare_path(const std::string& text, const char* path, Path read, const char* begin,
                      const char* end, const char* token_end, double expected) {
        double value = 0;
        const char* const got = read(begin, end, value);
        quorvel::NumberToken t = quorvel::number_detail::read_number_token_in_full(begin, end);
        if (got != nullptr) t = quorvel::NumberToken{quorvel::NumberForm::Finite, got, value};
        compare_token(text, path, t, token_end, expected);
    }

    // A token read by one path: its value (infinity for a refused overflow) and end.
    void compare_token(const std::string& text, const char* path, const quorvel::NumberToken& t,
                       const char* end, double expected) {
        ++comparisons;
        if (t.form == quorvel::NumberForm::Malformed || t.end != end) {
            report(text, path, expected, std::nan(""));
            return;
        }
        const double got = t.form == quorvel::NumberForm::Finite ? token_value(t, text) : INFINITY;
        if (t.form == quorvel::NumberForm::NonFinite ? !std::isinf(expected)
                                                     : to_bits(got) != to_bits(expected)) {
            report(text, path, expected, got);
        }
    }

    static double token_value(const quorvel::NumberToken& t, const std::string&) { return t.value; }

    void compare_value(const std::string& text, const char* path, double expected, double got) {
        ++comparisons;
        if (to_bits(expected) != to_bits(got)) report(text, path, expected, got);
    }

    void check(const std::string& text, Random& rng, const Oracles& oracles) {
        namespace nd = quorvel::number_detail;
        ++texts;
        std::string disagreement;
        double expected = oracles.value(text, disagreement);
        if (!disagreement.empty())
            report(text, ("oracles disagree: " + disagreement).c_str(), 0, 0);
        const bool negative = text[0] == '-';
        if (std::isinf(expected)) expected = negative ? -INFINITY : INFINITY;
        // Alone: the text ends with the token, and the memory after it is unreadable.
        const char* const begin = guarded.place(text);
        const char* const end = begin + text.size();
        compare_token(text, "read_number_token, alone", quorvel::read_number_token(begin, end), end,
                      expected);
        compare_path(text, "word path, alone", nd::read_by_words, begin, end, end, expected);
        compare_token(text, "general path", nd::read_number_token_in_full(begin, end), end,
                      expected);
        if (text.size() < 16) {
            compare_path(text, "short-text path", nd::read_short_text, begin, end, end, expected);
        }
#ifdef QUORVEL_HAVE_SSE2
        if (text.size() >= 16) {
            compare_path(text, "vector path, alone", nd::read_by_vectors<false>, begin, end, end,
                         expected);
        }
        if (text.size() >= 32) {
            compare_path(text, "vector path, 32 bytes, alone", nd::read_by_vectors<true>, begin,
                         end, end, expected);
        }
#endif
        // Followed by a separator and more text, as in a coordinate list.
        static constexpr const char* SEPARATORS[] = {" ", ",", ")", " 0 1, 2 3)"};
        std::string padded = text + SEPARATORS[rng.below(4)] + " 12.5 -7 0.125, 1 2, 3 4))";
        const char* const pbegin = padded.data();
        const char* const pend = pbegin + padded.size();
        const char* const token_end = pbegin + text.size();
        compare_token(text, "read_number_token, followed", quorvel::read_number_token(pbegin, pend),
                      token_end, expected);
        compare_path(text, "word path, followed", nd::read_by_words, pbegin, pend, token_end,
                     expected);
#ifdef QUORVEL_HAVE_SSE2
        compare_path(text, "vector path, followed", nd::read_by_vectors<false>, pbegin, pend,
                     token_end, expected);
        if (padded.size() >= 32) {
            compare_path(text, "vector path, 32 bytes, followed", nd::read_by_vectors<true>, pbegin,
                         pend, token_end, expected);
        }
#endif
        // The conversions, on the unsigned digits.
        const std::string digits = text[0] == '+' || text[0] == '-' ? text.substr(1) : text;
        const double magnitude = std::fabs(expected);
        compare_value(
            text, "decimal_text_to_double", magnitude,
            quorvel::decimal_text_to_double(digits.data(), digits.data() + digits.size()));
        std::uint64_t mantissa;
        long long e10;
        if (short_decimal(digits, mantissa, e10)) {
            compare_value(text, "decimal_to_double", magnitude,
                          quorvel::decimal_to_double(mantissa, e10));
            compare_value(text, "decimal_to_double_in_full", magnitude,
                          quorvel::decimal_detail::decimal_to_double_in_full(mantissa, e10));
        }
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
    "-0",
    "0.000000000000000000000000000001",
    "-73.9856721",
    "179.9999999",
    "0.30000000000000004",
    "123456789012345.6",
    "1234567890123456.7",
    "-20037508.342789244",
};

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "C");
    const long long count = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    const unsigned threads = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3]))
                                      : std::max(1u, std::thread::hardware_concurrency());
    const auto start = std::chrono::steady_clock::now();
    const Oracles oracles;
    std::atomic<int> mismatches{0};
    std::atomic<long long> texts{0}, comparisons{0};
    std::vector<std::thread> pool;
    for (unsigned t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            Checker checker;
            checker.total_mismatches = &mismatches;
            Random rng(seed * 0x9E3779B97F4A7C15u + t);
            if (t == 0) {
                for (const char* text : FIXED) checker.check(text, rng, oracles);
            }
            const long long share = count * (t + 1) / threads - count * t / threads;
            for (long long i = 0; i < share; ++i) {
                if (mismatches.load(std::memory_order_relaxed) >= 20) break;
                checker.check(random_text(rng), rng, oracles);
            }
            texts += checker.texts;
            comparisons += checker.comparisons;
        });
    }
    for (auto& thread : pool) thread.join();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "%lld texts, %lld comparisons of our paths with " ORACLE
        " (oracles cross-checked:%s%s), %d mismatches, %.1f s on %u threads\n",
        texts.load(), comparisons.load(),
#if (defined(__cpp_lib_to_chars) || (defined(__GLIBCXX__) && __GNUC__ >= 11)) && !defined(__MINGW32__)
        " std::from_chars",
#else
        "",
#endif
#if defined(__MINGW32__)
        " none",
#elif defined(HAVE_FAST_FLOAT)
        " fast_float",
#else
        "",
#endif
        mismatches.load(), seconds, threads);
    return mismatches.load() == 0 ? 0 : 1;
}
