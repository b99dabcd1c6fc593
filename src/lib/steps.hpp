// The conversion steps that the module functions chain, each under an SRID policy.
#pragma once

#include <string>
#include <string_view>

#include "lib/error.hpp"
#include "lib/srid_policy.hpp"

namespace quorvel {

// WKB bytes to WKT text: Mirror keeps the input's SRID prefix, Strip drops it,
// Set n writes "SRID=n;" whatever the input carried.
Result<std::string> wkb_to_wkt_step(std::string_view wkb, SridPolicy policy);

// WKT text to little-endian EWKB, binary or uppercase hex.  The SRID prefix is
// always parsed, so a malformed one fails under every policy.
Result<std::string> wkt_to_ewkb_step(std::string_view wkt, SridPolicy policy);
Result<std::string> wkt_to_ewkb_hex_step(std::string_view wkt, SridPolicy policy);

// WKT through EWKB and back: canonical text.
Result<std::string> normalize_wkt_step(std::string_view wkt, SridPolicy policy);

// Adjusts only the SRID prefix of trimmed WKT text; never parses, never fails.
std::string wkt_fast_path(std::string_view text, SridPolicy policy);

}  // namespace quorvel
