"""Velmora from Python: the COSY example, step by step.

Make the module importable from the build tree first (see the README), then run this script from
the repository's top folder:

    PYTHONPATH=build/python python3 examples/cosy_tutorial.py

It copies the example files into a scratch working directory, runs the COSY as Start_2D, prints
the strongest points of the map and, when matplotlib is installed, saves a contour plot as
cosy_map.png in that directory. It also writes the map as a JCAMP-DX file.
"""
import pathlib
import shutil
import tempfile

import numpy as np

import velmora

# 1. A working directory of our own, holding the example molecule and sequence files.
examples = pathlib.Path(__file__).resolve().parent
work = pathlib.Path(tempfile.mkdtemp(prefix="velmora-cosy-"))
for name in ("cosy.mol", "cosy.psq"):
    shutil.copy(examples / name, work)

# 2. Open it and read the spin system and the sequence, as the window's File frame does.
bench = velmora.Workbench(str(work))
bench.open_molecule("cosy.mol")
bench.open_sequence("cosy.psq")

# 3. Controls go by name and index, exactly as velmora-cli --set takes them; elements by name.
print("proton frequency:", bench.get("Text14(3)"), "MHz; increments - 1:", bench.get("Text14(11)"))

# 4. Run Start_2D. The interpreter's lock is released meanwhile; progress hears every run.
bench.run(two_d=True, progress=lambda done, runs: print(f"\rrun {done} of {runs}", end=""))
print()

# 5. The map and its axes come back as NumPy arrays.
result = bench.map()
values = result["values"]
for flat in np.argsort(-np.abs(values), axis=None)[:5]:
    q, p = np.unravel_index(flat, values.shape)
    print(f"f1 {result['f1_ppm'][q]:7.3f} ppm  f2 {result['f2_ppm'][p]:7.3f} ppm  {values[q, p]:10.3f}")

# 6. The operator table of prodop.dat, keyed by operator name, one value per run.
operators = bench.operators()
print("operators:", ", ".join(list(operators)[:8]), "...")

# 7. Other NMR programs read the map as JCAMP-DX.
print("written:", bench.write_jcamp())

# 8. A contour plot, when matplotlib is there (it is optional).
try:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    print("matplotlib is not installed: no plot")
else:
    figure, axes = plt.subplots(figsize=(6, 6))
    top = np.abs(values).max()
    levels = top * np.array([0.05, 0.1, 0.2, 0.4, 0.8])
    axes.contour(result["f2_ppm"], result["f1_ppm"], values, levels=levels, colors="navy")
    axes.contour(result["f2_ppm"], result["f1_ppm"], values, levels=-levels[::-1], colors="crimson")
    axes.set_xlabel("f2 / ppm")
    axes.set_ylabel("f1 / ppm")
    axes.invert_xaxis()
    axes.invert_yaxis()
    figure.savefig(work / "cosy_map.png", dpi=100)
    print("plot:", work / "cosy_map.png")
print("working directory:", work)
