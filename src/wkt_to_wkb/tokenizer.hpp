// WKT/EWKT tokenizer: a cursor over the text with one operation per token class.
// Each operation skips whitespace first, then consumes its token or fails with an
// InvalidWkt error naming the byte position and what stands there.
//
// Positions are byte offsets into the text; excerpts in messages count characters.
// The text is borrowed and never copied; message text is built only on failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "lib/error.hpp"
#include "lib/geometry.hpp"
#include "wkt_to_wkb/number.hpp"

namespace quorvel {

struct SridPrefix {
    bool present = false;   // a prefix was read and its value is > 0
    std::int32_t srid = 0;  // the value read
};

enum class MemberStart : std::uint8_t { Empty, Open, Bare };

struct GeometryTag {
    GeometryKind kind;
    Dimension dimension;
};

class WktTokenizer {
public:
    explicit WktTokenizer(std::string_view text) noexcept : text_(text) {}

    std::string_view text() const noexcept { return text_; }
    std::size_t position() const noexcept { return pos_; }

    void skip_whitespace() noexcept;
    Result<SridPrefix> parse_srid_prefix();
    Result<GeometryTag> read_geometry_header();
    Result<MemberStart> expect_empty_or_open();  // Empty or Open
    Result<MemberStart> read_member_start();     // Empty, Open or Bare
    Status expect_open();
    Status expect_close();
    Result<bool> expect_comma_or_close();  // true after ',', false after ')'
    Result<double> read_number();
    // read_number's common case inline: true with the value of a finite number, or
    // false with the position left where it was (read_number then tells why).
    bool read_finite_number(double& value) noexcept;
    Status expect_end();

    // True when the text at the position is the upper-case ASCII keyword under ASCII
    // case folding and the character after it is the end or not alphabetic.
    bool match_keyword(std::string_view keyword) const noexcept;

    // How an error message shows the character at pos: "None" at the end of the
    // text, otherwise "Some('c')" with c debug-escaped.
    std::string display_char_at(std::size_t pos) const;

    // The first max_chars characters of the text from pos (fewer at the end).
    std::string_view excerpt_at(std::size_t pos, std::size_t max_chars) const noexcept;

private:
    static constexpr bool is_ascii_space(unsigned char b) noexcept {
        return b == 0x20 || b == 0x09 || b == 0x0A || b == 0x0C || b == 0x0D;
    }

    void skip_unicode_run() noexcept;
    bool alphabetic_at(std::size_t pos) const noexcept;
    Result<MemberStart> member_start(bool allow_bare);
    ConversionError punctuation_error(std::string_view expected) const;

    std::string_view text_;
    std::size_t pos_ = 0;
};

// The ASCII fast path inline: only a non-ASCII byte starts the Unicode scan.
inline void WktTokenizer::skip_whitespace() noexcept {
    const std::size_t size = text_.size();
    while (pos_ < size) {
        const auto b = static_cast<unsigned char>(text_[pos_]);
        if (is_ascii_space(b)) {
            ++pos_;
            continue;
        }
        if (b >= 0x80) skip_unicode_run();
        return;
    }
}

inline bool WktTokenizer::read_finite_number(double& value) noexcept {
    skip_whitespace();
    const std::size_t start = pos_;
    const NumberToken number = read_number_token(text_.data() + pos_, text_.data() + text_.size());
    if (number.form != NumberForm::Finite) {
        pos_ = start;
        return false;
    }
    pos_ = static_cast<std::size_t>(number.end - text_.data());
    value = number.value;
    return true;
}

inline Status WktTokenizer::expect_open() {
    skip_whitespace();
    if (pos_ < text_.size() && text_[pos_] == '(') {
        ++pos_;
        return ok_status();
    }
    return punctuation_error("'('");
}

inline Status WktTokenizer::expect_close() {
    skip_whitespace();
    if (pos_ < text_.size() && text_[pos_] == ')') {
        ++pos_;
        return ok_status();
    }
    return punctuation_error("')'");
}

inline Result<bool> WktTokenizer::expect_comma_or_close() {
    skip_whitespace();
    if (pos_ < text_.size()) {
        const char c = text_[pos_];
        if (c == ',' || c == ')') {
            ++pos_;
            return c == ',';
        }
    }
    return punctuation_error("',' or ')'");
}

}  // namespace quorvel
