"""Relaxation in whole runs against closed forms and the Solomon equations: inversion recovery
with T1, the decay of a spin echo with T2, and the transient NOE of one proton after a selective
inversion of its cross-relaxing partner."""
import numpy as np

from physics_models import best_scale_residual, expm, run, step, write_molecule, write_sequence


def test_inversion_recovery_follows_one_minus_twice_the_decay(examples):
    # One proton, T1 500 ms: the 180 degree pulse, a recovery delay d1 (arrayed), the 90 degree pulse.
    # On resonance, so that the hard pulses leave no transverse remainder.
    write_molecule(examples, "ir.mol", ["H0"], [0.0], {}, [500], [500])
    bench, got = run(examples, "ir.mol", "inversion_recovery.psq", (("Text14(10)", "0"),))
    tau = bench.arrayed_values() / 1000.0
    want = 1 - 2 * np.exp(-tau / 0.5)
    scale = np.vdot(want, got[:, 0]) / np.vdot(want, want)
    # 1e-3 of full scale: the 10 us pulses shift the recovery by far less.
    assert np.max(np.abs(got[:, 0] - scale * want)) < 1e-3 * abs(scale)
    assert abs(scale) > 9900  # a fully polarised proton reads 10000 after its 90 degree pulse


def test_the_echo_of_one_proton_decays_with_t2_over_both_delays(examples):
    # 90 - d1 - 180(y) - d1 - acquire: the echo forms at the first sample; T2 50 ms, T1 switched off.
    bench, got = run(examples, "spin_echo.mol", "spin_echo.psq",
                     (("Text14(10)", "0"), ("Check1(5)", "0"), ("Check1(7)", "1"), ("Text14(11)", "7")))
    tau = bench.arrayed_values() / 1000.0
    want = np.exp(-2 * tau / 0.050)
    # The offset is refocused, so every run's echo has the same phase as the first.
    assert np.max(np.abs(got[:, 0] / got[0, 0] - want / want[0])) < 1e-3


def test_selective_inversion_gives_the_partner_the_solomon_transient_noe(examples):
    # Two uncoupled protons sqrt(3) x 2000 Hz apart. A 250 us pulse of 2000 Hz amplitude on the
    # first inverts it and turns the second (effective field 4000 Hz) once round, back to +z. After
    # the mixing delay the z magnetisations are read at the start of the acquisition.
    mhz = 170.0
    write_molecule(examples, "noe.mol", ["H0", "H1"], [0.0, np.sqrt(3) * 2000 / mhz], {}, [500, 800],
                   [1000, 1000])
    write_sequence(examples, "noe.psq", [step(delay="d2"), step(pulses=("p1", "", ""), powers=("r1", "r2", "r3"),
                                                                 delay="d1"), step()], arrayed="d1")
    bench, _ = run(examples, "noe.mol", "noe.psq",
                   (("Text14(3)", str(mhz)), ("Text14(0)", "150"), ("Text14(11)", "8"), ("Check1(5)", "1"),
                    ("Check1(7)", "0"), ("Check1(4)", "1"), ("Text14(17)", "1500"), ("Text14(12)", "64")),
                   (("p1", 250.0), ("r1", 60 - 20 * np.log10(25)), ("d1", 1.0), ("d2", 0.0)))
    operators = bench.operators()
    got = np.array([operators["zH0"], operators["zH1"]]).T

    # Solomon equations, rates in 1/s: d(dI)/dt = -rho_I dI - sigma dS and the same for S, with
    # rho = 1 / T1 of each spin and sigma = 1 / Tcr (the box's time in ms) for two protons.
    rho, sigma = np.array([1 / 0.5, 1 / 0.8]), 1 / 1.5
    rates = -np.array([[rho[0], sigma], [sigma, rho[1]]])
    m0 = 10000.0
    for r, d1_ms in enumerate(bench.arrayed_values()):
        # The inversion taken at the pulse's centre, 0.125 ms into the step; both spins start at
        # equilibrium, so only the inversion's deviation evolves.
        want = m0 + expm(rates * (d1_ms / 1000.0 - 0.000125)) @ np.array([-2 * m0, 0.0])
        # 0.3 % of full polarisation: the pulse's length, rotated before it relaxes, moves ~10.
        assert np.max(np.abs(got[r] - want)) < 30.0, f"d1 {d1_ms} ms: {got[r]} against {want}"
    assert np.max(got[:, 1]) > m0 + 1000  # a clear positive enhancement


