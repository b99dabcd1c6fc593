#include "wkb_to_wkt/builder.hpp"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>

#include "lib/geometry.hpp"
#include "lib/portable.hpp"
#include "wkb_to_wkt/ordinate_text.hpp"
#include "wkb_to_wkt/reader.hpp"

namespace quorvel {

namespace {

// Room for one position of N ordinates with their separators, and for any position.
template <int N>
constexpr std::size_t ROOM_OF = N * (MAX_ORDINATE_CHARS + 2) + ordinate_detail::SLACK;
constexpr std::size_t POSITION_ROOM = ROOM_OF<4>;
// How far ahead of the position being written the input is prefetched: 32 positions
// of two ordinates, about a microsecond of writing.
constexpr std::size_t PREFETCH_DISTANCE = 512;

// Writes the ordinate at data, Swap when its byte order is not the machine's.
template <bool Swap>
QUORVEL_ALWAYS_INLINE char* write_ordinate_at(char* p, const char* data) noexcept {
    std::uint64_t bits;
    std::memcpy(&bits, data, 8);
    if constexpr (Swap) bits = byteswap64(bits);
    return write_ordinate(p, std::bit_cast<double>(bits));
}

// Writes the N ordinates at data joined by single spaces, then ", ", at p.
template <int N, bool Swap>
QUORVEL_ALWAYS_INLINE char* write_ordinates(char* p, const char* data) noexcept {
    for (int j = 0; j + 1 < N; ++j) {
        p = write_ordinate_at<Swap>(p, data + 8 * j);
        *p++ = ' ';
    }
    p = write_ordinate_at<Swap>(p, data + 8 * (N - 1));
    std::memcpy(p, ", ", 2);
    return p + 2;
}

// The same through a buffer on the stack, appended: near the end of the output's
// capacity, which then grows by no more than the text needs.
template <int N, bool Swap>
QUORVEL_NOINLINE void append_ordinates(OutputBuffer& out, const char* data) {
    char buf[ROOM_OF<N>];
    out.append(buf, static_cast<std::size_t>(write_ordinates<N, Swap>(buf, data) - buf));
}

template <int N, bool Swap>
void write_positions_of(OutputBuffer& out, const char* data, std::uint32_t count) {
    // Four pointers are all the loop keeps: a compiler that keeps more state spills
    // it, and reloading it behind stores whose address came from the previous number's
    // length serialised the loop.
    const char* const end = data + std::size_t{8} * N * count;
    char* p = out.end();
    char* capacity_end = p + out.spare();
    for (; data != end; data += 8 * N) {
        // The input from PREFETCH_DISTANCE on asked for ahead of its use.  Each
        // geometry's WKB is a buffer of its own, often a few hundred bytes: on
        // thousands of 100-vertex polygons (3 MB, beyond the second-level cache) the
        // processor's own prefetch left g++'s build of this loop 1.15 to 1.23 times
        // as slow as clang's, and with this hint both run as clang's did.
        prefetch_ahead(data, PREFETCH_DISTANCE);
        // The room of N ordinates, not of four: near the end of the reservation each
        // position goes through the stack, a call and a copy more (a tenth of a
        // 100-vertex ring's did with the room of four).
        if (capacity_end - p >= static_cast<std::ptrdiff_t>(ROOM_OF<N>)) [[likely]] {
            p = write_ordinates<N, Swap>(p, data);
        } else {
            out.set_end(p);
            append_ordinates<N, Swap>(out, data);
            p = out.end();
            capacity_end = p + out.spare();
        }
    }
    out.set_end(p - 2);  // without the last ", "
}

template <bool Swap>
void write_positions_in(OutputBuffer& out, const char* data, std::uint32_t count, int n) {
    switch (n) {
        case 2:
            return write_positions_of<2, Swap>(out, data, count);
        case 3:
            return write_positions_of<3, Swap>(out, data, count);
        default:
            return write_positions_of<4, Swap>(out, data, count);
    }
}

std::size_t output_reserve(std::size_t input_length) noexcept {
    // 3 × length, capped; the cap also covers lengths whose triple would overflow.
    return input_length > OUTPUT_RESERVE_CAP / 3 ? OUTPUT_RESERVE_CAP : 3 * input_length;
}

ConversionError trailing_data(std::size_t remaining) {
    return ConversionError::invalid_wkb("unexpected trailing data: " + std::to_string(remaining) +
                                        " bytes remaining");
}

// A top-level Point that fills the input exactly, the commonest geometry, written
// without the general walk: the same text the walk writes.  Returns false, having
// written nothing, for anything else.
bool convert_point(std::string_view wkb, OutputBuffer& out, bool include_srid, GeometryInfo& info) {
    if (wkb.size() < 21 || static_cast<unsigned char>(wkb[0]) > 1) return false;
    const bool little = wkb[0] == 1;
    const std::uint32_t word = load_u32(wkb.data() + 1, little);
    // Code 1 with the Z, M and SRID flags only (the ISO codes take the walk).
    if ((word & ~(Z_FLAG | M_FLAG | SRID_FLAG)) != 1) return false;
    const Dimension dimension = (word & Z_FLAG) != 0
                                    ? ((word & M_FLAG) != 0 ? Dimension::XYZM : Dimension::XYZ)
                                    : ((word & M_FLAG) != 0 ? Dimension::XYM : Dimension::XY);
    const int n = ordinate_count(dimension);
    const std::size_t header = (word & SRID_FLAG) != 0 ? 9 : 5;
    if (wkb.size() != header + 8 * static_cast<std::size_t>(n)) return false;
    const auto srid = header == 9 ? static_cast<std::int32_t>(load_u32(wkb.data() + 5, little)) : 0;
    info = {srid > 0, srid > 0 ? srid : 0, dimension};
    if (include_srid && srid > 0) write_srid_prefix(out, srid);
    out.append(wkt_keyword(GeometryKind::Point));
    out.append(dimension_tag(dimension));
    double xyzm[4];
    bool all_nan = true;
    for (int i = 0; i < n; ++i) {
        xyzm[i] = load_f64(wkb.data() + header + 8 * static_cast<std::size_t>(i), little);
        all_nan = all_nan && std::isnan(xyzm[i]);
    }
    if (all_nan) {
        out.append(" EMPTY");
    } else {
        out.append(" (");
        write_position(out, xyzm, n, false);
        out.push_back(')');
    }
    return true;
}

// Reads the whole input into out; the top-level geometry gets its SRID prefix only
// when include_srid is set.
Result<GeometryInfo> convert(std::string_view wkb, OutputBuffer& out, bool include_srid) {
    if (GeometryInfo info{}; convert_point(wkb, out, include_srid, info)) return info;
    WkbReader reader(wkb);
    auto info = reader.read_geometry(out, include_srid, 0);
    if (!info) return std::move(info).error();
    if (reader.remaining() != 0) return trailing_data(reader.remaining());
    return info;
}

// Writes ", " when separated, then the n ordinates (2 to 4) joined by single spaces, at
// p.  Every ordinate is read before the first text is stored, into registers: read
// behind those stores (through a pointer the stores might alias), the second ordinate
// waited for the first's text and the two were written one after the other.
char* write_position_at(char* p, const double* ordinates, int n, bool separated) noexcept {
    const double x = ordinates[0];
    const double y = ordinates[1];
    const double z = n > 2 ? ordinates[2] : 0.0;
    const double m = n > 3 ? ordinates[3] : 0.0;
    std::memcpy(p, ", ", 2);
    p += separated ? 2 : 0;
    p = write_ordinate(p, x);
    *p = ' ';
    p = write_ordinate(p + 1, y);
    if (n > 2) [[unlikely]] {
        *p = ' ';
        p = write_ordinate(p + 1, z);
        if (n > 3) {
            *p = ' ';
            p = write_ordinate(p + 1, m);
        }
    }
    return p;
}

void reserve_output(OutputBuffer& out, std::string_view wkb) {
    if (!wkb.empty()) out.reserve(output_reserve(wkb.size()));
}

}  // namespace

void format_ordinate(std::string& out, double v) {
    char buf[ORDINATE_ROOM];
    out.append(buf, static_cast<std::size_t>(write_ordinate(buf, v) - buf));
}

void write_position(OutputBuffer& out, const double* ordinates, int n, bool separated) {
    if (out.spare() >= 2 + POSITION_ROOM) {
        out.set_end(write_position_at(out.end(), ordinates, n, separated));
        return;
    }
    char buf[2 + POSITION_ROOM];
    out.append(buf,
               static_cast<std::size_t>(write_position_at(buf, ordinates, n, separated) - buf));
}

void write_positions(OutputBuffer& out, const char* data, std::uint32_t count, int n, bool little) {
    if (count == 0) return;
    if (little == (std::endian::native == std::endian::little)) {
        write_positions_in<false>(out, data, count, n);
    } else {
        write_positions_in<true>(out, data, count, n);
    }
}

void write_srid_prefix(OutputBuffer& out, std::int32_t srid) {
    char buf[24] = "SRID=";
    char* end = std::to_chars(buf + 5, buf + sizeof buf - 1, srid).ptr;
    *end++ = ';';
    out.append(buf, static_cast<std::size_t>(end - buf));
}

Status ewkb_to_ewkt(std::string_view wkb, OutputBuffer& out) {
    reserve_output(out, wkb);
    auto info = convert(wkb, out, true);
    if (!info) return std::move(info).error();
    return ok_status();
}

Result<WkbSrid> ewkb_to_wkt_and_srid(std::string_view wkb, OutputBuffer& out) {
    reserve_output(out, wkb);
    auto info = convert(wkb, out, false);
    if (!info) return std::move(info).error();
    return WkbSrid{info->srid_present, info->srid_present ? info->srid : 0};
}

Status ewkb_to_wkt_with_srid(std::string_view wkb, std::int32_t srid, OutputBuffer& out) {
    reserve_output(out, wkb);
    // An SRID of 0 or below means "unknown": no prefix, as when stripping.
    if (srid > 0) write_srid_prefix(out, srid);
    auto info = convert(wkb, out, false);
    if (!info) return std::move(info).error();
    return ok_status();
}

Result<std::string> ewkb_to_ewkt(std::string_view wkb) {
    OutputBuffer out;
    QUORVEL_TRY(ewkb_to_ewkt(wkb, out));
    return out.str();
}

Result<WktAndSrid> ewkb_to_wkt_and_srid(std::string_view wkb) {
    OutputBuffer out;
    auto srid = ewkb_to_wkt_and_srid(wkb, out);
    if (!srid) return std::move(srid).error();
    return WktAndSrid{out.str(), srid->present, srid->srid};
}

Result<std::string> ewkb_to_wkt_with_srid(std::string_view wkb, std::int32_t srid) {
    OutputBuffer out;
    QUORVEL_TRY(ewkb_to_wkt_with_srid(wkb, srid, out));
    return out.str();
}

}  // namespace quorvel
