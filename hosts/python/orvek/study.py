"""The studies of orvek-study from Python: cases, power flow, fault levels,
one fault in detail. Options, defaults and numbers are the command line's
(docs/orvek-study.md); results are pandas DataFrames indexed by the case's
bus numbers (and fault types, branch numbers). Branch numbers are rows of
the case's branch table, 1-based.
"""

import numbers
import os

import numpy as np
import pandas as pd
import scipy.sparse

from . import _api, _native
from ._errors import StudyError

RAD_TO_DEG = 180.0 / 3.14159265358979323846
BUS_TYPES = {1: "PQ", 2: "PV", 3: "REF", 4: "ISO"}

# The command line's defaults (tools/study/options.hpp).
_DEFAULTS = _native.Options()
DEFAULT_TOLERANCE = _DEFAULTS.tolerance
DEFAULT_MAX_ITERATIONS = _DEFAULTS.max_iterations
DEFAULT_XD = _DEFAULTS.xd
DEFAULT_LINE_Z0 = _DEFAULTS.line_z0
_FAULT_ENUM = {1: _native.FaultType.three_phase, 2: _native.FaultType.phase_to_phase,
               3: _native.FaultType.two_phase_to_earth, 4: _native.FaultType.single_phase_to_earth}


class Case:
    """A MATPOWER case as read, and the network the studies see (buses in
    power-flow order inside; every table here is indexed by bus number or
    branch number). Cases pickle as their text, so a case goes to other
    processes and machines whole."""

    def __init__(self, native):
        self._native = native

    def __reduce__(self):
        return (Case, (self._native,))

    def __repr__(self):
        net = self.network
        return "<orvek.Case %s: %d buses, %d branches in service>" % (self.source, net["n"], len(net["from"]))

    @property
    def source(self):
        return self._native.source

    @property
    def name(self):
        return self._native.name

    @property
    def base_mva(self):
        return self._native.base_mva

    @property
    def network(self):
        """Node order and branch arrays of the network (a dict of arrays)."""
        return self._native.network

    @property
    def buses(self):
        """The bus table, indexed by bus number."""
        t = self._native.bus_table
        frame = pd.DataFrame({k: v for k, v in t.items() if k != "bus"}, index=pd.Index(t["bus"], name="bus"))
        frame["type"] = frame["type"].map(BUS_TYPES)
        return frame

    @property
    def branches(self):
        """The branch table, indexed by branch number (row, from 1)."""
        t = self._native.branch_table
        index = pd.Index(np.arange(1, len(t["from_bus"]) + 1, dtype=np.int32), name="branch")
        frame = pd.DataFrame(dict(t), index=index)
        frame["in_service"] = frame.pop("status") > 0
        return frame

    def without_branches(self, branches):
        """The case with these branches (numbers) out of service."""
        rows = _api.int_vector("branches", np.atleast_1d(branches))
        n = len(self._native.branch_table["from_bus"])
        bad = np.flatnonzero((rows < 1) | (rows > n))
        if bad.size:
            raise ValueError("branches[%d] = %d must lie between 1 and %d" % (bad[0], rows[bad[0]], n))
        return Case(self._native.without_branches(rows))

    def admittance(self, ws=None):
        """The nodal admittance matrix of the positive-sequence network as
        the power flow assembles it (bus shunts in, generators out), a
        scipy.sparse CSR matrix in power-flow node order; bus_of_node maps
        rows to bus numbers."""
        net = self.network
        y = _api.assemble_admittance(net["n"], net["from"], net["to"], net["z"], net["ya"], net["yb"],
                                     net["shunt_node"], net["shunt_b"], ws=ws).tolil()
        y.setdiag(y.diagonal() + net["gsh"].astype(np.complex64))
        return y.tocsr()

    def bus_of_node(self):
        return self.network["bus_of_node"]


