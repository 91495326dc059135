"""Fixtures of the velmora pytest suite: scratch copies of the examples and the command line's
results for the same inputs. CTest passes the paths in VELMORA_CLI and VELMORA_EXAMPLES and puts the
module's folder on PYTHONPATH."""
import os
import shutil
import subprocess

import pytest


def _path(variable):
    value = os.environ.get(variable)
    if not value:
        pytest.skip(f"{variable} is not set (run the suite through ctest)")
    return value


@pytest.fixture
def examples(tmp_path):
    """A fresh working directory holding the example files."""
    work = tmp_path / "python"
    shutil.copytree(_path("VELMORA_EXAMPLES"), work)
    return work


@pytest.fixture
def cli_run(tmp_path):
    """Runs velmora-cli on a fresh copy of the examples and returns that working directory."""

    def run(*arguments):
        work = tmp_path / "cli"
        shutil.copytree(_path("VELMORA_EXAMPLES"), work)
        subprocess.run([_path("VELMORA_CLI"), "run", "--workdir", str(work), "--quiet", *arguments],
                       check=True)
        return work

    return run
