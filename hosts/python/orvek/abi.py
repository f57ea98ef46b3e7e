"""The exact ABI: the 28 exported routines of the library over ctypes.

For hosts that want the routines exactly as other languages call them
(fixed leading dimensions, the library's error module). See the package
orvek's documentation of the ctypes layer; the same names are also
available directly under orvek for existing scripts.
"""

from ._core import ENVIRONMENT_VARIABLE, FUNCTIONS, ROUTINES, call, find_library, library
from ._table import LD_BRANCH, LD_DENSE, LD_FACTOR, LD_NODE, LD_NONZERO

globals().update(FUNCTIONS)

__all__ = ["ENVIRONMENT_VARIABLE", "ROUTINES", "call", "find_library", "library", "available",
           "LD_BRANCH", "LD_NODE", "LD_NONZERO", "LD_FACTOR", "LD_DENSE"] + list(FUNCTIONS)


def available():
    """Names of the routines that the loaded library exports."""
    return list(library().available)
