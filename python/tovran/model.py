"""A built model and the estimation of alpha."""
import ctypes
import threading

from . import _ids
from ._library import LIB, Params, failure
from .recommenders import ITEM_COSINE, ITEM_CPROB, USER_BASED, estimate

_KINDS = (ITEM_COSINE, ITEM_CPROB, USER_BASED)
_MIN_SUPPORT = 3


def _pairs(users, items, nusers, nitems):
    """Checked int32 arrays of the pairs and the matrix size."""
    if nusers is not None:
        nusers = _ids.count(nusers, "nusers", 0)
    if nitems is not None:
        nitems = _ids.count(nitems, "nitems", 0)
    rowid, nusers = _ids.id_array(users, "users", nusers)
    colid, nitems = _ids.id_array(items, "items", nitems)
    if len(rowid) != len(colid):
        raise ValueError(f"users and items differ in length ({len(rowid)} and {len(colid)})")
    return rowid, colid, nusers, nitems


class Model:
    """A model built from the pairs (users[k], items[k]).

    users and items are equally long sequences of non-negative integer ids
    (lists, ranges, array.array, anything with the buffer protocol). The
    matrix has nusers x nitems entries, by default the largest ids plus one.
    kind is ITEM_COSINE, ITEM_CPROB or USER_BASED; nnbr >= 1 neighbours;
    alpha in [0, 1] is used by ITEM_CPROB only. Release it with close() or
    use it as a context manager; invalid arguments raise ValueError,
    exhausted memory MemoryError. A Model cannot be copied or pickled
    (TypeError).
    """

    def __init__(self, users, items, kind=ITEM_COSINE, nnbr=20, alpha=0.0, *,
                 nusers=None, nitems=None):
        self._handle = None
        if isinstance(kind, bool) or not isinstance(kind, int) or kind not in _KINDS:
            raise ValueError(f"kind: {kind!r} is not one of {_KINDS}")
        nnbr = _ids.count(nnbr, "nnbr", 1)
        alpha = _ids.fraction(alpha, "alpha") if kind == ITEM_CPROB else 0.0
        rowid, colid, nusers, nitems = _pairs(users, items, nusers, nitems)
        self.kind, self.nnbr, self.alpha = kind, nnbr, alpha
        self.nusers, self.nitems = nusers, nitems
        # A query writes the model's scratch arrays: one query at a time.
        self._lock = threading.Lock()
        params = Params(kind, nnbr, alpha, _MIN_SUPPORT, 1)
        handle = LIB.TOVRAN_Build(nusers, nitems, len(rowid), _ids.pointer(rowid),
                                  _ids.pointer(colid), ctypes.byref(params))
        if not handle:
            raise failure("tovran.Model")
        self._handle = handle

    def recommend(self, basket, n=10):
        """The n best items for the basket (item ids, repeats allowed), best
        first; fewer when fewer items qualify. Basket items never appear.
        For USER_BASED, a repeated basket item or repeated training pairs
        can score every neighbour above 1, as near-identical, and so give
        an empty answer."""
        n = _ids.count(n, "n", 0)
        items, _ = _ids.id_array(basket, "basket", self.nitems)
        n = min(n, self.nitems)
        rcmds = (ctypes.c_int32 * max(n, 1))()
        with self._lock:
            if self._handle is None:
                raise ValueError("the model is closed")
            got = LIB.TOVRAN_Recommend(self._handle, len(items), _ids.pointer(items), n, rcmds)
        return rcmds[:got]

    def close(self):
        """Releases the model; later calls do nothing."""
        lock = getattr(self, "_lock", None)
        if lock is None:
            return
        with lock:
            if self._handle is not None:
                LIB.TOVRAN_FreeModel(self._handle)
                self._handle = None

    @property
    def closed(self):
        return self._handle is None

    def __enter__(self):
        return self

    # One engine handle cannot have two owners.
    def __copy__(self):
        raise TypeError("a tovran.Model cannot be copied; build another")

    def __deepcopy__(self, memo):
        self.__copy__()

    def __reduce_ex__(self, protocol):
        raise TypeError("a tovran.Model cannot be pickled")

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        self.close()

    def __repr__(self):
        state = "closed" if self.closed else "open"
        return (f"<tovran.Model kind={self.kind} nnbr={self.nnbr} alpha={self.alpha} "
                f"{self.nusers}x{self.nitems} {state}>")


def estimate_alpha(users, items, nnbr=20, n=10, *, nusers=None, nitems=None):
    """The alpha for ITEM_CPROB estimated from the pairs alone: a fixed
    pseudo-random re-split, then alpha = 0.0, 0.1, ... until the hit count of
    n recommendations with nnbr neighbours falls. Every call gives the value
    the tovran program prints for the same training pairs."""
    nnbr = _ids.count(nnbr, "nnbr", 1)
    n = _ids.count(n, "n", 1)
    rowid, colid, nusers, nitems = _pairs(users, items, nusers, nitems)
    return estimate(rowid, colid, nusers, nitems, Params(ITEM_CPROB, nnbr, 0.0, _MIN_SUPPORT, 1),
                    n)[0]
