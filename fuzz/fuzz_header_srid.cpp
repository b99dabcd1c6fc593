// Reading the SRID of the top-level EWKB header.
//
// Properties:
// - with and without include_unknown the read succeeds or fails together, with the
//   same error; include_unknown only adds SRIDs of 0 or below, with the same value;
// - a header with known flags only is read without the body: no SRID flag gives no
//   SRID, the flag gives the stored value, and 5 to 8 bytes with the flag fail with
//   the too-short message;
// - on an input that reads as a whole, the header read agrees with the full read;
// - other headers report what the full read reports;
// - the SRID that a rewrite sets reads back, and a stripped header reads as none;
// - every error follows the message rules.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_common.hpp"
#include "lib/header.hpp"
#include "lib/srid_policy.hpp"
#include "wkb_to_wkt/builder.hpp"

using quorvel_fuzz::check_error;
using quorvel_fuzz::fail;
using quorvel_fuzz::require;
using quorvel_fuzz::require_same_error;

namespace {

constexpr std::uint32_t SRID_FLAG = 0x20000000u;
constexpr std::uint32_t UNKNOWN_FLAGS = 0x1FFF0000u;

std::uint32_t load(const std::uint8_t* p, bool little) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = (v << 8) | p[little ? 3 - i : i];
    return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view wkb(reinterpret_cast<const char*>(data), size);

    auto plain = quorvel::read_header_srid(wkb, false);
    auto unknown = quorvel::read_header_srid(wkb, true);
    auto full = quorvel::ewkb_to_wkt_and_srid(wkb);
    if (plain.ok() != unknown.ok()) fail("include_unknown does not change success", wkb);

    const bool header_only =
        size >= 5 && data[0] <= 1 && (load(data + 1, data[0] == 1) & UNKNOWN_FLAGS) == 0;
    if (!plain) {
        check_error(plain.error(), wkb);
        require_same_error(plain.error(), unknown.error(), "include_unknown fails the same way",
                           wkb);
        if (header_only) {
            const std::uint32_t word = load(data + 1, data[0] == 1);
            require((word & SRID_FLAG) != 0 && size < 9 &&
                        plain.error().message() ==
                            "EWKB header has SRID flag but is too short to contain the SRID field",
                    "a header-only read fails only when the SRID field is cut off", wkb,
                    plain.error().text());
        } else {
            require(!full.ok() && full.error() == plain.error(),
                    "a full read fails with the reader's error", wkb);
        }
        return 0;
    }
    require(!plain->present || plain->srid > 0, "without include_unknown an SRID is positive", wkb);
    require(plain->srid == unknown->srid, "include_unknown reads the same value", wkb);
    require(unknown->present == (plain->present || (header_only && plain->srid <= 0 &&
                                                    (load(data + 1, data[0] == 1) & SRID_FLAG))),
            "include_unknown adds exactly the stored SRIDs of 0 or below", wkb);

    if (header_only) {
        const std::uint32_t word = load(data + 1, data[0] == 1);
        if ((word & SRID_FLAG) == 0) {
            require(!unknown->present, "no SRID flag, no SRID", wkb);
        } else {
            require(size >= 9, "a flagged header is long enough", wkb);
            const auto stored = static_cast<std::int32_t>(load(data + 5, data[0] == 1));
            require(unknown->present && unknown->srid == stored,
                    "the flagged header gives the stored SRID", wkb);
        }
    } else {
        require(full.ok(), "a full read succeeded", wkb);
        require(plain->present == full->srid_present && unknown->present == full->srid_present,
                "a full read reports only positive SRIDs", wkb);
        if (full->srid_present) require(plain->srid == full->srid, "the full read's SRID", wkb);
    }
    if (full.ok()) {
        require(plain->present == full->srid_present &&
                    (!full->srid_present || plain->srid == full->srid),
                "the header read agrees with the full read", wkb);
    }

    // What a rewrite writes reads back.
    for (const std::int32_t srid : {1, 4326, 2147483647}) {
        auto rewritten = quorvel::rewrite_header_srid(wkb, quorvel::SridPolicy::set(srid));
        if (!rewritten) continue;
        auto back = quorvel::read_header_srid(*rewritten, false);
        require(back.ok() && back->present && back->srid == srid, "a set SRID reads back", wkb,
                std::to_string(srid));
    }
    auto stripped = quorvel::rewrite_header_srid(wkb, quorvel::SridPolicy::strip());
    if (stripped) {
        auto back = quorvel::read_header_srid(*stripped, true);
        require(back.ok() && !back->present, "a stripped header reads as no SRID", wkb);
    }
    return 0;
}
