#include "wkb_to_wkt/reader.hpp"

#include <cmath>
#include <string>

#include "wkb_to_wkt/builder.hpp"

namespace quorvel {

namespace {

ConversionError end_of_data(const char* what) {
    return ConversionError::invalid_wkb(std::string("unexpected end of data reading ") + what);
}

std::string& append(std::string& s, std::string_view piece) {
    return s.append(piece);
}

void append(OutputBuffer& out, std::string_view piece) {
    out.append(piece);
}

// The kind a member of a Multi kind must have.
GeometryKind member_kind(GeometryKind multi) noexcept {
    switch (multi) {
        case GeometryKind::MultiPoint:
            return GeometryKind::Point;
        case GeometryKind::MultiLineString:
            return GeometryKind::LineString;
        default:
            return GeometryKind::Polygon;
    }
}

ConversionError nesting_too_deep() {
    return ConversionError::invalid_wkb("geometry nesting exceeds maximum depth of " +
                                        std::to_string(MAX_NESTING_DEPTH));
}

}  // namespace

Result<GeometryHeader> decode_type_word(std::uint32_t word) {
    std::uint32_t code = word & 0xFFFFu;
    Dimension dimension = Dimension::XY;
    if (word & Z_FLAG) {
        dimension = (word & M_FLAG) ? Dimension::XYZM : Dimension::XYZ;
    } else if (word & M_FLAG) {
        dimension = Dimension::XYM;
    } else if (code > 3000) {
        dimension = Dimension::XYZM;
        code -= 3000;
    } else if (code > 2000) {
        dimension = Dimension::XYM;
        code -= 2000;
    } else if (code > 1000) {
        dimension = Dimension::XYZ;
        code -= 1000;
    }
    if (code == 0 || code > 7) return ConversionError::unsupported_geometry_type(code);
    return GeometryHeader{static_cast<GeometryKind>(code), dimension, false, 0};
}

Status WkbReader::read_byte_order() {
    if (pos_ >= input_.size()) return ConversionError::invalid_wkb("unexpected end of data");
    auto marker = static_cast<unsigned char>(input_[pos_]);
    if (marker > 1) {
        return ConversionError::invalid_wkb("invalid byte order marker: " + std::to_string(marker));
    }
    ++pos_;
    little_ = marker == 1;
    return ok_status();
}

Result<std::uint32_t> WkbReader::read_u32() {
    if (remaining() < 4) return end_of_data("u32");
    std::uint32_t v = load_u32(input_.data() + pos_, little_);
    pos_ += 4;
    return v;
}

Result<std::int32_t> WkbReader::read_i32() {
    if (remaining() < 4) return end_of_data("i32");
    auto v = static_cast<std::int32_t>(load_u32(input_.data() + pos_, little_));
    pos_ += 4;
    return v;
}

Result<double> WkbReader::read_f64() {
    if (remaining() < 8) return end_of_data("f64");
    double v = load_f64(input_.data() + pos_, little_);
    pos_ += 8;
    return v;
}

Result<GeometryHeader> WkbReader::read_type_word() {
    auto word = read_u32();
    if (!word) return std::move(word).error();
    auto header = decode_type_word(*word);
    if (!header) return std::move(header).error();
    if (*word & SRID_FLAG) {
        auto srid = read_i32();
        if (!srid) return std::move(srid).error();
        // 0 and negative SRIDs mean "unknown": consumed, then treated as absent.
        if (*srid > 0) {
            header->srid_present = true;
            header->srid = *srid;
        }
    }
    return header;
}

// Inline, so that the body of a Point is one call away from read_geometry.
inline Status WkbReader::read_body(OutputBuffer& out, GeometryKind kind, Dimension dimension) {
    switch (kind) {
        case GeometryKind::Point:
        case GeometryKind::LineString:
        case GeometryKind::Polygon:
            return read_simple_body(out, kind, ordinate_count(dimension), true);
        default:
            return read_multi_body(out, kind, dimension);
    }
}

Result<GeometryInfo> WkbReader::read_geometry(OutputBuffer& out, bool include_srid, int depth) {
    if (depth >= MAX_NESTING_DEPTH) return nesting_too_deep();
    QUORVEL_TRY(read_byte_order());
    auto header = read_type_word();
    if (!header) return std::move(header).error();
    const GeometryHeader& h = *header;

    if (include_srid && h.srid_present) write_srid_prefix(out, h.srid);
    append(out, wkt_keyword(h.kind));
    append(out, dimension_tag(h.dimension));
    if (h.kind == GeometryKind::GeometryCollection) {
        QUORVEL_TRY(read_collection_body(out, h.dimension, depth));
    } else {
        QUORVEL_TRY(read_body(out, h.kind, h.dimension));
    }
    return GeometryInfo{h.srid_present, h.srid, h.dimension};
}

Status WkbReader::read_collection_body(OutputBuffer& out, Dimension dimension, int depth) {
    // A collection whose members are being read.
    struct OpenCollection {
        std::uint32_t remaining;  // members still to come, the one being read included
        Dimension dimension;
    };
    // The open collections, outermost first: the last is at depth + levels - 1.
    OpenCollection collections[MAX_NESTING_DEPTH];
    int levels = 0;
    // The geometry just read, of `dimension`, is a collection whose count comes next.
    bool collection = true;

    for (;;) {
        bool complete = true;  // the geometry just read needs nothing more
        if (collection) {
            auto members = read_u32();
            if (!members) return std::move(members).error();
            if (*members == 0) {
                append(out, " EMPTY");
            } else {
                append(out, " (");
                collections[levels++] = OpenCollection{*members, dimension};
                complete = false;
            }
        }
        if (complete) {
            // Nor does every collection whose last member it was.
            for (; levels != 0; --levels) {
                OpenCollection& parent = collections[levels - 1];
                // An XY collection takes members of any dimension; any other takes
                // only its own.  Checked after the member so that an error inside
                // it is reported first.
                if (parent.dimension != Dimension::XY && dimension != parent.dimension) {
                    return ConversionError::invalid_wkb(
                        collection_member_message(parent.dimension, dimension));
                }
                if (--parent.remaining != 0) break;
                out.push_back(')');
                dimension = parent.dimension;
            }
            if (levels == 0) return ok_status();
            append(out, ", ");
        }
        // The next member of the innermost open collection.
        if (depth + levels >= MAX_NESTING_DEPTH) return nesting_too_deep();
        QUORVEL_TRY(read_byte_order());
        auto member = read_type_word();  // drops a member SRID
        if (!member) return std::move(member).error();
        append(out, wkt_keyword(member->kind));
        append(out, dimension_tag(member->dimension));
        dimension = member->dimension;
        collection = member->kind == GeometryKind::GeometryCollection;
        if (!collection) QUORVEL_TRY(read_body(out, member->kind, dimension));
    }
}

Status WkbReader::read_simple_body(OutputBuffer& out, GeometryKind kind, int ordinates,
                                   bool leading_space) {
    switch (kind) {
        case GeometryKind::Point:
            return read_point_body(out, ordinates, leading_space);
        case GeometryKind::LineString:
            return read_line_body(out, ordinates, leading_space);
        default:
            return read_polygon_body(out, ordinates, leading_space);
    }
}

Status WkbReader::read_point_body(OutputBuffer& out, int ordinates, bool leading_space) {
    const auto stride = static_cast<std::size_t>(ordinates) * 8;
    if (remaining() < stride) return end_of_data("f64");
    double xyzm[4];
    const char* p = input_.data() + pos_;
    bool all_nan = true;
    for (int i = 0; i < ordinates; ++i) {
        xyzm[i] = load_f64(p + 8 * i, little_);
        all_nan = all_nan && std::isnan(xyzm[i]);
    }
    pos_ += stride;
    if (leading_space) out.push_back(' ');
    if (all_nan) {
        append(out, "EMPTY");
    } else {
        out.push_back('(');
        write_position(out, xyzm, ordinates, false);
        out.push_back(')');
    }
    return ok_status();
}

Status WkbReader::read_positions(OutputBuffer& out, std::uint32_t count, int ordinates) {
    // The count is only a loop bound.  When the positions cannot all be there, the
    // first ordinate past the end is what fails, so fail at once.
    const auto stride = static_cast<std::size_t>(ordinates) * 8;
    if (static_cast<std::uint64_t>(count) * stride > remaining()) return end_of_data("f64");
    write_positions(out, input_.data() + pos_, count, ordinates, little_);
    pos_ += static_cast<std::size_t>(count) * stride;
    return ok_status();
}

Status WkbReader::read_line_body(OutputBuffer& out, int ordinates, bool leading_space) {
    auto count = read_u32();
    if (!count) return std::move(count).error();
    if (leading_space) out.push_back(' ');
    if (*count == 0) {
        append(out, "EMPTY");
        return ok_status();
    }
    out.push_back('(');
    QUORVEL_TRY(read_positions(out, *count, ordinates));
    out.push_back(')');
    return ok_status();
}

Status WkbReader::read_polygon_body(OutputBuffer& out, int ordinates, bool leading_space) {
    auto rings = read_u32();
    if (!rings) return std::move(rings).error();
    if (leading_space) out.push_back(' ');
    if (*rings == 0) {
        append(out, "EMPTY");
        return ok_status();
    }
    out.push_back('(');
    for (std::uint32_t r = 0; r < *rings; ++r) {
        auto count = read_u32();
        if (!count) return std::move(count).error();
        if (r != 0) append(out, ", ");
        // A ring of no points is written "()"; no closure or size check is made.
        out.push_back('(');
        QUORVEL_TRY(read_positions(out, *count, ordinates));
        out.push_back(')');
    }
    out.push_back(')');
    return ok_status();
}

Status WkbReader::read_multi_body(OutputBuffer& out, GeometryKind kind, Dimension dimension) {
    auto members = read_u32();
    if (!members) return std::move(members).error();
    if (*members == 0) {
        append(out, " EMPTY");
        return ok_status();
    }
    const GeometryKind expected = member_kind(kind);
    const int ordinates = ordinate_count(dimension);
    append(out, " (");
    // Members are read inline: no keyword, no tag, no nesting level of their own.
    for (std::uint32_t i = 0; i < *members; ++i) {
        QUORVEL_TRY(read_byte_order());
        auto member = read_type_word();  // drops a member SRID
        if (!member) return std::move(member).error();
        if (member->kind != expected) {
            std::string message = "expected ";
            append(message, kind_name(expected));
            append(message, " sub-geometry in ");
            append(message, kind_name(kind));
            append(message, ", got type code ");
            append(message, kind_name(member->kind));
            return ConversionError::invalid_wkb(std::move(message));
        }
        if (member->dimension != dimension) {
            std::string message(kind_name(kind));
            append(message, " child has incompatible dimension ");
            append(message, dimension_name(member->dimension));
            append(message, "; expected ");
            append(message, dimension_name(dimension));
            return ConversionError::invalid_wkb(std::move(message));
        }
        if (i != 0) append(out, ", ");
        QUORVEL_TRY(read_simple_body(out, expected, ordinates, false));
    }
    out.push_back(')');
    return ok_status();
}

}  // namespace quorvel
