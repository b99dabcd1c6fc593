// Unicode White_Space over UTF-8 text, shared by trimming and the WKT tokenizer.
#pragma once

#include <cstddef>
#include <string_view>

namespace quorvel {

// Byte length of the White_Space character that starts at p (p < end), or 0 when
// the character there is not White_Space.  The text is valid UTF-8.
std::size_t white_space_at(const char* p, const char* end) noexcept;

// Byte length of the White_Space character that ends just before p (begin < p), or 0.
std::size_t white_space_before(const char* begin, const char* p) noexcept;

// The sub-range without leading and trailing White_Space.
std::string_view trim_whitespace(std::string_view text) noexcept;

}  // namespace quorvel
