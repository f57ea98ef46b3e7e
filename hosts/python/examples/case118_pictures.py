"""Pictures of case118: voltage profile, sorted fault levels with the N-1
range, and the network coloured by three-phase fault level.

    python3 case118_pictures.py [CASE_FILE] [OUTPUT_DIR] [--workers N]

CASE_FILE defaults to case118.m in $ORVEK_CASES or ../shared/cases beside
the repository; OUTPUT_DIR to the current folder. With --workers N the N-1
screening runs on a Dask LocalCluster of N workers.
"""

import argparse
import os
import sys

import orvek
import orvek.plot

HERE = os.path.dirname(os.path.abspath(__file__))
REPOSITORY = os.path.dirname(os.path.dirname(os.path.dirname(HERE)))


def default_case():
    folder = os.environ.get("ORVEK_CASES") or os.path.join(REPOSITORY, "..", "shared", "cases")
    return os.path.join(folder, "case118.m")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("case", nargs="?", default=default_case())
    parser.add_argument("output", nargs="?", default=".")
    parser.add_argument("--workers", type=int, default=0)
    args = parser.parse_args(argv)
    os.makedirs(args.output, exist_ok=True)

    case = orvek.load_case(args.case)
    pf = orvek.power_flow(case)
    levels = orvek.fault_levels(case, faults="3ph,slg")
    client = cluster = None
    if args.workers:
        from dask.distributed import Client, LocalCluster
        cluster = LocalCluster(n_workers=args.workers, threads_per_worker=1, dashboard_address=None)
        client = Client(cluster)
    try:
        screening = orvek.contingency_fault_levels(case, client=client)
    finally:
        if client is not None:
            client.close()
            cluster.close()

    pictures = {
        "voltage_profile.png": orvek.plot.voltage_profile(pf),
        "fault_levels.png": orvek.plot.sorted_fault_levels(levels, "3ph", contingency=screening),
        "network.png": orvek.plot.network(case, screening.base["3ph"], label="3ph fault level (kA)"),
    }
    for name, fig in pictures.items():
        path = os.path.join(args.output, name)
        fig.savefig(path)
        print(path)


if __name__ == "__main__":
    main(sys.argv[1:])
