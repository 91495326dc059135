"""Parameter sweeps on Dask: many runs, exchange grid points or image slices, each one a task.

Every grid point runs as its own task in a working directory of its own (``<workdir>/sweep/...``),
with a Workbench of its own, so a point computes the same bits wherever it runs. The scheduling is
Dask's: ``client=None`` takes a local scheduler of processes on the machine's cores,
``client="serial"`` runs the points one after another in this process (the reference), and a
``dask.distributed`` client runs them on its workers (a LocalCluster, or a cluster of many
machines: the working directory must then be on a file system every worker sees). Progress is
Dask's own: ``progress=True`` shows dask.diagnostics' ProgressBar locally and distributed's
progress bar on a cluster.

The results are labelled arrays: an ``xarray.DataArray`` where xarray is installed, otherwise a
:class:`SweepResult` with the same ``values``, ``dims``, ``coords`` and ``attrs``. The grid's axes
come first and ``coords`` maps each grid name to its values. A point that fails holds NaN and its
message in ``attrs["errors"]`` (keyed by the point's grid values); the other points complete.
"""
import itertools
import os
import shutil
from pathlib import Path

import numpy as np

from . import _velmora

__all__ = ["sweep", "exchange_sweep", "fit_images", "grid_points", "write_grid", "SweepResult"]

# Input files a point's working directory receives besides the named molecule and sequence: shaped
# pulses, gradient shapes and array files, which sequences name by bare file name.
_INPUT_SUFFIXES = (".rf", ".grd", ".tab")


class SweepResult:
    """A labelled array where xarray is not installed: ``values`` (leading axes the grid's),
    ``dims`` (the axis names), ``coords`` (name -> values) and ``attrs`` (``errors`` among them)."""

    def __init__(self, values, dims, coords, attrs):
        self.values = values
        self.dims = tuple(dims)
        self.coords = {name: np.asarray(value) for name, (_, value) in coords.items()}
        self.attrs = attrs

    @property
    def shape(self):
        return self.values.shape

    @property
    def errors(self):
        """The failed points' messages, keyed by their grid values."""
        return self.attrs.get("errors", {})

    def __repr__(self):
        return f"<SweepResult {dict(zip(self.dims, self.values.shape))} errors={len(self.errors)}>"


def _labelled(values, dims, coords, attrs):
    """coords: name -> (dims, values)."""
    try:
        import xarray
    except ImportError:
        return SweepResult(values, dims, coords, attrs)
    return xarray.DataArray(values, dims=dims, coords={k: (d, np.asarray(v)) for k, (d, v) in coords.items()},
                            attrs=attrs)


def grid_points(grid):
    """The points of a grid in sweep order, as dicts: a dict name -> values is the full product (the
    last name varies fastest), a list of dicts is taken as it is."""
    if isinstance(grid, dict):
        names = list(grid)
        return [dict(zip(names, values)) for values in itertools.product(*(list(grid[n]) for n in names))]
    points = [dict(point) for point in grid]
    if not points:
        raise ValueError("the grid has no points")
    return points


def write_grid(path, grid):
    """Writes the grid's points as velmora-cli sweep reads them: a header line of names, then one
    tab-separated line of values per point, in sweep order."""
    points = grid_points(grid)
    names = list(points[0])
    lines = ["\t".join(names)] + ["\t".join(str(point[name]) for name in names) for point in points]
    Path(path).write_text("\n".join(lines) + "\n", encoding="utf-8")


def _grid_layout(grid):
    """(points, dims, grid shape, coords, key of a point for the error list)."""
    points = grid_points(grid)
    if isinstance(grid, dict):
        names = list(grid)
        shape = tuple(len(list(grid[n])) for n in names)
        coords = {n: ((n,), list(grid[n])) for n in names}
        return points, tuple(names), shape, coords, lambda k, point: tuple(point[n] for n in names)
    names = list(dict.fromkeys(name for point in points for name in point))
    coords = {n: (("point",), [point.get(n) for point in points]) for n in names}
    return points, ("point",), (len(points),), coords, lambda k, point: k


# ----- where the tasks run ---------------------------------------------------------------------


