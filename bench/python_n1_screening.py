"""Wall time of the N-1 fault screening (three-phase and single-phase at
every bus) serially and on a Dask LocalCluster, one line per case:

  n1-screening CASE n=N outages=M screened=S serial_s=T serial_ms_per_outage=T dask2_s=T dask2_ms_per_outage=T task_compute_s=T equal=yes

    PYTHONPATH=build/python /usr/bin/python3 bench/python_n1_screening.py CASE.m [...] [--sample S] [--workers W]

--sample S screens the first S of the default outages (evenly spread over
the list) instead of all of them; the per-outage figures scale to the whole
list. Serial and Dask results are compared (equal=yes when bit for bit);
task_compute_s is the time the workers spent in the tasks, summed.
"""

import argparse
import time

import numpy as np
import pandas as pd

import orvek


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("cases", nargs="+")
    parser.add_argument("--sample", type=int, default=0)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--nanny-malloc", action="store_true",
                        help="keep the nanny's MALLOC_TRIM_THRESHOLD_ for the workers (Dask's default)")
    args = parser.parse_args()
    import dask
    from dask.distributed import Client, LocalCluster

    if not args.nanny_malloc:
        # Dask's nanny starts workers with MALLOC_TRIM_THRESHOLD_=65536, which
        # also fixes glibc's mmap threshold: every factor-sized allocation of
        # every outage is then a fresh mmap (2-3 times slower screening).
        environ = dict(dask.config.get("distributed.nanny.pre-spawn-environ"))
        environ.pop("MALLOC_TRIM_THRESHOLD_", None)
        dask.config.set({"distributed.nanny.pre-spawn-environ": environ})

    with LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        client.run(lambda: __import__("orvek"))  # workers warm
        for path in args.cases:
            case = orvek.load_case(path)
            outages = orvek.default_outages(case)
            if args.sample and args.sample < len(outages):
                outages = outages[np.linspace(0, len(outages) - 1, args.sample).round().astype(int)]
            start = time.perf_counter()
            serial = orvek.contingency_fault_levels(case, outages=outages)
            serial_s = time.perf_counter() - start
            from dask.distributed import get_task_stream
            start = time.perf_counter()
            with get_task_stream(client) as stream:
                remote = orvek.contingency_fault_levels(case, outages=outages, client=client)
            dask_s = time.perf_counter() - start
            # Time the workers spent computing, over all tasks.
            busy = sum(ss["stop"] - ss["start"] for t in stream.data for ss in t["startstops"]
                       if ss["action"] == "compute")
            try:
                pd.testing.assert_frame_equal(serial.summary, remote.summary, check_exact=True)
                equal = "yes"
            except AssertionError:
                equal = "no"
            m = len(outages)
            print("n1-screening %s n=%d outages=%d screened=%d serial_s=%.2f serial_ms_per_outage=%.1f "
                  "dask%d_s=%.2f dask%d_ms_per_outage=%.1f task_compute_s=%.2f equal=%s" % (
                      path.rsplit("/", 1)[-1].removesuffix(".m"), case.network["n"],
                      len(orvek.default_outages(case)), m, serial_s, 1000 * serial_s / m, args.workers, dask_s,
                      args.workers, 1000 * dask_s / m, busy, equal), flush=True)


if __name__ == "__main__":
    main()
