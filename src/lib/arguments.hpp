// Decoding of the typed arguments: srid, the boolean flags and the text parameters.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <optional>
#include <string_view>

#include "lib/srid_policy.hpp"

namespace quorvel {

struct SridMessages {
    const char* for_true;
    const char* for_wrong_type;
};

// The seven functions whose srid is optional and may be None.
inline constexpr SridMessages OPTIONAL_SRID_MESSAGES{
    "srid=True is not valid; pass an integer SRID, False, or None",
    "srid must be None, False, or an integer"};
// to_ewkb_header, whose srid is required.
inline constexpr SridMessages REQUIRED_SRID_MESSAGES{
    "srid=True is not valid; pass an integer SRID or False", "srid must be False or an integer"};

// Strip or Set(n) (not yet made effective); nothing with ValueError (or an
// exception of __index__) raised.
std::optional<SridPolicy> decode_srid(PyObject* obj, const SridMessages& messages) noexcept;

// Unbound or None is Mirror; anything else goes through decode_srid.
std::optional<SridPolicy> decode_optional_srid(PyObject* obj) noexcept;

// A bool or a numpy boolean; anything else raises TypeError naming the parameter.
// An unbound flag is false.  Returns -1 on failure, else 0 or 1.
int decode_flag(PyObject* obj, const char* parameter) noexcept;

// The UTF-8 text of a str parameter (wkt, hex_wkb); TypeError naming the parameter
// for other types, UnicodeEncodeError for lone surrogates.
std::optional<std::string_view> text_argument(PyObject* obj, const char* parameter) noexcept;

}  // namespace quorvel
