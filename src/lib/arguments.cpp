#include "lib/arguments.hpp"

#include <cstdint>
#include <string>

#include "lib/compat.hpp"
#include "lib/pyref.hpp"
#include "lib/raise.hpp"

namespace quorvel {

namespace {

constexpr const char* RANGE_MESSAGE =
    "srid is out of the allowed range: must fit in a 32-bit integer (-2147483648 to 2147483647)";

std::optional<SridPolicy> srid_from_int(PyObject* value) {
    const long long n = PyLong_AsLongLong(value);
    if (n == -1 && PyErr_Occurred()) {
        PyErr_Clear();  // the interpreter's OverflowError never surfaces
        raise_message(PyExc_ValueError, RANGE_MESSAGE);
        return std::nullopt;
    }
    if (n < INT32_MIN || n > INT32_MAX) {
        raise_message(PyExc_ValueError, RANGE_MESSAGE);
        return std::nullopt;
    }
    return SridPolicy::set(static_cast<std::int32_t>(n));
}

// "'T' object is not an instance of 'target'", or the None form.
std::string not_an_instance(PyObject* obj, const char* target) {
    std::string msg(obj == Py_None ? "'None'" : "'" + type_qualname(obj) + "' object");
    msg.append(" is not an instance of '").append(target).append("'");
    return msg;
}

std::string argument_prefix(const char* parameter) {
    return std::string("argument '") + parameter + "': ";
}

// Replaces a pending exception of exactly TypeError by one whose message names the
// parameter, keeping the cause of the replaced one.
void wrap_type_error(const char* parameter) {
    PyObject* pending = PyErr_GetRaisedException();
    if (pending == nullptr) return;
    if (!Py_IS_TYPE(pending, reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
        PyErr_SetRaisedException(pending);
        return;
    }
    PyRef old(pending);
    raise_message(PyExc_TypeError, argument_prefix(parameter) + lenient_utf8(old.get()));
    PyObject* cause = PyException_GetCause(old.get());
    if (cause != nullptr) {
        PyObject* fresh = PyErr_GetRaisedException();
        PyException_SetCause(fresh, cause);  // steals cause
        PyErr_SetRaisedException(fresh);
    }
}

// Whether a type is numpy's bool, by its module and name.  A type without a module (a
// class made where globals have no __name__) is not.
bool is_numpy_bool_type(PyTypeObject* type) {
    PyRef module(PyType_GetModuleName(type));
    PyRef name(module ? PyType_GetName(type) : nullptr);
    if (!name) {
        clear_error_unless_out_of_memory();
        return false;
    }
    return PyUnicode_EqualToUTF8(module.get(), "numpy") &&
           (PyUnicode_EqualToUTF8(name.get(), "bool_") ||
            PyUnicode_EqualToUTF8(name.get(), "bool"));
}

int flag_value(PyObject* obj) {
    if (Py_IS_TYPE(obj, &PyBool_Type)) return obj == Py_True ? 1 : 0;
    PyTypeObject* type = Py_TYPE(obj);
    if (obj != Py_None && is_numpy_bool_type(type)) {
        auto nb_bool = reinterpret_cast<inquiry>(PyType_GetSlot(type, Py_nb_bool));
        if (nb_bool == nullptr) {
            PyErr_Clear();
            raise_message(PyExc_TypeError, "object of type '" +
                                               lenient_utf8(reinterpret_cast<PyObject*>(type)) +
                                               "' does not define a '__bool__' conversion");
            return -1;
        }
        const int truth = nb_bool(obj);
        return truth < 0 ? -1 : (truth != 0 ? 1 : 0);
    }
    raise_message(PyExc_TypeError, not_an_instance(obj, "bool"));
    return -1;
}

std::optional<SridPolicy> decode_srid_impl(PyObject* obj, const SridMessages& messages) {
    if (Py_IS_TYPE(obj, &PyBool_Type)) {
        if (obj == Py_True) {
            raise_message(PyExc_ValueError, messages.for_true);
            return std::nullopt;
        }
        return SridPolicy::strip();
    }
    if (PyLong_Check(obj)) return srid_from_int(obj);

    PyRef index(PyObject_GetAttrString(obj, "__index__"));
    if (!index) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            raise_message(PyExc_ValueError, messages.for_wrong_type);
        }
        return std::nullopt;
    }
    PyRef value(PyObject_CallNoArgs(index.get()));
    if (!value) return std::nullopt;
    if (Py_IS_TYPE(value.get(), &PyBool_Type) || !PyLong_Check(value.get())) {
        raise_message(PyExc_ValueError, messages.for_wrong_type);
        return std::nullopt;
    }
    return srid_from_int(value.get());
}

}  // namespace

std::optional<SridPolicy> decode_srid(PyObject* obj, const SridMessages& messages) noexcept {
    try {
        return decode_srid_impl(obj, messages);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return std::nullopt;
    }
}

std::optional<SridPolicy> decode_optional_srid(PyObject* obj) noexcept {
    if (obj == nullptr || obj == Py_None) return SridPolicy::mirror();
    return decode_srid(obj, OPTIONAL_SRID_MESSAGES);
}

int decode_flag(PyObject* obj, const char* parameter) noexcept {
    if (obj == nullptr) return 0;
    if (Py_IS_TYPE(obj, &PyBool_Type)) return obj == Py_True ? 1 : 0;
    try {
        const int value = flag_value(obj);
        if (value < 0) wrap_type_error(parameter);
        return value;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return -1;
    }
}

std::optional<std::string_view> text_argument(PyObject* obj, const char* parameter) noexcept {
    if (!PyUnicode_Check(obj)) {
        try {
            raise_message(PyExc_TypeError,
                          argument_prefix(parameter) + not_an_instance(obj, "str"));
        } catch (const std::bad_alloc&) {
            PyErr_NoMemory();
        }
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* data = utf8_of(obj, &size);
    if (data == nullptr) return std::nullopt;
    return std::string_view(data, static_cast<std::size_t>(size));
}

}  // namespace quorvel
