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

// After a C API call failed: clears the error, unless it is a MemoryError, which goes
// on as std::bad_alloc for the caller's guard to raise again.  An allocation that
// fails is never taken for an answer (a name that is not there, an empty text).
void clear_error_unless_out_of_memory();

// The str of any object as UTF-8, characters that cannot be encoded (lone
// surrogates) replaced by U+FFFD; empty when str() itself fails.  Throws
// std::bad_alloc when memory runs out.
std::string lenient_utf8(PyObject* str);

// Qualified name of an object's type, as lenient UTF-8.  Throws std::bad_alloc when
// memory runs out.
std::string type_qualname(PyObject* obj);

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
