// The conversion steps that the module functions chain, each under an SRID policy.
// Each appends its output to out, which the caller discards on failure.
#pragma once

#include <string>
#include <string_view>

#include "lib/error.hpp"
#include "lib/output_buffer.hpp"
#include "lib/srid_policy.hpp"

namespace quorvel {

// WKB bytes to WKT text: Mirror keeps the input's SRID prefix, Strip drops it,
// Set n writes "SRID=n;" whatever the input carried.
Status wkb_to_wkt_step(std::string_view wkb, SridPolicy policy, OutputBuffer& out);

// WKT text to little-endian EWKB, binary or uppercase hex.  The SRID prefix is
// always parsed, so a malformed one fails under every policy.
Status wkt_to_ewkb_step(std::string_view wkt, SridPolicy policy, OutputBuffer& out);
Status wkt_to_ewkb_hex_step(std::string_view wkt, SridPolicy policy, OutputBuffer& out);

// WKT through EWKB and back: canonical text.
Status normalize_wkt_step(std::string_view wkt, SridPolicy policy, OutputBuffer& out);

// Adjusts only the SRID prefix of trimmed WKT text; never parses, never fails.
std::string wkt_fast_path(std::string_view text, SridPolicy policy);

}  // namespace quorvel
