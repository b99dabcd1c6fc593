// WKT text to EWKB, binary and hex.
//
// Properties:
// - the SRID prefix reads the same through every entry point;
// - write_ewkb and write_ewkb_hex both succeed, the hex text being the uppercase hex
//   of the bytes, or both fail with the same error;
// - write_ewkb_split_srid gives the bytes of write_ewkb without SRID and the prefix
//   that parse_srid_prefix reads, or the same error;
// - an embedded SRID lands in bytes 5..8 behind the flagged type word;
// - the reader accepts every output, and converting its text back gives the same
//   text again (the text is canonical);
// - every error follows the message rules;
// - every run of number bytes that reads as a number token has the value of the
//   standard library's from_chars (where it has one for double; the core here reads
//   numbers with our own reader), and an overflow is refused.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <system_error>

#include "fuzz_common.hpp"
#include "lib/hex.hpp"
#include "wkb_to_wkt/builder.hpp"
#include "wkt_to_wkb/number.hpp"
#include "wkt_to_wkb/tokenizer.hpp"
#include "wkt_to_wkb/writer.hpp"

using quorvel_fuzz::check_error;
using quorvel_fuzz::fail;
using quorvel_fuzz::require;
using quorvel_fuzz::require_same_error;

namespace {

// Writes text in both encodings with the given SRID choice and checks that they agree.
// Returns the binary result.
quorvel::Result<std::string> write_both(std::string_view text, bool embed, std::int32_t srid) {
    quorvel::WktTokenizer binary_tokenizer(text);
    quorvel::WktTokenizer hex_tokenizer(text);
    auto prefix_a = binary_tokenizer.parse_srid_prefix();
    auto prefix_b = hex_tokenizer.parse_srid_prefix();
    require(prefix_a.ok() && prefix_b.ok(), "prefix was read before", text);
    auto binary = quorvel::write_ewkb(binary_tokenizer, text.size(), embed, srid);
    auto hex = quorvel::write_ewkb_hex(hex_tokenizer, text.size(), embed, srid);
    if (binary.ok() != hex.ok()) {
        fail("binary and hex writers both succeed or both fail", text,
             binary.ok() ? hex.error().text() : binary.error().text());
    }
    if (!binary) {
        require_same_error(binary.error(), hex.error(),
                           "binary and hex writers fail with the same error", text);
        check_error(binary.error(), text, text);
        return binary;
    }
    if (quorvel::encode_hex_upper(*binary) != *hex) {
        fail("hex writer output is the uppercase hex of the binary output", text,
             quorvel::encode_hex_upper(*binary) + " | " + *hex);
    }
    const std::string& b = *binary;
    if (b.size() < 5 || b[0] != 0x01) {
        fail("output starts with the NDR marker and a type word", text, *hex);
    }
    const bool flagged = (static_cast<unsigned char>(b[4]) & 0x20) != 0;
    if (flagged != embed) fail("the SRID flag is set exactly when an SRID is embedded", text, *hex);
    if (embed) {
        if (b.size() < 9) fail("an embedded SRID follows the type word", text, *hex);
        std::uint32_t stored = 0;
        for (int i = 3; i >= 0; --i) {
            stored = (stored << 8) | static_cast<unsigned char>(b[5 + static_cast<std::size_t>(i)]);
        }
        if (stored != static_cast<std::uint32_t>(srid)) {
            fail("the embedded SRID is stored little-endian at byte 5", text, *hex);
        }
    }
    return binary;
}

// Each maximal run of number bytes that is a whole number token, against from_chars.
void check_number_values(std::string_view text) {
#if defined(__cpp_lib_to_chars)
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        if (!quorvel::number_detail::is_number_byte(*p)) {
            ++p;
            continue;
        }
        const char* q = p;
        while (q < end && quorvel::number_detail::is_number_byte(*q)) ++q;
        const quorvel::NumberToken token = quorvel::read_number_token(p, q);
        const std::string_view run(p, static_cast<std::size_t>(q - p));
        if (token.form != quorvel::NumberForm::Malformed && token.end == q) {
            double expected = 0;
            const auto r = std::from_chars(*p == '+' ? p + 1 : p, q, expected);
            if (r.ptr != q || (r.ec != std::errc{} && r.ec != std::errc::result_out_of_range)) {
                fail("from_chars reads every number token", text, std::string(run));
            }
            if (r.ec == std::errc{} && !std::isinf(expected)) {
                std::uint64_t a = 0, b = 0;
                std::memcpy(&a, &expected, 8);
                std::memcpy(&b, &token.value, 8);
                require(token.form == quorvel::NumberForm::Finite && a == b,
                        "a number token has the value from_chars gives", text, std::string(run));
            } else {
                // Out of range: an overflow is refused, an underflow is a zero.
                require(token.form == quorvel::NumberForm::NonFinite || token.value == 0,
                        "a number out of range overflows or reads as zero", text, std::string(run));
            }
        }
        p = q;
    }
#else
    (void)text;
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_number_values(text);

