#include "wkt_to_wkb/tokenizer.hpp"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <system_error>

#include "lib/text.hpp"
#include "wkt_to_wkb/number.hpp"
#include "wkt_to_wkb/unicode_tables.hpp"

namespace quorvel {

namespace {

using number_detail::is_number_byte;

constexpr bool is_digit(char c) noexcept {
    return c >= '0' && c <= '9';
}
constexpr bool is_ascii_letter(unsigned char b) noexcept {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
}
constexpr char ascii_upper(char c) noexcept {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
}

// Byte length of the UTF-8 sequence that starts with b, by its lead byte.  Stray
// continuation bytes count as one so that every walk makes progress.
constexpr std::size_t utf8_length(unsigned char b) noexcept {
    if (b < 0xC0) return 1;
    if (b < 0xE0) return 2;
    if (b < 0xF0) return 3;
    return 4;
}

// The code point at p (p < end) and its byte length, never reading past end.
char32_t decode_at(const char* p, const char* end, std::size_t& length) noexcept {
    const auto b0 = static_cast<unsigned char>(*p);
    std::size_t n = utf8_length(b0);
    if (static_cast<std::size_t>(end - p) < n) n = static_cast<std::size_t>(end - p);
    length = n;
    if (n == 1) return b0;
    char32_t c = b0 & (0x7F >> n);
    for (std::size_t i = 1; i < n; ++i) {
        c = (c << 6) | (static_cast<unsigned char>(p[i]) & 0x3F);
    }
    return c;
}

ConversionError wkt_error(std::string message) {
    return ConversionError::invalid_wkt(std::move(message));
}

std::string position_text(std::size_t pos) {
    return std::to_string(pos);
}

void append_hex_escape(std::string& out, char32_t c) {
    char digits[8];
    auto [end, ec] = std::to_chars(digits, digits + sizeof digits, static_cast<unsigned>(c), 16);
    (void)ec;
    out += "\\u{";
    out.append(digits, end);
    out += '}';
}

// Where a byte beyond ASCII starts a run of whitespace at p: the end of the run
// (any White_Space, ASCII too); otherwise p.
const char* skip_unicode_white_space(const char* p, const char* end) noexcept {
    if (p == end || static_cast<unsigned char>(*p) < 0x80) return p;
    while (p < end) {
        const std::size_t n = white_space_at(p, end);
        if (n == 0) break;
        p += n;
    }
    return p;
}

// Whether p holds one space before a printable ASCII byte: the separator of nearly
// every number, skipped with this one test before any loop over whitespace.
QUORVEL_ALWAYS_INLINE bool single_space_at(const char* p, const char* end) noexcept {
    return end - p >= 2 && p[0] == ' ' && static_cast<unsigned char>(p[1] - 0x21) < 0x5E;
}

}  // namespace

void WktTokenizer::skip_unicode_run() noexcept {
    const char* const data = text_.data();
    pos_ = static_cast<std::size_t>(skip_unicode_white_space(data + pos_, data + text_.size()) -
                                    data);
}

// The position in a local for all n; whitespace other than ASCII goes through
// skip_unicode_run.
int WktTokenizer::read_finite_numbers(double* values, int n) noexcept {
    const char* const data = text_.data();
    const char* const end = data + text_.size();
    const char* p = data + pos_;
    double* out = values;
    double* const out_end = values + n;
    while (out != out_end) {
        // One space, the separator of nearly every number, is passed over first;
        // other whitespace makes the read fail and is skipped below.  With more than
        // thirty-two bytes left, thirty-two remain after the space and the token is
        // read without another test of the length.  The space is a branch, which the
        // processor guesses: as an addition (p += *p == ' ') it would make where the
        // next token starts wait for the load of *p.
        const char* token_end;
        if (end - p > 32) [[likely]] {
            if (*p == ' ') ++p;
            token_end = read_long_text_number<32>(p, end, *out);
        } else {
            if (p < end && *p == ' ') ++p;
            token_end = read_finite_number(p, end, *out);
        }
        if (token_end == nullptr) [[unlikely]] {
            // No number here: whitespace is skipped and the token read again,
            // anything else is left to the caller.
            pos_ = static_cast<std::size_t>(p - data);
            skip_whitespace();
            if (data + pos_ == p) break;
            p = data + pos_;
            continue;
        }
        p = token_end;
        ++out;
    }
    pos_ = static_cast<std::size_t>(p - data);
    return static_cast<int>(out - values);
}

int WktTokenizer::read_coordinate_run(double* values, int n, int max_tuples,
                                      bool& closed) noexcept {
    const char* const data = text_.data();
    const char* const end = data + text_.size();
    // Whitespace as skip_whitespace skips it: first the separator of nearly every
    // coordinate, one space before a printable ASCII byte; otherwise a loop over the
    // ASCII spaces, then, where a byte beyond ASCII follows, the rest of the run.  The
    // single space first saves clang's build a tenth of its time on lon/lat polygons
    // (C++, 2,000 of 100 vertices: 22.6 -> 20.2 ns per coordinate, the best of ten
    // processes each) and leaves g++'s as it was (20.9 -> 20.8, the same instruction
    // count).  An earlier measurement of such a test had g++'s build read tokens of 16
    // or more bytes twice as slowly; in ten alternating processes pinned to one
    // processor that did not come back.
    const auto skip = [end](const char* p) noexcept {
        if (single_space_at(p, end)) return p + 1;
        for (;;) {
            while (p < end && is_ascii_space(static_cast<unsigned char>(*p))) ++p;
            if (p == end || static_cast<unsigned char>(*p) < 0x80) [[likely]] {
                return p;
            }
            const std::size_t length = white_space_at(p, end);
            if (length == 0) return p;
            p += length;
        }
    };
    const char* p = data + pos_;
    int tuples = 0;
    closed = false;
    for (double* out = values; tuples < max_tuples; out += n) {
        const char* const tuple = p;
        int i = 0;
        for (; i < n; ++i) {
            p = skip(p);
            const char* const token_end = read_finite_number(p, end, out[i]);
            if (token_end == nullptr) [[unlikely]] {
                break;
            }
            p = token_end;
        }
        if (i == n) [[likely]] {
            p = skip(p);
            if (p < end && (*p == ',' || *p == ')')) [[likely]] {
                ++tuples;
                closed = *p++ == ')';
                if (closed) break;
                continue;
            }
        }
        p = tuple;
        break;
    }
    pos_ = static_cast<std::size_t>(p - data);
    return tuples;
}

bool WktTokenizer::alphabetic_at(std::size_t pos) const noexcept {
    if (pos >= text_.size()) return false;
    const auto b = static_cast<unsigned char>(text_[pos]);
    if (b < 0x80) return is_ascii_letter(b);
    std::size_t length = 0;
    return unicode::is_alphabetic(
        decode_at(text_.data() + pos, text_.data() + text_.size(), length));
}

bool WktTokenizer::match_keyword(std::string_view keyword) const noexcept {
    if (text_.size() - pos_ < keyword.size()) return false;
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        if (ascii_upper(text_[pos_ + i]) != keyword[i]) return false;
    }
    return !alphabetic_at(pos_ + keyword.size());
}

