// Geometry kinds, dimensions and the nesting limit shared by both directions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// Values are the WKB base type codes.
enum class GeometryKind : std::uint8_t {
    Point = 1,
    LineString = 2,
    Polygon = 3,
    MultiPoint = 4,
    MultiLineString = 5,
    MultiPolygon = 6,
    GeometryCollection = 7,
};

enum class Dimension : std::uint8_t { XY, XYZ, XYM, XYZM };

// The top-level geometry is level 0; a geometry at this level is refused.
inline constexpr int MAX_NESTING_DEPTH = 128;

inline constexpr std::uint32_t Z_FLAG = 0x80000000u;
inline constexpr std::uint32_t M_FLAG = 0x40000000u;
inline constexpr std::uint32_t SRID_FLAG = 0x20000000u;
inline constexpr std::uint32_t UNKNOWN_FLAGS = 0x1FFF0000u;

constexpr std::uint32_t kind_code(GeometryKind k) noexcept {
    return static_cast<std::uint32_t>(k);
}

constexpr int ordinate_count(Dimension d) noexcept {
    switch (d) {
        case Dimension::XY:
            return 2;
        case Dimension::XYZ:
        case Dimension::XYM:
            return 3;
        case Dimension::XYZM:
            return 4;
    }
    return 2;
}

constexpr std::uint32_t dimension_flags(Dimension d) noexcept {
    switch (d) {
        case Dimension::XY:
            return 0;
        case Dimension::XYZ:
            return Z_FLAG;
        case Dimension::XYM:
            return M_FLAG;
        case Dimension::XYZM:
            return Z_FLAG | M_FLAG;
    }
    return 0;
}

// "XY", "XYZ", "XYM", "XYZM", as messages show them.
constexpr std::string_view dimension_name(Dimension d) noexcept {
    switch (d) {
        case Dimension::XY:
            return "XY";
        case Dimension::XYZ:
            return "XYZ";
        case Dimension::XYM:
            return "XYM";
        case Dimension::XYZM:
            return "XYZM";
    }
    return "XY";
}

// Why a tagged GeometryCollection refuses a member: "GeometryCollection XYZ member
// has incompatible dimension XY".  Both directions give it.
inline std::string collection_member_message(Dimension collection, Dimension member) {
    std::string message = "GeometryCollection ";
    message += dimension_name(collection);
    message += " member has incompatible dimension ";
    message += dimension_name(member);
    return message;
}

// The tag written after a WKT keyword, with its leading space.
constexpr std::string_view dimension_tag(Dimension d) noexcept {
    switch (d) {
        case Dimension::XY:
            return "";
        case Dimension::XYZ:
            return " Z";
        case Dimension::XYM:
            return " M";
        case Dimension::XYZM:
            return " ZM";
    }
    return "";
}

// "Point", "LineString", ..., as messages show them.
constexpr std::string_view kind_name(GeometryKind k) noexcept {
    switch (k) {
        case GeometryKind::Point:
            return "Point";
        case GeometryKind::LineString:
            return "LineString";
        case GeometryKind::Polygon:
            return "Polygon";
        case GeometryKind::MultiPoint:
            return "MultiPoint";
        case GeometryKind::MultiLineString:
            return "MultiLineString";
        case GeometryKind::MultiPolygon:
            return "MultiPolygon";
        case GeometryKind::GeometryCollection:
            return "GeometryCollection";
    }
    return "Point";
}

// The upper-case WKT keyword.
constexpr std::string_view wkt_keyword(GeometryKind k) noexcept {
    switch (k) {
        case GeometryKind::Point:
            return "POINT";
        case GeometryKind::LineString:
            return "LINESTRING";
        case GeometryKind::Polygon:
            return "POLYGON";
        case GeometryKind::MultiPoint:
            return "MULTIPOINT";
        case GeometryKind::MultiLineString:
            return "MULTILINESTRING";
        case GeometryKind::MultiPolygon:
            return "MULTIPOLYGON";
        case GeometryKind::GeometryCollection:
            return "GEOMETRYCOLLECTION";
    }
    return "POINT";
}

// Output buffers are reserved once from the input length, never beyond this.
inline constexpr std::size_t OUTPUT_RESERVE_CAP = 16u * 1024u * 1024u;

}  // namespace quorvel
