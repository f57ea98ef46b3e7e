"""Binding of the ORVEK routines over ctypes and numpy.

Parses the one argument table (_table.py), declares every routine's
argument types once on the loaded library, and builds one Python function
per routine: it converts the caller's numpy arrays into Fortran-ordered
buffers with the library's exact leading dimensions (complex arrays into
the split-complex layout), checks their lengths before the call, passes
every argument by reference and returns the outputs as a named tuple.

Conversions lose nothing: an integer argument takes integers (or floats
of integral value) within 32 bits, a real argument numbers that single
precision holds without overflowing to infinity or vanishing to zero; a
string, None or any other object is a TypeError, a value that does not
convert exactly a ValueError, each naming the routine and the argument.
Counts are checked against their bounds (min=, max= in the table), every
array's shape against what the routine reads, before anything is
allocated in proportion to them.
"""

import collections
import numbers
import ctypes
import ctypes.util
import os
import re
import sys

import numpy as np

from . import _table

_INT = np.int32
_REAL = np.float32


def _top_level_split(text):
    """Splits at the commas that lie outside parentheses."""
    parts, depth, current = [], 0, ""
    for char in text:
        depth += {"(": 1, ")": -1}.get(char, 0)
        if char == "," and depth == 0:
            parts.append(current.strip())
            current = ""
        else:
            current += char
    return parts + [current.strip()]


class Argument:
    """One argument of a routine, as the table states it."""

    _PATTERN = re.compile(r"^(int|real|cplx|pair)(?:\((.*)\))?$")

    def __init__(self, text):
        words = text.split()
        self.name, kind, self.direction = words[0], words[1], words[2]
        if self.direction not in ("in", "out", "inout"):
            raise ValueError("bad direction in table line: " + text)
        options = dict(w.split("=", 1) for w in words[3:])
        self.need = options.pop("need", None)
        self.length = options.pop("len", None)
        self.least = options.pop("min", None)
        self.most = options.pop("max", None)
        if options:
            raise ValueError("unknown option in table line: " + text)
        match = self._PATTERN.match(kind)
        if not match:
            raise ValueError("bad kind in table line: " + text)
        self.base, dims = match.group(1), match.group(2)
        self.dims = _top_level_split(dims) if dims else []
        if self.base == "cplx":
            # X(LD,2): fixed leading dimension, real and imaginary columns.
            self.ld, self.columns = int(self.dims[0]), 2
        elif len(self.dims) == 2:
            self.ld, self.columns = int(self.dims[0]), int(self.dims[1])
        else:
            self.ld, self.columns = None, 1

    @property
    def dtype(self):
        return _INT if self.base == "int" else _REAL

    @property
    def is_scalar(self):
        return self.base in ("int", "real") and not self.dims

    @property
    def is_table(self):
        """An array with a fixed leading dimension (split-complex or two-dimensional)."""
        return self.ld is not None

    @property
    def is_dense(self):
        """A square matrix of order N in a (LD, LD) array."""
        return self.base != "cplx" and self.is_table and self.columns == self.ld

    def __repr__(self):
        return "Argument(%s %s %s)" % (self.name, self.base, self.direction)


class Routine:
    """One exported routine: its name and its arguments in order."""

    def __init__(self, name, lines):
        self.name = name
        self.arguments = [Argument(line) for line in lines]
        self.inputs = [a for a in self.arguments if a.direction != "out"]
        self.outputs = [a for a in self.arguments if a.direction != "in"]
        self.result = collections.namedtuple(name + "Result", [a.name for a in self.outputs])

    def __repr__(self):
        return "Routine(%s, %d arguments)" % (self.name, len(self.arguments))


def parse_table(text=_table.TABLE):
    """Routines of the table, in its order."""
    routines = []
    name, lines = None, []
    for raw in text.splitlines():
        if not raw.strip():
            continue
        if raw[0].isspace():
            lines.append(raw.strip())
        else:
            if name:
                routines.append(Routine(name, lines))
            name, lines = raw.strip(), []
    if name:
        routines.append(Routine(name, lines))
    return routines


ROUTINES = collections.OrderedDict((r.name, r) for r in parse_table())


# ---- Finding and loading the library ------------------------------------------

ENVIRONMENT_VARIABLE = "ORVEK_LIBRARY"