def _compute(function, jobs, client, progress):
    """function(job) for every job, in job order, on the chosen scheduler."""
    if isinstance(client, str):
        if client != "serial":
            raise ValueError(f'client is None, "serial" or a dask.distributed Client, not {client!r}')
        return [function(job) for job in jobs]
    if client is None:
        import contextlib
        import warnings

        try:
            import dask
        except ImportError:
            raise ImportError('client=None runs the points on Dask, which is not installed (Debian: '
                              'python3-dask; pip: dask); client="serial" runs them without it') from None

        tasks = [dask.delayed(function, pure=False)(job) for job in jobs]
        bar = contextlib.nullcontext()
        if progress:
            from dask.diagnostics import ProgressBar

            bar = ProgressBar()
        with bar, warnings.catch_warnings():
            # client=None asks for this machine's processes, even while a distributed client exists.
            warnings.filterwarnings("ignore", message="Running on a single-machine scheduler")
            return list(dask.compute(*tasks, scheduler="processes", num_workers=os.cpu_count()))
    futures = client.map(function, jobs, pure=False)
    if progress:
        from distributed import progress as distributed_progress

        distributed_progress(futures)
    return client.gather(futures)


def _fresh_directory(directory):
    directory = Path(directory)
    if directory.exists():
        shutil.rmtree(directory)
    directory.mkdir(parents=True)
    return directory


def _copy_inputs(source, target, names):
    """Copies the named files and the shaped pulses, gradient shapes and array files of `source`."""
    source = Path(source)
    for entry in source.iterdir():
        if entry.is_file() and (entry.name in names or entry.suffix.lower() in _INPUT_SUFFIXES):
            shutil.copyfile(entry, target / entry.name)


def _message(error):
    if isinstance(error, _velmora.VelmoraError):
        return str(error)
    return f"{type(error).__name__}: {error}"


def _model_name(model):
    return model if isinstance(model, (str, os.PathLike)) else None


# ----- runs ------------------------------------------------------------------------------------


def _assign(bench, name, value):
    """An element of the sequence (in its unit) or any box by its readable or control name."""
    try:
        bench.element(name)
    except _velmora.VelmoraError:
        bench.set(name, value.item() if isinstance(value, np.generic) else value)
        return
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise _velmora.VelmoraError(f"the element {name} takes a number, not {value!r}") from None
    bench.set_element(name, number)


def _kept(bench, keep):
    if callable(keep):
        return keep(bench)
    if keep == "spectra":
        columns = bench.spectra()
        return {"values": columns["real"] + 1j * columns["imaginary"], "hz": columns["hz"]}
    if keep == "map":
        found = bench.map()
        if found is None:
            raise _velmora.VelmoraError("there is no map: a map needs two_d=True")
        return {"values": found["values"], "f1_hz": found["f1_hz"], "f2_hz": found["f2_hz"]}
    if keep == "operators":
        return {"operators": bench.operators(), "arrayed": bench.arrayed_values()}
    raise ValueError(f'keep is "spectra", "map", "operators" or a function, not {keep!r}')


def _run_point(job):
    """One grid point in its own working directory: {"kept": ...} or {"error": message}."""
    try:
        directory = _fresh_directory(job["directory"])
        names = {name for name in (job["molecule"], job["sequence"]) if isinstance(name, str)}
        _copy_inputs(job["source"], directory, names)
        bench = _velmora.Workbench(str(directory))
        if job["threads"]:
            bench.threads = job["threads"]
        for model, opener, taker in ((job["molecule"], bench.open_molecule, bench.set_spin_system),
                                     (job["sequence"], bench.open_sequence, bench.set_sequence)):
            if isinstance(model, str):
                opener(model)
            elif model is not None:
                taker(model)
        for name, value in job["settings"].items():
            _assign(bench, name, value)
        bench.run(two_d=job["two_d"], write_files=False)
        return {"kept": _kept(bench, job["keep"])}
    except Exception as error:  # the point fails, the sweep goes on
        return {"error": _message(error)}


