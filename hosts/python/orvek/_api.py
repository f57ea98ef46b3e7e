"""The native C++ API for Python: argument checks, numpy conversions, scipy.sparse.

Arrays are checked here before any native call: a wrong type is a TypeError,
a wrong shape, length or node number a ValueError, each naming the argument.
Complex arrays (complex128 or complex64) are converted once to complex64,
real ones to float32 and integer ones to int32, the library's own types.
Node numbers are the library's, 1..n. Every native call releases the GIL.

Workspaces: a call without ws= uses its thread's own workspace, so threads
never share one. A Workspace given with ws= serves one call at a time (a
second call meanwhile raises RuntimeError); give each thread its own.
"""

import collections
import numbers

import numpy as np
import scipy.sparse

from . import _native
from ._native import ComplexFactors, RealFactors, Workspace

FAULT_TYPES = {"3ph": 1, "ll": 2, "llg": 3, "slg": 4}
FAULT_NAMES = {code: name for name, code in FAULT_TYPES.items()}

FaultResult = collections.namedtuple("FaultResult", "currents v0 v1 v2 va vb vc")
FaultResult.__doc__ = """A solid fault at one node: currents (I0, I1, I2), then the
sequence and phase voltages of every node."""


def _array(name, value):
    try:
        arr = np.asarray(value)
    except Exception as exc:
        raise TypeError("%s must be an array: %s" % (name, exc)) from None
    if arr.dtype == object or arr.dtype.kind not in "biufc":
        raise TypeError("%s must be a numeric array, got dtype %s" % (name, arr.dtype))
    return arr


def _vector(name, value, length, dtype, kinds):
    arr = _array(name, value)
    if arr.dtype.kind not in kinds and arr.size:
        wanted = "complex" if "c" in kinds else "real" if "f" in kinds else "integer"
        raise TypeError("%s must be a %s array, got dtype %s" % (name, wanted, arr.dtype))
    if arr.ndim != 1:
        raise ValueError("%s must be one-dimensional, got shape %s" % (name, arr.shape))
    if length is not None and arr.shape[0] != length:
        raise ValueError("%s holds %d values; it must hold %d" % (name, arr.shape[0], length))
    if kinds == "biu" or kinds == "iu":
        if arr.size and (arr.min() < np.iinfo(np.int32).min or arr.max() > np.iinfo(np.int32).max):
            raise ValueError("%s holds values outside the 32-bit integer range" % name)
    return np.ascontiguousarray(arr, dtype=dtype)


def complex_vector(name, value, length=None):
    """A complex64 vector (from any real or complex array)."""
    return _vector(name, value, length, np.complex64, "biufc")


def real_vector(name, value, length=None):
    return _vector(name, value, length, np.float32, "biuf")


def int_vector(name, value, length=None):
    return _vector(name, value, length, np.int32, "biu")


def count(name, value, least=0):
    if isinstance(value, bool) or not isinstance(value, numbers.Integral):
        raise TypeError("%s must be an integer, got %r" % (name, value))
    if value < least:
        raise ValueError("%s = %d must be at least %d" % (name, value, least))
    return int(value)


def node_numbers(name, nodes, n):
    nodes = int_vector(name, nodes)
    bad = np.flatnonzero((nodes < 1) | (nodes > n))
    if bad.size:
        raise ValueError("%s[%d] = %d must lie between 1 and n = %d" % (name, bad[0], nodes[bad[0]], n))
    return nodes


def fault_type(value, name="fault_type"):
    """A fault-type code 1..4 from a code or a name (3ph, ll, llg, slg)."""
    if isinstance(value, str):
        if value not in FAULT_TYPES:
            raise ValueError("%s %r is not one of %s" % (name, value, ", ".join(FAULT_TYPES)))
        return FAULT_TYPES[value]
    code = count(name, value, 1)
    if code > 4:
        raise ValueError("%s = %d must lie between 1 and 4" % (name, code))
    return code


def _workspace(ws):
    if ws is not None and not isinstance(ws, Workspace):
        raise TypeError("ws must be an orvek.Workspace, got %s" % type(ws).__name__)
    return ws


def _branches(n, from_, to, z, ya, yb):
    from_ = node_numbers("from_", from_, n)
    nb = from_.shape[0]
    return (from_, node_numbers("to", int_vector("to", to, nb), n), complex_vector("z", z, nb),
            complex_vector("ya", ya, nb), complex_vector("yb", yb, nb))


def assemble_admittance(n, from_, to, z, ya, yb, shunt_nodes=(), shunt_b=(), ws=None):
    """The nodal admittance matrix of n nodes from π-branches (series
    impedance z between from_ and to, admittances ya and yb at the two ends)
    and nodal shunt susceptances, as a scipy.sparse CSR matrix (complex64;
    row and column i - 1 belong to node i)."""
    n = count("n", n, 1)
    branches = _branches(n, from_, to, z, ya, yb)
    shunt_nodes = node_numbers("shunt_nodes", shunt_nodes, n)
    shunt_b = real_vector("shunt_b", shunt_b, shunt_nodes.shape[0])
    irow, jcol, value, _, _ = _native.assemble_admittance(n, *branches, shunt_nodes, shunt_b, ws=_workspace(ws))
    return scipy.sparse.csr_matrix((value, (irow - 1, jcol - 1)), shape=(n, n))