def _candidates():
    here = os.path.dirname(os.path.abspath(__file__))
    names = ["ORVEK.dll"] if os.name == "nt" else ["liborvek.so.1", "liborvek.so"]
    found = []
    explicit = os.environ.get(ENVIRONMENT_VARIABLE)
    if explicit:
        found.append(("$" + ENVIRONMENT_VARIABLE, explicit))
    for n in names:
        found.append(("next to the package", os.path.join(here, n)))
    try:
        from . import _installed  # written by the CMake install step
        found.append(("the installed tree", os.path.join(here, _installed.LIBRARY)))
    except ImportError:
        pass
    system = ctypes.util.find_library("orvek")
    found.append(("the system loader", system or names[0]))
    return found


def find_library():
    """Path (or loader name) of the shared library that will be loaded."""
    candidates = _candidates()
    explicit = os.environ.get(ENVIRONMENT_VARIABLE)
    if explicit:
        if not os.path.exists(explicit):
            raise OSError("%s = %s: no such file" % (ENVIRONMENT_VARIABLE, explicit))
        return explicit
    for where, path in candidates:
        if where == "the system loader" or os.path.exists(path):
            return path
    return candidates[-1][1]


def _load(path):
    loader = ctypes.WinDLL if os.name == "nt" and ctypes.sizeof(ctypes.c_void_p) == 4 else ctypes.CDLL
    try:
        return loader(path)
    except OSError as error:
        tried = "; ".join("%s: %s" % c for c in _candidates())
        raise OSError("cannot load the ORVEK library (%s). Looked at %s. Set %s to the path of "
                      "liborvek.so." % (error, tried, ENVIRONMENT_VARIABLE)) from error


class Library:
    """The loaded library with every routine's argument types declared."""

    def __init__(self, path=None):
        self.path = path or find_library()
        self.handle = _load(self.path)
        self.available = []
        for routine in ROUTINES.values():
            try:
                function = getattr(self.handle, routine.name)
            except AttributeError:
                continue  # a library built without this routine
            function.argtypes = [np.ctypeslib.ndpointer(dtype=a.dtype, flags="F_CONTIGUOUS")
                                 for a in routine.arguments]
            function.restype = None
            self.available.append(routine.name)

    def function(self, name):
        if name not in self.available:
            raise AttributeError("the ORVEK library %s has no routine %s" % (self.path, name))
        return getattr(self.handle, name)


_library = None


def library():
    """The process-wide library, loaded on first use."""
    global _library
    if _library is None:
        _library = Library()
    return _library


# ---- Conversion between numpy arrays and the library's layouts ------------------

class _Reader:
    """1-based read access to a flat (Fortran-ordered) buffer, for the table's expressions."""

    def __init__(self, name, flat):
        self.name, self.flat = name, flat

    def __call__(self, index):
        if not 1 <= index <= self.flat.size:
            raise ValueError("%s(%d) lies outside the %d entries given" % (self.name, index, self.flat.size))
        return int(self.flat[index - 1])


def _count(cnt, nc, column):
    """CNT(NC, column) of a (1000, 2) count table read 1-based; 0 when NC = 0."""
    return 0 if nc == 0 else cnt(nc + 1000 * (column - 1))


def _evaluate(expression, names):
    functions = {"__builtins__": {}, "max": max, "min": min, "count": _count}
    return int(eval(expression, functions, names))  # noqa: S307


# The largest array the wrappers allocate: above every capacity of the
# library (30000 factor entries, 3*NZ for LUR), far below what would hurt.
_LARGEST_ALLOCATION = 1 << 24

_INT32 = (-2**31, 2**31 - 1)
_FLOAT32_MAX = float(np.finfo(np.float32).max)


def _where(routine, arg):
    return "%s: %s" % (routine.name, arg.name)


def _exact_integers(routine, arg, data):
    """Integer values of a numeric array, refused unless exact and within 32 bits."""
    if data.dtype.kind == "f":
        if not np.all(np.isfinite(data)) or np.any(data != np.floor(data)):
            raise ValueError("%s holds a value that is not an integer" % _where(routine, arg))
    elif data.dtype.kind not in "iu":
        raise TypeError("%s must hold integers, not %s" % (_where(routine, arg), data.dtype))
    if data.size and (data.min() < _INT32[0] or data.max() > _INT32[1]):
        raise ValueError("%s holds a value that does not fit a 32-bit integer" % _where(routine, arg))
    return data.astype(_INT)


