"""Binding of the ORVEK routines over ctypes and numpy.

Parses the one argument table (_table.py), declares every routine's
argument types once on the loaded library, and builds one Python function
per routine: it converts the caller's numpy arrays into Fortran-ordered
buffers with the library's exact leading dimensions (complex arrays into
the split-complex layout), checks their lengths before the call, passes
every argument by reference and returns the outputs as a named tuple.
"""

import collections
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


def _evaluate(expression, names):
    return int(eval(expression, {"__builtins__": {}, "max": max, "min": min}, names))  # noqa: S307


def _split(routine, arg, value):
    """A caller's complex values as the split-complex buffer X(LD,2)."""
    data = np.asarray(value)
    if data.ndim == 2 and data.shape[1] == 2 and not np.iscomplexobj(data):
        rows = data[:, 0] + 1j * data[:, 1].astype(np.float64)
    else:
        rows = data.reshape(-1)
    if rows.size > arg.ld:
        raise ValueError("%s: %s has %d entries; its leading dimension is %d"
                         % (routine.name, arg.name, rows.size, arg.ld))
    buffer = np.zeros((arg.ld, 2), dtype=_REAL, order="F")
    buffer[:rows.size, 0] = np.real(rows)
    buffer[:rows.size, 1] = np.imag(rows)
    return buffer, rows.size


def _table_buffer(routine, arg, value):
    """A caller's two-dimensional array in a buffer of leading dimension LD."""
    data = np.asarray(value)
    if data.ndim == 1 and arg.columns == 1:
        data = data.reshape(-1, 1)
    if data.ndim != 2 or data.shape[1] > arg.columns or data.shape[0] > arg.ld:
        raise ValueError("%s: %s must have at most %d rows and %d columns, not shape %s"
                         % (routine.name, arg.name, arg.ld, arg.columns, data.shape))
    buffer = np.zeros((arg.ld, arg.columns), dtype=arg.dtype, order="F")
    buffer[:data.shape[0], :data.shape[1]] = data
    return buffer, data.shape[0]


def _scalar(routine, arg, value):
    if arg.base == "int":
        number = int(value)
        if not -2**31 <= number < 2**31:
            raise ValueError("%s: %s = %d does not fit a 32-bit integer" % (routine.name, arg.name, number))
        return np.array([number], dtype=_INT)
    return np.array([value], dtype=_REAL)


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

    buffers, rows, names = {}, {}, {}
    # Scalars first: the sizes of the arrays are expressions over them.
    for arg in routine.inputs:
        if arg.is_scalar:
            if arg.name not in given:
                raise TypeError("%s: missing argument %s" % (name, arg.name))
            buffers[arg.name] = _scalar(routine, arg, given[arg.name])
            names[arg.name] = int(buffers[arg.name][0]) if arg.base == "int" else float(buffers[arg.name][0])
    for arg in routine.inputs:
        if arg.is_scalar:
            continue
        value = given.get(arg.name)
        if arg.base == "pair":
            if value is None:
                raise TypeError("%s: missing argument %s" % (name, arg.name))
            buffers[arg.name] = np.array([complex(value).real, complex(value).imag], dtype=_REAL)
            continue
        if value is None:
            if arg.direction == "in":
                raise TypeError("%s: missing argument %s" % (name, arg.name))
            value = np.zeros(0, dtype=arg.dtype)
        if arg.base == "cplx":
            buffers[arg.name], rows[arg.name] = _split(routine, arg, value)
        elif arg.is_table:
            buffers[arg.name], rows[arg.name] = _table_buffer(routine, arg, value)
        else:
            data = np.ascontiguousarray(np.asarray(value, dtype=arg.dtype).reshape(-1))
            if arg.direction == "inout":
                # Room for what the routine writes back.
                size = _evaluate(arg.dims[0], names)
                padded = np.zeros(max(size, data.size, 1), dtype=arg.dtype)
                padded[:data.size] = data
                data = padded
            buffers[arg.name], rows[arg.name] = data if data.size else np.zeros(1, arg.dtype), data.size
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
            buffers[arg.name] = np.zeros(max(_evaluate(arg.dims[0], names), 1), dtype=arg.dtype)

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
