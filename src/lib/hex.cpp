#include "lib/hex.hpp"

#include <array>
#include <cstdint>

namespace quorvel {

namespace {

constexpr std::uint8_t NOT_HEX = 255;

constexpr std::array<std::uint8_t, 256> make_decode_table() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t) v = NOT_HEX;
    for (int i = 0; i < 10; ++i)
        t[static_cast<std::size_t>('0' + i)] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 6; ++i) {
        t[static_cast<std::size_t>('a' + i)] = static_cast<std::uint8_t>(10 + i);
        t[static_cast<std::size_t>('A' + i)] = static_cast<std::uint8_t>(10 + i);
    }
    return t;
}

constexpr auto DECODE = make_decode_table();
constexpr char DIGITS[] = "0123456789ABCDEF";

std::uint8_t digit(char c) noexcept {
    return DECODE[static_cast<unsigned char>(c)];
}

// Decodes pairs from offset `from` (even) into out; returns the offset of the first
// non-digit byte, or text.size() when every byte is a digit.
std::size_t decode_pairs(std::string_view text, std::size_t from, char* out) noexcept {
    const std::size_t n = text.size();
    for (std::size_t i = from; i < n; i += 2) {
        const std::uint8_t hi = digit(text[i]);
        const std::uint8_t lo = digit(text[i + 1]);
        if ((hi | lo) > 15) return hi > 15 ? i : i + 1;
        out[i / 2] = static_cast<char>((hi << 4) | lo);
    }
    return n;
}

}  // namespace

bool is_hex_digit(char c) noexcept {
    return digit(c) <= 15;
}

Result<std::string> decode_hex(std::string_view text) {
    if (text.empty()) return ConversionError::invalid_wkb("empty hex string");
    if (text.size() % 2 != 0) return ConversionError::invalid_wkb("hex string has odd length");
    std::string out(text.size() / 2, '\0');
    const std::size_t bad = decode_pairs(text, 0, out.data());
    if (bad != text.size()) {
        return ConversionError::invalid_wkb("invalid hex digit at position " + std::to_string(bad));
    }
    return out;
}

std::optional<std::string> try_decode_hex(std::string_view text) {
    if (text.empty() || text.size() % 2 != 0) return std::nullopt;
    if (!is_hex_digit(text[0]) || !is_hex_digit(text[1])) return std::nullopt;
    std::string out(text.size() / 2, '\0');
    if (decode_pairs(text, 0, out.data()) != text.size()) return std::nullopt;
    return out;
}

std::optional<std::string> normalize_hex(std::string_view text) {
    if (text.empty() || text.size() % 2 != 0 || !is_hex_digit(text[0])) return std::nullopt;
    std::string out(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!is_hex_digit(c)) return std::nullopt;
        out[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c & ~0x20) : c;
    }
    return out;
}

void encode_hex_upper_into(char* out, std::string_view bytes) noexcept {
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = DIGITS[b >> 4];
        *out++ = DIGITS[b & 0x0F];
    }
}

std::string encode_hex_upper(std::string_view bytes) {
    std::string out(bytes.size() * 2, '\0');
    encode_hex_upper_into(out.data(), bytes);
    return out;
}

}  // namespace quorvel
