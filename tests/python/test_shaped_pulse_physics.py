"""Shaped pulses and phase cycles against independent propagations: the hs1_inversion.RF pulse on
one proton at several offsets against a Bloch rotation through the file's own points, and a
phase-cycled sequence against the density matrix with the cycle's phases applied by hand."""
import numpy as np

from physics_models import amplitude_rad_s, best_scale_residual, bloch_rotation, run, step, write_sequence


def read_shape(path):
    """Phase (degrees), amplitude (of 1023) and relative duration of every point of an .RF file."""
    rows = [line.split() for line in path.read_text().splitlines() if line.strip() and not line.startswith("#")]
    return np.array([[float(v) for v in row[:3]] for row in rows])


def bloch_through_shape(shape, length_s, peak_rad_s, offset_hz, sense):
    """Equilibrium magnetisation (0, 0, 1) through the shape's points, each a rotation about its
    effective field (amplitude and phase of the point, offset along z); `sense` +1 or -1 chooses
    the sense of rotation, which the comparison leaves open."""
    m = np.array([0.0, 0.0, 1.0])
    durations = shape[:, 2] / shape[:, 2].sum() * length_s
    for (phase_deg, amplitude, _), tau in zip(shape, durations):
        a = peak_rad_s * amplitude / 1023.0
        phi = np.radians(phase_deg)
        field = np.array([a * np.cos(phi), a * np.sin(phi), sense * 2 * np.pi * offset_hz])
        strength = np.linalg.norm(field)
        if strength > 0:
            m = bloch_rotation(*(field / strength), sense * strength * tau) @ m
    return m


def test_the_hs1_inversion_pulse_follows_the_bloch_equations_across_offsets(examples):
    # A 2 ms pulse at 40 dB (5 kHz peak) on one proton on resonance; its phase sweeps the frequency
    # over about +-8 kHz. The channel offset o1 is arrayed from -16 to +16 kHz, across the inverted
    # band and beyond it.
    length_us, power_db = 2000.0, 40.0
    write_sequence(examples, "hs1.psq", [step(), step(pulses=(-51, "", "")), step()], arrayed="o1",
                   shaped_pulse="hs1_inversion.RF")
    bench, _ = run(examples, "gradient_echo.mol", "hs1.psq",
                   (("Text14(10)", "0"), ("Text14(0)", "2000"), ("Text14(11)", "16"), ("Check1(5)", "0"),
                    ("Check1(7)", "0"), ("Text14(12)", "64")),
                   (("s1_hs1_inversion.RF", length_us), ("r1", power_db), ("o1", -16000.0)))
    operators = bench.operators()
    got = np.array([operators.get(f"{axis}H0", np.zeros(17)) for axis in "xyz"]).T / 10000.0
    shape = read_shape(examples / "hs1_inversion.RF")
    offsets = bench.arrayed_values()
    assert len(offsets) == 17
    errors = {}
    for sense in (1, -1):
        want = np.array([bloch_through_shape(shape, length_us * 1e-6, amplitude_rad_s(power_db), o, sense)
                         for o in offsets])
        # The sense of rotation and the receiver's axes leave x and y open; z and |xy| are not.
        errors[sense] = max(np.max(np.abs(got[:, 2] - want[:, 2])),
                            np.max(np.abs(np.hypot(got[:, 0], got[:, 1]) - np.hypot(want[:, 0], want[:, 1]))))
    assert min(got[:, 2]) < -0.95 and max(got[:, 2]) > 0.5  # inverted inside the band, not outside
    assert min(errors.values()) < 1e-3, errors


def test_a_phase_cycled_double_quantum_filter_follows_the_density_matrix_scan_by_scan(examples):
    # 90(x) - 3.7 ms - 90(x) 90(f6) - acquire(f5) on three coupled protons, four scans: the last
    # pulse steps through x, y, -x, -y and the receiver through x, -y, -x, y, which keeps only what
    # passed through double-quantum coherence. Each scan is propagated with its own phases and its
    # FID turned back by the receiver phase before the four are added.
    from test_density_matrix import acquire, hamiltonian, propagate, propagator, spin_operators

    write_sequence(examples, "dqf.psq",
                   [step(), step(pulses=("p2", "", ""), delay="d1"), step(pulses=("p2", "", "")),
                    step(pulses=("p2", "", ""), phases=(6, 0, 0)), step(phases=(5, 0, 0))],
                   phase_table=("0000", "0321", "0123", "0", "0", "0"), template="cosy.psq")
    bench, got = run(examples, "pulse_acquire.mol", "dqf.psq",
                     (("Text14(10)", "0"), ("Text14(11)", "0"), ("Text14(12)", "512"), ("Text14(1)", "4"),
                      ("Check1(5)", "0"), ("Check1(7)", "0")),
                     (("d1", 3.7), ("p2", 5.0), ("r1", 60.0)))
    mhz, sw = float(bench.get("Text14(3)")), float(bench.get("Text14(6)"))
    ops = spin_operators(3)
    h = hamiltonian(ops, [ppm * mhz for ppm in (-1.5, 0.2, 1.8)], {(0, 1): 7.0, (0, 2): 3.0, (1, 2): 12.0})

    def pulse(quarter_turns):
        phi = quarter_turns * np.pi / 2
        return propagator(np.cos(phi) * sum(ops["x"]) + np.sin(phi) * sum(ops["y"]), np.pi / 2)

    # A receiver turned by a quarter undoes what a pulse phase turned by a quarter does to the signal.
    equilibrium = sum(ops["z"])
    quarter = (acquire(propagate(equilibrium, [pulse(1)]), h, ops, sw, 1)[0] /
               acquire(propagate(equilibrium, [pulse(0)]), h, ops, sw, 1)[0])
    scans = [acquire(propagate(equilibrium, [pulse(0), propagator(h, 0.0037), pulse(0), pulse(last)]), h, ops,
                     sw, 512) for last in range(4)]
    want = sum(fid / quarter ** receiver for fid, receiver in zip(scans, (0, 3, 2, 1)))
    wrong_receiver = sum(fid * quarter ** receiver for fid, receiver in zip(scans, (0, 3, 2, 1)))
    assert best_scale_residual(want, wrong_receiver) > 0.3 and best_scale_residual(want, scans[0]) > 0.3
    assert best_scale_residual(got[0], want) < 0.01
