"""ORVEK for Python: the 28 routines of the library over ctypes and numpy.

    import numpy as np, orvek
    r = orvek.MatricaY(BSH=[], KSH=[], NSH=0, N=2, Z=[0.5j], YA=[0.25j], YB=[0.25j],
                       NODES=[[1, 2]], NB=1)
    r.NZ, r.A          # 4, array([0.-1.75j, 0.-1.75j, 0.+2.j, 0.+2.j], dtype=complex64)

Every routine is a function of the same name taking the routine's in and
in-out arguments in the header's order (positionally or by name) and
returning a named tuple of its out and in-out arguments. Complex arrays are
numpy complex arrays (converted to and from the split-complex layout),
tables such as NODES are (rows, 2) integer arrays, dense matrices (n, n)
arrays; outputs are trimmed to the entries that carry results (IROW to NZ,
SA to IJA(N+1)-1 ...). Counts, node numbers and indices are the library's:
1-based. Arrays are checked against the leading dimensions and against
what the routine reads before the call, counts against the capacities
before anything is allocated for them, and every value converts only
without loss: a string, None or a complex value where a real one is
wanted is a TypeError; 1.9 or 2**32 + 1 for an integer, or a value single
precision would turn into infinity or zero, a ValueError naming the
argument.

IMPORTANT: a terminal error of the library (the sort's or the sparse
solver's argument checks, a rejected count or node number) prints its
message on standard output and ENDS THE PYTHON PROCESS with exit status 1,
as it ends any host; no Python exception is raised and no cleanup runs.
Check inputs first, or run risky calls in a child process
(multiprocessing). The library is not re-entrant: make one call at a time
(do not call it from several threads at once).

The library is looked for in $ORVEK_LIBRARY, next to this package, in the
tree the package was installed with, and through the system loader.
"""

from ._core import ENVIRONMENT_VARIABLE, FUNCTIONS, ROUTINES, call, find_library, library
from ._table import LD_BRANCH, LD_DENSE, LD_FACTOR, LD_NODE, LD_NONZERO

__version__ = "1.0.0"

globals().update(FUNCTIONS)

__all__ = ["ENVIRONMENT_VARIABLE", "ROUTINES", "call", "find_library", "library", "available",
           "LD_BRANCH", "LD_NODE", "LD_NONZERO", "LD_FACTOR", "LD_DENSE"] + list(FUNCTIONS)


def available():
    """Names of the routines that the loaded library exports."""
    return list(library().available)
