// Each module function is a thin wrapper that binds its arguments, decodes them in
// the function's fixed order, runs the Python-free conversion and builds the one
// result object.  Everything the call holds is owned by RAII values on the stack.
#include "lib/functions.hpp"

#include <cstring>
#include <string>
#include <utility>

#include "lib/arguments.hpp"
#include "lib/binding.hpp"
#include "lib/compat.hpp"
#include "lib/docstrings.hpp"
#include "lib/header.hpp"
#include "lib/hex.hpp"
#include "lib/output_buffer.hpp"
#include "lib/pyref.hpp"
#include "lib/raise.hpp"
#include "lib/source.hpp"
#include "lib/steps.hpp"
#include "lib/text.hpp"
#include "wkb_to_wkt/builder.hpp"
#include "wkt_to_wkb/writer.hpp"

namespace quorvel {

namespace {

// --- result objects ---

// A new str from UTF-8 text.  Failing to make it is an internal fault, except
// when memory runs out.
PyObject* new_str(std::string_view text) {
    PyObject* s = PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
    if (s == nullptr && !PyErr_ExceptionMatches(PyExc_MemoryError)) {
        PyErr_Clear();
        return raise_panic("failed to create the result str");
    }
    return s;
}

// A new str from text that this module wrote, which is always ASCII (WKT, hex):
// the characters are copied as they are, without decoding.
PyObject* new_ascii_str(std::string_view text) {
    PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127);
    if (s == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_MemoryError)) return nullptr;
        PyErr_Clear();
        return raise_panic("failed to create the result str");
    }
    std::memcpy(PyUnicode_1BYTE_DATA(s), text.data(), text.size());
    return s;
}

PyObject* new_bytes(std::string_view data) {
    return PyBytes_FromStringAndSize(data.data(), static_cast<Py_ssize_t>(data.size()));
}

PyObject* new_int_or_none(bool present, std::int32_t value) {
    if (!present) Py_RETURN_NONE;
    PyObject* n = PyLong_FromLong(value);
    if (n == nullptr && !PyErr_ExceptionMatches(PyExc_MemoryError)) {
        PyErr_Clear();
        return raise_panic("failed to create the result int");
    }
    return n;
}

// A new tuple of two owned items.
PyObject* new_pair(PyRef first, PyRef second) {
    if (!first || !second) return nullptr;
    PyObject* t = PyTuple_New(2);
    if (t == nullptr) return nullptr;
    PyTuple_SET_ITEM(t, 0, first.release());
    PyTuple_SET_ITEM(t, 1, second.release());
    return t;
}

PyObject* str_result(Result<std::string>&& r) {
    if (!r) return raise_conversion_error(r.error());
    return new_ascii_str(*r);
}

PyObject* bytes_result(Result<std::string>&& r) {
    if (!r) return raise_conversion_error(r.error());
    return new_bytes(*r);
}

// The output of a conversion step that wrote into out.
PyObject* str_result(const Status& status, const OutputBuffer& out) {
    if (!status) return raise_conversion_error(status.error());
    return new_ascii_str(out.view());
}

PyObject* bytes_result(const Status& status, const OutputBuffer& out) {
    if (!status) return raise_conversion_error(status.error());
    return new_bytes(out.view());
}

// A bytes object filled from a header patch over the input: one copy of the body.
PyObject* patched_bytes(const HeaderPatch& patch, std::string_view input) {
    PyObject* b = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(patch.size(input)));
    if (b == nullptr) return nullptr;
    patch.write(PyBytes_AS_STRING(b), input);
    return b;
}

// --- signatures ---

constexpr const char* GEOMETRY_SRID_WKB[] = {"wkb", "srid"};
constexpr const char* GEOMETRY_SRID_WKT[] = {"wkt", "srid"};
constexpr const char* GEOMETRY_SRID_HEX[] = {"hex_wkb", "srid"};
constexpr const char* SOURCE_SRID[] = {"source", "srid"};
constexpr const char* SOURCE_SRID_NORMALIZE[] = {"source", "srid", "normalize_wkt"};
constexpr const char* SOURCE[] = {"source"};
constexpr const char* WKB[] = {"wkb"};
constexpr const char* WKT[] = {"wkt"};
constexpr const char* INCLUDE_UNKNOWN[] = {"include_unknown"};

