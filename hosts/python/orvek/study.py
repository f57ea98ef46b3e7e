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


def _native_property(name, doc):
    """A read-only attribute of the compiled module's case."""
    return property(lambda self: getattr(self._native, name), doc=doc)


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

    source = _native_property("source", "The case file's name as given.")
    name = _native_property("name", "The case's function name, if any.")
    base_mva = _native_property("base_mva", "The case's MVA base.")
    network = _native_property("network", "Node order and branch arrays of the network (a dict of arrays).")

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
    _set_iteration(o, tol, max_iter)
    o.faults = [_FAULT_ENUM[c] for c in fault_codes(faults)]
    o.flat_prefault = bool(flat)
    block = _set_sequence_data(o, xd, x2, x0, x0_open, z0_line, xfmr0, lambda name, value: bool(value))
    o.transformer0 = _native.Transformer0.block if block else _native.Transformer0.pass_
    return o


def _set_iteration(o, tol, max_iter):
    """The power flow's tolerance and iteration limit of either options type."""
    o.tolerance = _real("tol", tol)
    if isinstance(max_iter, bool) or not isinstance(max_iter, numbers.Integral):
        raise TypeError("max_iter must be an integer, got %r" % (max_iter,))
    if max_iter < 1:
        raise ValueError("max_iter must be at least 1, found %d" % max_iter)
    o.max_iterations = int(max_iter)


def _set_sequence_data(o, xd, x2, x0, x0_open, z0_line, xfmr0, flag):
    """The sequence data of either options type (x0 a number, None or
    "open"; flag(name, value) reads x0_open); returns whether transformers
    block the zero sequence."""
    o.xd = _real("xd", xd)
    o.x2 = None if x2 is None else _real("x2", x2)
    if isinstance(x0, str) and x0 == "open":
        x0_open = True
        x0 = None
    o.x0 = None if x0 is None else _real("x0", x0)
    o.x0_open = flag("x0_open", x0_open)
    o.line_z0 = _real("z0_line", z0_line)
    if xfmr0 not in ("pass", "block"):
        raise ValueError("xfmr0 must be pass or block, found %r" % (xfmr0,))
    return xfmr0 == "block"


# The study engine's defaults (tools/study/engine.hpp).
_ENGINE_DEFAULTS = _native.EngineOptions()
DEFAULT_ENGINE_TOLERANCE = _ENGINE_DEFAULTS.tolerance
DEFAULT_ENGINE_MAX_ITERATIONS = _ENGINE_DEFAULTS.max_iterations

# The index of each of the engine's tables.
_TABLE_INDEX = {"buses": ["bus"], "branches": ["branch"], "generators": ["generator"], "faults": ["bus", "fault"],
                "fault_voltages": ["fault", "bus"], "fault_branches": ["fault", "branch"]}


def _flag(name, value):
    if not isinstance(value, (bool, np.bool_)):
        raise TypeError("%s must be True or False, got %r" % (name, value))
    return bool(value)


def engine_options(tol=DEFAULT_ENGINE_TOLERANCE, max_iter=DEFAULT_ENGINE_MAX_ITERATIONS, flat_start=False,
                   q_limits=False, faults="3ph", flat=False, xd=DEFAULT_XD, x2=None, x0=None, x0_open=False,
                   z0_line=DEFAULT_LINE_Z0, xfmr0="pass", refine=False):
    """The command line's options as the study engine takes them: --tol,
    --max-iter, --flat-start, --q-limits, --fault (None: --no-faults),
    --flat, --xd, --x2, --x0 (a number or "open"), --z0-line, --xfmr0
    pass|block, --refine-faults."""
    o = _native.EngineOptions()
    _set_iteration(o, tol, max_iter)
    o.flat_start = _flag("flat_start", flat_start)
    o.q_limits = _flag("q_limits", q_limits)
    o.run_faults = faults is not None
    if faults is not None:
        o.fault_types = fault_codes(faults)
    o.flat_prefault = _flag("flat", flat)
    o.transformer0_block = _set_sequence_data(o, xd, x2, x0, x0_open, z0_line, xfmr0, _flag)
    o.refine = _flag("refine", refine)
    return o


