// The twelve module functions, in registration order.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace quorvel {

extern PyMethodDef MODULE_FUNCTIONS[];
extern const std::size_t MODULE_FUNCTION_COUNT;

}  // namespace quorvel
