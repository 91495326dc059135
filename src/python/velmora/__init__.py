"""Velmora, the NMR spin-dynamics simulator, driven from Python.

Build a spin system and a sequence in code (SpinSystem, Sequence) or open the files of a working
directory, set boxes by their readable names, run, and read spectra and FIDs as complex arrays with
the universal dictionary of their dimensions. sweep(), exchange_sweep() and fit_images() spread many
runs, exchange grid points or image slices over Dask (velmora.sweeps). The simulator itself is the extension module
velmora._velmora, the same workbench the window and velmora-cli drive.
"""
from . import _velmora
from ._velmora import *  # noqa: F401,F403  (Workbench, SpinSystem, Sequence, VelmoraError, ...)
from ._velmora import __version__

# The classes are velmora's own: help() names them so, and pickles find them here.
for _name in dir(_velmora):
    _member = getattr(_velmora, _name)
    if isinstance(_member, type) and getattr(_member, "__module__", "") == "velmora._velmora":
        _member.__module__ = __name__
del _name, _member

from .sweeps import SweepResult, exchange_sweep, fit_images, grid_points, sweep, write_grid  # noqa: E402

__all__ = [name for name in dir(_velmora) if not name.startswith("_")] + [
    "sweep", "exchange_sweep", "fit_images", "grid_points", "write_grid", "SweepResult"]
