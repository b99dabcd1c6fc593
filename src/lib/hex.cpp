#include "lib/hex.hpp"

#include <array>
#include <cstdint>

#include "lib/sse2.hpp"

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

#ifdef QUORVEL_HAVE_SSE2
// Decodes the sixteen digits at p into eight bytes at out; false, with nothing
// written, when one of them is not a hex digit.
inline bool decode_sixteen(const char* p, char* out) noexcept {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    // Signed compares: bytes from 0x80 up are negative and in neither range.
    const __m128i digit = _mm_and_si128(_mm_cmpgt_epi8(c, _mm_set1_epi8('0' - 1)),
                                        _mm_cmplt_epi8(c, _mm_set1_epi8('9' + 1)));
    const __m128i lower = _mm_or_si128(c, _mm_set1_epi8(0x20));
    const __m128i letter = _mm_and_si128(_mm_cmpgt_epi8(lower, _mm_set1_epi8('a' - 1)),
                                         _mm_cmplt_epi8(lower, _mm_set1_epi8('f' + 1)));
    if (_mm_movemask_epi8(_mm_or_si128(digit, letter)) != 0xFFFF) return false;
    // The low four bits, plus 9 for a letter; then each pair into one byte, the
    // first digit the high nibble.
    const __m128i nibble = _mm_add_epi8(_mm_and_si128(c, _mm_set1_epi8(0x0F)),
                                        _mm_and_si128(letter, _mm_set1_epi8(9)));
    const __m128i high = _mm_slli_epi16(_mm_and_si128(nibble, _mm_set1_epi16(0x00FF)), 4);
    const __m128i low = _mm_srli_epi16(nibble, 8);
    const __m128i bytes = _mm_packus_epi16(_mm_or_si128(high, low), _mm_setzero_si128());
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), bytes);
    return true;
}
#endif

// Decodes pairs from offset `from` (even) into out; returns the offset of the first
// non-digit byte, or text.size() when every byte is a digit.
std::size_t decode_pairs(std::string_view text, std::size_t from, char* out) noexcept {
    const std::size_t n = text.size();
#ifdef QUORVEL_HAVE_SSE2
    // Sixteen digits at a time while they are all digits; the pair loop below finds
    // the exact position of a bad one.
    while (n - from >= 16 && decode_sixteen(text.data() + from, out + from / 2)) from += 16;
#endif
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