constexpr Signature SIG_WKB_TO_WKT{"wkb_to_wkt", GEOMETRY_SRID_WKB, 2, 1, nullptr, 0};
constexpr Signature SIG_WKB_TO_WKT_SPLIT{"wkb_to_wkt_split_srid", WKB, 1, 1, nullptr, 0};
constexpr Signature SIG_WKT_TO_WKB{"wkt_to_wkb", GEOMETRY_SRID_WKT, 2, 1, nullptr, 0};
constexpr Signature SIG_WKT_TO_WKB_SPLIT{"wkt_to_wkb_split_srid", WKT, 1, 1, nullptr, 0};
constexpr Signature SIG_WKT_TO_HEX{"wkt_to_hex_wkb", GEOMETRY_SRID_WKT, 2, 1, nullptr, 0};
constexpr Signature SIG_HEX_TO_WKT{"hex_wkb_to_wkt", GEOMETRY_SRID_HEX, 2, 1, nullptr, 0};
constexpr Signature SIG_TO_WKB{"to_wkb", SOURCE_SRID, 2, 1, nullptr, 0};
constexpr Signature SIG_TO_WKT{"to_wkt", SOURCE_SRID_NORMALIZE, 3, 1, nullptr, 0};
constexpr Signature SIG_TO_HEX{"to_hex_wkb", SOURCE_SRID, 2, 1, nullptr, 0};
constexpr Signature SIG_HEADER_SRID{"wkb_header_srid", SOURCE, 1, 1, INCLUDE_UNKNOWN, 1};
constexpr Signature SIG_NO_SRID_HEADER{"to_wkb_no_srid_header", SOURCE, 1, 1, nullptr, 0};
constexpr Signature SIG_EWKB_HEADER{"to_ewkb_header", SOURCE_SRID, 2, 2, nullptr, 0};

// --- the functions ---

PyObject* wkb_to_wkt_impl(const Bound& a) {
    const auto policy = decode_optional_srid(a.slot[1]);
    if (!policy) return nullptr;
    SourceInput source;
    if (!acquire_source(a.slot[0], "wkb", false, source)) return nullptr;
    OutputBuffer out;
    return str_result(wkb_to_wkt_step(source.data, *policy, out), out);
}

PyObject* wkb_to_wkt_split_srid_impl(const Bound& a) {
    SourceInput source;
    if (!acquire_source(a.slot[0], "wkb", false, source)) return nullptr;
    OutputBuffer out;
    auto r = ewkb_to_wkt_and_srid(source.data, out);
    if (!r) return raise_conversion_error(r.error());
    // One item at a time: the second is not made while the first's failure is pending.
    PyRef text(new_ascii_str(out.view()));
    if (!text) return nullptr;
    return new_pair(std::move(text), PyRef(new_int_or_none(r->present, r->srid)));
}

PyObject* wkt_to_wkb_impl(const Bound& a) {
    const auto text = text_argument(a.slot[0], "wkt");
    if (!text) return nullptr;
    const auto policy = decode_optional_srid(a.slot[1]);
    if (!policy) return nullptr;
    OutputBuffer out;
    return bytes_result(wkt_to_ewkb_step(*text, *policy, out), out);
}

PyObject* wkt_to_wkb_split_srid_impl(const Bound& a) {
    const auto text = text_argument(a.slot[0], "wkt");
    if (!text) return nullptr;
    OutputBuffer out;
    auto prefix = write_ewkb_split_srid(*text, out);
    if (!prefix) return raise_conversion_error(prefix.error());
    PyRef ewkb(new_bytes(out.view()));
    if (!ewkb) return nullptr;
    return new_pair(std::move(ewkb), PyRef(new_int_or_none(prefix->present, prefix->srid)));
}

