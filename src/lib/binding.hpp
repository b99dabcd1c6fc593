// Table-driven binding of fast-call arguments to parameters.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstddef>

namespace quorvel {

inline constexpr std::size_t MAX_PARAMETERS = 3;

struct Signature {
    const char* function;           // "to_wkb"
    const char* const* positional;  // positional-or-keyword names, in order
    std::size_t n_positional;       // P
    std::size_t n_required;         // R: the first R positional names
    const char* const* keyword_only;
    std::size_t n_keyword_only;
};

// Bound arguments: borrowed references, nullptr where unbound.  Positional
// parameters first, then keyword-only ones.
struct Bound {
    PyObject* slot[MAX_PARAMETERS] = {};
};

// Binds the call's arguments; on failure raises TypeError and returns false.
bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargsf,
                    PyObject* kwnames, Bound& bound) noexcept;

}  // namespace quorvel
