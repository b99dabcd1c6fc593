// Hex text of WKB.
//
// Properties, with the input taken both as bytes and as text:
// - decode_hex(encode_hex_upper(b)) == b, and encode_hex_upper_into writes the same;
// - try_decode_hex returns what decode_hex returns, or nothing when it fails;
// - normalize_hex returns the uppercased text exactly when decode_hex succeeds, and
//   its digits decode to the same bytes;
// - a failure names the first non-digit byte, or the empty or odd-length text;
// - every error follows the message rules.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_common.hpp"
#include "lib/hex.hpp"

using quorvel_fuzz::check_error;
using quorvel_fuzz::fail;
using quorvel_fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // As bytes.
    const std::string encoded = quorvel::encode_hex_upper(input);
    require(encoded.size() == 2 * size, "two digits per byte", input);
    std::string into(2 * size, '\0');
    quorvel::encode_hex_upper_into(into.data(), input);
    require(into == encoded, "encode_hex_upper_into writes what encode_hex_upper returns", input);
    for (const char c : encoded) {
        require((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'), "only uppercase digits", input);
    }
    auto decoded = quorvel::decode_hex(encoded);
    if (size == 0) {
        require(!decoded.ok() && decoded.error().message() == "empty hex string",
                "empty text fails as empty", input);
    } else if (!decoded || *decoded != input) {
        fail("decode_hex(encode_hex_upper(b)) == b", input,
             decoded ? encoded : decoded.error().text());
    }

    // As text.
    auto strict = quorvel::decode_hex(input);
    auto lenient = quorvel::try_decode_hex(input);
    auto normal = quorvel::normalize_hex(input);
    if (!strict) {
        check_error(strict.error(), input);
        require(!lenient.has_value(), "try_decode_hex returns nothing when decode_hex fails",
                input);
        require(!normal.has_value(), "normalize_hex returns nothing when decode_hex fails", input);
        const std::string& message = strict.error().message();
        if (size == 0) {
            require(message == "empty hex string", "empty text is reported as empty", input,
                    message);
        } else if (size % 2 != 0) {
            require(message == "hex string has odd length", "odd text is reported as odd", input,
                    message);
        } else {
            std::size_t first_bad = 0;
            while (first_bad < size && quorvel::is_hex_digit(input[first_bad])) ++first_bad;
            require(message == "invalid hex digit at position " + std::to_string(first_bad),
                    "the first non-digit byte is reported", input, message);
        }
        return 0;
    }
    require(lenient.has_value() && *lenient == *strict,
            "try_decode_hex returns what decode_hex returns", input);
    require(normal.has_value(), "normalize_hex accepts what decode_hex accepts", input);
    require(normal->size() == size, "normalize_hex keeps the length", input);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = input[i];
        const char upper = (c >= 'a' && c <= 'f') ? static_cast<char>(c - 'a' + 'A') : c;
        require((*normal)[i] == upper, "normalize_hex uppercases and changes nothing else", input);
    }
    require(quorvel::encode_hex_upper(*strict) == *normal,
            "encoding the decoded bytes gives the normalised text", input);
    return 0;
}
