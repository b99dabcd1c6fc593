#include "lib/text.hpp"

namespace quorvel {

namespace {

// White_Space: U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680, U+2000..U+200A,
// U+2028, U+2029, U+202F, U+205F, U+3000.
bool is_white_space(char32_t c) noexcept {
    if (c < 0x80) return c == 0x20 || (c >= 0x09 && c <= 0x0D);
    if (c < 0x1680) return c == 0x85 || c == 0xA0;
    if (c < 0x2000) return c == 0x1680;
    if (c <= 0x200A) return true;
    return c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

unsigned char byte_at(const char* p) noexcept {
    return static_cast<unsigned char>(*p);
}

}  // namespace

std::size_t white_space_at(const char* p, const char* end) noexcept {
    const unsigned char b0 = byte_at(p);
    if (b0 < 0x80) return is_white_space(b0) ? 1 : 0;
    // Every non-ASCII White_Space character takes two (U+0085, U+00A0) or three bytes.
    if (b0 == 0xC2) {
        if (end - p < 2) return 0;
        const unsigned char b1 = byte_at(p + 1);
        return (b1 == 0x85 || b1 == 0xA0) ? 2 : 0;
    }
    if (b0 == 0xE1 || b0 == 0xE2 || b0 == 0xE3) {
        if (end - p < 3) return 0;
        const char32_t c = (char32_t(b0 & 0x0F) << 12) | (char32_t(byte_at(p + 1) & 0x3F) << 6) |
                           char32_t(byte_at(p + 2) & 0x3F);
        return is_white_space(c) ? 3 : 0;
    }
    return 0;
}

std::size_t white_space_before(const char* begin, const char* p) noexcept {
    const unsigned char last = byte_at(p - 1);
    if (last < 0x80) return is_white_space(last) ? 1 : 0;
    if (p - begin >= 2 && byte_at(p - 2) == 0xC2) return white_space_at(p - 2, p);
    if (p - begin >= 3) return white_space_at(p - 3, p) == 3 ? 3 : 0;
    return 0;
}

std::string_view trim_whitespace(std::string_view text) noexcept {
    const char* begin = text.data();
    const char* end = begin + text.size();
    while (begin < end) {
        const std::size_t n = white_space_at(begin, end);
        if (n == 0) break;
        begin += n;
    }
    while (end > begin) {
        const std::size_t n = white_space_before(begin, end);
        if (n == 0) break;
        end -= n;
    }
    return {begin, static_cast<std::size_t>(end - begin)};
}

}  // namespace quorvel
