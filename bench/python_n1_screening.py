"""Wall time of the N-1 fault screening (three-phase and single-phase at
every bus) serially and on a Dask LocalCluster, one line per case:

  n1-screening CASE n=N outages=M screened=S serial_s=T serial_ms_per_outage=T dask2_s=T dask2_ms_per_outage=T equal=yes

    PYTHONPATH=build/python /usr/bin/python3 bench/python_n1_screening.py CASE.m [...] [--sample S] [--workers W]

--sample S screens the first S of the default outages (evenly spread over
the list) instead of all of them; the per-outage figures scale to the whole
list. Serial and Dask results are compared (equal=yes when bit for bit).
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
    args = parser.parse_args()
    from dask.distributed import Client, LocalCluster

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
            start = time.perf_counter()
            remote = orvek.contingency_fault_levels(case, outages=outages, client=client)
            dask_s = time.perf_counter() - start
            try:
                pd.testing.assert_frame_equal(serial.summary, remote.summary, check_exact=True)
                equal = "yes"
            except AssertionError:
                equal = "no"
            m = len(outages)
            print("n1-screening %s n=%d outages=%d screened=%d serial_s=%.2f serial_ms_per_outage=%.1f "
                  "dask%d_s=%.2f dask%d_ms_per_outage=%.1f equal=%s" % (
                      path.rsplit("/", 1)[-1].removesuffix(".m"), case.network["n"],
                      len(orvek.default_outages(case)), m, serial_s, 1000 * serial_s / m, args.workers, dask_s,
                      args.workers, 1000 * dask_s / m, equal), flush=True)


if __name__ == "__main__":
    main()
