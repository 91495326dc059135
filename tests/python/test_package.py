"""The package's side of the module: models built in code equal the files, settings by readable
name checked when set, results as complex arrays with the universal dictionary, paths, pickling and
signatures."""
import importlib.util
import inspect
import pathlib
import pickle
import re
import shutil

import numpy as np
import pytest

import velmora


def amx_in_code():
    """pulse_acquire.mol and pulse_acquire.psq, built in code."""
    spins = velmora.SpinSystem()
    for shift in (-1.5, 0.2, 1.8):
        spins.add_spin("1H", shift_ppm=shift, t2_ms=1000.0 if shift < 0 else 100.0)
    spins.couple(0, 1, 7.0)
    spins.couple(1, 2, 12.0)
    spins.couple(0, 2, 3.0)
    sequence = velmora.Sequence(steps=1)
    sequence.pulse(1, "1H", "p2")
    sequence.delay(0, "d2")
    for name, value in (("sw", 1000), ("np", 1024), ("lb", 1), ("window", "Lorenz")):
        sequence.set(name, value)
    return spins, sequence


def test_a_model_in_code_runs_as_its_files(examples, tmp_path):
    spins, sequence = amx_in_code()
    assert spins.to_text() == (examples / "pulse_acquire.mol").read_bytes().decode()
    assert sequence.to_text() == (examples / "pulse_acquire.psq").read_bytes().decode()

    other = tmp_path / "code"  # the shaped-pulse files, without the model's files
    shutil.copytree(examples, other, ignore=shutil.ignore_patterns("*.mol", "*.psq"))
    from_files = velmora.Workbench(examples)
    from_files.open_molecule("pulse_acquire.mol")
    from_files.open_sequence("pulse_acquire.psq")
    from_files.run()
    in_code = velmora.Workbench(other)
    in_code.set_spin_system(spins)
    in_code.set_sequence(sequence)
    in_code.run()
    for name in ("rem.mol", "rem.psq"):
        assert (other / name).read_bytes() == (examples / name).read_bytes(), name
    assert np.array_equal(in_code.spectrum(0)[0], from_files.spectrum(0)[0])


def reader_message(folder, lines):
    (folder / "bad.mol").write_bytes("".join(line + "\r\n" for line in lines).encode())
    with pytest.raises(velmora.VelmoraError) as refused:
        velmora.Workbench(folder).open_molecule("bad.mol")
    return str(refused.value)


def test_the_readers_refusals_are_raised_where_the_model_is_built(examples):
    spins = velmora.SpinSystem()
    for k in range(10):
        spins.add_spin("13C", shift_ppm=k)
    with pytest.raises(velmora.VelmoraError) as eleventh:
        spins.add_spin("1H")
    eleven = reader_message(examples, ["11,14,11,"])
    assert eleven.endswith(f"line 1: {eleventh.value}.")

    with pytest.raises(velmora.VelmoraError) as huge:
        velmora.SpinSystem().add_spin("1H", shift_ppm=1e39)
    too_large = reader_message(examples, ["1,14,1,", "H0,", "H0,", "1e39,", "0,", "1000,", "1000,"])
    assert str(huge.value).startswith("shift of spin 0") and "(shift of spin 0)" in too_large
    assert str(huge.value).endswith("the value is too large") and too_large.endswith("the value is too large.")

    # Values no spin can have are refused as the nuclei window refuses them.
    with pytest.raises(velmora.VelmoraError, match="shift of spin 0 must lie within -100000 and 100000 ppm"):
        velmora.SpinSystem().add_spin("1H", shift_ppm=1e30)
    with pytest.raises(velmora.VelmoraError, match="T2 of spin 0 must be above 0"):
        velmora.SpinSystem().add_spin("1H", t2_ms=-5)

    with pytest.raises(velmora.VelmoraError, match="is not a spin label"):
        velmora.SpinSystem().add_spin("2H")
    assert "is not a spin label" in reader_message(examples, ["1,14,1,", "D0,"])

    # A sequence refuses what the workbench refuses, with its message.
    bench, sequence = velmora.Workbench(examples), velmora.Sequence()
    for call in (lambda target: target.set("np", "abc"), lambda target: target.set_element("p2", -5)):
        with pytest.raises(velmora.VelmoraError) as on_bench:
            call(bench)
        with pytest.raises(velmora.VelmoraError) as in_code:
            call(sequence)
        assert str(on_bench.value) == str(in_code.value)
    with pytest.raises(velmora.VelmoraError, match='"p11" is not a pulse'):
        sequence.pulse(1, "1H", "p11")


def test_models_pickle_and_read_back(examples):
    spins = velmora.SpinSystem.read(examples / "cosy.mol")
    sequence = velmora.Sequence.read(examples / "swift_gapped.psq")
    assert pickle.loads(pickle.dumps(spins)) == spins
    copy = pickle.loads(pickle.dumps(sequence))
    assert copy.to_text() == sequence.to_text()
    assert velmora.SpinSystem.from_text(spins.to_text()) == spins
    cycled = velmora.Sequence(steps=2)
    cycled.cycle(1, 2, 3)
    assert velmora.Sequence.from_text(cycled.to_text()).element("Ncycle") == 3
    typed = velmora.SpinSystem()
    typed.add_spin("1H", shift_ppm=0.2)
    assert pickle.loads(pickle.dumps(typed)).spins[0]["shift_ppm"] == 0.2