def _stack(kept, shape, fill):
    """Stacks the kept arrays of the points (None for a failed point) into shape + their shape."""
    present = [np.asarray(k) for k in kept if k is not None]
    if not present:
        return np.full(shape, fill)
    inner = present[0].shape
    if any(p.shape != inner for p in present):
        stacked = np.empty(len(kept), dtype=object)
        for k, value in enumerate(kept):
            stacked[k] = value
        return stacked.reshape(shape)
    dtype = np.result_type(*present, np.asarray(fill))
    stacked = np.full((len(kept),) + inner, fill, dtype=dtype)
    for k, value in enumerate(kept):
        if value is not None:
            stacked[k] = value
    return stacked.reshape(shape + inner)


def _axis(kept, key, grid_shape):
    """One axis of the points' results: a 1-D coordinate when every point has the same axis,
    otherwise one per point (dims: the grid's and the axis')."""
    present = [k[key] for k in kept if k is not None]
    if all(np.array_equal(present[0], p) for p in present):
        return False, present[0]
    return True, _stack([None if k is None else k[key] for k in kept], grid_shape, np.nan)


def sweep(workdir, molecule, sequence, grid, *, keep="spectra", two_d=False, client=None, progress=False):
    """Runs the experiment at every point of `grid` and returns the results as one labelled array.

    workdir: the working directory holding the files (str or Path); each point runs in
    workdir/sweep/point-<n> with copies of the molecule, the sequence and the shaped pulses,
    gradient shapes and array files. molecule, sequence: file names in workdir, or SpinSystem and
    Sequence objects (None keeps the start-up model). grid: a dict name -> values (the full product,
    the last name fastest) or a list of dicts; a name is an element of the sequence (set in its unit)
    or any box Workbench.set takes (readable names such as "field-mhz", "lb", or "Text14(3)").
    keep: "spectra" (complex, run x hz), "map" (f1 x f2, with two_d=True), "operators" (the operator
    table at the point step: operator x run, NaN where an operator is not listed at a point) or a
    function of the point's Workbench after its run, returning a number or an array.
    two_d: Start_2D instead of Start. client: None (local processes), "serial" or a
    dask.distributed Client. Failed points hold NaN and their message in attrs["errors"].
    """
    points, dims, shape, coords, key = _grid_layout(grid)
    source = Path(workdir).resolve()
    base = source / "sweep"
    parallel = not (isinstance(client, str) and client == "serial")
    jobs = [{"directory": str(base / f"point-{k:05d}"), "source": str(source),
             "molecule": molecule if not isinstance(molecule, os.PathLike) else str(molecule),
             "sequence": sequence if not isinstance(sequence, os.PathLike) else str(sequence),
             "settings": point, "keep": keep, "two_d": two_d, "threads": 1 if parallel else 0}
            for k, point in enumerate(points)]
    outcomes = _compute(_run_point, jobs, client, progress)
    errors = {key(k, point): outcome["error"] for k, (point, outcome) in enumerate(zip(points, outcomes))
              if "error" in outcome}
    kept = [outcome.get("kept") for outcome in outcomes]
    attrs = {"errors": errors, "keep": keep if isinstance(keep, str) else getattr(keep, "__name__", "function"),
             "two_d": two_d}
    if all(k is None for k in kept):
        return _labelled(np.full(shape, np.nan), dims, coords, attrs)
    if callable(keep):
        values = _stack(kept, shape, np.nan)
        inner = tuple(f"dim_{d}" for d in range(values.ndim - len(shape)))
        return _labelled(values, dims + inner, coords, attrs)
    if keep == "operators":
        names = list(dict.fromkeys(n for k in kept if k is not None for n in k["operators"]))
        runs = max(len(k["arrayed"]) for k in kept if k is not None)
        table = []
        for k in kept:
            if k is None:
                table.append(None)
                continue
            rows = np.full((len(names), runs), np.nan)
            for row, name in enumerate(names):
                if name in k["operators"]:
                    values = k["operators"][name]
                    rows[row, :len(values)] = values
            table.append(rows)
        values = _stack(table, shape, np.nan)
        coords = dict(coords, operator=(("operator",), names))
        return _labelled(values, dims + ("operator", "run"), coords, attrs)
    if keep == "spectra":
        values = _stack([None if k is None else k["values"] for k in kept], shape, complex(np.nan, np.nan))
        varies, hz = _axis(kept, "hz", shape)
        inner = ("run", "index") if varies else ("run", "hz")
        coords = dict(coords, hz=((dims + ("index",)) if varies else ("hz",), hz))
        return _labelled(values, dims + inner, coords, attrs)
    values = _stack([None if k is None else k["values"] for k in kept], shape, np.nan)
    f1_varies, f1 = _axis(kept, "f1_hz", shape)
    f2_varies, f2 = _axis(kept, "f2_hz", shape)
    inner = ("f1_index" if f1_varies else "f1_hz", "f2_index" if f2_varies else "f2_hz")
    coords = dict(coords, f1_hz=((dims + (inner[0],)) if f1_varies else (inner[0],), f1),
                  f2_hz=((dims + (inner[1],)) if f2_varies else (inner[1],), f2))
    return _labelled(values, dims + inner, coords, attrs)


