// The inputs of the C++ benchmarks: the coordinates of bench/data.py (same SplitMix64
// stream, same rounding) and the WKB, WKT and bare number text made from them.
//
// kind 0: real-looking lon/lat with 6-7 decimals; 1: full-precision random doubles;
// 2: every vertex (1, 2), for "POINT (1 2)".
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "wkb_to_wkt/builder.hpp"

namespace quorvel_bench {

inline constexpr std::uint64_t SEED = 0x5EEDC0DE2024u;
inline constexpr std::uint64_t KIND_SEED[2] = {SEED, SEED ^ 0xA5A5A5A5A5A5A5A5u};
inline constexpr std::size_t CHECKSUM_VERTICES = 1000;

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

// x0 y0 x1 y1 ... of the first n vertices of the kind's stream.
inline std::vector<double> ordinates(int kind, std::size_t n) {
    std::vector<double> out;
    out.reserve(2 * n);
    if (kind == 2) {
        for (std::size_t i = 0; i < n; ++i) {
            out.push_back(1.0);
            out.push_back(2.0);
        }
        return out;
    }
    SplitMix64 rng(KIND_SEED[kind]);
    for (std::size_t i = 0; i < n; ++i) {
        double lon = -180.0 + 360.0 * rng.uniform();
        double lat = -90.0 + 180.0 * rng.uniform();
        if (kind == 0) {
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