std::string_view WktTokenizer::excerpt_at(std::size_t pos, std::size_t max_chars) const noexcept {
    if (pos >= text_.size()) return {};
    std::size_t end = pos;
    for (std::size_t chars = 0; chars < max_chars && end < text_.size(); ++chars) {
        end += utf8_length(static_cast<unsigned char>(text_[end]));
    }
    if (end > text_.size()) end = text_.size();
    return text_.substr(pos, end - pos);
}

std::string WktTokenizer::display_char_at(std::size_t pos) const {
    if (pos >= text_.size()) return "None";
    std::size_t length = 0;
    const char32_t c = decode_at(text_.data() + pos, text_.data() + text_.size(), length);
    std::string out = "Some('";
    switch (c) {
        case U'\0':
            out += "\\0";
            break;
        case U'\t':
            out += "\\t";
            break;
        case U'\r':
            out += "\\r";
            break;
        case U'\n':
            out += "\\n";
            break;
        case U'\'':
            out += "\\'";
            break;
        case U'\\':
            out += "\\\\";
            break;
        default:
            if (unicode::is_grapheme_extend(c) || unicode::is_not_printable(c)) {
                append_hex_escape(out, c);
            } else {
                out.append(text_.substr(pos, length));
            }
    }
    out += "')";
    return out;
}

ConversionError WktTokenizer::punctuation_error(std::string_view expected) const {
    std::string message = "expected ";
    message += expected;
    message += " at position ";
    message += position_text(pos_);
    message += ", got ";
    message += display_char_at(pos_);
    return wkt_error(std::move(message));
}

Result<SridPrefix> WktTokenizer::parse_srid_prefix() {
    skip_whitespace();
    const std::size_t p = pos_;
    if (text_.size() - p < 5 ||
        !(ascii_upper(text_[p]) == 'S' && ascii_upper(text_[p + 1]) == 'R' &&
          ascii_upper(text_[p + 2]) == 'I' && ascii_upper(text_[p + 3]) == 'D' &&
          text_[p + 4] == '=')) {
        return SridPrefix{};
    }
    std::size_t q = p + 5;
    const bool negative = q < text_.size() && text_[q] == '-';
    if (negative) ++q;
    const std::size_t digits_start = q;
    // Magnitude, saturated just past the largest one that fits.
    constexpr std::int64_t limit = std::int64_t{1} << 31;
    std::int64_t magnitude = 0;
    while (q < text_.size() && is_digit(text_[q])) {
        magnitude = magnitude * 10 + (text_[q] - '0');
        if (magnitude > limit) magnitude = limit + 1;
        ++q;
    }
    if (q == digits_start) {
        return wkt_error("expected integer at position " + position_text(digits_start));
    }
    const std::int64_t value = negative ? -magnitude : magnitude;
    if (value < -limit || value > limit - 1) {
        std::string message = "integer out of i32 range: ";
        message += text_.substr(p + 5, q - (p + 5));
        return wkt_error(std::move(message));
    }
    pos_ = q;
    skip_whitespace();
    if (pos_ >= text_.size() || text_[pos_] != ';') {
        return wkt_error("expected ';' after SRID value");
    }
    ++pos_;
    return SridPrefix{value > 0, static_cast<std::int32_t>(value)};
}

