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
    // read_number's common case for n numbers in a row (the ordinates of a point,
    // say): reads numbers into values while they are finite, at most n, and returns
    // how many.  The position is left at the first number not read (read_number then
    // tells why).
    int read_finite_numbers(double* values, int n) noexcept;
    // The common case of a coordinate list, many tuples in one call: up to
    // max_tuples tuples of n finite numbers (1 <= n <= 4), each as read_number reads
    // them and each tuple followed by ',' or, the last one, by ')', as
    // expect_comma_or_close reads them.  The numbers go to values, n per tuple.
    // Returns how many tuples were read with their separators; `closed` tells whether
    // the last one was ')'.  Stops before a tuple that is anything else (a number that
    // is not finite, another separator, ...), with the position at its start, for
    // read_number and expect_comma_or_close to read it and say what is wrong.
    int read_coordinate_run(double* values, int n, int max_tuples, bool& closed) noexcept;
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