    quorvel::WktTokenizer tokenizer(text);
    auto prefix = tokenizer.parse_srid_prefix();
    auto split = quorvel::write_ewkb_split_srid(text);
    if (!prefix) {
        check_error(prefix.error(), text, text);
        require(!split.ok(), "split fails when the prefix fails", text);
        require_same_error(prefix.error(), split.error(), "split fails with the prefix error",
                           text);
        return 0;
    }
    require(!prefix->present || prefix->srid > 0, "a present SRID is positive", text);

    // As the prefix says (what Mirror does).
    auto mirrored = write_both(text, prefix->present, prefix->srid);
    // Without SRID, against the split entry point.
    auto plain = write_both(text, false, 0);
    if (plain.ok() != split.ok()) {
        fail("split and write_ewkb without SRID both succeed or both fail", text,
             plain.ok() ? split.error().text() : plain.error().text());
    }
    if (!plain) {
        require_same_error(plain.error(), split.error(), "split fails with write_ewkb's error",
                           text);
        require(!mirrored.ok() && mirrored.error() == plain.error(),
                "the SRID choice does not change the failure", text);
        // An SRID forced in, whatever its value, fails the same way.
        auto forced = write_both(text, true, -7);
        require(!forced.ok() && forced.error() == plain.error(),
                "a forced SRID does not change the failure", text);
        return 0;
    }
    require(mirrored.ok(), "the SRID choice does not change success", text);
    if (split->ewkb != *plain) {
        fail("split bytes equal write_ewkb without SRID", text,
             quorvel::encode_hex_upper(split->ewkb) + " | " + quorvel::encode_hex_upper(*plain));
    }
    require(split->prefix.present == prefix->present && split->prefix.srid == prefix->srid,
            "split returns the prefix that parse_srid_prefix reads", text);
    // An SRID of 0 or below is still written when the caller asks for it.
    auto forced = write_both(text, true, -7);
    require(forced.ok(), "a forced SRID does not change success", text);
    require(forced->size() == plain->size() + 4 &&
                std::string_view(*forced).substr(9) == std::string_view(*plain).substr(5),
            "a forced SRID inserts four bytes and changes nothing else", text);

    // The reader accepts what the writer wrote, and its text is canonical.
    auto wkt = quorvel::ewkb_to_ewkt(*mirrored);
    if (!wkt) {
        fail("the reader accepts the writer's output", text,
             wkt.error().text() + " | " + quorvel::encode_hex_upper(*mirrored));
    }
    require(!quorvel_fuzz::has_non_finite(*wkt), "WKT input has only finite ordinates", text, *wkt);
    quorvel::WktTokenizer again_tokenizer(*wkt);
    auto again_prefix = again_tokenizer.parse_srid_prefix();
    require(again_prefix.ok() && again_prefix->present == prefix->present &&
                again_prefix->srid == (prefix->present ? prefix->srid : 0),
            "canonical text carries the same SRID", text, *wkt);
    auto again = quorvel::write_ewkb(again_tokenizer, wkt->size(), again_prefix->present,
                                     again_prefix->srid);
    if (!again) fail("canonical text parses", text, *wkt + " | " + again.error().text());
    auto again_wkt = quorvel::ewkb_to_ewkt(*again);
    if (!again_wkt || *again_wkt != *wkt) {
        fail("canonical text is stable", text,
             *wkt + " | " + (again_wkt ? *again_wkt : again_wkt.error().text()));
    }
    return 0;
}
