"""A 200-point sweep of a 6-proton pulse-acquire (every pair coupled; lb x field) run three ways:
serially in this process, on Dask's local scheduler of processes and on a LocalCluster of worker
processes, each checked to give the same bits. Prints the wall times, the speed-up over the serial
sweep and the overhead of a point as a task: the worker-seconds a point costs beyond the run itself
(the same 200 runs on one Workbench, in one process, on one thread).
    PYTHONPATH=build/python /usr/bin/python3 bench/sweep_bench.py [WORKERS]    (default: every core)
"""
import os
import sys
import tempfile
import time

import numpy as np

import velmora


def six_protons():
    system = velmora.SpinSystem()
    for i in range(6):
        system.add_spin("1H", shift_ppm=1.0 + 0.7 * i, t1_ms=1000, t2_ms=100)
    for i in range(6):
        for j in range(i + 1, 6):
            system.couple(i, j, 1 + (3 * i + 5 * j) % 15)
    sequence = velmora.Sequence(steps=1)
    sequence.delay(0, "d2")
    sequence.pulse(1, "1H", "p2", phase="x")
    sequence.set("sw", 4000)
    sequence.set("np", 2048)
    return system, sequence


def main():
    from distributed import Client, LocalCluster

    workers = int(sys.argv[1]) if len(sys.argv) > 1 else os.cpu_count()
    system, sequence = six_protons()
    grid = {"field-mhz": [100 + 50 * k for k in range(10)], "lb": [0.5 * k for k in range(20)]}
    points = 200
    with tempfile.TemporaryDirectory() as work:
        bench = velmora.Workbench(work)
        bench.threads = 1
        bench.set_spin_system(system)
        bench.set_sequence(sequence)
        started = time.perf_counter()
        for field in grid["field-mhz"]:
            for lb in grid["lb"]:
                bench.set("field-mhz", field)
                bench.set("lb", lb)
                bench.run(write_files=False)
                bench.spectra()
        bare = time.perf_counter() - started

        started = time.perf_counter()
        serial = velmora.sweep(work, system, sequence, grid, client="serial")
        serial_seconds = time.perf_counter() - started

        started = time.perf_counter()
        local = velmora.sweep(work, system, sequence, grid)
        local_seconds = time.perf_counter() - started

        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                          dashboard_address=None) as cluster, Client(cluster) as client:
            client.run(lambda: __import__("velmora"))  # the workers' imports are not the sweep's
            started = time.perf_counter()
            spread = velmora.sweep(work, system, sequence, grid, client=client)
            cluster_seconds = time.perf_counter() - started

    assert np.array_equal(serial.values, spread.values) and np.array_equal(serial.values, local.values)
    print(f"200 runs on one Workbench, one thread:     {bare:6.2f} s ({1000 * bare / points:.1f} ms a run)")
    print(f"sweep, serial (client='serial'):           {serial_seconds:6.2f} s "
          f"(overhead {1000 * (serial_seconds - bare) / points:.1f} ms a point)")
    for name, seconds in (("local processes (client=None)", local_seconds),
                          (f"LocalCluster, {workers} worker processes", cluster_seconds)):
        overhead = (seconds * workers - bare) / points
        print(f"sweep, {name + ':':36s}{seconds:6.2f} s, speed-up {serial_seconds / seconds:.2f} "
              f"(overhead {1000 * overhead:.1f} worker-ms a point)")
    print("the same bits: serial, local processes and LocalCluster")


if __name__ == "__main__":
    main()
