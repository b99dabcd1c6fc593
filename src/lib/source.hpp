// The geometry argument as borrowed bytes: the UTF-8 form of a str, the storage of
// a bytes object, or a buffer view held for the length of the call.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string_view>

#include "lib/pyref.hpp"

namespace quorvel {

struct SourceInput {
    bool is_text = false;   // Text: UTF-8 of a str; otherwise Binary
    std::string_view data;  // borrowed; valid while the call holds the argument and view
    BufferView view;        // held when the bytes come from a buffer
};

// Fills source from obj; on failure raises (BufferError, UnicodeEncodeError or
// the buffer exporter's own exception) and returns false.  `name` is the
// parameter's name for messages; accept_str says whether a str is Text.
bool acquire_source(PyObject* obj, const char* name, bool accept_str, SourceInput& source) noexcept;

}  // namespace quorvel