PyObject* wkt_to_hex_wkb_impl(const Bound& a) {
    const auto text = text_argument(a.slot[0], "wkt");
    if (!text) return nullptr;
    const auto policy = decode_optional_srid(a.slot[1]);
    if (!policy) return nullptr;
    OutputBuffer out;
    return str_result(wkt_to_ewkb_hex_step(*text, *policy, out), out);
}

PyObject* hex_wkb_to_wkt_impl(const Bound& a) {
    const auto text = text_argument(a.slot[0], "hex_wkb");
    if (!text) return nullptr;
    const auto policy = decode_optional_srid(a.slot[1]);
    if (!policy) return nullptr;
    auto wkb = decode_hex(*text);
    if (!wkb) return raise_conversion_error(wkb.error());
    OutputBuffer out;
    return str_result(wkb_to_wkt_step(*wkb, *policy, out), out);
}

PyObject* to_wkb_impl(const Bound& a) {
    const auto decoded = decode_optional_srid(a.slot[1]);
    if (!decoded) return nullptr;
    const SridPolicy policy = decoded->effective();
    SourceInput source;
    if (!acquire_source(a.slot[0], "source", true, source)) return nullptr;
    if (!source.is_text) {
        auto plan = plan_header_srid(source.data, policy);
        if (!plan) return raise_conversion_error(plan.error());
        return patched_bytes(*plan, source.data);
    }
    const std::string_view text = trim_whitespace(source.data);
    if (auto wkb = try_decode_hex(text)) {
        if (policy.is_mirror()) return new_bytes(*wkb);
        return bytes_result(rewrite_header_srid(*wkb, policy));
    }
    OutputBuffer out;
    return bytes_result(wkt_to_ewkb_step(text, policy, out), out);
}

PyObject* to_wkt_impl(const Bound& a) {
    const int normalize = decode_flag(a.slot[2], "normalize_wkt");
    if (normalize < 0) return nullptr;
    const auto decoded = decode_optional_srid(a.slot[1]);
    if (!decoded) return nullptr;
    const SridPolicy policy = decoded->effective();
    SourceInput source;
    if (!acquire_source(a.slot[0], "source", true, source)) return nullptr;
    OutputBuffer out;
    if (!source.is_text) return str_result(wkb_to_wkt_step(source.data, policy, out), out);

    const std::string_view text = trim_whitespace(source.data);
    if (text.empty()) return raise_conversion_error(ConversionError::invalid_wkt("empty input"));
    if (is_hex_digit(text[0])) {
        if (auto wkb = try_decode_hex(text)) {
            return str_result(wkb_to_wkt_step(*wkb, policy, out), out);
        }
    }
    if (normalize) return str_result(normalize_wkt_step(text, policy, out), out);
    return new_str(wkt_fast_path(text, policy));
}

PyObject* to_hex_wkb_impl(const Bound& a) {
    const auto decoded = decode_optional_srid(a.slot[1]);
    if (!decoded) return nullptr;
    const SridPolicy policy = decoded->effective();
    SourceInput source;
    if (!acquire_source(a.slot[0], "source", true, source)) return nullptr;
    if (!source.is_text) return str_result(rewrite_header_srid_hex(source.data, policy));

    const std::string_view text = trim_whitespace(source.data);
    if (policy.is_mirror()) {
        if (auto upper = normalize_hex(text)) return new_ascii_str(*upper);
    } else if (auto wkb = try_decode_hex(text)) {
        return str_result(rewrite_header_srid_hex(*wkb, policy));
    }
    OutputBuffer out;
    return str_result(wkt_to_ewkb_hex_step(text, policy, out), out);
}

PyObject* wkb_header_srid_impl(const Bound& a) {
    const int include_unknown = decode_flag(a.slot[1], "include_unknown");
    if (include_unknown < 0) return nullptr;
    SourceInput source;
    if (!acquire_source(a.slot[0], "source", true, source)) return nullptr;
    Result<HeaderSrid> srid = HeaderSrid{false, 0};
    if (source.is_text) {
        auto wkb = decode_hex(source.data);
        if (!wkb) return raise_conversion_error(wkb.error());
        srid = read_header_srid(*wkb, include_unknown != 0);
    } else {
        srid = read_header_srid(source.data, include_unknown != 0);
    }
    if (!srid) return raise_conversion_error(srid.error());
    return new_int_or_none(srid->present, srid->srid);
}

