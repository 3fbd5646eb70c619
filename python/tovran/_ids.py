"""Checks ids and parameters and turns id sequences into int32 arrays the
library reads, and the library's answers into numpy arrays or lists.

numpy is optional. With it, numpy arrays, buffers (array.array, memoryview)
and objects with __array__ (a pandas column) are read as arrays, converted
to int32 only when they hold another integer type, and answers are numpy
arrays. Other sequences (lists, tuples, ranges) are read element by element,
and without numpy everything is, and answers are lists.
"""
import array
import ctypes
import math
import operator
import os
import struct

try:
    import numpy
except ImportError:
    numpy = None

# Counts and ids leave room for one more entry (end markers, offsets).
MAX_COUNT = 2**31 - 2
_INTEGER_FORMATS = set("bBhHiIlLqQnN")

if array.array("i").itemsize != 4 or array.array("f").itemsize != 4:
    raise ImportError("tovran: this platform's C int or float is not 32 bits wide")


def _values(seq, what):
    """The elements of seq as a list of Python ints (the path without numpy)."""
    try:
        view = memoryview(seq)
    except TypeError:
        view = None
    if view is not None:
        with view:
            if view.format.lstrip("@=<>!") not in _INTEGER_FORMATS or view.ndim != 1:
                raise ValueError(f"{what}: a buffer of one-dimensional integers is needed, "
                                 f"not format {view.format!r} with {view.ndim} dimensions")
            try:
                return view.tolist()
            except NotImplementedError:  # an explicit byte order, such as "<i"
                return [v for (v,) in struct.iter_unpack(view.format, view.tobytes())]
    if isinstance(seq, str):
        raise ValueError(f"{what}: a sequence of integers is needed, not a string")
    try:
        elements = iter(seq)
    except TypeError:
        raise ValueError(f"{what}: a sequence of integers is needed, "
                         f"not {type(seq).__name__}") from None
    values = []
    for k, v in enumerate(elements):
        if isinstance(v, bool):
            raise ValueError(f"{what}[{k}]: True/False is not an id")
        try:
            values.append(operator.index(v))
        except TypeError:
            raise ValueError(f"{what}[{k}]: {v!r} is not an integer") from None
    return values


def _is_array(seq):
    """Whether numpy reads seq as an array without a Python object per element."""
    if numpy is None or isinstance(seq, (str, list, tuple, range)):
        return False
    if isinstance(seq, numpy.ndarray) or hasattr(seq, "__array__"):
        return True
    try:
        memoryview(seq).release()
    except TypeError:
        return False
    return True


def _numpy_ids(seq, what):
    """seq as a one-dimensional numpy array of integers, not copied if possible."""
    try:
        values = numpy.asarray(memoryview(seq) if not hasattr(seq, "__array__") else seq)
    except (TypeError, ValueError) as exc:
        raise ValueError(f"{what}: not readable as an array of integers ({exc})") from None
    if values.ndim != 1 or values.dtype.kind not in "iu":
        raise ValueError(f"{what}: a one-dimensional array of integers is needed, "
                         f"not {values.ndim} dimensions of {values.dtype}")
    return values


def _bounds(low, high, length, what, limit):
    """The id bound (limit, or the largest id plus one) once every check holds."""
    if length > MAX_COUNT:
        raise ValueError(f"{what}: {length} ids are more than the engine can index")
    if low < 0:
        raise ValueError(f"{what}: id {low} is negative")
    bound = high + 1 if limit is None else limit
    if high >= bound:
        raise ValueError(f"{what}: id {high} is outside 0..{bound - 1}")
    if bound > MAX_COUNT:
        raise ValueError(f"{what}: {bound} ids are more than the engine can index")
    return bound


def id_array(seq, what, limit=None):
    """(int32 array, upper bound) for the ids of seq, each in 0..limit-1.

    The array is a numpy array or an array.array; with limit None the bound
    is the largest id plus one (0 when empty).
    """
    if _is_array(seq):
        values = _numpy_ids(seq, what)
        low, high = (int(values.min()), int(values.max())) if values.size else (0, -1)
        bound = _bounds(low, high, values.size, what, limit)
        return numpy.ascontiguousarray(values, dtype=numpy.int32), bound
    values = _values(seq, what)
    bound = _bounds(min(values, default=0), max(values, default=-1), len(values), what, limit)
    return sequence(values, "i"), bound


def pointer(arr, ctype=ctypes.c_int32):
    """A pointer to the first element of arr (kept alive by the caller)."""
    if numpy is not None and isinstance(arr, numpy.ndarray):
        return arr.ctypes.data_as(ctypes.POINTER(ctype))
    address, _ = arr.buffer_info()
    return ctypes.cast(address, ctypes.POINTER(ctype))


def empty(n, kind):
    """A writable array of n int32 ("i") or float32 ("f") values."""
    if numpy is not None:
        return numpy.empty(n, dtype=numpy.int32 if kind == "i" else numpy.float32)
    return array.array(kind, bytes(4 * n))


def sequence(values, kind):
    """values (Python ints) as an array of C type kind ("i": int32, "q": int64)."""
    if numpy is not None:
        return numpy.array(values, dtype=numpy.int32 if kind == "i" else numpy.int64)
    return array.array(kind, values)


def floats(values):
    """values (Python numbers) as an array.array of float32 (the path without numpy)."""
    return array.array("f", [float(v) for v in values])


def floats_array(values):
    """values as a float32 array: numpy's when installed, else array.array."""
    if numpy is not None:
        return numpy.array(values, dtype=numpy.float32)
    return floats(values)


def tolist(arr):
    """The values of a numpy array, array.array or list as a list."""
    return arr.tolist() if hasattr(arr, "tolist") else list(arr)


def answer(arr, n):
    """The first n values of arr as the caller's answer: a numpy array or a list."""
    return arr[:n].copy() if numpy is not None else arr[:n].tolist()


def rows(arr, nrows, width):
    """arr as nrows rows of width values: a numpy array or a list of lists."""
    if numpy is not None:
        return arr.reshape(nrows, width)
    values = arr.tolist()
    return [values[r * width:(r + 1) * width] for r in range(nrows)]


def path(value, what):
    """value (str, bytes or os.PathLike) as the bytes of a file name; a
    ValueError when it holds a NUL byte, which would end the name early."""
    raw = os.fsencode(value)
    if b"\0" in raw:
        raise ValueError(f"{what}: embedded null byte in the path {value!r}")
    return raw


def count(value, what, low, high=MAX_COUNT):
    """value as an int in low..high, or a ValueError."""
    if isinstance(value, bool):
        raise ValueError(f"{what}: True/False is not a count")
    try:
        value = operator.index(value)
    except TypeError:
        raise ValueError(f"{what}: {value!r} is not an integer") from None
    if not low <= value <= high:
        raise ValueError(f"{what}: {value} is outside {low}..{high}")
    return value


def fraction(value, what):
    """value as a float in [0, 1], or a ValueError."""
    if isinstance(value, bool):
        raise ValueError(f"{what}: True/False is not a number")
    try:
        value = float(value)
    except (TypeError, ValueError):
        raise ValueError(f"{what}: {value!r} is not a number") from None
    if math.isnan(value) or not 0.0 <= value <= 1.0:
        raise ValueError(f"{what}: {value} is outside [0, 1]")
    return value
