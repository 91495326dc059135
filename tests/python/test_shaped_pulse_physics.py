"""The hs1_inversion.RF shaped pulse on one proton at several offsets against a Bloch rotation
through the file's own points."""
import numpy as np

from physics_models import amplitude_rad_s, bloch_rotation, run, step, write_molecule, write_sequence


def read_shape(path):
    """Phase (degrees), amplitude (of 1023) and relative duration of every point of an .RF file."""
    rows = [line.split() for line in path.read_text().splitlines() if line.strip() and not line.startswith("#")]
    return np.array([[float(v) for v in row[:3]] for row in rows])


def bloch_through_shape(shape, length_s, peak_rad_s, offset_hz):
    """Equilibrium magnetisation (0, 0, 1) through the shape's points, each a rotation about its
    effective field (amplitude and phase of the point, the offset along +z), in the sense in which a
    pulse of phase x turns z towards +y."""
    m = np.array([0.0, 0.0, 1.0])
    durations = shape[:, 2] / shape[:, 2].sum() * length_s
    for (phase_deg, amplitude, _), tau in zip(shape, durations):
        a = peak_rad_s * amplitude / 1023.0
        phi = np.radians(phase_deg)
        field = np.array([a * np.cos(phi), a * np.sin(phi), 2 * np.pi * offset_hz])
        strength = np.linalg.norm(field)
        if strength > 0:
            m = bloch_rotation(*(field / strength), -strength * tau) @ m
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
    want = np.array([bloch_through_shape(shape, length_us * 1e-6, amplitude_rad_s(power_db), o) for o in offsets])
    assert min(got[:, 2]) < -0.95 and max(got[:, 2]) > 0.5  # inverted inside the band, not outside
    assert np.max(np.abs(got - want)) < 1e-6


def test_relaxation_during_the_hs1_pulse_follows_the_bloch_equations(examples):
    # The same pulse on resonance with T1 20 ms and T2 5 ms, both switched on: after each point's
    # rotation the magnetisation relaxes for the point's duration, transverse by exp(-t / T2) and
    # longitudinal towards equilibrium by exp(-t / T1). The 2 ms pulse loses a tenth of its inversion.
    write_molecule(examples, "fast.mol", ["H0"], [0.0], {}, [20], [5])
    write_sequence(examples, "hs1.psq", [step(), step(pulses=(-51, "", "")), step()], shaped_pulse="hs1_inversion.RF")
    bench, _ = run(examples, "fast.mol", "hs1.psq", (("Text14(10)", "0"), ("Check1(5)", "1"), ("Check1(7)", "1")),
                   (("s1_hs1_inversion.RF", 2000.0), ("r1", 40.0), ("o1", 0.0)))
    operators = bench.operators()
    got = np.array([operators.get(f"{axis}H0", np.zeros(1))[0] for axis in "xyz"]) / 10000.0
    shape = read_shape(examples / "hs1_inversion.RF")
    m = np.array([0.0, 0.0, 1.0])
    tau = 2e-3 / len(shape)
    for phase_deg, amplitude, _ in shape:
        a = amplitude_rad_s(40.0) * amplitude / 1023.0
        phi = np.radians(phase_deg)
        m = bloch_rotation(np.cos(phi), np.sin(phi), 0.0, -a * tau) @ m
        m = m * np.array([np.exp(-tau / 0.005)] * 2 + [np.exp(-tau / 0.020)]) + [0, 0, 1 - np.exp(-tau / 0.020)]
    assert -0.95 < m[2] < -0.7  # relaxation visible
    assert np.max(np.abs(got - m)) < 1e-4
