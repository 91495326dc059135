# The build of the wheel: CMake builds only the extension velmora._velmora (no window, tests,
# benchmarks or command line) and installs it into the package velmora (src/python/velmora).
# pyproject.toml holds the package's description.
import os
import re
import shutil
import sys
from pathlib import Path

from skbuild import setup

HERE = Path(__file__).resolve().parent


def project_version():
    text = (HERE / "CMakeLists.txt").read_text(encoding="utf-8")
    found = re.search(r"project\(Velmora\s+VERSION\s+([0-9.]+)", text)
    if not found:
        raise RuntimeError("CMakeLists.txt names no project version")
    return found.group(1)


def forget_other_interpreters_build():
    """scikit-build keeps _skbuild/ between builds; a build made for another interpreter (another
    virtual environment) would be reused with that interpreter's paths, so it is removed."""
    for cache in HERE.glob("_skbuild/*/cmake-build/CMakeCache.txt"):
        found = re.search(r"^PYTHON_EXECUTABLE:\w+=(.*)$", cache.read_text(errors="replace"), re.M)
        if found and found.group(1) != sys.executable:
            shutil.rmtree(cache.parent)


forget_other_interpreters_build()

cmake_args = [
    "-DCMAKE_BUILD_TYPE=Release",
    "-DVELMORA_GUI=OFF",
    "-DVELMORA_TESTS=OFF",
    "-DVELMORA_BENCH=OFF",
    "-DVELMORA_PYTHON=ON",
    "-DVELMORA_WHEEL=ON",
]
# A compiler cache, when the caller names one (scripts/check-wheel does).
if os.environ.get("VELMORA_COMPILER_LAUNCHER"):
    cmake_args.append("-DCMAKE_CXX_COMPILER_LAUNCHER=" + os.environ["VELMORA_COMPILER_LAUNCHER"])
# An isolated build takes pybind11 from the package index: its CMake files are inside the package.
try:
    import pybind11

    cmake_args.append("-Dpybind11_DIR=" + pybind11.get_cmake_dir())
except ImportError:
    pass  # Debian's pybind11-dev, found by CMake itself
# Further CMake options, e.g. VELMORA_CMAKE_ARGS="-DVELMORA_NIFTI=OFF" where no niftiio is installed.
cmake_args += os.environ.get("VELMORA_CMAKE_ARGS", "").split()

setup(
    version=project_version(),
    packages=["velmora"],
    package_dir={"": "src/python"},
    cmake_install_dir="src/python",
    cmake_args=cmake_args,
    cmake_install_target="install-python-module",
)
