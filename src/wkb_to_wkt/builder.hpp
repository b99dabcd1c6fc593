// WKT text pieces, number formatting and the two WKB-to-WKT entry operations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lib/error.hpp"
#include "lib/output_buffer.hpp"

namespace quorvel {

// Appends the shortest round-trip decimal text of v, positional, never an exponent:
// "0" for both zeros, "NaN", "inf", "-inf".
void format_ordinate(std::string& out, double v);

// Appends ", " when separated, then n (2..4) ordinates separated by single spaces.
void write_position(OutputBuffer& out, const double* ordinates, int n, bool separated);

// Appends `count` positions of n ordinates read from the bytes at data (which hold
// them all) in the given byte order, joined by ", ".
void write_positions(OutputBuffer& out, const char* data, std::uint32_t count, int n, bool little);

// Appends "SRID=n;".
void write_srid_prefix(OutputBuffer& out, std::int32_t srid);

// The SRID of the top-level header.
struct WkbSrid {
    bool present;
    std::int32_t srid;  // meaningful only when present
};

// Each operation reserves out from the input length (3 × length, capped) and appends
// the text; on failure out holds partial text that the caller discards.

// WKT of one WKB/EWKB geometry, with "SRID=N;" in front when the top-level header
// carries a present SRID (flag set and value > 0).
Status ewkb_to_ewkt(std::string_view wkb, OutputBuffer& out);

// The WKT without a prefix, and the SRID the header carries.
Result<WkbSrid> ewkb_to_wkt_and_srid(std::string_view wkb, OutputBuffer& out);

// "SRID=srid;" followed by the WKT of the geometry, whatever SRID it carries.  An
// srid of 0 or below means "unknown" and writes no prefix at all.
Status ewkb_to_wkt_with_srid(std::string_view wkb, std::int32_t srid, OutputBuffer& out);

// The same operations with the text as a string of its own.
Result<std::string> ewkb_to_ewkt(std::string_view wkb);

struct WktAndSrid {
    std::string wkt;  // never with a prefix
    bool srid_present;
    std::int32_t srid;  // meaningful only when srid_present
};
Result<WktAndSrid> ewkb_to_wkt_and_srid(std::string_view wkb);

Result<std::string> ewkb_to_wkt_with_srid(std::string_view wkb, std::int32_t srid);

}  // namespace quorvel
