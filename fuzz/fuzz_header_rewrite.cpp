// Rewriting the SRID of the top-level EWKB header, under every kind of policy.
//
// Properties, per policy:
// - Mirror gives the input unchanged;
// - rewrite_header_srid and rewrite_header_srid_hex succeed or fail together, the hex
//   text being the uppercase hex of the bytes, or the same error;
// - plan_header_srid writes exactly the bytes rewrite_header_srid returns;
// - strip_header_srid and set_header_srid take the full rewrite exactly when the
//   header is not simple, and otherwise give the same bytes (Unchanged: the input);
// - on a simple header of an input that reads as a whole, the fast path and the full
//   round trip give the same geometry and SRID, whenever the round trip succeeds;
// - a header that is not simple gives the full round trip's result;
// - every error follows the message rules.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "fuzz_common.hpp"
#include "lib/header.hpp"
#include "lib/hex.hpp"
#include "lib/srid_policy.hpp"
#include "wkb_to_wkt/builder.hpp"

using quorvel::SridPolicy;
using quorvel_fuzz::check_error;
using quorvel_fuzz::fail;
using quorvel_fuzz::require;
using quorvel_fuzz::require_same_error;

namespace {

std::string policy_name(SridPolicy policy) {
    switch (policy.kind) {
        case SridPolicy::Kind::Mirror:
            return "mirror";
        case SridPolicy::Kind::Strip:
            return "strip";
        case SridPolicy::Kind::Set:
            break;
    }
    return "set " + std::to_string(policy.srid);
}

void check_policy(std::string_view wkb, SridPolicy policy, bool simple, bool valid) {
    const std::string name = policy_name(policy);
    auto binary = quorvel::rewrite_header_srid(wkb, policy);
    auto hex = quorvel::rewrite_header_srid_hex(wkb, policy);
    auto plan = quorvel::plan_header_srid(wkb, policy);
    if (binary.ok() != hex.ok() || binary.ok() != plan.ok()) {
        fail("binary, hex and plan rewrites succeed or fail together", wkb, name);
    }
    if (!binary) {
        // A failed round trip may fail in the parser: its messages point into the text
        // that the reader wrote, which then holds what the WKT grammar cannot read.
        if (binary.error().kind() == quorvel::ErrorKind::InvalidWkt) {
            auto text = quorvel::ewkb_to_wkt_and_srid(wkb);
            require(text.ok(), "a parser failure comes after a successful read", wkb, name);
            require(quorvel_fuzz::has_non_finite(text->wkt) ||
                        text->wkt.find("()") != std::string::npos,
                    "the round trip fails only on non-finite ordinates or empty rings", wkb,
                    name + ": " + text->wkt);
            check_error(binary.error(), wkb, text->wkt);
        } else {
            check_error(binary.error(), wkb);
        }
        require_same_error(binary.error(), hex.error(), "binary and hex fail the same way", wkb);
        require_same_error(binary.error(), plan.error(), "binary and plan fail the same way", wkb);
        require(!simple || policy.effective().is_mirror(), "the fast path never fails", wkb, name);
        return;
    }
    if (quorvel::encode_hex_upper(*binary) != *hex) {
        fail("the hex rewrite is the uppercase hex of the binary rewrite", wkb,
             name + ": " + quorvel::encode_hex_upper(*binary) + " | " + *hex);
    }
    std::string planned(plan->size(wkb), '\0');
    plan->write(planned.data(), wkb);
    if (planned != *binary) fail("the plan writes the rewrite's bytes", wkb, name);

    const SridPolicy effective = policy.effective();
    if (effective.is_mirror()) {
        require(*binary == wkb, "Mirror gives the input unchanged", wkb);
        return;
    }

    const quorvel::HeaderRewrite direct = effective.is_strip()
                                              ? quorvel::strip_header_srid(wkb)
                                              : quorvel::set_header_srid(wkb, effective.srid);
    require((direct.outcome == quorvel::HeaderOutcome::NeedsFullRewrite) == !simple,
            "the full rewrite is needed exactly for headers that are not simple", wkb, name);
    if (direct.outcome == quorvel::HeaderOutcome::Unchanged) {
        require(*binary == wkb, "Unchanged means the input bytes", wkb, name);
    } else if (direct.outcome == quorvel::HeaderOutcome::Rewritten) {
        require(direct.bytes == *binary, "Rewritten bytes are the rewrite's bytes", wkb, name);
    }

    const std::int32_t srid_or_zero = effective.is_set() ? effective.srid : 0;
    auto full = quorvel::full_rewrite(wkb, srid_or_zero);
    if (!simple) {
        // Headers that are not simple take exactly the round trip.
        require(full.ok() && *full == *binary, "a header that is not simple takes the round trip",
                wkb, name);
        auto full_hex = quorvel::full_rewrite_hex(wkb, srid_or_zero);
        require(full_hex.ok() && *full_hex == *hex, "the hex round trip gives the same digits", wkb,
                name);
        return;
    }

    // The fast path: only the header changes, and the SRID lands where it was asked.
    auto srid = quorvel::read_header_srid(*binary, true);
    require(srid.ok(), "the rewritten header reads", wkb, name);
    if (effective.is_strip()) {
        require(!srid->present, "a stripped header has no SRID", wkb, name);
    } else {
        require(srid->present && srid->srid == effective.srid, "a set header has the SRID", wkb,
                name);
    }
    if (!valid || !full) return;
    auto fast_text = quorvel::ewkb_to_ewkt(*binary);
    auto full_text = quorvel::ewkb_to_ewkt(*full);
    if (!fast_text || !full_text) {
        fail("both rewrites of a valid input read", wkb,
             name + ": " + (fast_text ? std::string("fast ok") : fast_text.error().text()) + " | " +
                 (full_text ? std::string("full ok") : full_text.error().text()));
    }
    if (*fast_text != *full_text) {
        fail("the fast path and the round trip give the same geometry", wkb,
             name + ": " + *fast_text + " | " + *full_text);
    }
    // The fast path changes only the SRID: without it the geometry reads as before.
    auto stripped_input = quorvel::ewkb_to_wkt_and_srid(wkb);
    auto stripped_fast = quorvel::ewkb_to_wkt_and_srid(*binary);
    require(stripped_input.ok() && stripped_fast.ok() && stripped_input->wkt == stripped_fast->wkt,
            "the fast path keeps the geometry", wkb, name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view wkb(reinterpret_cast<const char*>(data), size);
    const bool simple = quorvel::is_simple_header(wkb);
    // The fast path does not read the body, so geometries are compared only when the
    // input reads as a whole.
    const bool valid = quorvel::ewkb_to_ewkt(wkb).ok();

    // The stored SRID (as if the header had one), so that "set to what is there" is tried.
    std::int32_t stored = 1;
    if (size >= 9) {
        std::uint32_t raw = 0;
        const bool little = data[0] == 1;
        for (int i = 0; i < 4; ++i) {
            const std::uint8_t b = data[little ? 8 - i : 5 + i];
            raw = (raw << 8) | b;
        }
        stored = static_cast<std::int32_t>(raw);
    }

    const SridPolicy policies[] = {
        SridPolicy::mirror(),
        SridPolicy::strip(),
        SridPolicy::set(0),
        SridPolicy::set(-1),
        SridPolicy::set(std::numeric_limits<std::int32_t>::min()),
        SridPolicy::set(1),
        SridPolicy::set(4326),
        SridPolicy::set(std::numeric_limits<std::int32_t>::max()),
        SridPolicy::set(stored),
    };
    for (const SridPolicy policy : policies) check_policy(wkb, policy, simple, valid);
    return 0;
}
