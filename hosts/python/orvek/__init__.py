"""ORVEK for Python: the native C++ API and the studies of orvek-study.

    import orvek
    case = orvek.load_case("case30.m")
    pf = orvek.power_flow(case)                        # pf.buses: DataFrame by bus
    levels = orvek.fault_levels(case, faults="3ph,slg")  # DataFrame by (bus, fault)
    detail = orvek.fault_detail(case, bus=5)            # voltages and branch currents
    screen = orvek.contingency_fault_levels(case)       # N-1, serial or on Dask
    y = case.admittance()                               # scipy.sparse

The compiled module orvek._native (pybind11) runs the library's native C++
API: networks of any size, errors raised as orvek.Error (routine, type,
code, message) or its subclasses orvek.StudyError and orvek.CaseError,
never an exit of the process; bad arguments raise TypeError or ValueError
naming the argument. numpy arrays go in and come out (complex128 and
complex64 accepted, converted once to the library's complex64).

Threads: every native call releases the GIL. A call uses its thread's own
workspace unless given one (ws=orvek.Workspace()); a workspace serves one
call at a time, so give each thread its own. Studies in several threads at
once give the results they give one at a time.

The exact ABI: orvek.abi holds the 28 exported routines over ctypes
(fixed leading dimensions, networks of at most 1000 nodes), for hosts that
want the routines exactly as other languages call them; the same functions
are also available under their names here (orvek.MatricaY ...). In that
layer a terminal error of the library (the sort's or the sparse solver's
argument checks, a rejected count or node number) prints its message on
standard output and ENDS THE PYTHON PROCESS with exit status 1, as it ends
any host; the library it loads is not re-entrant (one call at a time). The
library is looked for in $ORVEK_LIBRARY, next to this package, in the tree
the package was installed with, and through the system loader; every
routine is a function of the same name taking the routine's in and in-out
arguments in the header's order and returning a named tuple of its out and
in-out arguments:

    r = orvek.MatricaY(BSH=[], KSH=[], NSH=0, N=2, Z=[0.5j], YA=[0.25j], YB=[0.25j],
                       NODES=[[1, 2]], NB=1)
    r.NZ, r.A          # 4, array([0.-1.75j, 0.-1.75j, 0.+2.j, 0.+2.j], dtype=complex64)

In the ctypes layer complex arrays are numpy complex arrays (converted to
and from the split-complex layout), tables such as NODES are (rows, 2)
integer arrays, dense matrices (n, n) arrays; outputs are trimmed to the
entries that carry results (IROW to NZ, SA to IJA(N+1)-1 ...). Counts, node
numbers and indices are the library's: 1-based. Arrays are checked against
the leading dimensions and against what the routine reads before the call,
counts against the capacities before anything is allocated for them, and
every value converts only without loss: a string, None or a complex value
where a real one is wanted is a TypeError; 1.9 or 2**32 + 1 for an integer,
or a value single precision would turn into infinity or zero, a ValueError
naming the argument.
"""

from ._core import ENVIRONMENT_VARIABLE, FUNCTIONS, ROUTINES, call, find_library, library
from ._errors import CaseError, Error, StudyError
from ._table import LD_BRANCH, LD_DENSE, LD_FACTOR, LD_NODE, LD_NONZERO

__version__ = "1.0.0"

globals().update(FUNCTIONS)

__all__ = ["ENVIRONMENT_VARIABLE", "ROUTINES", "call", "find_library", "library", "available",
           "LD_BRANCH", "LD_NODE", "LD_NONZERO", "LD_FACTOR", "LD_DENSE"] + list(FUNCTIONS)

_NATIVE_NAMES = ["Error", "StudyError", "CaseError", "Workspace", "ComplexFactors", "RealFactors",
                 "assemble_admittance", "factor", "solve", "fault", "fault_study", "branch_currents",
                 "branch_powers", "Case", "load_case", "parse_case", "power_flow", "PowerFlow", "fault_levels",
                 "fault_detail", "FaultDetail", "study_tables", "engine_options", "contingency_fault_levels",
                 "default_outages", "ContingencyLevels"]

try:
    from ._api import (ComplexFactors, RealFactors, Workspace, assemble_admittance, branch_currents,
                       branch_powers, factor, fault, fault_study, solve)
    from .study import (Case, FaultDetail, PowerFlow, engine_options, fault_detail, fault_levels, load_case,
                        parse_case, power_flow, study_tables)
    from .contingency import ContingencyLevels, contingency_fault_levels, default_outages
    _NATIVE_ERROR = None
    __all__ += _NATIVE_NAMES
except ImportError as exc:  # a source tree without the compiled module: the ctypes layer only
    _NATIVE_ERROR = exc


def __getattr__(name):
    if name in _NATIVE_NAMES and _NATIVE_ERROR is not None:
        raise ImportError("orvek.%s needs the compiled module orvek._native, which could not be imported (%s); "
                          "build it with CMake (pybind11-dev, python3-dev) or pip install ." % (name, _NATIVE_ERROR))
    raise AttributeError("module 'orvek' has no attribute %r" % name)


def available():
    """Names of the routines that the loaded library exports (ctypes layer)."""
    return list(library().available)
