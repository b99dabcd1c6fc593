#include "lib/raise.hpp"

#include <atomic>

#include "lib/compat.hpp"
#include "lib/pyref.hpp"

namespace quorvel {

namespace {

void append_utf8(std::string& out, Py_UCS4 c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

PyObject* new_panic_type() noexcept {
    PyObject* type = PyErr_NewExceptionWithDoc(
        "quorvel.PanicException",
        "An internal fault of quorvel.  Derives from BaseException so that ordinary\n"
        "``except Exception`` handlers do not swallow it.",
        PyExc_BaseException, nullptr);
    if (type == nullptr) PyErr_Clear();
    return type;
}

// The type, once one thread has published it.
std::atomic<PyObject*> published_panic_type{nullptr};

// Created on first need and kept for the life of the process.  Threads that need it
// at the same time each create one and the first to publish it wins; the others
// drop theirs.  Nothing waits: a thread blocked on a lock (a guarded static,
// std::call_once) while attached to a free-threaded interpreter would keep a
// stop-the-world pause, which the creating thread's allocations can start, from
// ever completing, and both would hang.
PyObject* panic_type() noexcept {
    PyObject* type = published_panic_type.load(std::memory_order_acquire);
    if (type != nullptr) return type;
    PyObject* made = new_panic_type();
    if (made == nullptr) return nullptr;
    if (published_panic_type.compare_exchange_strong(type, made, std::memory_order_acq_rel,
                                                     std::memory_order_acquire)) {
        return made;
    }
    Py_DECREF(made);
    return type;
}

}  // namespace

PyObject* raise_message(PyObject* type, std::string_view message) noexcept {
    PyRef text(
        PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) return nullptr;
    PyObject* exc = PyObject_CallOneArg(type, text.get());
    if (exc == nullptr) return nullptr;
    PyErr_SetRaisedException(exc);
    return nullptr;
}

PyObject* raise_conversion_error(const ConversionError& error) noexcept {
    try {
        return raise_message(PyExc_ValueError, error.text());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyObject* raise_panic(std::string_view what) noexcept {
    PyObject* type = panic_type();
    if (type == nullptr) type = PyExc_SystemError;
    return raise_message(type, what);
}

void clear_error_unless_out_of_memory() {
    const bool out_of_memory = PyErr_ExceptionMatches(PyExc_MemoryError) != 0;
    PyErr_Clear();
    if (out_of_memory) throw std::bad_alloc();
}

std::string lenient_utf8(PyObject* obj) {
    std::string out;
    PyRef str(PyObject_Str(obj));
    if (!str) {
        clear_error_unless_out_of_memory();
        return out;
    }
    const Py_ssize_t n = PyUnicode_GetLength(str.get());
    const int kind = PyUnicode_KIND(str.get());
    const void* data = PyUnicode_DATA(str.get());
    out.reserve(static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = PyUnicode_READ(kind, data, i);
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
        append_utf8(out, c);
    }
    return out;
}

std::string type_qualname(PyObject* obj) {
    PyRef name(PyType_GetQualName(Py_TYPE(obj)));
    if (!name) {
        clear_error_unless_out_of_memory();
        return std::string();
    }
    return lenient_utf8(name.get());
}

}  // namespace quorvel
