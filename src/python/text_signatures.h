// Gives every function of the module a signature that inspect.signature and help() read: the
// first line of a pybind11 docstring, "name(a: T = default, ...) -> R", becomes CPython's text
// signature "name(self, a=default, ...)\n--\n\n" ahead of the docstring.
#pragma once

#include <pybind11/pybind11.h>

namespace velmora::python {

void addTextSignatures(pybind11::module_& module);

}  // namespace velmora::python