def _tables(case, o):
    """The study engine's tables of one run as DataFrames, by name, indexed
    by bus, branch, generator (and fault type) numbers."""
    frames = {}
    for name, (columns, rows) in _native.run_engine(case._native, o).items():
        frame = pd.DataFrame(rows, columns=columns)
        index = _TABLE_INDEX.get(name)
        if index and set(index) <= set(columns):
            frame = frame.set_index(index)
        frames[name] = frame
    return frames


def study_tables(case, **options):
    """Every table of the command line's study (summary, notes, buses,
    branches, generators, faults, and for bus=B in detail fault_voltages
    and fault_branches) as DataFrames by name; the numbers of
    `orvek-study CASE --format csv --output DIR` with the same options.
    buses=[...] limits the fault levels to those buses."""
    case = _case(case)
    buses = options.pop("buses", None)
    bus = options.pop("bus", None)
    o = engine_options(**options)
    if buses is not None:
        o.buses = [int(b) for b in buses]
    if bus is not None:
        if isinstance(bus, bool) or not isinstance(bus, numbers.Integral):
            raise TypeError("bus must be a bus number, got %r" % (bus,))
        o.detail_bus = int(bus)
    return _tables(case, o)


class PowerFlow:
    """The study engine's power flow (fast decoupled; --q-limits and
    --flat-start as options): buses, branches and generators as the command
    line's tables (indexed by bus, branch and generator number); summary
    (the summary table's one row as a Series); converged, iterations."""

    def __init__(self, case, tables):
        self.case = case
        self.summary = tables["summary"].iloc[0]
        self.notes = tables["notes"]
        self.buses = tables["buses"]
        self.branches = tables["branches"]
        self.generators = tables["generators"]
        self.converged = bool(self.summary["converged"])
        self.iterations = int(self.summary["iterations"])
        self.max_dp = float(self.summary["max_p_mismatch_pu"])
        self.max_dq = float(self.summary["max_q_mismatch_pu"])
        self.worst_p_bus = int(self.summary["worst_p_bus"]) or None
        self.worst_q_bus = int(self.summary["worst_q_bus"]) or None

    def __repr__(self):
        state = "converged" if self.converged else "NOT converged"
        return "<orvek.PowerFlow %s: %s after %d iterations, largest mismatch %.3g pu>" % (
            self.case.source, state, self.iterations, max(self.max_dp, self.max_dq))

    def failure(self):
        """The command line's message for a power flow that did not converge."""
        return ("the power flow did not converge in %d iterations (largest mismatch P %g pu at bus %s, Q %g pu "
                "at bus %s)" % (self.iterations, self.max_dp, self.worst_p_bus or 0, self.max_dq,
                                self.worst_q_bus or 0))

    def prefault(self):
        """Pre-fault voltages by node (power-flow order), complex64."""
        buses = self.buses.loc[self.case.network["bus_of_node"]]
        v = buses["vm_pu"].to_numpy() * np.exp(1j * np.deg2rad(buses["va_deg"].to_numpy()))
        return v.astype(np.complex64)


def _file_order(case):
    """Bus numbers of the network in the order of the case's bus table."""
    in_network = set(case.network["bus_of_node"].tolist())
    return [b for b in case._native.bus_table["bus"].tolist() if b in in_network]


def power_flow(case, tol=DEFAULT_ENGINE_TOLERANCE, max_iter=DEFAULT_ENGINE_MAX_ITERATIONS, flat_start=False,
               q_limits=False, ws=None):
    """The command line's power flow (orvek-study --no-faults). A power flow
    that does not converge is returned with converged False (the command
    line's exit status 2). ws is accepted for symmetry; the engine uses a
    workspace of its own per call."""
    del ws
    case = _case(case)
    o = engine_options(tol=tol, max_iter=max_iter, flat_start=flat_start, q_limits=q_limits, faults=None)
    return PowerFlow(case, _tables(case, o))


