// The conversions against their own floor, in one C++ build with the core library:
// the bare number formatter and number parser over the same ordinates that the
// WKB -> WKT and WKT -> WKB conversions read, so ns per ordinate compare directly;
// and the shortest-digit generators and number writers of our own (the text over each
// digit-text path), of Dragonbox (when the build has it) and of the standard library on
// the same doubles.
// read_number is the module's reader as the writer calls it, read_number_words its
// path for machines without SSE2 forced; from_chars and fast_float (when its header
// is there; the module does not use it) parse the same text.
//
// Benchmark arguments: kind (0 real-looking lon/lat with 6-7 decimals, 1 full-precision
// random doubles, 2 for points only: "POINT (1 2)", 3 full-precision doubles in
// [0, 1), 4 numbers of 1 to 17 significant digits) and the vertex count.  The
// coordinates come from the same SplitMix64 stream as bench/data.py; the custom
// context "checksum_<kind>" lets bench/run.py confirm that both sides agree.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
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

using quorvel_bench::Input;
using quorvel_bench::input;

void set_counters(benchmark::State& state, const Input& in) {
    const auto n = static_cast<std::int64_t>(in.ords.size());
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * n);
    state.counters["ordinates"] = static_cast<double>(n);
}

// Floor of WKB -> WKT: the formatter alone, into a reused string.
void BM_format_ordinate(benchmark::State& state) {
    const Input& in = input(static_cast<int>(state.range(0)), state.range(1));
    std::string out;
    out.reserve(in.numbers.size() + 64);
    for (auto _ : state) {
        out.clear();
        for (double v : in.ords) quorvel::format_ordinate(out, v);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    set_counters(state, in);
}

// The writer's digit stage alone: sixteen digits and the seventeenth, trailing zeros
// kept, no text.
void BM_seventeen_digits(benchmark::State& state) {
    const Input& in = input(static_cast<int>(state.range(0)), state.range(1));
    for (auto _ : state) benchmark::DoNotOptimize(quorvel_bench::seventeen_digits_loop(in.ords));
    set_counters(state, in);
}

// Shortest digits and exponent of every ordinate, trailing zeros removed, no text.
void BM_shortest_decimal(benchmark::State& state) {
    const Input& in = input(static_cast<int>(state.range(0)), state.range(1));
    for (auto _ : state) benchmark::DoNotOptimize(quorvel_bench::shortest_decimal_loop(in.ords));
    set_counters(state, in);
}

template <char* (*Loop)(const std::vector<double>&, char*)>
void number_text(benchmark::State& state) {
    const Input& in = input(static_cast<int>(state.range(0)), state.range(1));
    std::vector<char> buffer(in.ords.size() * quorvel_bench::TEXT_BYTES_PER_NUMBER);
    for (auto _ : state) {
        benchmark::DoNotOptimize(Loop(in.ords, buffer.data()));
        benchmark::ClobberMemory();
    }
    set_counters(state, in);
}

// Our positional text alone, over each digit-text path.
void BM_ordinate_text_portable(benchmark::State& state) {
    number_text<quorvel_bench::ordinate_text_loop<quorvel::PortableDigits>>(state);
}

#ifdef QUORVEL_SSE2_DIGITS
void BM_ordinate_text_sse2(benchmark::State& state) {
    number_text<quorvel_bench::ordinate_text_loop<quorvel::Sse2Digits>>(state);
}
#endif

// The standard library's shortest text (fixed or scientific, whichever is shorter).
void BM_std_to_chars(benchmark::State& state) {
    number_text<quorvel_bench::std_to_chars_loop>(state);
}

#ifdef QUORVEL_BENCH_DRAGONBOX
void BM_dragonbox_to_decimal(benchmark::State& state) {
    const Input& in = input(static_cast<int>(state.range(0)), state.range(1));
    for (auto _ : state) {
        benchmark::DoNotOptimize(quorvel_bench::dragonbox_to_decimal_loop(in.ords));
    }
    set_counters(state, in);
}

void BM_dragonbox_to_decimal_zeros(benchmark::State& state) {
    const Input& in = input(static_cast<int>(state.range(0)), state.range(1));
    for (auto _ : state) {
        benchmark::DoNotOptimize(quorvel_bench::dragonbox_to_decimal_zeros_loop(in.ords));
    }
    set_counters(state, in);
}

void BM_dragonbox_to_chars(benchmark::State& state) {
    number_text<quorvel_bench::dragonbox_to_chars_loop>(state);
}
#endif

void BM_ewkb_to_ewkt(benchmark::State& state) {
    const Input& in = input(static_cast<int>(state.range(0)), state.range(1));
    for (auto _ : state) {
        auto r = quorvel::ewkb_to_ewkt(in.wkb);
        if (!r) {
            state.SkipWithError("ewkb_to_ewkt failed");
            break;
        }
        benchmark::DoNotOptimize(r->data());
    }
    set_counters(state, in);
}

template <double (*Read)(const Input&)>
void read_numbers(benchmark::State& state) {
    const Input& in = input(static_cast<int>(state.range(0)), state.range(1));
    for (auto _ : state) {
        benchmark::DoNotOptimize(Read(in));
        benchmark::ClobberMemory();
    }
    set_counters(state, in);
}

// Floor of WKT -> WKB: the module's own number reader over bare numbers, many per
// call as the writer reads a coordinate list (read_finite_numbers, 64 at a time).
void BM_read_number(benchmark::State& state) {
    read_numbers<quorvel_bench::read_numbers>(state);
}

// Its path for machines without SSE2, forced.
void BM_read_number_words(benchmark::State& state) {
    read_numbers<quorvel_bench::read_numbers_by_words>(state);
}

// A whole-token parser over the same text, for reference: the standard library's
// from_chars, and fast_float's when its header is there.
template <class Parse>
void parse_numbers(benchmark::State& state, Parse parse) {
    const Input& in = input(static_cast<int>(state.range(0)), state.range(1));
    const char* const end = in.numbers.data() + in.numbers.size();
    for (auto _ : state) {
        const char* p = in.numbers.data();
        double sum = 0;
        while (p < end) {
            double v = 0;
            const auto r = parse(p, end, v);
            if (r.ec != std::errc{}) {
                state.SkipWithError("parser failed");
                break;
            }
            sum += v;
            p = r.ptr;
            while (p < end && *p == ' ') ++p;
        }
        benchmark::DoNotOptimize(sum);
    }
    set_counters(state, in);
}

#if __cpp_lib_to_chars >= 201611L  // a standard library with floating-point from_chars
void BM_from_chars(benchmark::State& state) {
    parse_numbers(state, [](const char* p, const char* end, double& v) {
        return std::from_chars(p, end, v);
    });
}
#endif

#if QUORVEL_BENCH_FAST_FLOAT
void BM_fast_float(benchmark::State& state) {
    parse_numbers(state, [](const char* p, const char* end, double& v) {
        return fast_float::from_chars(p, end, v);
    });
}
#endif

void BM_write_ewkb(benchmark::State& state) {
    const Input& in = input(static_cast<int>(state.range(0)), state.range(1));
    for (auto _ : state) {
        quorvel::WktTokenizer tokenizer(in.wkt);
        auto prefix = tokenizer.parse_srid_prefix();
        auto r = quorvel::write_ewkb(tokenizer, in.wkt.size(), false, 0);
        if (!prefix || !r) {
            state.SkipWithError("write_ewkb failed");
            break;
        }
        benchmark::DoNotOptimize(r->data());
    }
    set_counters(state, in);
}

void BM_write_ewkb_hex(benchmark::State& state) {
    const Input& in = input(static_cast<int>(state.range(0)), state.range(1));
    for (auto _ : state) {
        quorvel::WktTokenizer tokenizer(in.wkt);
        auto prefix = tokenizer.parse_srid_prefix();
        auto r = quorvel::write_ewkb_hex(tokenizer, in.wkt.size(), false, 0);
        if (!prefix || !r) {
            state.SkipWithError("write_ewkb_hex failed");
            break;
        }
        benchmark::DoNotOptimize(r->data());
    }
    set_counters(state, in);
}

using quorvel_bench::LONLAT;
using quorvel_bench::ONE_TWO;
using quorvel_bench::RANDOM;

// Every kind at 1,000 vertices; lon/lat and random also at 100,000.
void geometry_args(benchmark::internal::Benchmark* b) {
    for (int kind : quorvel_bench::STREAM_KINDS) b->Args({kind, 1000});
    for (int kind : {LONLAT, RANDOM}) b->Args({kind, 100000});
}

// The number rows and the conversion they are compared with: every kind at 1,000
// vertices, the 2,000 doubles of which a branch predictor learns by heart when
// they come round again and again, and at 100,000, which it cannot, as with the
// ever new values of real data.
void number_args(benchmark::internal::Benchmark* b) {
    for (int kind : quorvel_bench::STREAM_KINDS) b->Args({kind, 1000});
    for (int kind : quorvel_bench::STREAM_KINDS) b->Args({kind, 100000});
}

void point_args(benchmark::internal::Benchmark* b) {
    for (int kind : {LONLAT, RANDOM, ONE_TWO}) b->Args({kind, 1});
}

}  // namespace

