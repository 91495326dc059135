"""The velmora module against the command line: the same inputs give the same spectra.tsv,
map2d.tsv, prodop.dat and JCAMP-DX files; runs stop from another thread; refusals raise."""
import threading

import numpy as np
import pytest

import velmora


def read_table(path):
    lines = path.read_text().splitlines()
    return lines[0], [line.split("\t") for line in lines[1:]]


def general(x):
    """The tables' number format: 15 significant digits, so equal doubles give equal texts."""
    return float(f"{x:.15g}")


def open_example(work, name):
    bench = velmora.Workbench(str(work))
    bench.open_molecule(f"{name}.mol")
    bench.open_sequence(f"{name}.psq")
    return bench


def test_pulse_acquire_equals_the_command_line(examples, cli_run):
    bench = open_example(examples, "pulse_acquire")
    bench.run()
    cli = cli_run("--mol", "pulse_acquire.mol", "--psq", "pulse_acquire.psq", "--jcamp")

    header, rows = read_table(cli / "spectra.tsv")
    table = np.array([[float(v) for v in row] for row in rows])
    spectra = bench.spectra()
    assert spectra["real"].shape == (1, len(rows))
    for column, key in ((0, "hz"), (1, "real"), (2, "imaginary"), (3, "magnitude")):
        values = spectra[key] if key == "hz" else spectra[key][0]
        assert [general(v) for v in values] == list(table[:, column]), key
    assert np.allclose(spectra["ppm"] * 170.0, spectra["hz"])

    # The strongest line of each multiplet lies at its shift x 170 MHz within the couplings.
    magnitude = spectra["magnitude"][0]
    for ppm in (-1.5, 0.2, 1.8):
        near = np.abs(spectra["ppm"] - ppm) < 0.06
        assert abs(spectra["ppm"][near][np.argmax(magnitude[near])] - ppm) < 0.06

    header, rows = read_table(cli / "prodop.dat")
    names = header.split("\t")
    operators = bench.operators()
    listed = [n for n in names[1:] if n in operators]
    assert listed == list(operators)
    for name in listed:
        text = rows[0][names.index(name)]
        assert float(text) == pytest.approx(operators[name][0], abs=0.0005 + 1e-9), name

    written = bench.write_jcamp()
    assert sorted(written) == ["fid_run0.jdx", "spectrum_run0.jdx"]
    for name in written:
        assert (examples / name).read_bytes() == (cli / name).read_bytes(), name


def test_autophase_sets_the_phase_bars_as_the_command_line_does(examples, cli_run):
    bench = open_example(examples, "pulse_acquire")
    with pytest.raises(velmora.VelmoraError, match="no spectrum to phase"):
        bench.autophase()
    bench.run()
    unphased = bench.spectra()["real"][0].sum()
    rp, lp = bench.autophase()
    assert (bench.get("Text2(5)"), bench.get("Text2(6)")) == (str(rp), str(lp))

    # The same routine as --autophase: the phased spectra equal the command line's table.
    cli = cli_run("--mol", "pulse_acquire.mol", "--psq", "pulse_acquire.psq", "--autophase")
    _, rows = read_table(cli / "spectra.tsv")
    spectra = bench.spectra()
    assert [general(v) for v in spectra["real"][0]] == [float(row[1]) for row in rows]
    real = spectra["real"][0]
    assert real.sum() > unphased
    assert real[np.argmax(spectra["magnitude"][0])] > 0


def test_cosy_map_equals_the_command_line(examples, cli_run):
    bench = open_example(examples, "cosy")
    bench.run(two_d=True)
    cli = cli_run("--mol", "cosy.mol", "--psq", "cosy.psq", "--2d")

    header, rows = read_table(cli / "map2d.tsv")
    result = bench.map()
    assert [general(v) for v in result["f2_hz"]] == [float(v) for v in header.split("\t")[1:]]
    assert [general(v) for v in result["f1_hz"]] == [float(row[0]) for row in rows]
    for q, row in enumerate(rows):
        assert [general(v) for v in result["values"][q]] == [float(v) for v in row[1:]], q
    header, rows = read_table(cli / "prodop.dat")
    names = header.split("\t")
    for name, values in bench.operators().items():
        column = [float(row[names.index(name)]) for row in rows]
        assert np.allclose(values, column, rtol=0, atol=0.0005 + 1e-9), name
    with pytest.raises(velmora.VelmoraError, match="2D run keeps no FIDs"):
        bench.fids()


