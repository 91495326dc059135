"""Runs of the product-operator engine and its synthesized acquisition against an independent
density-matrix propagation of the same spins (weak couplings, ideal pulses, rotating frames).

The FIDs must agree up to one complex constant (the receiver's scale and phase) and the sense of
rotation, which the comparison leaves open by trying the propagated FID and its conjugate."""
import numpy as np

import velmora
from physics_models import cosy_with_first_phase

PAULI = {
    "x": np.array([[0, 1], [1, 0]]) / 2,
    "y": np.array([[0, -1j], [1j, 0]]) / 2,
    "z": np.array([[1, 0], [0, -1]]) / 2,
}


def spin_operators(count):
    def embed(matrix, k):
        result = np.eye(1)
        for q in range(count):
            result = np.kron(result, matrix if q == k else np.eye(2))
        return result

    return {axis: [embed(m, k) for k in range(count)] for axis, m in PAULI.items()}


def propagator(generator, angle):
    values, vectors = np.linalg.eigh(generator)
    return vectors @ np.diag(np.exp(-1j * values * angle)) @ vectors.conj().T


def hamiltonian(ops, offsets_hz, couplings_hz):
    h = sum(2 * np.pi * f * z for f, z in zip(offsets_hz, ops["z"]))
    return h + sum(2 * np.pi * j * ops["z"][a] @ ops["z"][b] for (a, b), j in couplings_hz.items())


def propagate(rho, steps):
    for u in steps:
        rho = u @ rho @ u.conj().T
    return rho


def acquire(rho, h, detected, sw, points):
    detect = (sum(detected["x"]) + 1j * sum(detected["y"])).conj().T
    dwell = propagator(h, 1.0 / sw)
    fid = []
    for _ in range(points):
        fid.append(np.trace(rho @ detect))
        rho = propagate(rho, [dwell])
    return np.array(fid)


def residual(got, want):
    """Largest deviation, relative to the largest point, after the best complex scale of `want` or
    of its conjugate."""
    best = np.inf
    for candidate in (want, np.conj(want)):
        scale = np.vdot(candidate, got) / np.vdot(candidate, candidate)
        best = min(best, np.max(np.abs(got - scale * candidate)) / np.max(np.abs(got)))
    return best


def run_fids(work, molecule, sequence, controls):
    bench = velmora.Workbench(str(work))
    bench.open_molecule(molecule)
    bench.open_sequence(sequence)
    for control, text in controls:
        bench.set(control, text)
    bench.run()
    fids = bench.fids()
    return bench, fids["real"] + 1j * fids["imaginary"]


def test_the_echo_of_three_coupled_protons_follows_the_density_matrix(examples):
    # Homonuclear couplings are not refocused by the 180-degree pulse: at the echo the state holds
    # doubly antiphase terms (4 Ix Sz Tz) whose signal grows as sin(pi J1 t) sin(pi J2 t).
    bench, got = run_fids(examples, "pulse_acquire.mol", "spin_echo.psq",
                          (("Text14(11)", "7"), ("Text14(12)", "512"), ("Text14(10)", "0"), ("Check1(7)", "0")))
    mhz, sw = float(bench.get("Text14(3)")), float(bench.get("Text14(6)"))
    ops = spin_operators(3)
    h = hamiltonian(ops, [ppm * mhz for ppm in (-1.5, 0.2, 1.8)], {(0, 1): 7.0, (0, 2): 3.0, (1, 2): 12.0})
    taus = bench.arrayed_values()
    for r, tau in enumerate(taus):
        delay = propagator(h, tau / 1000.0)
        rho = propagate(sum(ops["z"]), [propagator(sum(ops["x"]), np.pi / 2), delay,
                                        propagator(sum(ops["y"]), np.pi), delay])
        want = acquire(rho, h, ops, sw, 512)
        # 2 %: the hard pulses last microseconds, not zero.
        assert residual(got[r], want) < 0.02, f"tau {tau} ms"


def test_inept_onto_a_carbon_with_two_protons_follows_the_density_matrix(examples):
    # H0, H1 and C2: the carbon coupled to both protons (140 and 125 Hz), the protons to each other.
    (examples / "ch2.mol").write_bytes(b"3,14,3,\r\nH0,H1,C2,\r\nH0,H1,C2,\r\n0.5,1.0,0,\r\n"
                                       b"0,6,140,6,0,125,140,125,0,\r\n1000,1000,1000,\r\n"
                                       b"1000,1000,1000,\r\nspare,\r\nspare,\r\nspare,\r\n")
    bench, got = run_fids(examples, "ch2.mol", "inept.psq", (("Text14(10)", "0"), ("Text14(12)", "1024")))
    mhz, sw = float(bench.get("Text14(3)")), float(bench.get("Text14(6)"))
    carbon = 0.2515074  # gyromagnetic ratio relative to the proton's
    ops = spin_operators(3)
    h = hamiltonian(ops, [0.5 * mhz, 1.0 * mhz, 0.0], {(0, 1): 6.0, (0, 2): 140.0, (1, 2): 125.0})
    tau = propagator(h, 1.0 / (4 * 140.0))
    protons = {axis: ops[axis][:2] for axis in ops}
    rho = propagate(ops["z"][0] + ops["z"][1] + carbon * ops["z"][2],
                    [propagator(sum(protons["x"]), np.pi / 2), tau, propagator(sum(ops["x"]), np.pi), tau,
                     propagator(sum(protons["y"]), np.pi / 2), propagator(ops["x"][2], np.pi / 2)])
    want = acquire(rho, h, {axis: ops[axis][2:] for axis in ops}, sw, 1024)
    assert residual(got[0], want) < 0.01


def test_both_runs_of_every_cosy_increment_on_three_coupled_protons_follow_the_density_matrix(examples):
    # The COSY's first pulse takes its phase from f4 ("01": x in the first run of an increment, y in
    # the second); run as arrayed 1D experiments with f4 fixed to x or to y, each run's FID is exposed.
    ops = spin_operators(3)
    for table, first in ((b"00", sum(ops["x"])), (b"11", sum(ops["y"]))):
        name = cosy_with_first_phase(examples, table)
        bench, got = run_fids(examples, "pulse_acquire.mol", name,
                              (("Text14(10)", "0"), ("Text14(11)", "8"), ("Text14(12)", "512"), ("Text14(0)", "3.7")))
        mhz, sw = float(bench.get("Text14(3)")), float(bench.get("Text14(6)"))
        h = hamiltonian(ops, [ppm * mhz for ppm in (-1.5, 0.2, 1.8)], {(0, 1): 7.0, (0, 2): 3.0, (1, 2): 12.0})
        for r, t1 in enumerate(bench.arrayed_values()[1:], start=1):  # t1 = 0 of x, x gives no signal
            rho = propagate(sum(ops["z"]), [propagator(first, np.pi / 2), propagator(h, t1 / 1000.0),
                                            propagator(sum(ops["x"]), np.pi / 2)])
            assert residual(got[r], acquire(rho, h, ops, sw, 512)) < 0.01, f"f4 {table}, t1 {t1} ms"