def load_case(path):
    """Reads a MATPOWER case file (version 2). Raises orvek.CaseError naming
    the file and the line for anything it cannot accept."""
    if not isinstance(path, (str, os.PathLike)):
        raise TypeError("path must be a file name, got %s" % type(path).__name__)
    return Case(_native.read_case(os.fspath(path)))


def parse_case(text, source="<text>"):
    """A case from the text of a case file."""
    if not isinstance(text, str):
        raise TypeError("text must be a str, got %s" % type(text).__name__)
    return Case(_native.parse_case(text, source))


def _case(case):
    if isinstance(case, Case):
        return case
    if isinstance(case, (str, os.PathLike)):
        return load_case(case)
    raise TypeError("case must be an orvek.Case or a file name, got %s" % type(case).__name__)


def _real(name, value, positive=True):
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError("%s must be a number, got %r" % (name, value))
    value = float(value)
    if not np.isfinite(value) or (positive and not value > 0):
        raise ValueError("%s must be positive, found %r" % (name, value))
    return value


def fault_codes(faults, name="faults"):
    """Fault-type codes from "3ph", "all", "3ph,slg", a code or a list of them."""
    if isinstance(faults, str):
        faults = list(FAULT_ORDER) if faults == "all" else [f.strip() for f in faults.split(",")]
    elif isinstance(faults, numbers.Integral):
        faults = [faults]
    try:
        items = list(faults)
    except TypeError:
        raise TypeError("%s must be a fault name, a code or a list of them, got %r" % (name, faults)) from None
    if not items:
        raise ValueError("%s names no fault type" % name)
    codes = []
    for item in items:
        code = _api.fault_type(item, name)
        if code not in codes:
            codes.append(code)
    return codes


FAULT_ORDER = ("3ph", "ll", "llg", "slg")


def options(tol=DEFAULT_TOLERANCE, max_iter=DEFAULT_MAX_ITERATIONS, faults="3ph", flat=False, xd=DEFAULT_XD,
            x2=None, x0=None, x0_open=False, z0_line=DEFAULT_LINE_Z0, xfmr0="pass"):
    """The command line's options (--tol, --max-iter, --fault, --flat, --xd,
    --x2, --x0 (a number or "open"), --z0-line, --xfmr0 pass|block)."""
    o = _native.Options()
    o.tolerance = _real("tol", tol)
    if isinstance(max_iter, bool) or not isinstance(max_iter, numbers.Integral):
        raise TypeError("max_iter must be an integer, got %r" % (max_iter,))
    if max_iter < 1:
        raise ValueError("max_iter must be at least 1, found %d" % max_iter)
    o.max_iterations = int(max_iter)
    o.faults = [_FAULT_ENUM[c] for c in fault_codes(faults)]
    o.flat_prefault = bool(flat)
    o.xd = _real("xd", xd)
    o.x2 = None if x2 is None else _real("x2", x2)
    if isinstance(x0, str) and x0 == "open":
        x0_open = True
        x0 = None
    o.x0 = None if x0 is None else _real("x0", x0)
    o.x0_open = bool(x0_open)
    o.line_z0 = _real("z0_line", z0_line)
    if xfmr0 not in ("pass", "block"):
        raise ValueError("xfmr0 must be pass or block, found %r" % (xfmr0,))
    o.transformer0 = _native.Transformer0.pass_ if xfmr0 == "pass" else _native.Transformer0.block
    return o


