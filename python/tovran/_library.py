"""Loads the shared library once and declares the entries of tovran.h."""
import ctypes
import ctypes.util
import os
import pathlib

_NAMES = ("libtovran.so", "libtovran.so.0")

# Most threads an entry accepts (TOVRAN_MAX_THREADS).
MAX_THREADS = 256


class Params(ctypes.Structure):
    """TOVRAN_Params: what to build."""
    _fields_ = [("kind", ctypes.c_int32), ("nnbr", ctypes.c_int32), ("alpha", ctypes.c_float),
                ("min_support", ctypes.c_int32), ("nthreads", ctypes.c_int32),
                ("weighting", ctypes.c_int32), ("bm25_k1", ctypes.c_float),
                ("bm25_b", ctypes.c_float)]


class QueryOptions(ctypes.Structure):
    """TOVRAN_QueryOptions: what a query leaves out, draws from or adds."""
    _fields_ = [("filter_items", ctypes.POINTER(ctypes.c_int32)), ("nfilter", ctypes.c_int32),
                ("items", ctypes.POINTER(ctypes.c_int32)), ("nitems", ctypes.c_int32),
                ("keep_basket", ctypes.c_int32), ("fallback", ctypes.c_int32)]


class AlphaTrace(ctypes.Structure):
    """TOVRAN_AlphaTrace: the estimation's steps."""
    _fields_ = [("ntried", ctypes.c_int32), ("alpha", ctypes.c_float * 10),
                ("hits", ctypes.c_int32 * 10)]


class ModelInfo(ctypes.Structure):
    """TOVRAN_ModelInfo: what a model was built from and with."""
    _fields_ = [("params", Params), ("nusers", ctypes.c_int32), ("nitems", ctypes.c_int32),
                ("nentries", ctypes.c_int64), ("npopular", ctypes.c_int32)]


def _candidates():
    explicit = os.environ.get("TOVRAN_LIBRARY")
    if explicit:
        yield explicit
        return
    here = pathlib.Path(__file__).resolve().parent
    # Next to the package (pip), then <prefix>/lib when installed as
    # <prefix>/lib/tovran/python/tovran (cmake --install).
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
    i32, p32, f32 = ctypes.c_int32, ctypes.POINTER(ctypes.c_int32), ctypes.POINTER(ctypes.c_float)
    model = ctypes.c_void_p
    entries = {
        "TOVRAN_BuildModel": (model, [i32, i32, i32, p32, p32, i32, i32, ctypes.c_float]),
        "TOVRAN_Recommend": (i32, [model, i32, p32, i32, p32]),
        "TOVRAN_FreeModel": (None, [model]),
        "TOVRAN_EstimateAlphaInit": (ctypes.c_double, [i32, i32, i32, p32, p32, i32, i32]),
        "TOVRAN_EstimateAlphaInitThreads": (ctypes.c_double,
                                            [i32, i32, i32, p32, p32, i32, i32, i32]),
        "TOVRAN_RestartRandom": (None, []),
        "TOVRAN_LastError": (ctypes.c_char_p, []),
        "TOVRAN_Build": (model, [i32, i32, i32, p32, p32, ctypes.POINTER(Params)]),
        "TOVRAN_EstimateAlpha": (i32, [i32, i32, i32, p32, p32, ctypes.POINTER(Params), i32,
                                       ctypes.POINTER(ctypes.c_double),
                                       ctypes.POINTER(AlphaTrace)]),
        "TOVRAN_SaveModel": (i32, [model, ctypes.c_char_p]),
        "TOVRAN_LoadModel": (model, [ctypes.c_char_p]),
        "TOVRAN_GetModelInfo": (i32, [model, ctypes.POINTER(ModelInfo)]),
        "TOVRAN_RecommendScored": (i32, [model, i32, p32, i32, p32, f32]),
        "TOVRAN_RecommendBatch": (i32, [model, i32, ctypes.POINTER(ctypes.c_int64), p32, i32, i32,
                                        p32, f32, p32]),
        "TOVRAN_BuildWeighted": (model, [i32, i32, i32, p32, p32, f32, ctypes.POINTER(Params)]),
        "TOVRAN_RecommendFiltered": (i32, [model, i32, p32, i32, ctypes.POINTER(QueryOptions),
                                           p32, f32]),
        "TOVRAN_RecommendFilteredBatch": (i32, [model, i32, ctypes.POINTER(ctypes.c_int64), p32,
                                                i32, i32, ctypes.POINTER(QueryOptions), p32, f32,
                                                p32]),
        "TOVRAN_SimilarUsers": (i32, [model, i32, i32, p32, f32]),
    }
    for name, (restype, argtypes) in entries.items():
        entry = getattr(lib, name)
        entry.restype, entry.argtypes = restype, argtypes
    return lib


LIB = _declare(_load())


def failure(what):
    """The exception for the last failed entry of this thread: MemoryError for
    exhausted memory, RuntimeError for a thread that could not start,
    OSError for a file that cannot be opened, read or written, ValueError
    otherwise."""
    reason = (LIB.TOVRAN_LastError() or b"").decode("utf-8", "replace")
    text = f"{what}: {reason}"
    lowered = reason.lower()
    if "memory" in lowered or "allocat" in lowered:
        return MemoryError(text)
    if "thread" in lowered:
        return RuntimeError(text)
    if any(f"cannot be {verb}" in lowered for verb in ("opened", "read", "written")):
        return OSError(text)
    return ValueError(text)
