// Turning failures into Python exceptions, and the guard that keeps C++
// exceptions from unwinding into the interpreter.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "lib/error.hpp"

namespace quorvel {

// Raises type(message) as a fresh exception: one str argument, no cause, no
// context.  Returns nullptr for convenience.
PyObject* raise_message(PyObject* type, std::string_view message) noexcept;

// A ConversionError becomes a ValueError carrying its text form.
PyObject* raise_conversion_error(const ConversionError& error) noexcept;

// An internal fault: PanicException, a direct subclass of BaseException.
PyObject* raise_panic(std::string_view what) noexcept;

// The str of any object as UTF-8, characters that cannot be encoded (lone
// surrogates) replaced by U+FFFD.  Never fails; empty when str() itself fails.
std::string lenient_utf8(PyObject* str) noexcept;

// Qualified name of an object's type, as lenient UTF-8.
std::string type_qualname(PyObject* obj) noexcept;

// A broken internal invariant.
[[noreturn]] inline void internal_fault(const char* what) {
    throw std::logic_error(what);
}

// Runs a module function body; no C++ exception leaves it.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& e) {
        return raise_panic(e.what());
    } catch (...) {
        return raise_panic("unknown internal fault");
    }
}

}  // namespace quorvel
