"""Inversion recovery built in code (180 - d1 - 90, d1 arrayed) and T1 fitted from the arrayed
spectra with SciPy: M(t) = M0 (1 - 2 a exp(-t / T1)).

    python3 inversion_recovery_t1.py      (needs SciPy)
"""
import pathlib
import tempfile

import numpy as np
from scipy.optimize import curve_fit

import velmora

T1_MS = 500.0
spins = velmora.SpinSystem()
spins.add_spin("1H", shift_ppm=0.0, t1_ms=T1_MS, t2_ms=500.0)

sequence = velmora.Sequence(steps=2)
sequence.pulse(1, "1H", "p3")  # 180 degrees
sequence.delay(1, "d1")  # the recovery delay
sequence.pulse(2, "1H", "p2")  # 90 degrees, then acquire
sequence.set_element("d1", 10)
sequence.array("d1", ni=15, increment=100)  # 16 delays: 10, 110, ..., 1510 ms
sequence.point(1)
sequence.set("relax-t1", True)
sequence.set("relax-t2", True)

bench = velmora.Workbench(pathlib.Path(tempfile.mkdtemp(prefix="velmora-t1-")))
bench.set_spin_system(spins)
bench.set_sequence(sequence)
bench.run()
delays = bench.arrayed_values()
spectra = [bench.spectrum(r)[0] for r in range(len(delays))]
# The signed height of the line: the last run's phase holds for all (the line is at 0 Hz).
reference = spectra[-1][np.argmax(np.abs(spectra[-1]))]
heights = np.array([np.real(s[np.argmax(np.abs(s))] * np.conj(reference)) / abs(reference) for s in spectra])


def recovery(t, m0, a, t1):
    return m0 * (1 - 2 * a * np.exp(-t / t1))


(m0, a, t1), _ = curve_fit(recovery, delays, heights, p0=(heights[-1], 1.0, 300.0))
print("delays (ms):", " ".join(f"{t:g}" for t in delays))
print(f"fitted T1 = {t1:.1f} ms (model {T1_MS:g} ms), inversion a = {a:.3f}")