def _triplets(a):
    if scipy.sparse.issparse(a):
        coo = scipy.sparse.coo_matrix(a)
        coo.sum_duplicates()
    else:
        dense = _array("a", a)
        if dense.ndim != 2:
            raise ValueError("a must be a square matrix, got shape %s" % (dense.shape,))
        coo = scipy.sparse.coo_matrix(dense)
    if coo.shape[0] != coo.shape[1] or coo.shape[0] < 1:
        raise ValueError("a must be a square matrix of order at least 1, got shape %s" % (coo.shape,))
    if coo.dtype.kind not in "biufc":
        raise TypeError("a must be a numeric matrix, got dtype %s" % coo.dtype)
    return coo


def factor(a, ws=None):
    """The sparse LU factors of a square matrix (scipy.sparse or dense):
    ComplexFactors for complex matrices, RealFactors for real ones. A
    numerically singular matrix gives factors with complete False and the
    library's warnings; solving with them raises orvek.Error."""
    coo = _triplets(a)
    n = coo.shape[0]
    irow = (coo.row + 1).astype(np.int32)
    jcol = (coo.col + 1).astype(np.int32)
    if coo.dtype.kind == "c":
        return _native.factor_complex(n, irow, jcol, coo.data.astype(np.complex64), ws=_workspace(ws))
    return _native.factor_real(n, irow, jcol, coo.data.astype(np.float32), ws=_workspace(ws))


def solve(factors, b, transposed=False, ws=None):
    """x with A·x = b (A^T·x = b, the conjugate transpose for complex
    factors, when transposed) from the factors of A."""
    if isinstance(factors, ComplexFactors):
        return _native.solve_complex(factors, complex_vector("b", b, factors.n), bool(transposed), ws=_workspace(ws))
    if isinstance(factors, RealFactors):
        arr = _array("b", b)
        if arr.dtype.kind == "c":
            raise TypeError("b must be a real array for real factors, got dtype %s" % arr.dtype)
        return _native.solve_real(factors, real_vector("b", arr, factors.n), bool(transposed), ws=_workspace(ws))
    raise TypeError("factors must come from orvek.factor, got %s" % type(factors).__name__)


def fault(fault_type_, k, ub, e, z0, z1, z2, ws=None):
    """A solid fault of the given type (1..4 or 3ph/ll/llg/slg) at node k from
    the three impedance columns of k: the currents and every node's voltages."""
    itype = fault_type(fault_type_)
    e = complex_vector("e", e)
    n = e.shape[0]
    if n < 1:
        raise ValueError("e must hold at least one value")
    k = count("k", k)
    if not 1 <= k <= n:
        raise ValueError("k = %d must lie between 1 and n = %d" % (k, n))
    parts = _native.fault(itype, k, real_vector("ub", ub, n), e, complex_vector("z0", z0, n),
                          complex_vector("z1", z1, n), complex_vector("z2", z2, n), ws=_workspace(ws))
    return FaultResult(*parts)


def fault_study(fault_type_, zero, positive, negative, ub, e, nodes=None, ws=None):
    """The fault currents (I0, I1, I2 per row) at every node in nodes (all
    when None) from the factors of the three sequence networks."""
    itype = fault_type(fault_type_)
    for name, f in (("zero", zero), ("positive", positive), ("negative", negative)):
        if not isinstance(f, ComplexFactors):
            raise TypeError("%s must be complex factors from orvek.factor, got %s" % (name, type(f).__name__))
    e = complex_vector("e", e)
    n = e.shape[0]
    for name, f in (("zero", zero), ("positive", positive), ("negative", negative)):
        if f.n != n:
            raise ValueError("%s has order %d; e holds %d values" % (name, f.n, n))
    nodes = node_numbers("nodes", () if nodes is None else nodes, n)
    return _native.fault_study(itype, zero, positive, negative, real_vector("ub", ub, n), e, nodes,
                               ws=_workspace(ws))


def branch_currents(from_, to, z, ya, yb, v, ws=None):
    """Currents entering every branch at its first end and leaving at its
    second, from the node voltages v (node i is v[i - 1])."""
    v = complex_vector("v", v)
    return _native.branch_flows(False, *_branches(v.shape[0], from_, to, z, ya, yb), v, ws=_workspace(ws))


def branch_powers(from_, to, z, ya, yb, v, ws=None):
    """Complex powers at both ends of every branch from the node voltages v."""
    v = complex_vector("v", v)
    return _native.branch_flows(True, *_branches(v.shape[0], from_, to, z, ya, yb), v, ws=_workspace(ws))
