"""Contingency fault screening: the fault levels at every bus over a list of
single-branch outages (N-1), serially or on a Dask cluster.

The levels of every bus come at once from the diagonals of the inverses of
the sequence networks (the library's FaultLevels, from the factors): they
agree with fault_levels (a solve per bus, the command line's road) within
the single-precision factors' rounding, and the base case is computed the
same way as the outages.

Outages are screened in batches; one batch is one task, which reuses one
workspace and one set of sequence factors from outage to outage. On Dask
the case is scattered to every worker once; tasks carry only their branch
numbers. Each batch reduces its outages to the largest and smallest level
per bus and fault type and the first outage (in the order given) that
gives each; the batches are combined in their order, so the results are
the same, bit for bit, serially and on any cluster.
"""

import math

import networkx as nx
import numpy as np
import pandas as pd

from . import _api, _native, study

DEFAULT_FAULTS = ("3ph", "slg")


def default_outages(case):
    """Every in-service branch whose removal keeps the network connected
    (the branches that are not bridges; a branch with a parallel twin never
    is one), as branch numbers."""
    case = study._case(case)
    net = case.network
    graph = nx.Graph()
    graph.add_nodes_from(range(1, net["n"] + 1))
    for a, b in zip(net["from"].tolist(), net["to"].tolist()):
        if a == b:
            continue
        if graph.has_edge(a, b):
            graph[a][b]["count"] += 1
        else:
            graph.add_edge(a, b, count=1)
    bridges = {frozenset(e) for e in nx.bridges(graph) if graph.edges[e]["count"] == 1}
    return np.array([row for row, a, b in zip(net["row"].tolist(), net["from"].tolist(), net["to"].tolist())
                     if frozenset((a, b)) not in bridges], dtype=np.int32)


def _screen_batch(case, outages, settings, prefault):
    """One task: the levels of a batch of outages reduced to per-bus maxima
    and minima with the outage giving each (first in the batch on ties)."""
    o = study.options(**settings)
    levels, failures = _native.screen_outages(case._native, outages, o, prefault)
    failed = np.isnan(levels)
    high = np.where(failed, -np.inf, levels)
    low = np.where(failed, np.inf, levels)
    imax = np.argmax(high, axis=0)
    imin = np.argmin(low, axis=0)
    return (np.take_along_axis(high, imax[None], 0)[0], outages[imax],
            np.take_along_axis(low, imin[None], 0)[0], outages[imin],
            {int(b): msg for b, msg in zip(outages.tolist(), failures) if msg})


class ContingencyLevels:
    """The result of contingency_fault_levels.

    summary: per bus (index, bus number) and fault type (first column level)
    the base-case level and, over the outages, max, max_outage, min and
    min_outage (branch numbers); currents are the largest phase current into
    the fault, in current_unit (kA, or pu when the case lacks base
    voltages). base, max, min, max_outage, min_outage: the same as one
    DataFrame each (bus x fault). outages: the branch numbers screened;
    failed: {branch: message} for outages the study could not run (left out
    of the maxima and minima).
    """

    def __init__(self, case, faults, outages, base, high, high_at, low, low_at, failed, unit):
        index = pd.Index(case.network["bus_of_node"], name="bus")
        order = study._file_order(case)
        names = [_api.FAULT_NAMES[c] for c in faults]

        def frame(values, dtype):
            return pd.DataFrame(np.asarray(values).T.astype(dtype), index=index, columns=names).loc[order]

        self.case = case
        self.outages = outages
        self.failed = failed
        self.current_unit = unit
        self.base = frame(base, np.float64)
        self.max = frame(np.where(np.isfinite(high), high, np.nan), np.float64)
        self.min = frame(np.where(np.isfinite(low), low, np.nan), np.float64)
        self.max_outage = frame(high_at, np.int64)
        self.min_outage = frame(low_at, np.int64)
        parts = {}
        for name in names:
            parts[(name, "base")] = self.base[name]
            parts[(name, "max")] = self.max[name]
            parts[(name, "max_outage")] = self.max_outage[name]
            parts[(name, "min")] = self.min[name]
            parts[(name, "min_outage")] = self.min_outage[name]
        self.summary = pd.DataFrame(parts)
        self.summary.attrs["current_unit"] = unit

    def __repr__(self):
        return "<orvek.ContingencyLevels %s: %d outages, %d buses, %d failed>" % (
            self.case.source, len(self.outages), len(self.base), len(self.failed))


