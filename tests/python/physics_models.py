"""Small helpers of the physics checks: sequence and molecule files written from a compact step
list, runs through the module, and the independent models (matrix exponential, Bloch rotations,
spin operators) that the checks compare the runs with."""
import numpy as np

import velmora

# Element indices of the sequence file's element table (codes are their negatives).
FIRST = {"p": 1, "d": 11, "g": 21, "o": 31, "r": 41}


def code(name):
    """The reference code of an element name such as "p2" or "d1"; 0 means no element."""
    return -(FIRST[name[0]] + int(name[1:]) - 1) if name else 0


def step(pulses=("", "", ""), phases=(0, 0, 0), powers=("r1", "r2", "r3"), offsets=("o1", "o2", "o3"),
         gradient="", delay=""):
    """One step: per channel the pulse element, phase code, power and offset element; then the
    step's gradient and delay elements. Codes given as numbers (-51 the first shaped pulse, -61 the
    first shaped gradient, -132 decoupling) are taken as they are."""
    return {"pulses": [p if isinstance(p, int) else code(p) for p in pulses], "phases": list(phases),
            "powers": [code(p) for p in powers], "offsets": [code(o) for o in offsets],
            "gradient": gradient if isinstance(gradient, int) else code(gradient), "delay": code(delay)}


def write_sequence(work, name, steps, arrayed="none", template="inversion_recovery.psq", shaped_pulse=None,
                   phase_table=None, shaped_gradient=None):
    """Writes NAME from the template with the given steps (the last one is the acquisition) and
    arrayed element; element values and boxes are set on the bench afterwards. `shaped_pulse` names
    the .RF file of the first shaped slot, "s1_" + file (code -51), `shaped_gradient` the .GRD file
    of the first shaped-gradient slot (code -61); `phase_table` the digit strings of f4 .. f9 (phase
    codes 4 .. 9)."""
    lines = (work / template).read_bytes().decode().split("\r\n")
    header = lines[0].split(",")
    header[0] = str(-code(arrayed)) if arrayed != "none" else "11"
    header[2] = arrayed
    header[7] = str(len(steps) - 2)
    lines[0] = ",".join(header)

    def row(key):
        return ",".join(str(v) for s in steps for v in s[key]) + ","

    if phase_table:
        lines[4] = ",".join(phase_table) + ","
    names = lines[5].split(",")
    if shaped_pulse:
        names[0] = "s1_" + shaped_pulse
    if shaped_gradient:
        names[10] = "s1_" + shaped_gradient
    lines[5] = ",".join(names)
    lines[6], lines[7], lines[8], lines[9] = row("pulses"), row("phases"), row("powers"), row("offsets")
    lines[10] = ",".join(str(s["gradient"]) for s in steps) + ","
    lines[11] = ",".join(str(s["delay"]) for s in steps) + ","
    (work / name).write_bytes("\r\n".join(lines).encode())


def cosy_with_first_phase(work, table):
    """The cosy.psq of `work` with the first pulse's phase table f4 ("01": x, then y) replaced by
    `table` (b"00" or b"11"), written beside it; returns the new file's name. Run as arrayed 1D
    experiments, every run's FID of one phase of the COSY is then exposed."""
    sequence = (work / "cosy.psq").read_bytes()
    name = f"cosy{table.decode()}.psq"
    (work / name).write_bytes(sequence.replace(b"\r\n01,0,0,0,0,0,\r\n", b"\r\n" + table + b",0,0,0,0,0,\r\n", 1))
    return name


def write_molecule(work, name, labels, ppm, couplings_hz, t1_ms, t2_ms):
    """Writes a molecule file: spin labels (their letter is the nucleus), shifts in ppm, couplings
    in Hz keyed by spin pairs, T1 and T2 in ms."""
    n = len(labels)
    j = np.zeros((n, n))
    for (a, b), value in couplings_hz.items():
        j[a, b] = j[b, a] = value

    def row(values):
        return "".join(f"{v:.15g}," for v in values) + "\r\n"

    names = "".join(f"{label}," for label in labels) + "\r\n"
    text = f"{n},14,{n},\r\n" + names * 2 + row(ppm) + row(j.ravel()) + row(t1_ms) + row(t2_ms)
    (work / name).write_bytes((text + "spare,\r\n" * 3).encode())


def run(work, molecule, sequence, controls=(), elements=(), two_d=False):
    """Runs the pair and returns the bench and the complex FIDs (runs x points)."""
    bench = velmora.Workbench(str(work))
    bench.open_molecule(molecule)
    bench.open_sequence(sequence)
    for control, text in controls:
        bench.set(control, text)
    for element, value in elements:
        bench.set_element(element, value)
    bench.run(two_d=two_d)
    fids = bench.fids()
    return bench, fids["real"] + 1j * fids["imaginary"]


def best_scale_residual(got, want):
    """Largest deviation relative to the largest point of `got` after the best complex scale of
    `want` or of its conjugate (the receiver's phase and the sense of rotation are left open)."""
    got, want = np.asarray(got), np.asarray(want)
    best = np.inf
    for candidate in (want, np.conj(want)):
        scale = np.vdot(candidate, got) / np.vdot(candidate, candidate)
        best = min(best, np.max(np.abs(got - scale * candidate)) / np.max(np.abs(got)))
    return best


def expm(generator):
    """Matrix exponential by scaling and squaring a Taylor series (no scipy needed)."""
    norm = np.max(np.sum(np.abs(generator), axis=1))
    squarings = max(0, int(np.ceil(np.log2(norm))) + 1) if norm > 0 else 0
    a = generator / 2.0 ** squarings
    result, term = np.eye(len(a), dtype=a.dtype), np.eye(len(a), dtype=a.dtype)
    for k in range(1, 20):
        term = term @ a / k
        result = result + term
    for _ in range(squarings):
        result = result @ result
    return result


def bloch_rotation(nx, ny, nz, angle):
    """Rotation matrix of a magnetisation vector by `angle` about the unit axis (nx, ny, nz)."""
    k = np.array([[0, -nz, ny], [nz, 0, -nx], [-ny, nx, 0]])
    return np.eye(3) + np.sin(angle) * k + (1 - np.cos(angle)) * k @ k


def amplitude_rad_s(power_db):
    """RF amplitude of a pulse at the power: a 360-degree rotation lasts 20 us at 60 dB, ten times
    longer for every 20 dB less."""
    return 2 * np.pi / (20e-6 * 10 ** ((60 - power_db) / 20))
