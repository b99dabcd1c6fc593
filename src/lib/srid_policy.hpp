// What SRID a conversion's output carries.
#pragma once

#include <cstdint>

namespace quorvel {

struct SridPolicy {
    enum class Kind : std::uint8_t { Mirror, Strip, Set };

    Kind kind = Kind::Mirror;
    std::int32_t srid = 0;  // meaningful for Set only

    static constexpr SridPolicy mirror() noexcept { return {Kind::Mirror, 0}; }
    static constexpr SridPolicy strip() noexcept { return {Kind::Strip, 0}; }
    static constexpr SridPolicy set(std::int32_t n) noexcept { return {Kind::Set, n}; }

    // An SRID of 0 or below means "unknown": Set with such a value strips.
    constexpr SridPolicy effective() const noexcept {
        return (kind == Kind::Set && srid <= 0) ? strip() : *this;
    }
    constexpr bool is_mirror() const noexcept { return kind == Kind::Mirror; }
    constexpr bool is_strip() const noexcept { return kind == Kind::Strip; }
    constexpr bool is_set() const noexcept { return kind == Kind::Set; }
};

}  // namespace quorvel