class PowerFlow:
    """A fast decoupled power flow's result. buses: per bus (file order)
    type, vm_pu, va_deg, p_mw, q_mvar (injected); converged, iterations,
    max_dp, max_dq (per unit), slack_p_mw, slack_q_mvar, resolution (the
    single-precision resolution of the node powers, per unit)."""

    def __init__(self, case, raw, tolerance):
        net = case.network
        self.case = case
        self.tolerance = tolerance
        self.converged = raw["converged"]
        self.iterations = raw["iterations"]
        self.max_dp = raw["max_dp"]
        self.max_dq = raw["max_dq"]
        self.resolution = raw["resolution"]
        bus_of_node = net["bus_of_node"]
        base = net["base_mva"]
        self.worst_p_bus = int(bus_of_node[raw["worst_p_node"] - 1]) if raw["worst_p_node"] else None
        self.worst_q_bus = int(bus_of_node[raw["worst_q_node"] - 1]) if raw["worst_q_node"] else None
        self.slack_p_mw = float(raw["slack_pq"][0]) * base
        self.slack_q_mvar = float(raw["slack_pq"][1]) * base
        self.prefault = raw["prefault"]
        by_node = pd.DataFrame({
            "type": pd.Series(net["type"]).map(BUS_TYPES).to_numpy(),
            "vm_pu": raw["vm"].astype(np.float64),
            "va_deg": raw["va"].astype(np.float64) * RAD_TO_DEG,
            "p_mw": raw["p"].astype(np.float64) * base,
            "q_mvar": raw["q"].astype(np.float64) * base,
        }, index=pd.Index(bus_of_node, name="bus"))
        self.buses = by_node.loc[_file_order(case)]

    def __repr__(self):
        state = "converged" if self.converged else "NOT converged"
        return "<orvek.PowerFlow %s: %s after %d iterations, largest mismatch %.3g pu>" % (
            self.case.source, state, self.iterations, max(self.max_dp, self.max_dq))

    def failure(self):
        """The command line's message for a power flow that did not converge."""
        return ("the power flow did not converge in %d iterations (largest mismatch P %g pu at bus %s, Q %g pu)"
                % (self.iterations, self.max_dp, self.worst_p_bus or 0, self.max_dq))


def _file_order(case):
    """Bus numbers of the network in the order of the case's bus table."""
    in_network = set(case.network["bus_of_node"].tolist())
    return [b for b in case._native.bus_table["bus"].tolist() if b in in_network]


def power_flow(case, tol=DEFAULT_TOLERANCE, max_iter=DEFAULT_MAX_ITERATIONS, ws=None):
    """The command line's fast decoupled power flow (BX scheme, flat start,
    generator reactive limits ignored). A power flow that does not converge
    is returned with converged False (the command line's exit status 2)."""
    case = _case(case)
    o = options(tol=tol, max_iter=max_iter)
    return PowerFlow(case, _native.power_flow(case._native, o, ws=_api._workspace(ws)), o.tolerance)


def _prefault(case, o, ws):
    if o.flat_prefault:
        return np.ones(case.network["n"], dtype=np.complex64), None
    pf = PowerFlow(case, _native.power_flow(case._native, o, ws=ws), o.tolerance)
    if not pf.converged:
        raise StudyError(pf.failure() + "; no fault study (flat=True studies from 1.0 per unit)")
    return pf.prefault, pf


def _records(case, raw):
    unit = "pu" if raw["per_unit"] else "kA"
    index = pd.MultiIndex.from_arrays(
        [raw["bus"], [_api.FAULT_NAMES[t] for t in raw["type"]]], names=["bus", "fault"])
    frame = pd.DataFrame({
        "ia_" + unit: raw["ia"], "ib_" + unit: raw["ib"], "ic_" + unit: raw["ic"],
        "va_pu": raw["va"].astype(np.float64), "vb_pu": raw["vb"].astype(np.float64),
        "vc_pu": raw["vc"].astype(np.float64),
        "i1_re_pu": raw["i1"].real.astype(np.float64), "i1_im_pu": raw["i1"].imag.astype(np.float64),
        "zkk1_pu": raw["zkk1"].astype(np.float64),
        "i0_pu": raw["i0"], "i1_pu": raw["i1"], "i2_pu": raw["i2"],
    }, index=index)
    frame.attrs["current_unit"] = unit
    return frame


