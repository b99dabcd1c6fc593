// WKT parser and EWKB writer: one pass over the text, little-endian EWKB out, in
// binary or as uppercase hex digits, counts back-patched in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "lib/error.hpp"
#include "wkt_to_wkb/tokenizer.hpp"

namespace quorvel {

// tokenizer stands behind the SRID prefix; input_length sizes the output only.
// With embed_srid the top-level type word gets the SRID flag and srid follows it.
Result<std::string> write_ewkb(WktTokenizer& tokenizer, std::size_t input_length, bool embed_srid,
                               std::int32_t srid);
Result<std::string> write_ewkb_hex(WktTokenizer& tokenizer, std::size_t input_length,
                                   bool embed_srid, std::int32_t srid);

struct EwkbAndPrefix {
    std::string ewkb;  // never with an SRID
    SridPrefix prefix;
};
Result<EwkbAndPrefix> write_ewkb_split_srid(std::string_view text);

}  // namespace quorvel
