"""Checks id sequences and turns them into int32 arrays the library can read.

The engine ends the whole process on an invalid argument, so every value is
checked here first and a ValueError raised instead.
"""
import array
import ctypes
import math
import operator
import struct

# Counts and ids leave room for one more entry (end markers, offsets).
MAX_COUNT = 2**31 - 2
_INTEGER_FORMATS = set("bBhHiIlLqQnN")

if array.array("i").itemsize != 4:
    raise ImportError("tovran: this platform's C int is not 32 bits wide")


def _values(seq, what):
    """The elements of seq as a list of Python ints."""
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


def id_array(seq, what, limit=None):
    """(array of int32, upper bound) for the ids of seq, each in 0..limit-1.

    With limit None the bound is the largest id plus one (0 when empty).
    """
    values = _values(seq, what)
    if len(values) > MAX_COUNT:
        raise ValueError(f"{what}: {len(values)} ids are more than the engine can index")
    low = min(values, default=0)
    high = max(values, default=-1)
    if low < 0:
        raise ValueError(f"{what}: id {low} is negative")
    bound = high + 1 if limit is None else limit
    if high >= bound:
        raise ValueError(f"{what}: id {high} is outside 0..{bound - 1}")
    if bound > MAX_COUNT:
        raise ValueError(f"{what}: {bound} ids are more than the engine can index")
    return array.array("i", values), bound


def pointer(arr):
    """An int32 pointer to the first element of arr (kept alive by the caller)."""
    address, _ = arr.buffer_info()
    return ctypes.cast(address, ctypes.POINTER(ctypes.c_int32))


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
