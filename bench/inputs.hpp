// The inputs of the C++ benchmarks: the coordinates of bench/data.py (same SplitMix64
// stream, same rounding) and the WKB, WKT and bare number text made from them.
//
// kind 0: real-looking lon/lat with 6-7 decimals; 1: full-precision random doubles;
// 2: every vertex (1, 2), for "POINT (1 2)"; 3: full-precision doubles in [0, 1);
// 4: numbers with 1 to 17 significant digits, each count equally often.
#pragma once

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "wkb_to_wkt/builder.hpp"

namespace quorvel_bench {

inline constexpr int LONLAT = 0;
inline constexpr int RANDOM = 1;
inline constexpr int ONE_TWO = 2;
inline constexpr int UNIT = 3;
inline constexpr int MIXED = 4;
// The kinds with a generated stream, by index, and their names in bench/data.py.
inline constexpr int STREAM_KINDS[] = {LONLAT, RANDOM, UNIT, MIXED};
inline const char* kind_name(int kind) {
    static const char* const names[] = {"lonlat", "random", "one_two", "unit", "mixed"};
    return names[kind];
}

inline constexpr std::uint64_t SEED = 0x5EEDC0DE2024u;
inline constexpr std::uint64_t KIND_SEED[5] = {
    SEED, SEED ^ 0xA5A5A5A5A5A5A5A5u, 0, SEED ^ 0x5A5A5A5A5A5A5A5Au, SEED ^ 0x3C3C3C3C3C3C3C3Cu};
inline constexpr std::size_t CHECKSUM_VERTICES = 1000;
inline constexpr std::uint64_t MAX_DIGITS = 17;

class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        state_ += 0x9E3779B97F4A7C15u;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
        return z ^ (z >> 31);
    }
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    std::uint64_t state_;
};

// How many significant digits the shortest round-trip text of v has.
inline int significant_digits(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v));
    const char* end = std::find(buf, r.ptr, 'e');
    int digits = 0;
    int trailing_zeros = 0;
    for (const char* p = buf; p != end; ++p) {
        if (*p == '.' || (*p == '0' && digits == 0)) continue;
        ++digits;
        trailing_zeros = *p == '0' ? trailing_zeros + 1 : 0;
    }
    return digits - trailing_zeros;
}

// The double nearest m × 10^(e - n + 1), n drawn from 1..17, for an n-digit m that
// does not end in 0 and e in -1..2, drawn again (same n) until its shortest text
// has n digits; as bench/data.py's mixed_ordinate.
inline double mixed_ordinate(SplitMix64& rng) {
    const auto n = static_cast<int>(1 + rng.next() % MAX_DIGITS);
    std::uint64_t low = 1;
    for (int i = 1; i < n; ++i) low *= 10;
    for (;;) {
        std::uint64_t m = low + rng.next() % (9 * low);
        if (m % 10 == 0) m += 1;
        const int e = static_cast<int>(rng.next() % 4) - 1;
        const bool negative = (rng.next() & 1) != 0;
        char text[48];
        std::snprintf(text, sizeof text, "%s%llue%d", negative ? "-" : "",
                      static_cast<unsigned long long>(m), e - n + 1);
        const double v = std::strtod(text, nullptr);  // correctly rounded, as float()
        if (significant_digits(v) == n) return v;
    }
}

// x0 y0 x1 y1 ... of the first n vertices of the kind's stream.
inline std::vector<double> ordinates(int kind, std::size_t n) {
    std::vector<double> out;
    out.reserve(2 * n);
    if (kind == ONE_TWO) {
        for (std::size_t i = 0; i < n; ++i) {
            out.push_back(1.0);
            out.push_back(2.0);
        }
        return out;
    }
    SplitMix64 rng(KIND_SEED[kind]);
    for (std::size_t i = 0; i < n; ++i) {
        if (kind == UNIT || kind == MIXED) {
            const double x = kind == UNIT ? rng.uniform() : mixed_ordinate(rng);
            const double y = kind == UNIT ? rng.uniform() : mixed_ordinate(rng);
            out.push_back(x);
            out.push_back(y);
            continue;
        }
        double lon = -180.0 + 360.0 * rng.uniform();
        double lat = -90.0 + 180.0 * rng.uniform();
        if (kind == LONLAT) {
            const double scale = (rng.next() & 1) == 0 ? 1e6 : 1e7;
            lon = std::floor(lon * scale + 0.5) / scale;
            lat = std::floor(lat * scale + 0.5) / scale;
        }
        out.push_back(lon);
        out.push_back(lat);
    }
    return out;
}

inline std::uint64_t checksum(const std::vector<double>& ords) {
    std::uint64_t total = 0;
    for (double v : ords) {
        std::uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        total += bits;
    }
    return total;
}

inline void put_u32(std::string& out, std::uint32_t v) {
    char b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    out.append(b, 4);
}

// Little-endian WKB: a Point for one vertex, a LineString otherwise.
inline std::string geometry_wkb(const std::vector<double>& ords) {
    std::string wkb;
    wkb.push_back('\x01');
    const std::size_t vertices = ords.size() / 2;
    if (vertices == 1) {
        put_u32(wkb, 1);
    } else {
        put_u32(wkb, 2);
        put_u32(wkb, static_cast<std::uint32_t>(vertices));
    }
    const auto* bytes = reinterpret_cast<const char*>(ords.data());
    wkb.append(bytes, ords.size() * sizeof(double));  // x86-64 and arm64 are little-endian
    return wkb;
}

struct Input {
    std::vector<double> ords;
    std::string wkb;      // the geometry
    std::string wkt;      // its WKT, as ewkb_to_ewkt writes it
    std::string numbers;  // the ordinates as that WKT writes them, space-separated
};

inline const Input& input(int kind, std::size_t vertices) {
    static std::map<std::pair<int, std::size_t>, Input> cache;
    const auto key = std::make_pair(kind, vertices);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    Input in;
    in.ords = ordinates(kind, vertices);
    in.wkb = geometry_wkb(in.ords);
    auto wkt = quorvel::ewkb_to_ewkt(in.wkb);
    if (wkt) in.wkt = std::move(*wkt);
    for (double v : in.ords) {
        if (!in.numbers.empty()) in.numbers.push_back(' ');
        quorvel::format_ordinate(in.numbers, v);
    }
    return cache.emplace(key, std::move(in)).first->second;
}

}  // namespace quorvel_bench
