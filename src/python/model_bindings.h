// Binds velmora.SpinSystem and velmora.Sequence, and the Workbench's calls that take files,
// models built in code and settings (open_*, save_*, set_spin_system, set_sequence, set, get).
#pragma once

#include "python_session.h"

#include <pybind11/pybind11.h>

namespace velmora::python {

void bindModelObjects(pybind11::module_& m);
void bindWorkbenchModel(pybind11::class_<PythonSession>& workbench);

}  // namespace velmora::python
