"""N-1 fault screening: serial and on a Dask LocalCluster of two workers
give the same results bit for bit, and the maxima are those of a direct
study of the network with the outage taken out."""

import os
import struct
import subprocess
import sys

import networkx as nx
import numpy as np
import pandas as pd
import pytest

import orvek
from conftest import case_path

HERE = os.path.dirname(os.path.abspath(__file__))
EXAMPLE = os.path.join(HERE, "..", "..", "examples", "case118_pictures.py")


@pytest.fixture(scope="module")
def case118():
    return orvek.load_case(case_path("case118.m"))


@pytest.fixture(scope="module")
def serial(case118):
    return orvek.contingency_fault_levels(case118, batch_size=7)


def test_default_outages_keep_the_network_connected(case118, serial):
    net = case118.network
    rows = net["row"].tolist()
    assert 0 < len(serial.outages) < len(rows) and not serial.failed
    for row in rows:
        graph = nx.MultiGraph()
        graph.add_nodes_from(range(1, net["n"] + 1))
        graph.add_edges_from((a, b) for a, b, r in zip(net["from"].tolist(), net["to"].tolist(), rows) if r != row)
        assert nx.is_connected(graph) == (row in serial.outages)


def test_dask_gives_the_serial_results_bit_for_bit(case118, serial):
    distributed = pytest.importorskip("dask.distributed")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        remote = orvek.contingency_fault_levels(case118, client=client)
    pd.testing.assert_frame_equal(remote.summary, serial.summary, check_exact=True)
    assert np.array_equal(remote.outages, serial.outages) and remote.failed == serial.failed


def test_maxima_equal_direct_studies_without_the_outage(case118, serial):
    # The buses whose highest level comes from an outage (above the base
    # case), and the lowest single-phase ones.
    rise = (serial.max["3ph"] - serial.base["3ph"]).sort_values(ascending=False)
    buses = list(rise.index[:2]) + list(serial.min["slg"].sort_values().index[:1])
    assert rise.iloc[0] > 0
    for bus in buses:
        for fault in ("3ph", "slg"):
            for kind in ("max", "min"):
                outage = int(getattr(serial, kind + "_outage").loc[bus, fault])
                screened = getattr(serial, kind).loc[bus, fault]
                without = case118.without_branches([outage])
                # The same road on the network without the branch: equal.
                direct = orvek.contingency_fault_levels(without, outages=[], faults=fault)
                assert direct.base.loc[bus, fault] == screened
                # The command line's road (a solve per bus): within rounding.
                study = orvek.fault_levels(without, faults=fault, flat=True)
                assert study.loc[(bus, fault), ["ia", "ib", "ic"]].max() == pytest.approx(screened, rel=2e-6)
    study = orvek.fault_levels(case118, faults="3ph,slg", flat=True)[["ia", "ib", "ic"]].max(axis=1).unstack()
    assert np.allclose(study[["3ph", "slg"]].to_numpy(), serial.base.to_numpy(), rtol=2e-6, atol=0)
    assert (serial.max >= serial.min).all().all()


def test_the_example_writes_valid_pictures(tmp_path):
    done = subprocess.run([sys.executable, EXAMPLE, case_path("case118.m"), str(tmp_path)],
                          capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr
    names = ["voltage_profile.png", "fault_levels.png", "network.png"]
    assert done.stdout.split() == [str(tmp_path / n) for n in names]
    for name in names:
        data = (tmp_path / name).read_bytes()
        assert data[:8] == b"\x89PNG\r\n\x1a\n" and data[12:16] == b"IHDR"
        width, height = struct.unpack(">II", data[16:24])
        assert 400 <= width <= 2000 and 300 <= height <= 2000
        assert 10_000 < len(data) < 2_000_000
