// WKB/EWKB reader: the binary layout of a geometry and the walk that turns it into
// WKT text in one pass.
//
// Layout of every geometry, top level and nested:
//   byte order marker  1 byte   0 big-endian, 1 little-endian
//   type word          4 bytes  Z 0x80000000, M 0x40000000, SRID 0x20000000 flags;
//                               bits 0x1FFF0000 ignored; low 16 bits the code, with an
//                               ISO offset (1000, 2000, 3000) when neither Z nor M is set
//   SRID               4 bytes  signed, only when the SRID flag is set
//   body                        counts u32, ordinates f64, all in the marker's byte order
//
// Bodies: Point = N ordinates (all NaN: the empty point); LineString = count, positions;
// Polygon = ring count, then per ring a count and positions; Multi kinds and
// GeometryCollection = member count, then complete nested geometries, each with its own
// marker (a member's SRID is read and dropped).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "lib/error.hpp"
#include "lib/geometry.hpp"
#include "lib/output_buffer.hpp"
#include "lib/portable.hpp"

namespace quorvel {

// --- byte-order helpers shared by everything that touches the layout ---

inline std::uint32_t load_u32(const char* p, bool little) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    if (little != (std::endian::native == std::endian::little)) v = byteswap32(v);
    return v;
}

inline void store_u32(char* p, std::uint32_t v, bool little) noexcept {
    if (little != (std::endian::native == std::endian::little)) v = byteswap32(v);
    std::memcpy(p, &v, 4);
}

inline double load_f64(const char* p, bool little) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if (little != (std::endian::native == std::endian::little)) v = byteswap64(v);
    return std::bit_cast<double>(v);
}

inline void store_f64(char* p, double d, bool little) noexcept {
    auto v = std::bit_cast<std::uint64_t>(d);
    if (little != (std::endian::native == std::endian::little)) v = byteswap64(v);
    std::memcpy(p, &v, 8);
}

// --- the reader ---

struct GeometryHeader {
    GeometryKind kind;
    Dimension dimension;
    bool srid_present;  // SRID flag set and value > 0
    std::int32_t srid;  // meaningful only when srid_present
};

// What read_geometry reports of the geometry it read.
struct GeometryInfo {
    bool srid_present;
    std::int32_t srid;
    Dimension dimension;
};

// Decodes a type word: flags or ISO offset into a Dimension, then the base code.
// Fails with the unsupported code when it is not 1..7.  The SRID flag is not looked at.
Result<GeometryHeader> decode_type_word(std::uint32_t word);

// A cursor over borrowed WKB bytes.  Every marker sets the byte order that the fields
// after it are read in; the position only moves forward and never past the end.
class WkbReader {
public:
    explicit WkbReader(std::string_view input) noexcept : input_(input) {}

    std::size_t position() const noexcept { return pos_; }
    std::size_t remaining() const noexcept { return input_.size() - pos_; }
    bool little_endian() const noexcept { return little_; }

    // Consumes a byte order marker (0 big-endian, 1 little-endian).
    Status read_byte_order();
    // Consumes the type word and, when its SRID flag is set, the SRID.
    Result<GeometryHeader> read_type_word();

    // Primitive reads in the current byte order.
    Result<std::uint32_t> read_u32();
    Result<std::int32_t> read_i32();
    Result<double> read_f64();

    // Reads one complete geometry at the current position and appends its WKT text
    // to out.  include_srid asks for the "SRID=N;" prefix when this geometry's
    // header carries a present SRID.  depth is 0 for the top-level geometry.  On
    // failure out holds partial text that the caller discards.
    Result<GeometryInfo> read_geometry(OutputBuffer& out, bool include_srid, int depth);

private:
    // The body of a collection at `depth` whose header has been read, members of
    // members included.  A table of the open collections stands in for recursion,
    // so the stack it uses does not grow with the nesting.
    Status read_collection_body(OutputBuffer& out, Dimension dimension, int depth);
    // The body of any kind but GeometryCollection.
    Status read_body(OutputBuffer& out, GeometryKind kind, Dimension dimension);
    // The body of a Point, LineString or Polygon.  A top-level body starts with a
    // space (" EMPTY", " (...)"); a Multi member's does not ("EMPTY", "(...)").
    Status read_simple_body(OutputBuffer& out, GeometryKind kind, int ordinates,
                            bool leading_space);
    Status read_point_body(OutputBuffer& out, int ordinates, bool leading_space);
    Status read_line_body(OutputBuffer& out, int ordinates, bool leading_space);
    Status read_polygon_body(OutputBuffer& out, int ordinates, bool leading_space);
    // Appends `count` positions joined by ", ".
    Status read_positions(OutputBuffer& out, std::uint32_t count, int ordinates);
    Status read_multi_body(OutputBuffer& out, GeometryKind kind, Dimension dimension);

    std::string_view input_;
    std::size_t pos_ = 0;
    bool little_ = true;

    friend class WkbReaderAccess;
};

}  // namespace quorvel