def _exact_reals(routine, arg, data, complex_ok=False):
    """Real (or complex) values a numeric array holds, refused when single
    precision turns a finite value into infinity or a non-zero one into zero."""
    if data.dtype.kind == "c" and not complex_ok:
        if np.any(np.imag(data) != 0):
            raise ValueError("%s must be real, not complex" % _where(routine, arg))
        data = np.real(data)
    elif data.dtype.kind not in "iufc":
        raise TypeError("%s must hold numbers, not %s" % (_where(routine, arg), data.dtype))
    for part in ((np.real(data), np.imag(data)) if data.dtype.kind == "c" else (data,)):
        wide = np.asarray(part, dtype=np.float64)
        finite = np.isfinite(wide)
        if np.any(np.abs(wide[finite]) > _FLOAT32_MAX):
            raise ValueError("%s holds a value beyond single precision's range" % _where(routine, arg))
        if np.any((wide != 0) & (wide.astype(np.float32) == 0)):
            raise ValueError("%s holds a value that single precision rounds to zero" % _where(routine, arg))
    return data


def _numeric(routine, arg, value):
    """The caller's value as a numeric numpy array (no strings, None or objects)."""
    if value is None or isinstance(value, (str, bytes)):
        raise TypeError("%s must be %s, not %r" % (_where(routine, arg), "an array of numbers", value))
    data = np.asarray(value)
    if data.dtype.kind == "b" or data.dtype.kind not in "iufc":
        raise TypeError("%s must hold numbers, not %s" % (_where(routine, arg), data.dtype))
    return data


def _split(routine, arg, value):
    """A caller's complex values as the split-complex buffer X(LD,2)."""
    data = _exact_reals(routine, arg, _numeric(routine, arg, value), complex_ok=True)
    if data.ndim == 2 and data.shape[1] == 2 and not np.iscomplexobj(data):
        rows = data[:, 0] + 1j * data[:, 1].astype(np.float64)
    elif data.ndim <= 1:
        rows = data.reshape(-1)
    else:
        raise ValueError("%s must be one-dimensional (or real pairs of shape (n, 2)), not shape %s"
                         % (_where(routine, arg), data.shape))
    if rows.size > arg.ld:
        raise ValueError("%s: %s has %d entries; its leading dimension is %d"
                         % (routine.name, arg.name, rows.size, arg.ld))
    buffer = np.zeros((arg.ld, 2), dtype=_REAL, order="F")
    buffer[:rows.size, 0] = np.real(rows)
    buffer[:rows.size, 1] = np.imag(rows)
    return buffer, rows.size


def _table_buffer(routine, arg, value):
    """A caller's two-dimensional array in a buffer of leading dimension LD:
    as many columns as the table has (a dense matrix is checked against its
    order N once N is known)."""
    data = _numeric(routine, arg, value)
    data = _exact_integers(routine, arg, data) if arg.base == "int" else _exact_reals(routine, arg, data)
    if data.ndim == 1 and arg.columns == 1:
        data = data.reshape(-1, 1)
    columns_ok = data.ndim == 2 and (data.shape[1] <= arg.columns if arg.is_dense else
                                     data.shape[1] == arg.columns)
    if not columns_ok or data.shape[0] > arg.ld:
        raise ValueError("%s must have at most %d rows and %s %d columns, not shape %s"
                         % (_where(routine, arg), arg.ld, "at most" if arg.is_dense else "exactly",
                            arg.columns, data.shape))
    buffer = np.zeros((arg.ld, arg.columns), dtype=arg.dtype, order="F")
    buffer[:data.shape[0], :data.shape[1]] = data
    return buffer, data.shape


