// Hex text of WKB: two digits per byte, high nibble first, nothing else.
// Input may use either case; output is always uppercase.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lib/error.hpp"

namespace quorvel {

// Strict: "empty hex string", "hex string has odd length", or
// "invalid hex digit at position N" for the first non-digit byte.
Result<std::string> decode_hex(std::string_view text);

// Lenient: the decoded bytes, or nothing when the text is empty, of odd length or
// holds a non-digit.  Allocates only when the first two bytes are digits.
std::optional<std::string> try_decode_hex(std::string_view text);

// The text uppercased when it is non-empty, even-length hex; nothing otherwise.
std::optional<std::string> normalize_hex(std::string_view text);

std::string encode_hex_upper(std::string_view bytes);

// Writes 2 * bytes.size() uppercase digits at out.
void encode_hex_upper_into(char* out, std::string_view bytes) noexcept;

bool is_hex_digit(char c) noexcept;

}  // namespace quorvel