# ----- the exchange experiment -----------------------------------------------------------------


def _exchange_bench(directory, sequence, settings):
    bench = _velmora.Workbench(str(directory))
    if isinstance(sequence, str):
        bench.open_sequence(sequence)
    elif sequence is not None:
        bench.set_sequence(sequence)
    for name, value in settings.items():
        bench.set_exchange(name, value)
    return bench


def _exchange_task(job):
    """The tallies of a task's (grid, point) pairs, in its own working directory."""
    directory = _fresh_directory(job["directory"])
    _copy_inputs(job["source"], directory, {job["sequence"]} if isinstance(job["sequence"], str) else set())
    bench = _exchange_bench(directory, job["sequence"], job["settings"])
    return bench._exchange_tallies(job["seed"], job["pieces"])


def exchange_sweep(workdir, sequence, *, grids=1000, seed=1, settings=None, tasks="points", client=None,
                   date="", progress=False):
    """Runs the relaxation-dispersion experiment of `sequence` (a file in workdir or a Sequence) as
    velmora-cli exchange does, its grid points spread as Dask tasks, and writes the results table
    into workdir (Text9 + ".dat", as the experiment names it).

    settings: exchange values by the names of their rows (kex, tcp, Pa, Ni, Array, ...) or boxes.
    tasks: "points" (one task per grid point, all its grids) or "grids" (one task per grid, all its
    points). A point's histories come from the random stream of (seed, grid, point), and the totals
    are added grid after grid in one order, so the table is the same bits for any tasks and client.
    Returns an array of (second swept value, first swept value, quantity) with the table's
    quantities (Rex, X, X0, err%, Rab, Rba, Pa, Kex_cal, R2eff, R2eff_rep, R2eff_se, Kex_cal_se,
    nu_CPMG); attrs hold the file's path, the header and the result list.
    """
    settings = dict(settings or {})
    source = Path(workdir).resolve()
    if not 1 <= grids <= 1000:
        raise ValueError(f"grids runs from 1 to 1000, not {grids}")
    main = _exchange_bench(source, sequence, settings)
    shape = main._exchange_table(seed, [], write=False)
    points = shape["first_count"] * shape["second_count"]
    if tasks == "points":
        pieces = [[(g, p) for g in range(1, grids + 1)] for p in range(points)]
    elif tasks == "grids":
        pieces = [[(g, p) for p in range(points)] for g in range(1, grids + 1)]
    else:
        raise ValueError(f'tasks is "points" or "grids", not {tasks!r}')
    base = source / "sweep" / "exchange"
    jobs = [{"directory": str(base / f"task-{k:05d}"), "source": str(source), "sequence": sequence,
             "settings": settings, "seed": seed, "pieces": piece} for k, piece in enumerate(pieces)]
    answers = _compute(_exchange_task, jobs, client, progress)
    tallies = [[None] * points for _ in range(grids)]
    for piece, answer in zip(pieces, answers):
        for (g, p), tally in zip(piece, answer):
            tallies[g - 1][p] = tally
    table = main._exchange_table(seed, tallies, date=date, write=True)
    first, second = table["first_name"] or "first", table["second_name"] or "second"
    if second == first:
        second = second + "_2"
    quantities = list(table["quantities"])
    values = np.stack([table["quantities"][q] for q in quantities], axis=-1)
    values = values.reshape(table["second_count"], table["first_count"], len(quantities))
    coords = {second: ((second,), table["second"][::table["first_count"]]),
              first: ((first,), table["first"][:table["first_count"]]),
              "quantity": (("quantity",), quantities)}
    attrs = {"path": str(table["path"]), "header": table["header"], "items": table["items"], "seed": seed,
             "grids": table["grids_done"], "errors": {}}
    return _labelled(values, (second, first, "quantity"), coords, attrs)


