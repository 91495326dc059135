// Binds the Workbench's spectrum(), fid(), spectrum_2d() and to_xarray().
#pragma once

#include "python_session.h"

#include <pybind11/pybind11.h>

namespace velmora::python {

void bindResults(pybind11::class_<PythonSession>& workbench);

}  // namespace velmora::python
