// The top-level EWKB header: rewriting its SRID without reading the body, and
// reading it.  Headers that are not simple take a full WKB -> WKT -> WKB round trip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "lib/error.hpp"
#include "lib/srid_policy.hpp"

namespace quorvel {

// Point, LineString or Polygon code, known flags only, a marker of 0 or 1 and room
// for the SRID field when the flag says it is there.
bool is_simple_header(std::string_view bytes) noexcept;

enum class HeaderOutcome : std::uint8_t { Unchanged, Rewritten, NeedsFullRewrite };

struct HeaderRewrite {
    HeaderOutcome outcome;
    std::string bytes;  // the new bytes when Rewritten
};

HeaderRewrite strip_header_srid(std::string_view bytes);
HeaderRewrite set_header_srid(std::string_view bytes, std::int32_t srid);  // srid > 0

// A result described as a new header followed by a span of the input, so that a
// buffer's body is copied once, straight into the result object.
struct HeaderPatch {
    char header[9] = {};
    std::size_t header_length = 0;  // 0 for the whole input, 5 or 9 otherwise
    std::size_t body_offset = 0;    // where the copied span of the input starts
    bool owned = false;             // the result is `bytes` below, not the input
    std::string bytes;              // the full rewrite's output when owned

    std::size_t size(std::string_view input) const noexcept;
    // Writes size(input) bytes to out.
    void write(char* out, std::string_view input) const noexcept;
};

// policy is Strip or Set (effective applied here); Mirror gives the whole input.
Result<HeaderPatch> plan_header_srid(std::string_view bytes, SridPolicy policy);

// srid_or_zero > 0 embeds that SRID; 0 means no SRID.
Result<std::string> full_rewrite(std::string_view bytes, std::int32_t srid_or_zero);
Result<std::string> full_rewrite_hex(std::string_view bytes, std::int32_t srid_or_zero);

// Mirror returns the bytes unchanged, without any check.
Result<std::string> rewrite_header_srid(std::string_view bytes, SridPolicy policy);
// The same decisions, as uppercase hex text.
Result<std::string> rewrite_header_srid_hex(std::string_view bytes, SridPolicy policy);

struct HeaderSrid {
    bool present;
    std::int32_t srid;
};
Result<HeaderSrid> read_header_srid(std::string_view bytes, bool include_unknown);

}  // namespace quorvel
