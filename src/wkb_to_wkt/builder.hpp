// WKT text pieces, number formatting and the two WKB-to-WKT entry operations.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "lib/error.hpp"

namespace quorvel {

// Appends the shortest round-trip decimal text of v, positional, never an exponent:
// "0" for both zeros, "NaN", "inf", "-inf".
void format_ordinate(std::string& out, double v);

// Appends n (2..4) ordinates separated by single spaces.
void write_coordinate(std::string& out, const double* ordinates, int n);

// Appends "SRID=n;".
void write_srid_prefix(std::string& out, std::int32_t srid);

// WKT of one WKB/EWKB geometry, with "SRID=N;" in front when the top-level header
// carries a present SRID (flag set and value > 0).
Result<std::string> ewkb_to_ewkt(std::string_view wkb);

struct WktAndSrid {
    std::string wkt;  // never with a prefix
    bool srid_present;
    std::int32_t srid;  // meaningful only when srid_present
};
Result<WktAndSrid> ewkb_to_wkt_and_srid(std::string_view wkb);

// "SRID=srid;" followed by the WKT of the geometry, whatever SRID it carries.  An
// srid of 0 or below means "unknown" and writes no prefix at all.
Result<std::string> ewkb_to_wkt_with_srid(std::string_view wkb, std::int32_t srid);

}  // namespace quorvel
