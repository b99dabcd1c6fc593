#include "lib/source.hpp"

#include <string>

#include "lib/compat.hpp"
#include "lib/raise.hpp"

namespace quorvel {

namespace {

bool not_a_byte_buffer(const char* name) {
    raise_message(PyExc_BufferError, std::string(name) + " must be a contiguous one-byte buffer");
    return false;
}

}  // namespace

bool acquire_source(PyObject* obj, const char* name, bool accept_str,
                    SourceInput& source) noexcept {
    try {
        if (accept_str && PyUnicode_Check(obj)) {
            Py_ssize_t size = 0;
            const char* data = utf8_of(obj, &size);
            if (data == nullptr) return false;
            source.is_text = true;
            source.data = std::string_view(data, static_cast<std::size_t>(size));
            return true;
        }
        if (PyBytes_Check(obj)) {
            source.data = std::string_view(PyBytes_AS_STRING(obj),
                                           static_cast<std::size_t>(PyBytes_GET_SIZE(obj)));
            return true;
        }
        if (!source.view.acquire(obj, PyBUF_FULL_RO)) {
            if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
            PyErr_Clear();
            return not_a_byte_buffer(name);
        }
        const Py_buffer& view = source.view.view();
        if (view.shape == nullptr) {
            source.view.release();
            raise_message(PyExc_BufferError, "shape is null");
            return false;
        }
        if (view.strides == nullptr) {
            source.view.release();
            raise_message(PyExc_BufferError, "strides is null");
            return false;
        }
        if (view.itemsize != 1 || !PyBuffer_IsContiguous(&view, 'C')) {
            source.view.release();
            return not_a_byte_buffer(name);
        }
        source.data = source.view.bytes();
        return true;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
}

}  // namespace quorvel