// Shared by to_ewkb_header and to_wkb_no_srid_header: the result follows the
// source's type, hex str in and out, bytes for every buffer.
PyObject* rewrite_header(PyObject* obj, SridPolicy policy) {
    SourceInput source;
    if (!acquire_source(obj, "source", true, source)) return nullptr;
    if (source.is_text) {
        auto wkb = decode_hex(source.data);
        if (!wkb) return raise_conversion_error(wkb.error());
        auto rewritten = rewrite_header_srid(*wkb, policy);
        if (!rewritten) return raise_conversion_error(rewritten.error());
        return new_ascii_str(encode_hex_upper(*rewritten));
    }
    auto plan = plan_header_srid(source.data, policy);
    if (!plan) return raise_conversion_error(plan.error());
    return patched_bytes(*plan, source.data);
}

PyObject* to_wkb_no_srid_header_impl(const Bound& a) {
    return rewrite_header(a.slot[0], SridPolicy::strip());
}

PyObject* to_ewkb_header_impl(const Bound& a) {
    const auto policy = decode_srid(a.slot[1], REQUIRED_SRID_MESSAGES);
    if (!policy) return nullptr;
    return rewrite_header(a.slot[0], policy->effective());
}

// --- entry points ---

template <const Signature& Sig, PyObject* (*Impl)(const Bound&)>
PyObject* entry(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargsf,
                PyObject* kwnames) noexcept {
    return guarded([&]() -> PyObject* {
        Bound bound;
        if (!bind_arguments(Sig, args, nargsf, kwnames, bound)) return nullptr;
        return Impl(bound);
    });
}

template <const Signature& Sig, PyObject* (*Impl)(const Bound&)>
PyMethodDef method(const char* doc) {
    PyCFunctionFastWithKeywords fn = &entry<Sig, Impl>;
    return {Sig.function, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn)),
            METH_FASTCALL | METH_KEYWORDS, doc};
}

}  // namespace

PyMethodDef MODULE_FUNCTIONS[] = {
    method<SIG_WKB_TO_WKT, wkb_to_wkt_impl>(docs::wkb_to_wkt),
    method<SIG_WKB_TO_WKT_SPLIT, wkb_to_wkt_split_srid_impl>(docs::wkb_to_wkt_split_srid),
    method<SIG_WKT_TO_WKB, wkt_to_wkb_impl>(docs::wkt_to_wkb),
    method<SIG_WKT_TO_WKB_SPLIT, wkt_to_wkb_split_srid_impl>(docs::wkt_to_wkb_split_srid),
    method<SIG_WKT_TO_HEX, wkt_to_hex_wkb_impl>(docs::wkt_to_hex_wkb),
    method<SIG_HEX_TO_WKT, hex_wkb_to_wkt_impl>(docs::hex_wkb_to_wkt),
    method<SIG_TO_WKB, to_wkb_impl>(docs::to_wkb),
    method<SIG_TO_WKT, to_wkt_impl>(docs::to_wkt),
    method<SIG_TO_HEX, to_hex_wkb_impl>(docs::to_hex_wkb),
    method<SIG_HEADER_SRID, wkb_header_srid_impl>(docs::wkb_header_srid),
    method<SIG_NO_SRID_HEADER, to_wkb_no_srid_header_impl>(docs::to_wkb_no_srid_header),
    method<SIG_EWKB_HEADER, to_ewkb_header_impl>(docs::to_ewkb_header),
    {nullptr, nullptr, 0, nullptr},
};

const std::size_t MODULE_FUNCTION_COUNT = sizeof(MODULE_FUNCTIONS) / sizeof(PyMethodDef) - 1;

}  // namespace quorvel
