// The few interfaces of newer CPythons that the module calls, with an equivalent
// for the older ones it also supports (3.11 and later).  Each stand-in gives the
// same result and leaves the same exception state as the function it replaces;
// on the version that has the function, the interpreter's own is used.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstring>

#include "lib/pyref.hpp"

// The free-threading slot (3.13): a module declares that it does not rely on the
// GIL.  Before 3.13 there is no such slot, and no build without the GIL.
#define QUORVEL_HAS_MOD_GIL (PY_VERSION_HEX >= 0x030D0000)

// The fast-call-with-keywords function type got its public name in 3.13; the
// older name stays an alias there.
#if PY_VERSION_HEX < 0x030D0000
using PyCFunctionFastWithKeywords = _PyCFunctionFastWithKeywords;
#endif

#if PY_VERSION_HEX < 0x030C0000
// PyErr_GetRaisedException (3.12): takes the pending exception, normalized and
// with its traceback attached, and clears the indicator; nullptr when none.
inline PyObject* PyErr_GetRaisedException() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr && value != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
}

// PyErr_SetRaisedException (3.12): makes exc (stolen) the pending exception, with
// its own type and traceback; nullptr clears the indicator.
inline void PyErr_SetRaisedException(PyObject* exc) {
    if (exc == nullptr) {
        PyErr_Restore(nullptr, nullptr, nullptr);
        return;
    }
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exc));
    Py_INCREF(type);
    PyErr_Restore(type, exc, PyException_GetTraceback(exc));
}
#endif

#if PY_VERSION_HEX < 0x030D0000
// PyType_GetModuleName (3.13): what type.__module__ reads through the type's own
// getter, never a metaclass's: a heap type's "__module__" entry, and for a static
// type the part of tp_name before its last dot, or "builtins" when it has none.
inline PyObject* PyType_GetModuleName(PyTypeObject* type) {
    if (PyType_HasFeature(type, Py_TPFLAGS_HEAPTYPE)) {
        PyObject* module = PyDict_GetItemString(type->tp_dict, "__module__");
        if (module == nullptr) {
            PyErr_SetString(PyExc_AttributeError, "__module__");
            return nullptr;
        }
        Py_INCREF(module);
        return module;
    }
    const char* dot = std::strrchr(type->tp_name, '.');
    if (dot == nullptr) return PyUnicode_FromString("builtins");
    return PyUnicode_FromStringAndSize(type->tp_name, dot - type->tp_name);
}

// PyUnicode_EqualToUTF8 (3.13): 1 when the str's UTF-8 form is exactly the bytes
// of the NUL-terminated string, else 0; a str that holds a surrogate has no UTF-8
// form and is equal to none.  Never raises.  Unlike 3.13's, it leaves the UTF-8
// form of a non-ASCII str cached in the object, as every UTF-8 request does.
inline int PyUnicode_EqualToUTF8(PyObject* unicode, const char* string) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(unicode, &size);
    if (utf8 == nullptr) {
        PyErr_Clear();
        return 0;
    }
    return static_cast<std::size_t>(size) == std::strlen(string) &&
           std::memcmp(utf8, string, static_cast<std::size_t>(size)) == 0;
}
#endif

namespace quorvel {

// PyUnicode_AsUTF8AndSize: the UTF-8 form of a str, made on the first request and kept
// in the object.  The free-threaded 3.13.0 and 3.13.1 made it without a lock: two
// threads asking for it of one str at once could both make it, racing on the object,
// and one copy leaked (CPython issue 128013; 3.13.2 and later take the str's lock,
// this same one, themselves).  An ASCII str is its own UTF-8 form, with nothing to make.
inline const char* utf8_of(PyObject* str, Py_ssize_t* size) {
#ifdef Py_GIL_DISABLED
    if (!PyUnicode_IS_ASCII(str)) {
        ObjectLock lock(str);
        return PyUnicode_AsUTF8AndSize(str, size);
    }
#endif
    return PyUnicode_AsUTF8AndSize(str, size);
}

}  // namespace quorvel