def fault_levels(case, faults="3ph", flat=False, xd=DEFAULT_XD, x2=None, x0=None, x0_open=False,
                 z0_line=DEFAULT_LINE_Z0, xfmr0="pass", tol=DEFAULT_TOLERANCE, max_iter=DEFAULT_MAX_ITERATIONS,
                 ws=None):
    """Solid faults at every bus, as the command line's fault study: one row
    per bus (file order) and fault type, indexed by (bus, fault), with the
    phase currents into the fault ia/ib/ic in kA (pu when the case lacks
    base voltages; attrs["current_unit"] says which), the phase voltages at
    the fault bus, I1, |Z1(k,k)| and the sequence currents. Pre-fault
    voltages from the power flow, or 1.0 per unit with flat=True."""
    case = _case(case)
    o = options(tol=tol, max_iter=max_iter, faults=faults, flat=flat, xd=xd, x2=x2, x0=x0, x0_open=x0_open,
                z0_line=z0_line, xfmr0=xfmr0)
    ws = _api._workspace(ws)
    prefault, _ = _prefault(case, o, ws)
    net = case.network
    node_of_bus = {b: i + 1 for i, b in enumerate(net["bus_of_node"].tolist())}
    nodes = np.array([node_of_bus[b] for b in _file_order(case)], dtype=np.int32)
    return _records(case, _native.faults(case._native, o, prefault, nodes, ws=ws))


class FaultDetail:
    """One fault bus in detail: levels (the rows of fault_levels for that
    bus), voltages (every bus's phase voltages per fault type, indexed by
    (fault, bus)) and currents (every in-service branch's phase currents at
    its from end, indexed by (fault, branch))."""

    def __init__(self, case, bus, raw):
        self.case = case
        self.bus = bus
        self.levels = _records(case, raw)
        unit = self.levels.attrs["current_unit"]
        net = case.network
        order = _file_order(case)
        bus_of_node = net["bus_of_node"]
        voltages, currents = [], []
        branch_numbers = pd.Index(net["row"], name="branch")
        for d in raw["details"]:
            name = _api.FAULT_NAMES[int(d["type"])]
            v = pd.DataFrame({key: d[key].astype(np.float64) for key in
                              ("va_pu", "va_deg", "vb_pu", "vb_deg", "vc_pu", "vc_deg")},
                             index=pd.Index(bus_of_node, name="bus")).loc[order]
            v.insert(0, "fault", name)
            voltages.append(v.reset_index().set_index(["fault", "bus"]))
            c = pd.DataFrame({"from_bus": bus_of_node[net["from"] - 1], "to_bus": bus_of_node[net["to"] - 1],
                              "ia_" + unit: d["ia"], "ib_" + unit: d["ib"], "ic_" + unit: d["ic"]},
                             index=branch_numbers)
            c.insert(0, "fault", name)
            currents.append(c.reset_index().set_index(["fault", "branch"]))
        self.voltages = pd.concat(voltages)
        self.currents = pd.concat(currents)


def fault_detail(case, bus, faults="3ph", flat=False, xd=DEFAULT_XD, x2=None, x0=None, x0_open=False,
                 z0_line=DEFAULT_LINE_Z0, xfmr0="pass", tol=DEFAULT_TOLERANCE, max_iter=DEFAULT_MAX_ITERATIONS,
                 ws=None):
    """A solid fault at one bus (the command line's --node), with every
    bus's phase voltages and every branch's phase currents."""
    case = _case(case)
    if isinstance(bus, bool) or not isinstance(bus, numbers.Integral):
        raise TypeError("bus must be a bus number, got %r" % (bus,))
    o = options(tol=tol, max_iter=max_iter, faults=faults, flat=flat, xd=xd, x2=x2, x0=x0, x0_open=x0_open,
                z0_line=z0_line, xfmr0=xfmr0)
    buses = case.network["bus_of_node"].tolist()
    if int(bus) not in buses:
        raise ValueError("bus %d is not in the network of %s" % (bus, case.source))
    ws = _api._workspace(ws)
    prefault, _ = _prefault(case, o, ws)
    nodes = np.array([buses.index(int(bus)) + 1], dtype=np.int32)
    return FaultDetail(case, int(bus), _native.faults(case._native, o, prefault, nodes, ws=ws))
