"""An AX system of two protons built in code, one 90-degree pulse, and the spectrum as a complex
array with its parameters.

    python3 ax_1d.py [OUTDIR]      (writes ax_1d.png there when matplotlib is installed)
"""
import pathlib
import sys
import tempfile

import numpy as np

import velmora

out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".")

# Two protons 2 ppm apart, coupled by 7 Hz.
spins = velmora.SpinSystem()
spins.add_spin("1H", shift_ppm=1.0, t2_ms=200)
spins.add_spin("1H", shift_ppm=3.0, t2_ms=200)
spins.couple(0, 1, 7.0)

# d2, then p2 (90 degrees about x) on 1H, then the acquisition.
sequence = velmora.Sequence(steps=1)
sequence.delay(0, "d2")
sequence.pulse(1, "1H", "p2", phase="x")
sequence.set("sw", 2000)  # +-1000 Hz: +-5.9 ppm at 170 MHz
sequence.set("np", 2048)
sequence.set("relax-t2", True)

bench = velmora.Workbench(pathlib.Path(tempfile.mkdtemp(prefix="velmora-ax-")))
bench.set_spin_system(spins)
bench.set_sequence(sequence)
bench.run()
bench.autophase()  # absorption: the phase bars as the window's autophase button sets them
print(f"phase: {bench.get('phase0'):g} degrees zero order, {bench.get('phase1'):g} degrees first order")
y, d = bench.spectrum(0)
print(f"{d['label']} at {d['obs']} MHz, sw {d['sw']} Hz, {d['size']} points")

# The four lines of the AX system: two doublets split by J.
magnitude = np.abs(y)
strongest = sorted(d["ppm"][np.argsort(magnitude)[::-1][:40]])
for ppm in (1.0, 3.0):
    near = [p for p in strongest if abs(p - ppm) < 0.1]
    print(f"doublet at {ppm} ppm: lines between {min(near):.3f} and {max(near):.3f} ppm")

try:
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
except ImportError:
    sys.exit(0)
fig, ax = plt.subplots(figsize=(7, 3))
ax.plot(d["ppm"], y.real, lw=0.8)
ax.set_xlim(3.3, 0.7)
ax.set_xlabel(f"{d['label']} shift (ppm)")
ax.set_title("AX system, pulse-acquire")
fig.tight_layout()
fig.savefig(out / "ax_1d.png", dpi=100)
print("wrote", out / "ax_1d.png")