def _scalar(routine, arg, value):
    """A scalar argument, converted only when nothing is lost."""
    where = _where(routine, arg)
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Number):
        raise TypeError("%s must be a number, not %r" % (where, value))
    if isinstance(value, numbers.Complex) and not isinstance(value, numbers.Real):
        raise TypeError("%s must be real, not %r" % (where, value))
    if arg.base == "int":
        if not isinstance(value, numbers.Integral):
            if not np.isfinite(value) or value != int(value):
                raise ValueError("%s = %r is not an integer" % (where, value))
        number = int(value)
        if not _INT32[0] <= number <= _INT32[1]:
            raise ValueError("%s = %d does not fit a 32-bit integer" % (where, number))
        return np.array([number], dtype=_INT)
    return np.array(_exact_reals(routine, arg, np.array([float(value)])), dtype=_REAL)


def _pair(routine, arg, value):
    """One complex value as two consecutive reals."""
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Number):
        raise TypeError("%s must be a number, not %r" % (_where(routine, arg), value))
    z = complex(value)
    return np.array(_exact_reals(routine, arg, np.array([z.real, z.imag])), dtype=_REAL)


def _bounded(routine, arg, names):
    """A count within the bounds the table gives it (min=, max=)."""
    value = names[arg.name]
    for bound, ok, words in ((arg.least, lambda v, b: v >= b, "at least"),
                             (arg.most, lambda v, b: v <= b, "at most")):
        if bound is not None and not ok(value, _evaluate(bound, names)):
            raise ValueError("%s = %d must be %s %s = %d" % (_where(routine, arg), value, words, bound,
                                                             _evaluate(bound, names)))


def _allocation(routine, arg, size):
    if size > _LARGEST_ALLOCATION:
        raise ValueError("%s would need %d entries; the wrappers allocate at most %d"
                         % (_where(routine, arg), size, _LARGEST_ALLOCATION))
    return max(size, 1)


def _to_output(arg, buffer, names):
    """The part of an output buffer that carries results, as the caller sees it."""
    if arg.is_scalar:
        return int(buffer[0]) if arg.base == "int" else float(buffer[0])
    if arg.base == "pair":
        return complex(float(buffer[0]), float(buffer[1]))
    rows = buffer.shape[0]
    if arg.length is not None:
        rows = _evaluate(arg.length, names)
        if not 0 <= rows <= buffer.shape[0]:
            raise RuntimeError("%s = %d lies outside the %d entries of %s"
                               % (arg.length, rows, buffer.shape[0], arg.name))
    if arg.base == "cplx":
        return (buffer[:rows, 0] + 1j * buffer[:rows, 1]).astype(np.complex64)
    if arg.is_table:
        if arg.columns == arg.ld:  # a dense square matrix of order N
            return buffer[:rows, :rows].copy()
        return buffer[:rows, :].copy()
    return buffer[:rows].copy()