def test_controls_and_elements_as_the_command_line_sets_them(examples):
    with pytest.raises(velmora.VelmoraError, match="does not exist"):
        velmora.Workbench(str(examples / "nowhere"))
    bench = velmora.Workbench(str(examples))
    bench.set("Text14(12)", "128")
    assert bench.get("Text14(12)") == 128
    bench.set_element("d1", 2.5)
    assert bench.element("d1") == 2.5
    with pytest.raises(velmora.VelmoraError, match='there is no control "Text99"'):
        bench.set("Text99", "1")
    with pytest.raises(velmora.VelmoraError, match="takes a number"):
        bench.set("Text14(3)", "many")
    with pytest.raises(velmora.VelmoraError, match="cannot read"):
        bench.open_molecule("missing.mol")
    bench.run()
    assert bench.spectra()["real"].shape[1] == 128
    assert bench.fids()["seconds"][1] == pytest.approx(1 / float(bench.get("Text14(6)")))


def test_a_run_stops_from_another_thread_and_the_bench_stays_usable(examples):
    bench = velmora.Workbench(str(examples))
    bench.set("Text14(11)", "400")
    first_run_done, stop_sent = threading.Event(), threading.Event()

    def stopper():
        first_run_done.wait()
        bench.stop()
        stop_sent.set()

    def progress(done, runs):
        # The run waits here until the other thread has stopped it, so it cannot finish first.
        first_run_done.set()
        stop_sent.wait()

    thread = threading.Thread(target=stopper)
    thread.start()
    with pytest.raises(velmora.RunStopped):
        bench.run(progress=progress)
    thread.join()
    assert not bench.running

    bench.set("Text14(11)", "1")
    bench.run()
    spectra = bench.spectra()
    assert spectra["real"].shape[0] == 2
    # Every run's own spectrum, and their sum beside them.
    assert np.allclose(spectra["real"].sum(axis=0), spectra["sum_real"], rtol=0, atol=1e-9 * np.abs(spectra["sum_real"]).max())


def test_a_refused_run_raises_its_message_and_leaves_the_bench_usable(examples):
    bench = velmora.Workbench(str(examples))
    bench.set("Text14(11)", "2147483647")
    with pytest.raises(velmora.VelmoraError, match='of memory for its records.*"Ni"'):
        bench.run()
    bench.set("Text14(11)", "0")
    bench.run()
    assert len(bench.arrayed_values()) == 1


def test_an_exception_in_the_progress_callback_ends_the_run(examples):
    bench = velmora.Workbench(str(examples))
    bench.set("Text14(11)", "50")

    def progress(done, runs):
        raise KeyError("enough")

    with pytest.raises(KeyError, match="enough"):
        bench.run(progress=progress)
    assert not bench.running


def test_names_stay_in_the_working_directory_and_saves_take_their_extension(examples):
    bench = velmora.Workbench(str(examples))
    outside = examples.parent
    for call, name in [(bench.open_sequence, "../outside.psq"), (bench.open_molecule, "/etc/hostname"),
                       (bench.save_molecule, "../outside.mol"), (bench.save_sequence, "../../outside_seq")]:
        with pytest.raises(velmora.VelmoraError, match="folder"):
            call(name)
    assert not (outside / "outside.mol").exists()
    bench.save_molecule("mine")
    bench.save_sequence("mine")
    assert (examples / "mine.mol").exists() and (examples / "mine.psq").exists()
    assert not (examples / "mine").exists()
    with pytest.raises(velmora.VelmoraError, match="a molecule is saved as .mol"):
        bench.save_molecule("mine.psq")


def test_write_files_false_keeps_the_results_in_memory_and_the_result_set_as_it_was(examples):
    bench = velmora.Workbench(str(examples))
    bench.open_molecule("pulse_acquire.mol")
    bench.run()

    def result_files():
        return {p.name: p.read_bytes() for p in examples.iterdir()
                if p.is_file() and p.name not in ("rem.mol", "rem.psq", "rem.options")}

    before = result_files()
    bench.set("Text14(11)", "3")
    bench.run(write_files=False)
    assert result_files() == before
    assert bench.spectra()["real"].shape[0] == 4

    bench.run(write_files=["spectra"])
    manifest = (examples / "run-manifest.txt").read_text()
    assert [line for line in manifest.splitlines() if line.startswith("file\t")] == ["file\tspectra.tsv"]
    assert "call\tWorkbench.run(two_d=False, write_files=[spectra])" in manifest
    assert "opened\tpulse_acquire.mol\tfnv1a64:" in manifest


def test_progress_names_the_phase_rises_and_reaches_one_at_the_end(examples):
    bench = velmora.Workbench(str(examples))
    bench.set("Text14(11)", "20")
    heard = []
    bench.run(on_progress=lambda phase, fraction: heard.append((phase, fraction)))
    phases = [phase for phase, _ in heard]
    assert phases[0] == "runs" and "spectra" in phases and phases[-1] == "writing"
    fractions = [fraction for _, fraction in heard]
    assert fractions == sorted(fractions)
    assert fractions[-1] == 1.0 and max(fractions[:-1]) < 1.0
