"""The run driver's phase cycle and cycled block against independent propagations: a phase-cycled
sequence against the density matrix with each scan's phases applied by hand, and a CPMG echo train
built from a cycled block against its closed-form T2 decay."""
import numpy as np

from physics_models import best_scale_residual, run, step, write_molecule, write_sequence
from test_density_matrix import acquire, hamiltonian, propagate, propagator, spin_operators


def test_a_phase_cycled_double_quantum_filter_follows_the_density_matrix_scan_by_scan(examples):
    # 90(x) - 3.7 ms - 90(x) 90(f6) - acquire(f5) on three coupled protons, four scans: the last
    # pulse steps through x, y, -x, -y and the receiver through x, -y, -x, y, which keeps only what
    # passed through double-quantum coherence. Each scan is propagated with its own phases and its
    # FID turned back by the receiver phase before the four are added.
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


def test_a_cycled_cpmg_block_repeats_its_echo_count_times_plus_one(examples):
    # 90(x), then the block [d3 ; 180(y) + d3] as steps 2 .. 3 repeated Ncycle more times, then
    # acquire. One proton 51 Hz off resonance, T2 50 ms: the offset is refocused at every echo, so
    # the first sample's modulus is exp(-2 d3 (Ncycle + 1) / T2) of the full signal. (Its phase
    # moves by a few mrad per echo: the 180 degree pulse's centre lies 5 us past the middle.)
    write_molecule(examples, "cpmg.mol", ["H0"], [0.3], {}, [1000], [50])
    write_sequence(examples, "cpmg.psq",
                   [step(), step(pulses=("p2", "", "")), step(delay="d3"),
                    step(pulses=("p3", "", ""), phases=(1, 0, 0), delay="d3"), step()], template="spin_echo.psq")
    text = (examples / "cpmg.psq").read_bytes().split(b"\r\n", 1)
    header = text[0].split(b",")
    header[17], header[18] = b"2", b"3"  # cycle start and end steps
    (examples / "cpmg.psq").write_bytes(b",".join(header) + b"\r\n" + text[1])
    first = {}
    for count in (0, 1, 4):
        _, got = run(examples, "cpmg.mol", "cpmg.psq",
                     (("Text14(10)", "0"), ("Text14(11)", "0"), ("Check1(5)", "0"), ("Check1(7)", "1")),
                     (("d3", 2.0), ("Ncycle", float(count))))
        first[count] = got[0, 0]
    for count in (1, 4):
        assert abs(abs(first[count] / first[0]) - np.exp(-4e-3 * count / 0.050)) < 1e-4, count
