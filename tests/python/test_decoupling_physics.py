"""Heteronuclear decoupling against the density matrix: a decoupled spin takes no part in the
evolution, so the model drops its couplings (and its signal) for the decoupled intervals."""
import numpy as np

from physics_models import best_scale_residual, cosy_with_first_phase, run, step, write_molecule, write_sequence
from test_density_matrix import acquire, hamiltonian, propagate, propagator, spin_operators

CARBON = 0.2515074  # gyromagnetic ratio relative to the proton's


def test_refocused_inept_onto_a_carbon_with_the_proton_decoupled_gives_one_line(examples):
    # H0 (2 ppm) and C1 (10 ppm), J 140 Hz. INEPT leaves antiphase 2CyHz; a further 1/(4J) on each
    # side of a pair of 180 degree pulses refocuses it to in-phase carbon magnetisation, which the
    # acquisition with the proton decoupled ("dec" on its channel) reads as one line.
    write_molecule(examples, "ch.mol", ["H0", "C1"], [2.0, 10.0], {(0, 1): 140.0}, [1000, 1000], [1000, 1000])
    both_180 = dict(pulses=("p3", "p3", ""))
    write_sequence(examples, "refocused_inept.psq",
                   [step(delay="d2"), step(pulses=("p2", "", ""), delay="d4"), step(**both_180, delay="d4"),
                    step(pulses=("p2", "p2", ""), phases=(1, 0, 0)), step(delay="d4"), step(**both_180, delay="d4"),
                    step(pulses=(-132, "", ""))], template="inept.psq")
    bench, got = run(examples, "ch.mol", "refocused_inept.psq",
                     (("Text14(10)", "0"), ("Text14(12)", "512"), ("Text14(6)", "2000")),
                     (("d4", 1000.0 / (4 * 140.0)),))
    mhz, sw = float(bench.get("Text14(3)")), float(bench.get("Text14(6)"))
    ops = spin_operators(2)
    offsets = [2.0 * mhz, 10.0 * mhz * CARBON]
    h = hamiltonian(ops, offsets, {(0, 1): 140.0})
    tau = propagator(h, 1.0 / (4 * 140.0))
    carbon = {axis: ops[axis][1:] for axis in ops}
    both_x = sum(ops["x"])
    rho = propagate(ops["z"][0] + CARBON * ops["z"][1],
                    [propagator(ops["x"][0], np.pi / 2), tau, propagator(both_x, np.pi), tau,
                     propagator(ops["y"][0] + ops["x"][1], np.pi / 2), tau, propagator(both_x, np.pi), tau])
    decoupled = hamiltonian(ops, offsets, {})
    want = acquire(rho, decoupled, carbon, sw, 512)
    coupled = acquire(rho, h, carbon, sw, 512)
    assert best_scale_residual(want, coupled) > 0.5  # the doublet would differ from the line
    assert abs(want[0]) > 0.9  # the proton's polarisation (1 in these units) passes over whole
    assert best_scale_residual(got[0], want) < 0.01


def test_the_carbon_decoupled_cosy_shows_the_two_protons_coupled_only_to_each_other(examples):
    # cosy.mol: H0 (-0.5 ppm) and H1 (0.4 ppm), J 30 Hz, and C2 coupled to H1 by 140 Hz but
    # decoupled in every step from the first pulse on. Run as arrayed 1D experiments with the first
    # pulse's phase fixed to x or y, every t1 increment's FID is the two-proton COSY's.
    ops = spin_operators(2)
    for table, first in ((b"00", sum(ops["x"])), (b"11", sum(ops["y"]))):
        name = cosy_with_first_phase(examples, table)
        bench, got = run(examples, "cosy.mol", name,
                         (("Text14(10)", "0"), ("Text14(11)", "6"), ("Text14(12)", "512"), ("Text14(0)", "3.7")))
        mhz, sw = float(bench.get("Text14(3)")), float(bench.get("Text14(6)"))
        offsets = [-0.5 * mhz, 0.4 * mhz]
        h = hamiltonian(ops, offsets, {(0, 1): 30.0})
        for r, t1 in enumerate(bench.arrayed_values()[1:], start=1):
            rho = propagate(sum(ops["z"]), [propagator(first, np.pi / 2), propagator(h, t1 / 1000.0),
                                            propagator(sum(ops["x"]), np.pi / 2)])
            assert best_scale_residual(got[r], acquire(rho, h, ops, sw, 512)) < 0.01, f"f4 {table}, t1 {t1} ms"
