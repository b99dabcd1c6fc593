// Helpers shared by the fuzz targets: a property failure aborts with a message that
// names the property and shows the input, and every ConversionError is checked
// against the message rules.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "lib/error.hpp"
#include "lib/hex.hpp"
#include "wkb_to_wkt/builder.hpp"

namespace quorvel_fuzz {

// Shows at most the first 256 bytes of the input as hex, for the abort message.
inline std::string shown(std::string_view bytes) {
    constexpr std::size_t limit = 256;
    std::string out = quorvel::encode_hex_upper(bytes.substr(0, limit));
    if (bytes.size() > limit) out += "...";
    return out;
}

[[noreturn]] inline void fail(std::string_view property, std::string_view input,
                              std::string_view detail = {}) {
    std::fprintf(stderr, "\nPROPERTY FAILED: %.*s\n  input (%zu bytes, hex): %s\n",
                 static_cast<int>(property.size()), property.data(), input.size(),
                 shown(input).c_str());
    if (!detail.empty()) {
        std::fprintf(stderr, "  detail: %.*s\n", static_cast<int>(detail.size()), detail.data());
    }
    std::fflush(stderr);
    std::abort();
}

inline void require(bool condition, std::string_view property, std::string_view input,
                    std::string_view detail = {}) {
    if (!condition) fail(property, input, detail);
}

// Messages that start with a capitalised name by design: the display name of the
// geometry kind that holds the faulty member ("GeometryCollection XYZ member has
// incompatible dimension XY", "MultiPoint child has incompatible dimension XYZ; ...")
// or the header word "EWKB" ("EWKB header has SRID flag but is too short ...").  Only
// the kinds that have members can start a message; nothing else may start with an
// upper-case letter.
inline constexpr std::string_view CAPITALISED_STARTS[] = {
    "GeometryCollection ", "MultiPoint ", "MultiLineString ", "MultiPolygon ", "EWKB ",
};

// Messages that end with an excerpt of the WKT text, after the given separator.  Such
// a message may end with whatever the text holds there, a full stop included, but
// only when the excerpt really is the text at the position the message names.
struct ExcerptForm {
    std::string_view lead;       // the message starts with this, then the position
    std::string_view separator;  // then this, then the excerpt
};
inline constexpr ExcerptForm EXCERPT_FORMS[] = {
    {"expected number at position ", ", got "},
    {"expected 'EMPTY' or '(' at position ", ", got "},
    {"unknown geometry type at position ", ": "},
    {"unexpected trailing content at position ", ": "},
};

inline bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (const char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

inline bool starts_with(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// True when the message is one of the excerpt forms whose excerpt stands in wkt at the
// named position.  wkt is empty when the conversion had no WKT input.
inline bool excerpt_matches(std::string_view message, std::string_view wkt) {
    for (const ExcerptForm& form : EXCERPT_FORMS) {
        if (!starts_with(message, form.lead)) continue;
        std::string_view rest = message.substr(form.lead.size());
        std::size_t digits = 0;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
        if (digits == 0 || digits > 19) return false;
        const std::size_t pos = std::stoull(std::string(rest.substr(0, digits)));
        rest = rest.substr(digits);
        if (!starts_with(rest, form.separator)) return false;
        const std::string_view excerpt = rest.substr(form.separator.size());
        return pos <= wkt.size() && starts_with(wkt.substr(pos), excerpt);
    }
    return false;
}

// The message rules: a known prefix, a message that starts with a lower-case letter
// (or one of the capitalised names above), no trailing full stop, and a text form
// that is exactly the prefix followed by the message.
inline void check_error(const quorvel::ConversionError& error, std::string_view input,
                        std::string_view wkt = {}) {
    const std::string text = error.text();
    if (error.kind() == quorvel::ErrorKind::UnsupportedGeometryType) {
        constexpr std::string_view prefix = "unsupported geometry type code: ";
        require(
            starts_with(text, prefix) && all_digits(std::string_view(text).substr(prefix.size())),
            "unsupported type text is the prefix and decimal digits", input, text);
        require(text == std::string(prefix) + std::to_string(error.code()),
                "unsupported type text carries its code", input, text);
        require(error.message().empty(), "unsupported type error carries no message", input, text);
        return;
    }
    const std::string_view prefix = error.kind() == quorvel::ErrorKind::InvalidWkt
                                        ? std::string_view("invalid WKT: ")
                                        : std::string_view("invalid WKB: ");
    const std::string& message = error.message();
    require(text == std::string(prefix) + message, "error text is its prefix and message", input,
            text);
    require(!message.empty(), "error message is not empty", input, text);
    require(!starts_with(message, "invalid WKT: ") && !starts_with(message, "invalid WKB: ") &&
                !starts_with(message, "unsupported geometry type"),
            "error message carries no prefix of its own", input, text);
    const char first = message[0];
    bool allowed_start = first >= 'a' && first <= 'z';
    for (const std::string_view name : CAPITALISED_STARTS) {
        allowed_start = allowed_start || starts_with(message, name);
    }
    require(allowed_start, "error message starts with a lower-case letter", input, text);
    if (message.back() == '.') {
        require(error.kind() == quorvel::ErrorKind::InvalidWkt && excerpt_matches(message, wkt),
                "error message has no trailing full stop", input, text);
    }
}

// Both failed with the same error, or both succeeded.
inline void require_same_error(const quorvel::ConversionError& a, const quorvel::ConversionError& b,
                               std::string_view property, std::string_view input) {
    if (!(a == b)) fail(property, input, a.text() + " | " + b.text());
}

// The text holds a non-finite ordinate: the builder writes "NaN", "inf" and "-inf".
inline bool has_non_finite(std::string_view wkt) {
    return wkt.find("NaN") != std::string_view::npos || wkt.find("inf") != std::string_view::npos;
}

// The double that text reads as (strtod; this process keeps the "C" locale).
inline double read_back(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

// The shortest-digit property of the ordinate text of a finite, non-zero v: the text
// reads back as v, bit for bit, and neither decimal of one digit fewer does (the
// significant digits cut by one, and that plus one unit in the new last place).
inline void check_shortest_text(double v, std::string_view input) {
    if (!std::isfinite(v) || v == 0) return;
    std::string text;
    quorvel::format_ordinate(text, v);
    if (std::bit_cast<std::uint64_t>(read_back(text)) != std::bit_cast<std::uint64_t>(v)) {
        fail("ordinate text reads back as the same double", input, text);
    }
    // The significant digits and the power of ten of their last one.
    std::string digits;
    int point = -1;  // digits before the point
    for (const char c : text) {
        if (c == '.') {
            point = static_cast<int>(digits.size());
        } else if (c >= '0' && c <= '9') {
            digits.push_back(c);
        }
    }
    if (point < 0) point = static_cast<int>(digits.size());
    const std::size_t first = digits.find_first_not_of('0');
    std::size_t last = digits.find_last_not_of('0');
    const int exponent = point - static_cast<int>(last) - 1;  // of the last nonzero digit
    std::string significant = digits.substr(first, last - first + 1);
    if (significant.size() < 2) return;
    significant.pop_back();
    const std::string sign = v < 0 ? "-" : "";
    std::string up = significant;  // plus one unit in the last place
    std::size_t i = up.size();
    while (i > 0 && up[i - 1] == '9') up[--i] = '0';
    if (i == 0) {
        up.insert(up.begin(), '1');
    } else {
        ++up[i - 1];
    }
    for (const std::string& shorter : {significant, up}) {
        const std::string candidate = sign + shorter + "e" + std::to_string(exponent + 1);
        if (read_back(candidate) == v)
            fail("no decimal one digit shorter reads back", input, text + " | " + candidate);
    }
}

}  // namespace quorvel_fuzz
