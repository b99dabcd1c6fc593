// WKT parser and EWKB writer: one pass over the text, little-endian EWKB out, in
// binary or as uppercase hex digits, counts back-patched in place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "lib/error.hpp"
#include "lib/output_buffer.hpp"
#include "wkt_to_wkb/tokenizer.hpp"

namespace quorvel {

// tokenizer stands behind the SRID prefix; input_length sizes the output only
// (reserved once: the length, capped, and twice that for hex digits).  With
// embed_srid the top-level type word gets the SRID flag and srid follows it.  On
// failure out holds partial output that the caller discards.
Status write_ewkb(WktTokenizer& tokenizer, std::size_t input_length, bool embed_srid,
                  std::int32_t srid, OutputBuffer& out);
Status write_ewkb_hex(WktTokenizer& tokenizer, std::size_t input_length, bool embed_srid,
                      std::int32_t srid, OutputBuffer& out);

// EWKB without an SRID into out, and the prefix that the text starts with.
Result<SridPrefix> write_ewkb_split_srid(std::string_view text, OutputBuffer& out);

// The same operations with the output as a string of its own.
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
