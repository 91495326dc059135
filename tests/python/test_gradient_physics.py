"""Gradients against the slice average of exp(i gamma G z t): the sample is cut into slices at
positions z = s/S - 0.5 (s = 0 .. S) across it, each precessing at its own offset, and the signal is
their weighted sum. A gradient value of 1 spreads the proton over 26.7519 rad/s across the sample."""
import numpy as np

from physics_models import best_scale_residual, run, step, write_molecule, write_sequence

RAD_PER_S_PER_UNIT = 26.7519  # 1H, from one end of the sample to the other


def slice_positions(bench):
    last = int(bench.get("Text14(5)"))
    return np.arange(last + 1) / last - 0.5


def test_the_gradient_echo_follows_the_slice_average_of_the_dephasing(examples):
    # 90 degrees, then g2 for d3 and the arrayed g3 for d3: after the two gradients every slice has
    # turned by z (g2 + g3) 26.7519 d3, so the echo's amplitude follows the net gradient area.
    bench, got = run(examples, "gradient_echo.mol", "gradient_echo.psq", (("Text14(10)", "0"),))
    z = slice_positions(bench)
    d3 = bench.element("d3") / 1000.0
    net = bench.element("g2") + bench.arrayed_values()
    want = np.array([np.mean(np.exp(1j * z * g * RAD_PER_S_PER_UNIT * d3)) for g in net])
    assert np.ptp(np.abs(want)) > 0.5  # the array passes through strong and weak echoes
    assert best_scale_residual(got[:, 0], want) < 1e-3


def test_a_shaped_gradient_dephases_by_its_mean_as_the_constant_one_refocuses(examples):
    # 90 degrees, then a half-sine gradient shape (256 points, 32767 at its top) of value 8 for d3,
    # then the constant arrayed g3 for d3: the net area per slice is z (8 mean(shape) + g3) d3.
    points = np.arange(256)
    shape = np.round(32767 * np.sin(np.pi * (points + 0.5) / 256))
    (examples / "halfsine.GRD").write_text("".join(f"{v:.0f}\r\n" for v in shape))
    write_sequence(examples, "shaped_echo.psq",
                   [step(), step(pulses=("p2", "", "")), step(gradient=-61, delay="d3"), step(gradient="g3", delay="d3"),
                    step()], arrayed="g3", shaped_gradient="halfsine.GRD", template="gradient_echo.psq")
    bench, got = run(examples, "gradient_echo.mol", "shaped_echo.psq",
                     (("Text14(10)", "0"), ("Text14(0)", "-1"), ("Text14(11)", "15")),
                     (("s1_halfsine.GRD", 8.0), ("g3", 0.0), ("d3", 20.0)))
    z = slice_positions(bench)
    net = 8.0 * shape.mean() / 32767 + bench.arrayed_values()
    want = np.array([np.mean(np.exp(1j * z * g * RAD_PER_S_PER_UNIT * 0.020)) for g in net])
    assert np.argmax(np.abs(want)) not in (0, len(want) - 1)  # the echo lies inside the array
    assert best_scale_residual(got[:, 0], want) < 1e-3


def test_a_gradient_during_the_acquisition_alone_reads_out_the_slice_profile(examples):
    # 90 degrees, then acquire under g4 = 60: each slice contributes its own frequency, together a
    # band 60 x 4.2577 Hz wide shaped as the object profile (flat for "square"), whose FID is the
    # weighted slice sum of exp(i z g 26.7519 t).
    write_sequence(examples, "read_gradient.psq",
                   [step(), step(pulses=("p2", "", "")), step(gradient="g4")], template="gradient_echo.psq")
    for profile in ("square", "gauss"):
        bench, got = run(examples, "gradient_echo.mol", "read_gradient.psq",
                         (("Text14(10)", "0"), ("Text14(11)", "0"), ("Text14(12)", "256"), ("Text14(6)", "400"),
                          ("Combo4(0)", profile)),
                         (("g4", 60.0),))
        z = slice_positions(bench)
        weights = np.ones_like(z) if profile == "square" else np.exp(-(4 * z) ** 2)
        t = np.arange(256) / float(bench.get("Text14(6)"))
        want = np.exp(1j * np.outer(t, z) * 60.0 * RAD_PER_S_PER_UNIT) @ (weights / weights.sum())
        assert np.abs(want[40]) < 0.2  # the band dephases within the acquisition
        assert best_scale_residual(got[0], want) < 1e-3, profile


def test_magnetisation_recovers_to_the_whole_equilibrium_while_split_into_slices(examples):
    # 180 - 1 ms - gradient g4 over the arrayed d1 - 90 - acquire, T1 500 ms, on resonance. During
    # the gradient the state is cut into slice rows, each recovering toward its share of the
    # equilibrium; summed back they follow 1 - 2 exp(-t / T1) like an undivided sample.
    write_molecule(examples, "ir.mol", ["H0"], [0.0], {}, [500], [500])
    write_sequence(examples, "ir_crush.psq",
                   [step(), step(pulses=("p3", "", ""), delay="d2"), step(gradient="g4", delay="d1"),
                    step(pulses=("p2", "", "")), step()], arrayed="d1")
    bench, got = run(examples, "ir.mol", "ir_crush.psq",
                     (("Text14(10)", "0"), ("Text14(0)", "200"), ("Text14(11)", "5"), ("Check1(5)", "1"),
                      ("Check1(7)", "0")),
                     (("d1", 10.0), ("d2", 1.0), ("g4", 50.0)))
    seconds = (bench.arrayed_values() + bench.element("d2")) / 1000.0
    want = 1 - 2 * np.exp(-seconds / 0.5)
    scale = np.vdot(want, got[:, 0]) / np.vdot(want, want)
    assert abs(scale) > 9900  # the full equilibrium, not a slice's share of it
    assert np.max(np.abs(got[:, 0] - scale * want)) < 1e-3 * abs(scale)
