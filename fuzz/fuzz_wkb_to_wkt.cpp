// WKB/EWKB bytes to WKT text.
//
// Properties:
// - ewkb_to_ewkt, ewkb_to_wkt_and_srid and ewkb_to_wkt_with_srid succeed or fail
//   together, with the same error, and their texts differ only by the SRID prefix;
// - a reported SRID is positive;
// - when every ordinate is finite and no ring is empty, the text converted back to
//   EWKB and again to text gives the same text (an empty ring is written "()", which
//   the WKT grammar does not read back);
// - every error follows the message rules;
// - every 8 bytes of the input, read as a double, have ordinate text with the
//   shortest-digit property: it reads back as the double, and no decimal one digit
//   shorter does.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz_common.hpp"
#include "wkb_to_wkt/builder.hpp"
#include "wkt_to_wkb/tokenizer.hpp"
#include "wkt_to_wkb/writer.hpp"

using quorvel_fuzz::check_error;
using quorvel_fuzz::fail;
using quorvel_fuzz::require;
using quorvel_fuzz::require_same_error;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view wkb(reinterpret_cast<const char*>(data), size);
    for (std::size_t at = 0; at + 8 <= size; at += 8) {
        double v;
        std::memcpy(&v, data + at, 8);
        quorvel_fuzz::check_shortest_text(v, wkb);
    }

    auto ewkt = quorvel::ewkb_to_ewkt(wkb);
    auto split = quorvel::ewkb_to_wkt_and_srid(wkb);
    auto with_srid = quorvel::ewkb_to_wkt_with_srid(wkb, 4326);
    auto unknown_srid = quorvel::ewkb_to_wkt_with_srid(wkb, -1);
    if (!ewkt) {
        check_error(ewkt.error(), wkb);
        require(!split.ok() && !with_srid.ok() && !unknown_srid.ok(),
                "every entry point fails on the same input", wkb);
        require_same_error(ewkt.error(), split.error(), "split fails with the same error", wkb);
        require_same_error(ewkt.error(), with_srid.error(), "set SRID fails with the same error",
                           wkb);
        require_same_error(ewkt.error(), unknown_srid.error(),
                           "unknown SRID fails with the same error", wkb);
        return 0;
    }
    require(split.ok() && with_srid.ok() && unknown_srid.ok(),
            "every entry point succeeds on the same input", wkb);
    require(!split->srid_present || split->srid > 0, "a reported SRID is positive", wkb);
    const std::string prefixed =
        split->srid_present ? "SRID=" + std::to_string(split->srid) + ";" + split->wkt : split->wkt;
    if (*ewkt != prefixed) fail("EWKT is the split text behind its SRID prefix", wkb, *ewkt);
    if (*with_srid != "SRID=4326;" + split->wkt)
        fail("a set SRID prefixes the text", wkb, *with_srid);
    if (*unknown_srid != split->wkt) fail("an unknown SRID writes no prefix", wkb, *unknown_srid);

    // Back to EWKB and again to text.
    if (quorvel_fuzz::has_non_finite(*ewkt)) return 0;
    if (ewkt->find("()") != std::string::npos) return 0;
    quorvel::WktTokenizer tokenizer(*ewkt);
    auto prefix = tokenizer.parse_srid_prefix();
    if (!prefix)
        fail("the written SRID prefix reads back", wkb, *ewkt + " | " + prefix.error().text());
    require(
        prefix->present == split->srid_present && (!prefix->present || prefix->srid == split->srid),
        "the written SRID reads back unchanged", wkb, *ewkt);
    auto back = quorvel::write_ewkb(tokenizer, ewkt->size(), prefix->present, prefix->srid);
    if (!back) fail("the written text parses", wkb, *ewkt + " | " + back.error().text());
    auto again = quorvel::ewkb_to_ewkt(*back);
    if (!again) fail("the rewritten EWKB reads", wkb, *ewkt + " | " + again.error().text());
    if (*again != *ewkt) fail("the text survives a round trip", wkb, *ewkt + " | " + *again);
    return 0;
}
