#!/usr/bin/python3
"""A NumPy yardstick for Velmora's COSY: the same work done the textbook way.

N weakly coupled protons (0.3 ppm apart, J(a, b) = 1 + (3a + 5b) mod 15 Hz for every pair, T2 100 ms,
as bench/whole_runs.sh builds them), 90x - t1 - 90 (x, then y: States) - acquisition, Ni + 1
increments of two runs. The density matrix lives in the Zeeman basis (2^N x 2^N, complex); free
evolution is diagonal there (a phase per element); each 90-degree pulse is the product of one-spin
rotations, applied spin by spin as a 2 x 2 matrix on one axis of the matrix's tensor shape; the FID
is the sum over the single-quantum elements that F+ reads, each an exponential in time. With --map
the FIDs go through a States 2D transform and the magnitude map is written as TSV (f1 rows, f2
columns), as velmora-cli run --outputs map writes map2d.tsv.

    bench/numpy_cosy.py --spins 10 --ni 31 --np 256
    bench/numpy_cosy.py --spins 3 --ni 255 --np 1024 --map map.tsv
"""
import argparse

import numpy as np

FIELD_MHZ = 400.0
SW_HZ = 2000.0
T2_S = 0.1


def spin_system(n):
    shifts_hz = np.array([(-1.5 + 0.3 * k) * FIELD_MHZ for k in range(n)])
    j_hz = np.zeros((n, n))
    for a in range(n):
        for b in range(a + 1, n):
            j_hz[a, b] = 1 + (3 * a + 5 * b) % 15
    return shifts_hz, j_hz


def energies(n, shifts_hz, j_hz):
    """Diagonal of H / hbar in rad/s: m_k = +1/2 for bit k clear, -1/2 for bit k set."""
    states = np.arange(2 ** n)
    m = 0.5 - ((states[:, None] >> np.arange(n)) & 1)
    e = m @ shifts_hz
    for a in range(n):
        for b in range(a + 1, n):
            e = e + j_hz[a, b] * m[:, a] * m[:, b]
    return 2 * np.pi * e, m


def one_spin_rotation(angle, phase):
    """exp(-i angle (cos(phase) Ix + sin(phase) Iy)) on one spin."""
    c, s = np.cos(angle / 2), np.sin(angle / 2)
    off = -1j * s * np.exp(-1j * phase)
    return np.array([[c, off], [-1j * s * np.exp(1j * phase), c]])


def pulse(rho, n, angle, phase):
    """U rho U^dagger with U the product of the same rotation on every spin, one spin at a time."""
    u = one_spin_rotation(angle, phase)
    dim = 2 ** n
    for k in range(n):
        # Bit k of the row index is axis 1 of (2^(n-1-k), 2, 2^k * dim).
        r = rho.reshape(dim >> (k + 1), 2, (1 << k) * dim)
        rho = np.einsum("ij,ajb->aib", u, r).reshape(dim, dim)
        c = rho.reshape(dim * (dim >> (k + 1)), 2, 1 << k)
        rho = np.einsum("ij,ajb->aib", u.conj(), c).reshape(dim, dim)
    return rho


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--spins", type=int, default=10)
    parser.add_argument("--ni", type=int, default=31)
    parser.add_argument("--np", type=int, default=256, dest="points")
    parser.add_argument("--map", help="write the magnitude map here as TSV")
    args = parser.parse_args()
    n, points = args.spins, args.points
    shifts_hz, j_hz = spin_system(n)
    e, m = energies(n, shifts_hz, j_hz)
    dim = 2 ** n

    rho0 = np.diag(m.sum(axis=1)).astype(complex)
    excited = pulse(rho0, n, np.pi / 2, 0.0)
    frequency = e[:, None] - e[None, :]  # rho_ij turns as exp(-i (E_i - E_j) t)

    # The single-quantum elements F+ reads: Tr(F+ rho) = sum over k, rows with bit k clear, of
    # rho[i | bit k, i].
    rows, cols = [], []
    for k in range(n):
        lower = np.arange(dim)[(np.arange(dim) >> k) & 1 == 0]
        rows.append(lower | (1 << k))
        cols.append(lower)
    rows, cols = np.concatenate(rows), np.concatenate(cols)
    t2 = np.arange(points) / SW_HZ
    line_phase = np.exp(-1j * np.outer(frequency[rows, cols], t2)) * np.exp(-t2 / T2_S)

    fids = np.empty((args.ni + 1, 2, points), dtype=complex)
    for increment in range(args.ni + 1):
        t1 = increment / SW_HZ
        evolved = excited * np.exp(-1j * frequency * t1) * np.exp(-t1 / T2_S)
        for run, phase in enumerate((0.0, np.pi / 2)):
            rho = pulse(evolved, n, np.pi / 2, phase)
            fids[increment, run] = rho[rows, cols] @ line_phase

    if args.map:
        spectra = np.fft.fftshift(np.fft.fft(fids, axis=2), axes=2)
        states = spectra[:, 0].real + 1j * spectra[:, 1].real
        square = np.zeros((points, points), dtype=complex)
        square[: args.ni + 1] = states
        plane = np.abs(np.fft.fftshift(np.fft.fft(square, axis=0), axes=0))
        f2 = np.linspace(SW_HZ / 2, -SW_HZ / 2, points, endpoint=False)
        with open(args.map, "w") as out:
            out.write("f1\\f2\t" + "\t".join(f"{v:.15g}" for v in f2) + "\n")
            table = np.column_stack([f2, plane])
            np.savetxt(out, table, fmt="%.15g", delimiter="\t")
    print(f"{2 * (args.ni + 1)} runs of {n} spins, {points} points; |FID(0)| of run 0: {abs(fids[0, 0, 0]):.6g}")


if __name__ == "__main__":
    main()
