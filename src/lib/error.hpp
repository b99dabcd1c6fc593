// The one error value of all conversion code below the module surface, and the
// small result type that carries it.  Nothing here knows about Python.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace quorvel {

enum class ErrorKind : std::uint8_t { InvalidWkt, InvalidWkb, UnsupportedGeometryType };

class ConversionError {
public:
    static ConversionError invalid_wkt(std::string message) {
        return ConversionError(ErrorKind::InvalidWkt, std::move(message), 0);
    }
    static ConversionError invalid_wkb(std::string message) {
        return ConversionError(ErrorKind::InvalidWkb, std::move(message), 0);
    }
    static ConversionError unsupported_geometry_type(std::uint32_t code) {
        return ConversionError(ErrorKind::UnsupportedGeometryType, std::string(), code);
    }

    ErrorKind kind() const noexcept { return kind_; }
    // Empty for UnsupportedGeometryType, which carries only its code.
    const std::string& message() const noexcept { return message_; }
    std::uint32_t code() const noexcept { return code_; }

    // "invalid WKT: ...", "invalid WKB: ..." or "unsupported geometry type code: N".
    std::string text() const;

    friend bool operator==(const ConversionError&, const ConversionError&) = default;

private:
    ConversionError(ErrorKind kind, std::string message, std::uint32_t code)
        : kind_(kind), code_(code), message_(std::move(message)) {}

    ErrorKind kind_;
    std::uint32_t code_;
    std::string message_;
};

// A value or a ConversionError.  Moves only its contents; never throws on its own.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}                // NOLINT
    Result(ConversionError error) : v_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    T& value() & noexcept { return *std::get_if<0>(&v_); }
    const T& value() const& noexcept { return *std::get_if<0>(&v_); }
    T&& value() && noexcept { return std::move(*std::get_if<0>(&v_)); }
    T& operator*() & noexcept { return value(); }
    const T& operator*() const& noexcept { return value(); }
    T&& operator*() && noexcept { return std::move(*std::get_if<0>(&v_)); }
    T* operator->() noexcept { return std::get_if<0>(&v_); }
    const T* operator->() const noexcept { return std::get_if<0>(&v_); }

    ConversionError& error() & noexcept { return *std::get_if<1>(&v_); }
    const ConversionError& error() const& noexcept { return *std::get_if<1>(&v_); }
    ConversionError&& error() && noexcept { return std::move(*std::get_if<1>(&v_)); }

private:
    std::variant<T, ConversionError> v_;
};

struct Unit {};
using Status = Result<Unit>;
inline Status ok_status() {
    return Unit{};
}

}  // namespace quorvel

// Returns the error of a failed Result from the enclosing function.
#define QUORVEL_TRY(expr)                                \
    do {                                                 \
        if (auto quorvel_try_ = (expr); !quorvel_try_) { \
            return std::move(quorvel_try_).error();      \
        }                                                \
    } while (false)
