// The module definition: multi-phase initialisation, an exec slot that registers
// the functions and __all__, and no module state.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "lib/compat.hpp"
#include "lib/functions.hpp"
#include "lib/pyref.hpp"

namespace quorvel {

namespace {

// The module's __all__, created as an empty list when it does not exist yet.
PyObject* all_list(PyObject* module) {
    PyObject* all = PyObject_GetAttrString(module, "__all__");
    if (all != nullptr || !PyErr_ExceptionMatches(PyExc_AttributeError)) return all;
    PyErr_Clear();
    all = PyList_New(0);
    if (all != nullptr && PyObject_SetAttrString(module, "__all__", all) < 0) Py_CLEAR(all);
    return all;
}

int register_function(PyObject* module, PyObject* module_name, PyMethodDef* def) {
    PyRef function(PyCMethod_New(def, module, module_name, nullptr));
    if (!function) return -1;
    PyRef name(PyObject_GetAttrString(function.get(), "__name__"));
    if (!name) return -1;
    PyRef all(all_list(module));
    if (!all) return -1;
    if (PyList_Append(all.get(), name.get()) < 0) return -1;
    return PyObject_SetAttr(module, name.get(), function.get());
}

int exec_module(PyObject* module) noexcept {
    PyRef module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (std::size_t i = 0; i < MODULE_FUNCTION_COUNT; ++i) {
        if (register_function(module, module_name.get(), &MODULE_FUNCTIONS[i]) < 0) return -1;
    }
    return 0;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_module)},
#if QUORVEL_HAS_MOD_GIL
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "quorvel",  // m_name
    "",         // m_doc: an empty str, not None
    0,          // m_size: no per-module state
    nullptr,    // m_methods: the exec slot adds the functions
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace quorvel

PyMODINIT_FUNC PyInit_quorvel() {
    return PyModuleDef_Init(&quorvel::module_def);
}