Result<GeometryTag> WktTokenizer::read_geometry_header() {
    skip_whitespace();
    const std::size_t p = pos_;
    GeometryKind kind{};
    std::size_t length = 0;
    const char first = p < text_.size() ? ascii_upper(text_[p]) : '\0';
    auto try_keyword = [&](std::string_view keyword, GeometryKind k) {
        if (length != 0 || !match_keyword(keyword)) return;
        kind = k;
        length = keyword.size();
    };
    switch (first) {
        case 'G':
            try_keyword("GEOMETRYCOLLECTION", GeometryKind::GeometryCollection);
            break;
        case 'L':
            try_keyword("LINESTRING", GeometryKind::LineString);
            break;
        case 'M':
            try_keyword("MULTILINESTRING", GeometryKind::MultiLineString);
            try_keyword("MULTIPOLYGON", GeometryKind::MultiPolygon);
            try_keyword("MULTIPOINT", GeometryKind::MultiPoint);
            break;
        case 'P':
            try_keyword("POLYGON", GeometryKind::Polygon);
            try_keyword("POINT", GeometryKind::Point);
            break;
        default:
            break;
    }
    if (length == 0) {
        std::string message = "unknown geometry type at position ";
        message += position_text(p);
        message += ": ";
        message += excerpt_at(p, 20);
        return wkt_error(std::move(message));
    }

    // A tag is looked for only when ASCII whitespace separates it from the keyword.
    const std::size_t k = p + length;
    pos_ = k;
    Dimension dimension = Dimension::XY;
    if (k < text_.size() && is_ascii_space(static_cast<unsigned char>(text_[k]))) {
        skip_whitespace();
        if (match_keyword("ZM")) {
            dimension = Dimension::XYZM;
            pos_ += 2;
        } else if (match_keyword("Z")) {
            dimension = Dimension::XYZ;
            pos_ += 1;
        } else if (match_keyword("M")) {
            dimension = Dimension::XYM;
            pos_ += 1;
        } else {
            pos_ = k;
        }
    }
    return GeometryTag{kind, dimension};
}

Result<MemberStart> WktTokenizer::member_start(bool allow_bare) {
    skip_whitespace();
    const std::size_t p = pos_;
    if (text_.size() - p >= 5 && ascii_upper(text_[p]) == 'E' && ascii_upper(text_[p + 1]) == 'M' &&
        ascii_upper(text_[p + 2]) == 'P' && ascii_upper(text_[p + 3]) == 'T' &&
        ascii_upper(text_[p + 4]) == 'Y') {
        if (alphabetic_at(p + 5)) {
            return wkt_error("expected delimiter after EMPTY at position " + position_text(p + 5));
        }
        pos_ = p + 5;
        return MemberStart::Empty;
    }
    if (p < text_.size() && text_[p] == '(') {
        ++pos_;
        return MemberStart::Open;
    }
    if (allow_bare) return MemberStart::Bare;
    std::string message = "expected 'EMPTY' or '(' at position ";
    message += position_text(p);
    message += ", got ";
    message += excerpt_at(p, 10);
    return wkt_error(std::move(message));
}

Result<MemberStart> WktTokenizer::expect_empty_or_open() {
    return member_start(false);
}

Result<MemberStart> WktTokenizer::read_member_start() {
    return member_start(true);
}

Result<double> WktTokenizer::read_number() {
    skip_whitespace();
    const std::size_t p = pos_;
    const char* const begin = text_.data() + p;
    const char* const text_end = text_.data() + text_.size();
    const NumberToken number = read_number_token(begin, text_end);
    if (number.form == NumberForm::Finite) {
        pos_ = static_cast<std::size_t>(number.end - text_.data());
        return number.value;
    }
    if (number.form == NumberForm::NonFinite) {
        std::string message = "non-finite coordinate ";
        message += std::string_view(begin, static_cast<std::size_t>(number.end - begin));
        message += " at position ";
        message += position_text(p);
        return wkt_error(std::move(message));
    }

    const char* end = begin;
    while (end < text_end && is_number_byte(*end)) ++end;
    if (end == begin) {
        std::string message = "expected number at position ";
        message += position_text(p);
        message += ", got ";
        message += excerpt_at(p, 10);
        return wkt_error(std::move(message));
    }
    std::string message = "invalid number ";
    message += std::string_view(begin, static_cast<std::size_t>(end - begin));
    message += " at position ";
    message += position_text(p);
    return wkt_error(std::move(message));
}

Status WktTokenizer::expect_end() {
    skip_whitespace();
    if (pos_ == text_.size()) return ok_status();
    std::string message = "unexpected trailing content at position ";
    message += position_text(pos_);
    message += ": ";
    message += excerpt_at(pos_, 20);
    return wkt_error(std::move(message));
}

}  // namespace quorvel
