#include "lib/binding.hpp"

#include <string>

#include "lib/compat.hpp"
#include "lib/raise.hpp"

namespace quorvel {

namespace {

std::string callee(const Signature& sig) {
    return std::string(sig.function) + "()";
}

bool too_many_positional(const Signature& sig, Py_ssize_t given) {
    std::string msg = callee(sig) + " takes ";
    if (sig.n_required == sig.n_positional) {
        msg += std::to_string(sig.n_positional);
    } else {
        msg += "from " + std::to_string(sig.n_required) + " to " + std::to_string(sig.n_positional);
    }
    msg += " positional arguments but " + std::to_string(given) + " were given";
    raise_message(PyExc_TypeError, msg);
    return false;
}

// Raises the TypeError that names the unbound required parameters; called only when
// there is at least one.
bool missing_required(const Signature& sig, const Bound& bound) {
    std::string names[MAX_PARAMETERS];
    std::size_t count = 0;
    for (std::size_t i = 0; i < sig.n_required; ++i) {
        if (bound.slot[i] == nullptr) names[count++] = std::string("'") + sig.positional[i] + "'";
    }
    if (count == 0) return true;
    std::string list = names[0];
    for (std::size_t i = 1; i < count; ++i) {
        if (i + 1 < count) {
            list += ", " + names[i];
        } else {
            list += (count == 2 ? " and " : ", and ") + names[i];
        }
    }
    raise_message(PyExc_TypeError, callee(sig) + " missing " + std::to_string(count) +
                                       " required positional " +
                                       (count == 1 ? "argument" : "arguments") + ": " + list);
    return false;
}

// Index of the parameter a keyword names: keyword-only names first, then the
// positional ones; -1 when none matches (also when the name is not encodable).
Py_ssize_t find_parameter(const Signature& sig, PyObject* name) {
    for (std::size_t i = 0; i < sig.n_keyword_only; ++i) {
        if (PyUnicode_EqualToUTF8(name, sig.keyword_only[i])) {
            return static_cast<Py_ssize_t>(sig.n_positional + i);
        }
    }
    for (std::size_t i = 0; i < sig.n_positional; ++i) {
        if (PyUnicode_EqualToUTF8(name, sig.positional[i])) return static_cast<Py_ssize_t>(i);
    }
    return -1;
}

const char* parameter_name(const Signature& sig, Py_ssize_t index) {
    const auto i = static_cast<std::size_t>(index);
    return i < sig.n_positional ? sig.positional[i] : sig.keyword_only[i - sig.n_positional];
}

bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
          Bound& bound) {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (nargs > static_cast<Py_ssize_t>(sig.n_positional)) return too_many_positional(sig, nargs);
    for (Py_ssize_t i = 0; i < nargs; ++i) bound.slot[i] = args[i];

    const Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* name = PyTuple_GET_ITEM(kwnames, k);
        const Py_ssize_t index = find_parameter(sig, name);
        if (index < 0) {
            raise_message(PyExc_TypeError, callee(sig) + " got an unexpected keyword argument '" +
                                               lenient_utf8(name) + "'");
            return false;
        }
        if (bound.slot[index] != nullptr) {
            raise_message(PyExc_TypeError, callee(sig) + " got multiple values for argument '" +
                                               parameter_name(sig, index) + "'");
            return false;
        }
        bound.slot[index] = args[nargs + k];
    }
    for (std::size_t i = 0; i < sig.n_required; ++i) {
        if (bound.slot[i] == nullptr) return missing_required(sig, bound);
    }
    return true;
}

}  // namespace

bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargsf,
                    PyObject* kwnames, Bound& bound) noexcept {
    try {
        return bind(sig, args, nargsf, kwnames, bound);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    }
}

}  // namespace quorvel
