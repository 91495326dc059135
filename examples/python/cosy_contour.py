"""A COSY of the start-up molecule (two coupled protons and a decoupled carbon) as a contour plot,
with both axes from the map's universal dictionary.

    python3 cosy_contour.py [OUTDIR]     (writes cosy_contour.png; needs matplotlib)
"""
import pathlib
import sys
import tempfile

import numpy as np

import velmora

out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")

# A new working directory starts with the COSY model: H0, H1 (J = 30 Hz) and C2.
bench = velmora.Workbench(pathlib.Path(tempfile.mkdtemp(prefix="velmora-cosy-")))
bench.set("np", 128)
bench.run(two_d=True)
values, d = bench.spectrum_2d()
f1, f2 = d[0], d[1]
print(f"map {values.shape}: f1 sw {f1['sw']} Hz, f2 sw {f2['sw']} Hz, {f2['label']} at {f2['obs']} MHz")
row, column = np.unravel_index(np.argmax(np.abs(values)), values.shape)
print(f"strongest point: f1 {f1['ppm'][row]:.3f} ppm, f2 {f2['ppm'][column]:.3f} ppm")

import matplotlib  # noqa: E402

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

top = np.abs(values).max()
levels = top * np.geomspace(0.05, 0.9, 8)
fig, ax = plt.subplots(figsize=(5, 5))
ax.contour(f2["ppm"], f1["ppm"], values, levels=levels, colors="navy", linewidths=0.7)
ax.contour(f2["ppm"], f1["ppm"], values, levels=-levels[::-1], colors="crimson", linewidths=0.7)
ax.set_xlim(f2["ppm"].max(), f2["ppm"].min())
ax.set_ylim(f1["ppm"].max(), f1["ppm"].min())
ax.set_xlabel("f2 (ppm)")
ax.set_ylabel("f1 (ppm)")
ax.set_title("COSY")
fig.tight_layout()
fig.savefig(out / "cosy_contour.png", dpi=100)
print("wrote", out / "cosy_contour.png")