BENCHMARK(BM_seventeen_digits)->Apply(number_args);
BENCHMARK(BM_shortest_decimal)->Apply(number_args);
#ifdef QUORVEL_BENCH_DRAGONBOX
BENCHMARK(BM_dragonbox_to_decimal)->Apply(number_args);
BENCHMARK(BM_dragonbox_to_decimal_zeros)->Apply(number_args);
BENCHMARK(BM_dragonbox_to_chars)->Apply(number_args);
#endif
BENCHMARK(BM_std_to_chars)->Apply(number_args);
#ifdef QUORVEL_SSE2_DIGITS
BENCHMARK(BM_ordinate_text_sse2)->Apply(number_args);
#endif
BENCHMARK(BM_ordinate_text_portable)->Apply(number_args);
BENCHMARK(BM_format_ordinate)->Apply(geometry_args);
BENCHMARK(BM_ewkb_to_ewkt)->Apply(number_args)->Apply(point_args);
BENCHMARK(BM_read_number)->Apply(number_args);
BENCHMARK(BM_read_number_words)->Apply(number_args);
#if __cpp_lib_to_chars >= 201611L
BENCHMARK(BM_from_chars)->Apply(number_args);
#endif
#if QUORVEL_BENCH_FAST_FLOAT
BENCHMARK(BM_fast_float)->Apply(number_args);
#endif
BENCHMARK(BM_write_ewkb)->Apply(geometry_args)->Apply(point_args);
BENCHMARK(BM_write_ewkb_hex)->Apply(geometry_args);

int main(int argc, char** argv) {
    for (int kind : quorvel_bench::STREAM_KINDS) {
        const auto sum = quorvel_bench::checksum(
            quorvel_bench::ordinates(kind, quorvel_bench::CHECKSUM_VERTICES));
        benchmark::AddCustomContext(std::string("checksum_") + quorvel_bench::kind_name(kind),
                                    std::to_string(sum));
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