def test_settings_by_readable_name_take_numbers_and_are_checked_when_set(examples):
    bench = velmora.Workbench(examples)
    bench.set("sw", 2000)
    assert bench.get("sw") == 2000.0 and bench.get("Text14(6)") == 2000.0
    bench.set("np", 512)
    assert bench.get("np") == 512 and isinstance(bench.get("np"), int)
    bench.set("relax-t2", True)
    assert bench.get("relax-t2") is True
    with pytest.raises(velmora.VelmoraError, match=re.escape('np (Text14(12)) takes a power of two, 2 to 65536, not "abc"')):
        bench.set("np", "abc")
    with pytest.raises(velmora.VelmoraError, match="np .* not \"1000\""):
        bench.set("Text14(12)", 1000)
    assert bench.get("np") == 512
    bench.set_element("p2", "3")
    assert bench.element("p2") == 3.0


def test_phase_in_degrees_moves_the_bars_autophase_moves(examples):
    bench = velmora.Workbench(examples)
    bench.open_molecule("pulse_acquire.mol")
    bench.open_sequence("pulse_acquire.psq")
    bench.run()
    unphased = bench.spectrum(0)[0]
    bench.set("phase0", 90)
    bench.set("phase1", 102.4)  # rp x np / 10 with np 1024: rp 1
    assert (bench.get("Text2(6)"), bench.get("Text2(5)")) == ("9", "1")
    assert (bench.get("phase0"), bench.get("phase1")) == (90.0, 102.4)
    rp, lp = bench.autophase()
    assert bench.get("phase0") == 10 * lp and bench.get("phase1") == rp * 1024 / 10
    assert not np.array_equal(bench.spectrum(0)[0], unphased)


def test_the_complex_spectrum_and_its_dictionary_agree_with_the_files(examples, cli_run):
    bench = velmora.Workbench(examples)
    bench.open_molecule("pulse_acquire.mol")
    bench.open_sequence("pulse_acquire.psq")
    bench.run()
    work = cli_run("--mol", "pulse_acquire.mol", "--psq", "pulse_acquire.psq", "--jcamp")
    y, d = bench.spectrum(0)
    rows = [line.split("\t") for line in (work / "spectra.tsv").read_text().splitlines()[1:]]
    table = np.array([[float(v) for v in row[:3]] for row in rows])
    assert y.dtype == np.complex128 and d["size"] == len(rows) and d["complex"] and d["freq"] and not d["time"]
    assert [float(f"{v:.15g}") for v in d["hz"]] == list(table[:, 0])
    assert [float(f"{v:.15g}") for v in y.real] == list(table[:, 1])
    assert [float(f"{v:.15g}") for v in y.imag] == list(table[:, 2])
    header = dict(re.findall(r"^##(.*?)= ?(.*)$", (work / "spectrum_run0.jdx").read_text(), re.M))
    assert float(header[".OBSERVE FREQUENCY"]) == d["obs"] and header[".OBSERVE NUCLEUS"] == "^" + d["label"]
    assert int(header["NPOINTS"]) == d["size"]
    first, last = ([float(v) for v in header[key].split(",")] for key in ("FIRST", "LAST"))
    assert (first[0], last[0]) == (d["hz"][0], d["hz"][-1])
    assert first[0] - last[0] == d["sw"] * (1 - 1 / d["size"])
    assert (first[1], first[2]) == (float(f"{y[0].real:.15g}"), float(f"{y[0].imag:.15g}"))
    # The universal dictionary's axis: hz(i) = car + (size/2 - i) sw / size.
    points = np.arange(d["size"])
    assert np.allclose(d["car"] + (d["size"] // 2 - points) * d["sw"] / d["size"], d["hz"])
    if importlib.util.find_spec("xarray"):
        array = bench.to_xarray("spectrum", 0)
        assert np.array_equal(array.values, y) and np.array_equal(array.coords["hz"], d["hz"])
        assert array.attrs["sw"] == d["sw"] and array.attrs["label"] == "1H"
    fid, f = bench.fid(0)
    assert f["time"] and fid.dtype == np.complex128 and f["seconds"][1] == pytest.approx(1 / d["sw"])


def test_the_2d_map_carries_both_dimensions(examples):
    bench = velmora.Workbench(examples)
    bench.set("np", 64)
    bench.run(two_d=True)
    values, d = bench.spectrum_2d()
    plain = bench.map()
    assert d["ndim"] == 2 and values.shape == (d[0]["size"], d[1]["size"])
    assert np.array_equal(values, plain["values"][::-1]) and np.array_equal(d[0]["hz"], plain["f1_hz"][::-1])
    for k in (0, 1):
        size, sw, car = d[k]["size"], d[k]["sw"], d[k]["car"]
        assert np.allclose(car + (size // 2 - np.arange(size)) * sw / size, d[k]["hz"])


def test_paths_names_and_signatures(examples, tmp_path):
    bench = velmora.Workbench(pathlib.Path(examples))
    bench.open_molecule((examples / "cosy.mol").absolute())
    with pytest.raises(velmora.VelmoraError, match="without a folder"):
        bench.open_molecule(str((examples / "cosy.mol").absolute()))
    bench.save_molecule("mine")
    bench.save_sequence(tmp_path / "elsewhere")
    assert (examples / "mine.mol").exists() and (tmp_path / "elsewhere.psq").exists()
    assert list(inspect.signature(bench.run).parameters) == ["two_d", "progress", "write_files", "on_progress"]
    assert list(inspect.signature(velmora.Workbench.spectrum).parameters) == ["self", "run"]
    assert re.fullmatch(r"\d+\.\d+\.\d+", velmora.__version__)
