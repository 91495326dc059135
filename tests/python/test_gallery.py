"""The scripts of examples/python run as written, and say what they should."""
import os
import pathlib
import subprocess
import sys

import pytest

GALLERY = pathlib.Path(__file__).resolve().parents[2] / "examples" / "python"


def run(script, tmp_path):
    done = subprocess.run([sys.executable, str(GALLERY / script), str(tmp_path)], capture_output=True, text=True,
                          env=os.environ, timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_ax_system_in_code(tmp_path):
    out = run("ax_1d.py", tmp_path)
    assert "1H at 170.0 MHz, sw 2000.0 Hz, 2048 points" in out
    assert "doublet at 1.0 ppm" in out and "doublet at 3.0 ppm" in out


def test_cosy_contour(tmp_path):
    pytest.importorskip("matplotlib")
    assert "strongest point" in run("cosy_contour.py", tmp_path)
    assert (tmp_path / "cosy_contour.png").stat().st_size > 0


def test_inversion_recovery_fit(tmp_path):
    pytest.importorskip("scipy")
    out = run("inversion_recovery_t1.py", tmp_path)
    t1 = float(out.split("fitted T1 = ")[1].split()[0])
    assert t1 == pytest.approx(500.0, rel=0.02)
