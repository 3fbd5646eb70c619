"""Loads the shared library once and declares the entries of tovran.h."""
import ctypes
import ctypes.util
import os
import pathlib

_NAMES = ("libtovran.so", "libtovran.so.0")


def _candidates():
    explicit = os.environ.get("TOVRAN_LIBRARY")
    if explicit:
        yield explicit
        return
    here = pathlib.Path(__file__).resolve().parent
    # Next to the package, then <prefix>/lib when installed as
    # <prefix>/lib/tovran/python/tovran.
    for folder in (here, here.parents[2]):
        for name in _NAMES:
            path = folder / name
            if path.exists():
                yield str(path)
    found = ctypes.util.find_library("tovran")
    yield found if found else _NAMES[1]


def _load():
    errors = []
    for path in _candidates():
        try:
            return ctypes.CDLL(path)
        except OSError as exc:
            errors.append(f"{path}: {exc}")
    raise ImportError("tovran: cannot load the shared library libtovran.so; set TOVRAN_LIBRARY "
                      "to its path (" + "; ".join(errors) + ")")


def _declare(lib):
    i32, p32 = ctypes.c_int32, ctypes.POINTER(ctypes.c_int32)
    lib.TOVRAN_BuildModel.argtypes = [i32, i32, i32, p32, p32, i32, i32, ctypes.c_float]
    lib.TOVRAN_BuildModel.restype = ctypes.c_void_p
    lib.TOVRAN_Recommend.argtypes = [ctypes.c_void_p, i32, p32, i32, p32]
    lib.TOVRAN_Recommend.restype = i32
    lib.TOVRAN_FreeModel.argtypes = [ctypes.c_void_p]
    lib.TOVRAN_FreeModel.restype = None
    lib.TOVRAN_EstimateAlphaInit.argtypes = [i32, i32, i32, p32, p32, i32, i32]
    lib.TOVRAN_EstimateAlphaInit.restype = ctypes.c_double
    lib.TOVRAN_RestartRandom.argtypes = []
    lib.TOVRAN_RestartRandom.restype = None
    return lib


LIB = _declare(_load())