def call(name, *args, **kwargs):
    """Calls routine `name` with its in and in-out arguments; returns its outputs."""
    routine = ROUTINES[name]
    function = library().function(name)
    given = dict(zip([a.name for a in routine.inputs], args))
    if len(args) > len(routine.inputs):
        raise TypeError("%s takes %d arguments (%s), %d given" % (
            name, len(routine.inputs), ", ".join(a.name for a in routine.inputs), len(args)))
    for key, value in kwargs.items():
        if key in given:
            raise TypeError("%s: %s given twice" % (name, key))
        if key not in [a.name for a in routine.inputs]:
            raise TypeError("%s has no input argument %s" % (name, key))
        given[key] = value

    buffers, rows, columns, names = {}, {}, {}, {}
    # Scalars first: the sizes of the arrays are expressions over them.
    for arg in routine.inputs:
        if arg.is_scalar:
            if arg.name not in given:
                raise TypeError("%s: missing argument %s" % (name, arg.name))
            buffers[arg.name] = _scalar(routine, arg, given[arg.name])
            names[arg.name] = int(buffers[arg.name][0]) if arg.base == "int" else float(buffers[arg.name][0])
    for arg in routine.inputs:
        if arg.is_scalar and arg.base == "int" and not (arg.least is None and arg.most is None):
            _bounded(routine, arg, names)
    for arg in routine.inputs:
        if arg.is_scalar:
            continue
        value = given.get(arg.name)
        if arg.base == "pair":
            if value is None:
                raise TypeError("%s: missing argument %s" % (name, arg.name))
            buffers[arg.name] = _pair(routine, arg, value)
            continue
        if value is None:
            if arg.direction == "in":
                raise TypeError("%s: missing argument %s" % (name, arg.name))
            value = np.zeros(0, dtype=arg.dtype)
        if arg.base == "cplx":
            buffers[arg.name], rows[arg.name] = _split(routine, arg, value)
        elif arg.is_table:
            buffers[arg.name] = _table_buffer(routine, arg, value)
        else:
            data = _numeric(routine, arg, value)
            if data.ndim > 1:
                raise ValueError("%s must be one-dimensional, not shape %s" % (_where(routine, arg), data.shape))
            data = _exact_integers(routine, arg, data) if arg.base == "int" else _exact_reals(routine, arg, data)
            data = np.ascontiguousarray(data.astype(arg.dtype))
            if arg.direction == "inout":
                # Room for what the routine writes back.
                size = _allocation(routine, arg, _evaluate(arg.dims[0], names))
                padded = np.zeros(max(size, data.size, 1), dtype=arg.dtype)
                padded[:data.size] = data
                data = padded
            buffers[arg.name], rows[arg.name] = data if data.size else np.zeros(1, arg.dtype), data.size
        if arg.is_table and arg.base != "cplx":
            buffers[arg.name], shape = buffers[arg.name]
            rows[arg.name], columns[arg.name] = shape
        names[arg.name] = _Reader(arg.name, buffers[arg.name].reshape(-1, order="F"))
    # Lengths: every input must hold what the routine reads of it.
    for arg in routine.inputs:
        if arg.is_scalar or arg.base == "pair":
            continue
        needs = [arg.need] if arg.need else []
        if not arg.is_table:
            needs.insert(0, arg.dims[0])
        for expression in needs:
            need = _evaluate(expression, names)
            limit = arg.ld if arg.is_table else None
            if limit is not None and need > limit:
                raise ValueError("%s: %s = %d exceeds the leading dimension %d of %s"
                                 % (name, expression, need, limit, arg.name))
            if rows[arg.name] < need:
                raise ValueError("%s: %s has %d entries, but the routine reads %s = %d"
                                 % (name, arg.name, rows[arg.name], expression, need))
            if arg.is_dense and (rows[arg.name], columns[arg.name]) != (need, need):
                raise ValueError("%s: %s must have shape (%s, %s) = (%d, %d), not (%d, %d)"
                                 % (name, arg.name, expression, expression, need, need, rows[arg.name],
                                    columns[arg.name]))
    for arg in routine.arguments:
        if arg.direction != "out":
            continue
        if arg.is_scalar:
            buffers[arg.name] = np.zeros(1, dtype=arg.dtype)
        elif arg.base == "pair":
            buffers[arg.name] = np.zeros(2, dtype=_REAL)
        elif arg.is_table:
            buffers[arg.name] = np.zeros((arg.ld, arg.columns), dtype=arg.dtype, order="F")
        else:
            buffers[arg.name] = np.zeros(_allocation(routine, arg, _evaluate(arg.dims[0], names)), dtype=arg.dtype)

    # Whatever Python printed comes out before the library writes (or stops).
    for stream in (sys.stdout, sys.stderr):
        try:
            stream.flush()
        except (AttributeError, ValueError):
            pass
    function(*[buffers[a.name] for a in routine.arguments])

    for arg in routine.outputs:
        if arg.is_scalar:
            names[arg.name] = int(buffers[arg.name][0]) if arg.base == "int" else float(buffers[arg.name][0])
        elif arg.base != "pair":
            names[arg.name] = _Reader(arg.name, buffers[arg.name].reshape(-1, order="F"))
    return routine.result(*[_to_output(a, buffers[a.name], names) for a in routine.outputs])


def _wrapper(routine):
    def function(*args, **kwargs):
        return call(routine.name, *args, **kwargs)
    function.__name__ = function.__qualname__ = routine.name
    inputs = ", ".join(("%s=None" % a.name) if a.direction == "inout" else a.name for a in routine.inputs)
    outputs = ", ".join(a.name for a in routine.outputs)
    function.__doc__ = ("%s(%s) -> %s(%s)\n\nArguments as in the C header, in its order; "
                        "in-out arguments default to zeros. Terminal errors end the process."
                        % (routine.name, inputs, routine.result.__name__, outputs))
    return function


FUNCTIONS = collections.OrderedDict((name, _wrapper(r)) for name, r in ROUTINES.items())