# ----- the image fit ---------------------------------------------------------------------------


def _series_stem(path):
    name = Path(path).name
    for suffix in (".nii.gz", ".nii", ".sgl"):
        if name.endswith(suffix):
            return name[: -len(suffix)]
    return name


def _fit_task(job):
    try:
        maps = _velmora._fit_image_slice(**job)
    except Exception as error:
        return {"error": _message(error)}
    return {"maps": np.stack([maps[m] for m in ("t1", "b1", "amplitude", "error")])}


def fit_images(series, slices, *, out=None, flip_angles=None, tr_ms=None, orientation="cor", slab=0,
               threshold=None, t1_range=(0.05, 5.0), b1_range=(0.1, 1.5), seed=1, client=None, progress=False):
    """Fits T1, B1, amplitude and error maps to slices of variable-flip-angle series as
    velmora-cli fit-images does, one task per (series, slice), and writes each slice's maps (raw and
    NIfTI, placed at the slice) as <out>/<series name>_slice<S>_T1.nii.gz and so on.

    series: a path (a folder of T1_*.sgl cubes, a T1_ description, a NIfTI volume) or a list of
    them; slices: slice numbers from 1. out: the folder of the maps (default: each series' folder).
    The threshold defaults to a tenth of the series' largest value (the same for every slice); a
    pixel's random starts come from (seed, pixel), so the maps do not depend on the split.
    Returns (series,) slice x map (t1, b1, amplitude, error) x row x column; unfitted pixels hold B1
    3.3333 as in the map files, a slice that fails NaN and its message in attrs["errors"].
    """
    single = isinstance(series, (str, os.PathLike))
    paths = [Path(series)] if single else [Path(s) for s in series]
    slices = list(slices)
    jobs = []
    for path in paths:
        folder = Path(out) if out is not None else (path if path.is_dir() else path.parent)
        folder.mkdir(parents=True, exist_ok=True)
        for slice_number in slices:
            jobs.append({"series": str(path.resolve()), "slice": int(slice_number),
                         "base": str((folder / f"{_series_stem(path)}_slice{int(slice_number)}").resolve()),
                         "flip_angles_deg": list(flip_angles or []), "tr_ms": list(tr_ms or []),
                         "orientation": orientation, "slab": slab, "threshold": threshold,
                         "t1_range": tuple(t1_range), "b1_range": tuple(b1_range), "seed": seed,
                         "threads": 0 if isinstance(client, str) else 1})
    outcomes = _compute(_fit_task, jobs, client, progress)
    shape = (len(paths), len(slices))
    errors = {}
    for job, outcome in zip(jobs, outcomes):
        if "error" in outcome:
            where = job["slice"] if single else (job["series"], job["slice"])
            errors[where] = outcome["error"]
    values = _stack([o.get("maps") for o in outcomes], shape, np.nan)
    dims = ("series", "slice", "map", "row", "column")
    coords = {"series": (("series",), [str(p) for p in paths]), "slice": (("slice",), slices)}
    if values.ndim == 5:
        coords["map"] = (("map",), ["t1", "b1", "amplitude", "error"])
    attrs = {"errors": errors, "unfitted_b1": 3.3333}
    if single:
        values = values[0]
        dims = dims[1:]
        del coords["series"]
    return _labelled(values, dims[: values.ndim], coords, attrs)