def _prefault(case, o, ws):
    """Pre-fault voltages by node from the study engine's power flow (o:
    tolerance and max_iterations of an old-style Options)."""
    pf = power_flow(case, tol=o.tolerance, max_iter=o.max_iterations)
    if not pf.converged:
        raise StudyError(pf.failure() + "; no fault study (flat=True studies from 1.0 per unit)")
    return pf.prefault(), pf


def _fault_tables(case, o):
    tables = _tables(case, o)
    summary = tables["summary"].iloc[0]
    if not o.flat_prefault and not bool(summary["converged"]):
        pf = PowerFlow(case, tables)
        raise StudyError(pf.failure() + "; no fault study (flat=True studies from 1.0 per unit)")
    return tables


def fault_levels(case, faults="3ph", flat=False, xd=DEFAULT_XD, x2=None, x0=None, x0_open=False,
                 z0_line=DEFAULT_LINE_Z0, xfmr0="pass", tol=DEFAULT_ENGINE_TOLERANCE,
                 max_iter=DEFAULT_ENGINE_MAX_ITERATIONS, flat_start=False, q_limits=False, refine=False,
                 buses=None, ws=None):
    """Solid faults at every bus (or at buses), the command line's faults
    table: one row per bus and fault type, indexed by (bus, fault): unit
    (kA at buses with a base voltage, else pu), phase currents ia, ib, ic
    in that unit, sequence currents, phase voltages and sequence impedances
    in per unit. Pre-fault voltages from the power flow, or 1.0 per unit
    with flat=True."""
    del ws
    case = _case(case)
    o = engine_options(tol=tol, max_iter=max_iter, flat_start=flat_start, q_limits=q_limits, faults=faults,
                       flat=flat, xd=xd, x2=x2, x0=x0, x0_open=x0_open, z0_line=z0_line, xfmr0=xfmr0, refine=refine)
    if buses is not None:
        o.buses = [int(b) for b in buses]
    return _fault_tables(case, o)["faults"]


class FaultDetail:
    """One fault bus in detail: levels (its rows of the faults table),
    voltages (every bus's phase voltages per fault type, indexed by (fault,
    bus)) and currents (every in-service branch's phase currents at its
    from end, indexed by (fault, branch))."""

    def __init__(self, case, bus, tables):
        self.case = case
        self.bus = bus
        self.levels = tables["faults"]
        self.voltages = tables["fault_voltages"]
        self.currents = tables["fault_branches"]


def fault_detail(case, bus, faults="3ph", flat=False, xd=DEFAULT_XD, x2=None, x0=None, x0_open=False,
                 z0_line=DEFAULT_LINE_Z0, xfmr0="pass", tol=DEFAULT_ENGINE_TOLERANCE,
                 max_iter=DEFAULT_ENGINE_MAX_ITERATIONS, flat_start=False, q_limits=False, refine=False, ws=None):
    """A solid fault at one bus (the command line's --node), with every
    bus's phase voltages and every branch's phase currents."""
    del ws
    case = _case(case)
    if isinstance(bus, bool) or not isinstance(bus, numbers.Integral):
        raise TypeError("bus must be a bus number, got %r" % (bus,))
    o = engine_options(tol=tol, max_iter=max_iter, flat_start=flat_start, q_limits=q_limits, faults=faults,
                       flat=flat, xd=xd, x2=x2, x0=x0, x0_open=x0_open, z0_line=z0_line, xfmr0=xfmr0, refine=refine)
    if int(bus) not in case.network["bus_of_node"].tolist():
        raise ValueError("bus %d is not in the network of %s" % (bus, case.source))
    o.detail_bus = int(bus)
    return FaultDetail(case, int(bus), _fault_tables(case, o))