def _outage_list(case, outages):
    table = case.branches
    if outages is None:
        return default_outages(case)
    rows = _api.int_vector("outages", np.atleast_1d(outages))
    for j, row in enumerate(rows.tolist()):
        if not 1 <= row <= len(table):
            raise ValueError("outages[%d] = %d must lie between 1 and %d" % (j, row, len(table)))
        if not table["in_service"].iloc[row - 1]:
            raise ValueError("outages[%d] = %d is a branch out of service" % (j, row))
    return rows


def contingency_fault_levels(case, outages=None, client=None, faults=DEFAULT_FAULTS, batch_size=None,
                             prefault="flat", xd=study.DEFAULT_XD, x2=None, x0=None, x0_open=False,
                             z0_line=study.DEFAULT_LINE_Z0, xfmr0="pass", tol=study.DEFAULT_ENGINE_TOLERANCE,
                             max_iter=study.DEFAULT_ENGINE_MAX_ITERATIONS):
    """Fault levels at every bus for every single-branch outage.

    outages: branch numbers (default: every in-service branch whose removal
    keeps the network connected). client: a dask.distributed.Client to run
    on (None: serially in this process). faults: the fault types (default
    three-phase and single-phase). batch_size: outages per task (default:
    about four tasks per worker thread, at most 64 outages). prefault:
    "flat" (1.0 per unit at every bus, the usual screening assumption) or
    "base" (the base case's power-flow voltages for every outage). The
    sequence-data options are those of fault_levels. Returns
    ContingencyLevels.
    """
    case = study._case(case)
    rows = _outage_list(case, outages)
    if prefault not in ("flat", "base"):
        raise ValueError("prefault must be flat or base, found %r" % (prefault,))
    settings = dict(faults=faults, flat=True, xd=xd, x2=x2, x0=x0, x0_open=x0_open, z0_line=z0_line,
                    xfmr0=xfmr0, tol=tol, max_iter=max_iter)
    o = study.options(**settings)
    codes = study.fault_codes(faults)
    if prefault == "flat":
        e = np.ones(case.network["n"], dtype=np.complex64)
    else:
        e, _ = study._prefault(case, study.options(tol=tol, max_iter=max_iter), None)

    # The base case through the same road as the outages (row 0: none out).
    base = _native.screen_outages(case._native, np.zeros(1, np.int32), o, e)[0][0]

    if batch_size is None:
        workers = 1
        if client is not None:
            workers = max(1, sum(client.nthreads().values()))
        batch_size = max(1, min(64, math.ceil(len(rows) / (4 * workers)))) if len(rows) else 1
    batch_size = _api.count("batch_size", batch_size, 1)
    batches = [rows[i:i + batch_size] for i in range(0, len(rows), batch_size)]

    if client is None:
        results = [_screen_batch(case, batch, settings, e) for batch in batches]
    else:
        remote_case = client.scatter(case, broadcast=True)
        futures = [client.submit(_screen_batch, remote_case, batch, settings, e, pure=False) for batch in batches]
        results = client.gather(futures)

    types, n = len(codes), case.network["n"]
    high = np.full((types, n), -np.inf)
    low = np.full((types, n), np.inf)
    high_at = np.zeros((types, n), dtype=np.int64)
    low_at = np.zeros((types, n), dtype=np.int64)
    failed = {}
    for bhigh, bhigh_at, blow, blow_at, bfailed in results:
        up = bhigh > high
        high[up], high_at[up] = bhigh[up], bhigh_at[up]
        down = blow < low
        low[down], low_at[down] = blow[down], blow_at[down]
        failed.update(bfailed)
    unit = "pu" if (case.network["base_kv"] <= 0).any() else "kA"
    return ContingencyLevels(case, codes, rows, base, high, high_at, low, low_at, failed, unit)
