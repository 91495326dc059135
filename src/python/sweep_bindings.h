// The pieces a sweep hands out as tasks: the repetitions of exchange grid points, their sum into the
// results table in grid order, and the fit of one slice of an image series. The scheduling itself
// is Dask's (velmora/sweep.py); these calls only compute and write.
#pragma once

#include "python_session.h"

#include <pybind11/pybind11.h>

namespace velmora::python {

void bindSweepPieces(pybind11::module_& module, pybind11::class_<PythonSession>& workbench);

}  // namespace velmora::python