def test_each_protons_lines_in_the_fid_decay_with_its_own_t2(examples):
    # pulse_acquire.mol: three coupled protons with T2 1000, 100 and 100 ms. Under weak coupling the
    # signal of spin k stays transverse at k alone, so it decays as exp(-t / T2(k)).
    from test_density_matrix import acquire, hamiltonian, propagate, propagator, spin_operators

    bench, got = run(examples, "pulse_acquire.mol", "pulse_acquire.psq",
                     (("Text14(10)", "0"), ("Text14(12)", "512"), ("Check1(7)", "1"), ("Check1(5)", "1")))
    mhz, sw = float(bench.get("Text14(3)")), float(bench.get("Text14(6)"))
    ops = spin_operators(3)
    h = hamiltonian(ops, [ppm * mhz for ppm in (-1.5, 0.2, 1.8)], {(0, 1): 7.0, (0, 2): 3.0, (1, 2): 12.0})
    rho = propagate(sum(ops["z"]), [propagator(sum(ops["x"]), np.pi / 2)])
    t = np.arange(512) / sw
    want = sum(acquire(rho, h, {axis: [ops[axis][k]] for axis in ops}, sw, 512) * np.exp(-t / t2)
               for k, t2 in enumerate((1.0, 0.1, 0.1)))
    undamped = acquire(rho, h, ops, sw, 512)
    assert best_scale_residual(want, undamped) > 0.3
    assert best_scale_residual(got[0], want) < 0.01


def test_an_inverted_proton_enhances_its_heteronucleus_as_the_solomon_equations_say(examples):
    # H0 and a carbon or a nitrogen, T1 1 s each, Tcr 2 s (sigma / rho = 1/2, the extreme-narrowing
    # ratio). The z coefficients are polarisations with equilibria in the ratio of the gammas (10000,
    # 2515 and -1014); one sigma couples both, so the steady-state enhancement under proton
    # saturation would be (gamma_H / gamma_X) sigma / rho: +1.99 for 13C, -4.93 for 15N, whose
    # negative gamma turns its signal over. Here the proton is inverted by a hard pulse on its
    # channel alone and both are read after the arrayed delay d1.
    for label, m0_x in (("C1", 2515.074), ("N1", -1013.984)):
        write_molecule(examples, "hx.mol", ["H0", label], [0.0, 0.0], {}, [1000, 1000], [1000, 1000])
        write_sequence(examples, "hx_noe.psq", [step(), step(pulses=("p3", "", ""), delay="d1"), step()],
                       arrayed="d1", template="inept.psq")
        bench, _ = run(examples, "hx.mol", "hx_noe.psq",
                       (("Text14(0)", "500"), ("Text14(11)", "4"), ("Check1(4)", "1"), ("Check1(5)", "1"),
                        ("Text14(17)", "2000")),
                       (("d1", 1.0),))
        operators = bench.operators()
        got = np.array([operators["zH0"], operators["z" + label]]).T
        m0 = np.array([10000.0, m0_x])
        rates = -np.array([[1.0, 0.5], [0.5, 1.0]])
        for r, d1_ms in enumerate(bench.arrayed_values()):
            want = m0 + expm(rates * (d1_ms - 0.005) / 1000.0) @ np.array([-2 * m0[0], 0.0])
            assert np.max(np.abs(got[r] - want)) < 10.0, f"{label}, d1 {d1_ms} ms: {got[r]} against {want}"
