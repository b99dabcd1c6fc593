#include "lib/header.hpp"

#include <cstring>
#include <optional>

#include "lib/geometry.hpp"
#include "lib/hex.hpp"
#include "wkb_to_wkt/builder.hpp"
#include "wkb_to_wkt/reader.hpp"
#include "wkt_to_wkb/tokenizer.hpp"
#include "wkt_to_wkb/writer.hpp"

namespace quorvel {

namespace {

constexpr std::size_t WKB_HEADER = 5;
constexpr std::size_t EWKB_HEADER = 9;

struct TopHeader {
    bool little;
    std::uint32_t type_word;
};

// The marker and type word, when there are 5 bytes and the marker is 0 or 1.
bool read_top_header(std::string_view b, TopHeader& h) noexcept {
    if (b.size() < WKB_HEADER) return false;
    const auto marker = static_cast<unsigned char>(b[0]);
    if (marker > 1) return false;
    h.little = marker == 1;
    h.type_word = load_u32(b.data() + 1, h.little);
    return true;
}

bool has_known_flags_only(std::uint32_t type_word) noexcept {
    return (type_word & UNKNOWN_FLAGS) == 0;
}

bool simple(std::string_view b, TopHeader& h) noexcept {
    if (!read_top_header(b, h) || !has_known_flags_only(h.type_word)) return false;
    const std::uint32_t code = h.type_word & 0xFFFFu;
    if (code < 1 || code > 3) return false;
    return (h.type_word & SRID_FLAG) == 0 || b.size() >= EWKB_HEADER;
}

// Header of marker and type word, body from `body_offset`.
HeaderPatch patch5(const TopHeader& h, std::uint32_t type_word, std::size_t body_offset) {
    HeaderPatch p;
    p.header[0] = h.little ? 1 : 0;
    store_u32(p.header + 1, type_word, h.little);
    p.header_length = WKB_HEADER;
    p.body_offset = body_offset;
    return p;
}

HeaderPatch patch9(const TopHeader& h, std::uint32_t type_word, std::int32_t srid,
                   std::size_t body_offset) {
    HeaderPatch p = patch5(h, type_word, body_offset);
    store_u32(p.header + 5, static_cast<std::uint32_t>(srid), h.little);
    p.header_length = EWKB_HEADER;
    return p;
}

// The fast-path plan, or nothing when the header is not simple.
std::optional<HeaderPatch> plan_fast(std::string_view b, SridPolicy policy) {
    TopHeader h{};
    if (!simple(b, h)) return std::nullopt;
    const bool flagged = (h.type_word & SRID_FLAG) != 0;
    if (policy.is_strip()) {
        if (!flagged) return HeaderPatch{};
        return patch5(h, h.type_word & 0xC000FFFFu, EWKB_HEADER);
    }
    if (flagged) {
        const auto stored = static_cast<std::int32_t>(load_u32(b.data() + 5, h.little));
        if (stored == policy.srid) return HeaderPatch{};
        return patch9(h, h.type_word, policy.srid, EWKB_HEADER);
    }
    return patch9(h, h.type_word | SRID_FLAG, policy.srid, WKB_HEADER);
}

HeaderRewrite to_rewrite(std::string_view b, const std::optional<HeaderPatch>& plan) {
    if (!plan) return {HeaderOutcome::NeedsFullRewrite, {}};
    if (plan->header_length == 0) return {HeaderOutcome::Unchanged, {}};
    std::string out(plan->size(b), '\0');
    plan->write(out.data(), b);
    return {HeaderOutcome::Rewritten, std::move(out)};
}

template <bool Hex>
Result<std::string> round_trip(std::string_view b, std::int32_t srid_or_zero) {
    auto text = ewkb_to_wkt_and_srid(b);
    if (!text) return std::move(text).error();
    const std::string& wkt = text->wkt;
    WktTokenizer tokenizer(wkt);
    auto prefix = tokenizer.parse_srid_prefix();
    if (!prefix) return std::move(prefix).error();
    const bool embed = srid_or_zero > 0 || (!Hex && prefix->present);
    const std::int32_t srid = srid_or_zero > 0 ? srid_or_zero : prefix->srid;
    if constexpr (Hex) {
        return write_ewkb_hex(tokenizer, wkt.size(), embed, srid);
    } else {
        return write_ewkb(tokenizer, wkt.size(), embed, srid);
    }
}

}  // namespace

bool is_simple_header(std::string_view bytes) noexcept {
    TopHeader h{};
    return simple(bytes, h);
}

std::size_t HeaderPatch::size(std::string_view input) const noexcept {
    if (owned) return bytes.size();
    return header_length + (input.size() - body_offset);
}

void HeaderPatch::write(char* out, std::string_view input) const noexcept {
    if (owned) {
        std::memcpy(out, bytes.data(), bytes.size());
        return;
    }
    std::memcpy(out, header, header_length);
    // An empty input may have no storage at all: copy only a body that exists.
    if (input.size() > body_offset) {
        std::memcpy(out + header_length, input.data() + body_offset, input.size() - body_offset);
    }
}

HeaderRewrite strip_header_srid(std::string_view bytes) {
    return to_rewrite(bytes, plan_fast(bytes, SridPolicy::strip()));
}

HeaderRewrite set_header_srid(std::string_view bytes, std::int32_t srid) {
    return to_rewrite(bytes, plan_fast(bytes, SridPolicy::set(srid)));
}

Result<std::string> full_rewrite(std::string_view bytes, std::int32_t srid_or_zero) {
    return round_trip<false>(bytes, srid_or_zero);
}

Result<std::string> full_rewrite_hex(std::string_view bytes, std::int32_t srid_or_zero) {
    return round_trip<true>(bytes, srid_or_zero);
}

Result<HeaderPatch> plan_header_srid(std::string_view bytes, SridPolicy policy) {
    policy = policy.effective();
    if (policy.is_mirror()) return HeaderPatch{};
    if (auto plan = plan_fast(bytes, policy)) return std::move(*plan);
    auto owned = full_rewrite(bytes, policy.is_set() ? policy.srid : 0);
    if (!owned) return std::move(owned).error();
    HeaderPatch p;
    p.owned = true;
    p.bytes = std::move(*owned);
    return p;
}

Result<std::string> rewrite_header_srid(std::string_view bytes, SridPolicy policy) {
    auto plan = plan_header_srid(bytes, policy);
    if (!plan) return std::move(plan).error();
    if (plan->owned) return std::move(plan->bytes);
    std::string out(plan->size(bytes), '\0');
    plan->write(out.data(), bytes);
    return out;
}

Result<std::string> rewrite_header_srid_hex(std::string_view bytes, SridPolicy policy) {
    policy = policy.effective();
    if (policy.is_mirror()) return encode_hex_upper(bytes);
    auto plan = plan_fast(bytes, policy);
    if (!plan) return full_rewrite_hex(bytes, policy.is_set() ? policy.srid : 0);
    const std::size_t body = bytes.size() - plan->body_offset;
    std::string out((plan->header_length + body) * 2, '\0');
    encode_hex_upper_into(out.data(), std::string_view(plan->header, plan->header_length));
    encode_hex_upper_into(out.data() + plan->header_length * 2, bytes.substr(plan->body_offset));
    return out;
}

Result<HeaderSrid> read_header_srid(std::string_view bytes, bool include_unknown) {
    TopHeader h{};
    if (read_top_header(bytes, h) && has_known_flags_only(h.type_word)) {
        if ((h.type_word & SRID_FLAG) == 0) return HeaderSrid{false, 0};
        if (bytes.size() < EWKB_HEADER) {
            return ConversionError::invalid_wkb(
                "EWKB header has SRID flag but is too short to contain the SRID field");
        }
        const auto srid = static_cast<std::int32_t>(load_u32(bytes.data() + 5, h.little));
        return HeaderSrid{srid > 0 || include_unknown, srid};
    }
    auto full = ewkb_to_wkt_and_srid(bytes);
    if (!full) return std::move(full).error();
    return HeaderSrid{full->srid_present, full->srid};
}

}  // namespace quorvel
