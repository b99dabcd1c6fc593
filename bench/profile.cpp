// A fixed number of conversions, for counting instructions under callgrind (see
// bench/profile.py): instruction counts do not depend on what else the machine runs,
// so the ratios against the floor are exact where timings are noisy.
//
//   profile MODE KIND VERTICES ITERATIONS
//
// MODE: seventeen_digits, shortest_decimal, dragonbox_to_decimal,
// dragonbox_to_decimal_zeros, dragonbox_to_chars, std_to_chars, ordinate_text_sse2,
// ordinate_text_portable, format_ordinate, ewkb_to_ewkt, read_number, read_number_words,
// from_chars, fast_float (when its header is there), write_ewkb, write_ewkb_hex (the
// loops of floor.cpp; the Dragonbox modes fail in a build without it, the SSE2 one off
// x86-64); KIND and VERTICES as there.  ITERATIONS 0 runs only the
// set-up, so the difference of two runs is the cost of the loop alone.
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

#if __has_include(<fast_float/fast_float.h>)
#include <fast_float/fast_float.h>
#define QUORVEL_BENCH_FAST_FLOAT 1
#endif

#include "inputs.hpp"
#include "number_loops.hpp"
#include "wkb_to_wkt/builder.hpp"
#include "wkt_to_wkb/tokenizer.hpp"
#include "wkt_to_wkb/writer.hpp"

namespace {

volatile std::size_t sink;

template <char* (*Loop)(const std::vector<double>&, char*)>
void number_text(const quorvel_bench::Input& in, long iterations) {
    std::vector<char> buffer(in.ords.size() * quorvel_bench::TEXT_BYTES_PER_NUMBER);
    for (long i = 0; i < iterations; ++i) {
        sink = static_cast<std::size_t>(Loop(in.ords, buffer.data()) - buffer.data());
    }
}

// A whole-token parser over the bare number text.
template <class Parse>
bool parse_loop(const quorvel_bench::Input& in, long iterations, Parse parse) {
    const char* const end = in.numbers.data() + in.numbers.size();
    for (long i = 0; i < iterations; ++i) {
        double sum = 0;
        for (const char* p = in.numbers.data(); p < end;) {
            double v = 0;
            const auto r = parse(p, end, v);
            if (r.ec != std::errc{}) return false;
            sum += v;
            for (p = r.ptr; p < end && *p == ' ';) ++p;
        }
        sink = static_cast<std::size_t>(sum != 0);
    }
    return true;
}

bool run(const std::string& mode, const quorvel_bench::Input& in, long iterations) {
    if (mode == "shortest_decimal") {
        for (long i = 0; i < iterations; ++i) sink = quorvel_bench::shortest_decimal_loop(in.ords);
    } else if (mode == "seventeen_digits") {
        for (long i = 0; i < iterations; ++i) sink = quorvel_bench::seventeen_digits_loop(in.ords);
    } else if (mode == "std_to_chars") {
        number_text<quorvel_bench::std_to_chars_loop>(in, iterations);
    } else if (mode == "ordinate_text_portable") {
        number_text<quorvel_bench::ordinate_text_loop<quorvel::PortableDigits>>(in, iterations);
#ifdef QUORVEL_SSE2_DIGITS
    } else if (mode == "ordinate_text_sse2") {
        number_text<quorvel_bench::ordinate_text_loop<quorvel::Sse2Digits>>(in, iterations);
#endif
#ifdef QUORVEL_BENCH_DRAGONBOX
    } else if (mode == "dragonbox_to_decimal") {
        for (long i = 0; i < iterations; ++i) {
            sink = quorvel_bench::dragonbox_to_decimal_loop(in.ords);
        }
    } else if (mode == "dragonbox_to_decimal_zeros") {
        for (long i = 0; i < iterations; ++i) {
            sink = quorvel_bench::dragonbox_to_decimal_zeros_loop(in.ords);
        }
    } else if (mode == "dragonbox_to_chars") {
        number_text<quorvel_bench::dragonbox_to_chars_loop>(in, iterations);
#endif
    } else if (mode == "format_ordinate") {
        std::string out;
        out.reserve(in.numbers.size() + 64);
        for (long i = 0; i < iterations; ++i) {
            out.clear();
            for (double v : in.ords) quorvel::format_ordinate(out, v);
            sink = out.size();
        }
    } else if (mode == "ewkb_to_ewkt") {
        for (long i = 0; i < iterations; ++i) {
            auto r = quorvel::ewkb_to_ewkt(in.wkb);
            if (!r) return false;
            sink = r->size();
        }
    } else if (mode == "read_number") {
        for (long i = 0; i < iterations; ++i) sink = quorvel_bench::read_numbers(in) != 0;
    } else if (mode == "read_number_words") {
        for (long i = 0; i < iterations; ++i) sink = quorvel_bench::read_numbers_by_words(in) != 0;
#if __cpp_lib_to_chars >= 201611L  // a standard library with floating-point from_chars
    } else if (mode == "from_chars") {
        return parse_loop(in, iterations, [](const char* p, const char* end, double& v) {
            return std::from_chars(p, end, v);
        });
#endif
#if QUORVEL_BENCH_FAST_FLOAT
    } else if (mode == "fast_float") {
        return parse_loop(in, iterations, [](const char* p, const char* end, double& v) {
            return fast_float::from_chars(p, end, v);
        });
#endif
    } else if (mode == "write_ewkb" || mode == "write_ewkb_hex") {
        const bool hex = mode == "write_ewkb_hex";
        for (long i = 0; i < iterations; ++i) {
            quorvel::WktTokenizer tokenizer(in.wkt);
            auto prefix = tokenizer.parse_srid_prefix();
            auto r = hex ? quorvel::write_ewkb_hex(tokenizer, in.wkt.size(), false, 0)
                         : quorvel::write_ewkb(tokenizer, in.wkt.size(), false, 0);
            if (!prefix || !r) return false;
            sink = r->size();
        }
    } else {
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: profile MODE KIND VERTICES ITERATIONS\n");
        return 2;
    }
    const int kind = std::atoi(argv[2]);
    const auto vertices = static_cast<std::size_t>(std::strtoul(argv[3], nullptr, 10));
    const long iterations = std::strtol(argv[4], nullptr, 10);
    const auto& in = quorvel_bench::input(kind, vertices);
    if (!run(argv[1], in, iterations)) {
        std::fprintf(stderr, "profile: %s failed\n", argv[1]);
        return 1;
    }
    std::printf("%zu ordinates\n", in.ords.size());
    return 0;
}
