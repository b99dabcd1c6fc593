#include "lib/steps.hpp"

#include <charconv>
#include <cstdint>

#include "lib/text.hpp"
#include "wkb_to_wkt/builder.hpp"
#include "wkt_to_wkb/tokenizer.hpp"
#include "wkt_to_wkb/writer.hpp"

namespace quorvel {

Status wkb_to_wkt_step(std::string_view wkb, SridPolicy policy, OutputBuffer& out) {
    policy = policy.effective();
    switch (policy.kind) {
        case SridPolicy::Kind::Mirror:
            return ewkb_to_ewkt(wkb, out);
        case SridPolicy::Kind::Strip: {
            auto r = ewkb_to_wkt_and_srid(wkb, out);
            if (!r) return std::move(r).error();
            return ok_status();
        }
        case SridPolicy::Kind::Set:
            break;
    }
    return ewkb_to_wkt_with_srid(wkb, policy.srid, out);
}

namespace {

template <bool Hex>
Status wkt_to_ewkb(std::string_view wkt, SridPolicy policy, OutputBuffer& out) {
    policy = policy.effective();
    if constexpr (!Hex) {
        if (policy.is_strip()) {
            auto r = write_ewkb_split_srid(wkt, out);
            if (!r) return std::move(r).error();
            return ok_status();
        }
    }
    WktTokenizer tokenizer(wkt);
    auto prefix = tokenizer.parse_srid_prefix();
    if (!prefix) return std::move(prefix).error();
    bool embed = false;
    std::int32_t srid = 0;
    if (policy.is_mirror()) {
        embed = prefix->present;
        srid = prefix->srid;
    } else if (policy.is_set()) {
        embed = true;
        srid = policy.srid;
    }
    if constexpr (Hex) {
        return write_ewkb_hex(tokenizer, wkt.size(), embed, srid, out);
    } else {
        return write_ewkb(tokenizer, wkt.size(), embed, srid, out);
    }
}

bool is_ascii_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}

// V, with whitespace removed at both ends, is a signed 32-bit decimal of value <= 0.
bool is_unknown_srid_value(std::string_view value) noexcept {
    value = trim_whitespace(value);
    if (value.empty()) return false;
    std::size_t i = (value[0] == '+' || value[0] == '-') ? 1 : 0;
    if (i == value.size()) return false;
    for (std::size_t j = i; j < value.size(); ++j) {
        if (!is_ascii_digit(value[j])) return false;
    }
    const bool negative = value[0] == '-';
    // Leading zeros are allowed; the magnitude must fit.
    while (i + 1 < value.size() && value[i] == '0') ++i;
    std::uint64_t magnitude = 0;
    if (value.size() - i > 10) return false;
    for (std::size_t j = i; j < value.size(); ++j) {
        magnitude = magnitude * 10 + static_cast<std::uint64_t>(value[j] - '0');
    }
    if (negative) return magnitude <= 2147483648u;
    return magnitude == 0;
}

char ascii_lower(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c | 0x20) : c;
}

void append_srid_prefix(std::string& out, std::int32_t srid) {
    char digits[16];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, srid);
    (void)ec;
    out += "SRID=";
    out.append(digits, end);
    out += ';';
}

}  // namespace

Status wkt_to_ewkb_step(std::string_view wkt, SridPolicy policy, OutputBuffer& out) {
    return wkt_to_ewkb<false>(wkt, policy, out);
}

Status wkt_to_ewkb_hex_step(std::string_view wkt, SridPolicy policy, OutputBuffer& out) {
    return wkt_to_ewkb<true>(wkt, policy, out);
}

Status normalize_wkt_step(std::string_view wkt, SridPolicy policy, OutputBuffer& out) {
    OutputBuffer ewkb;
    QUORVEL_TRY(wkt_to_ewkb_step(wkt, policy, ewkb));
    return ewkb_to_ewkt(ewkb.view(), out);
}

std::string wkt_fast_path(std::string_view text, SridPolicy policy) {
    policy = policy.effective();
    // An SRID prefix: "srid=" in any case, then a ';' somewhere after it.
    bool has_prefix = false;
    std::string_view value;
    std::string_view rest;
    if (text.size() >= 5) {
        constexpr std::string_view SRID_EQ = "srid=";
        bool match = true;
        for (std::size_t i = 0; i < 5; ++i) match = match && ascii_lower(text[i]) == SRID_EQ[i];
        const std::size_t semi = match ? text.find(';', 5) : std::string_view::npos;
        if (semi != std::string_view::npos) {
            has_prefix = true;
            value = text.substr(5, semi - 5);
            rest = trim_whitespace(text.substr(semi + 1));
        }
    }
    switch (policy.kind) {
        case SridPolicy::Kind::Strip:
            return std::string(has_prefix ? rest : text);
        case SridPolicy::Kind::Set: {
            std::string out;
            const std::string_view body = has_prefix ? rest : text;
            out.reserve(body.size() + 16);
            append_srid_prefix(out, policy.srid);
            out += body;
            return out;
        }
        case SridPolicy::Kind::Mirror:
            break;
    }
    if (has_prefix && is_unknown_srid_value(value)) return std::string(rest);
    return std::string(text);
}

}  // namespace quorvel
