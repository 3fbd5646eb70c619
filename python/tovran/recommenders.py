"""ItemCosine, ItemConditional and UserKNN: fit on a users x items matrix,
recommend for users, similar items, save and load."""
import ctypes
import os
import tempfile
import threading

from . import _ids, _inputs
from ._library import LIB, MAX_THREADS, AlphaTrace, ModelInfo, Params, failure

numpy = _ids.numpy

ITEM_COSINE, ITEM_CPROB, USER_BASED = 1, 2, 3
# The program's query length and support threshold.
_PROGRAM_TOP_N = 10
_DEFAULT_MIN_SUPPORT = 3
# The generator behind the estimation of alpha is one per process.
ESTIMATION_LOCK = threading.Lock()


class _Recommender:
    """What the three kinds share; see ItemCosine for the methods."""

    _kind = None

    def __init__(self, K, min_support=_DEFAULT_MIN_SUPPORT, num_threads=1):
        self.K = _ids.count(K, "K", 1)
        self.min_support = _ids.count(min_support, "min_support", 1)
        self.num_threads = _ids.threads(num_threads, MAX_THREADS)
        self.n_users = self.n_items = None
        self._own(None)

    def _own(self, handle):
        """Takes over handle (a built model, or None) as this object's."""
        self._handle = handle
        self._closed = False
        # Single queries write the model's scratch arrays, and close() must
        # not free a model in use: every use of the handle holds the lock.
        self._lock = threading.Lock()

    # -- fitting ---------------------------------------------------------
    def fit(self, user_items, *, n_users=None, n_items=None):
        """Builds the model from the pairs of user_items: a scipy.sparse
        matrix (users x items; every stored non-zero entry is one pair,
        values are not weights) or a tuple (user_ids, item_ids) of equally
        long id arrays. n_users/n_items default to the matrix's shape or
        the largest ids plus one. Returns self."""
        self._check_open()
        rowid, colid, nusers, nitems = _inputs.training_pairs(user_items, n_users, n_items)
        params = self._params(rowid, colid, nusers, nitems)
        handle = LIB.TOVRAN_Build(nusers, nitems, len(rowid), _ids.pointer(rowid),
                                  _ids.pointer(colid), ctypes.byref(params))
        if not handle:
            raise failure(f"{type(self).__name__}.fit")
        with self._lock:
            old, self._handle = self._handle, handle
            self.n_users, self.n_items = nusers, nitems
            LIB.TOVRAN_FreeModel(old)
        return self

    def _params(self, rowid, colid, nusers, nitems):
        return Params(self._kind, self.K, 0.0, self.min_support, self.num_threads)

    # -- queries ---------------------------------------------------------
    def recommend(self, userid, user_items, N=10, *, filter_already_liked_items=True,
                  item_map=None):
        """(ids, scores) of the N best items for a user, best first.

        user_items holds the user's items, the basket: user_items[userid] of
        a users x items scipy.sparse matrix (one row), or a sequence of item
        ids. Basket items are never recommended (filter_already_liked_items
        cannot be False); a basket that repeats an item can, in UserKNN,
        score every neighbour as near-identical and get an empty answer.
        userid only decides the shape: an integer gives one answer of up to
        N ids, an array of k ids a batch answered on num_threads threads:
        k x min(N, n_items) arrays whose rows end in id -1 and score 0.0
        when fewer items qualify (user_items then has k rows, or is a
        sequence of k baskets). Answers are numpy arrays (int32 ids,
        float32 scores) when numpy is installed, else lists. With
        item_map (an IdMap of the items), baskets given as sequences hold
        original ids and answers are original ids (None for -1).
        """
        if filter_already_liked_items is not True:
            raise ValueError("tovran never recommends a user's own items; "
                             "filter_already_liked_items=False is not available")
        single = _inputs.is_scalar(userid)
        if single:
            nqueries = 1
            if not _inputs.is_sparse(user_items):
                user_items = [self._map_in(user_items, item_map)]
        else:
            nqueries = self._query_count(userid, "userid")
            if item_map is not None and not _inputs.is_sparse(user_items):
                user_items = [self._map_in(b, item_map) for b in user_items]
        self._check_fitted()
        offsets, items = _inputs.baskets(user_items, nqueries, self.n_items)
        return self._answer(offsets, items, N, item_map, single)

    def similar_items(self, itemid, N=10, *, item_map=None):
        """(ids, scores) of the N items that go best with itemid: the answer
        to the basket of that one item, so itemid itself never appears.
        itemid may be an array (a batch, shaped as in recommend). With
        item_map, itemid and the answers are original ids. For UserKNN the
        answer comes from the users who hold the item."""
        single = (not isinstance(itemid, (list, tuple, range)) and getattr(itemid, "ndim", 0) == 0
                  if item_map is not None else _inputs.is_scalar(itemid))
        self._check_fitted()
        items, _ = _ids.id_array(self._map_in([itemid] if single else itemid, item_map),
                                 "itemid", self.n_items)
        offsets = _ids.sequence(range(len(items) + 1), "q")
        return self._answer(offsets, items, N, item_map, single)

    @staticmethod
    def _map_in(values, item_map):
        return values if item_map is None else item_map.indices(values)

    @staticmethod
    def _query_count(ids, what):
        try:
            count = len(ids)
        except TypeError:
            raise ValueError(f"{what}: an integer or a sequence of integers is needed, "
                             f"not {type(ids).__name__}") from None
        _ids.id_array(ids, what)
        return count

    def _answer(self, offsets, items, N, item_map, single):
        """Answers the baskets items[offsets[b]:offsets[b+1]]: (ids, scores)
        of the one basket, or of the batch."""
        N = _ids.count(N, "N", 0)
        nqueries = len(offsets) - 1
        width = min(N, self.n_items)
        rcmds, scores = _ids.empty(nqueries * width, "i"), _ids.empty(nqueries * width, "f")
        with self._lock:
            self._check_fitted()
            if single:
                got = LIB.TOVRAN_RecommendScored(
                    self._handle, len(items), _ids.pointer(items), width, _ids.pointer(rcmds),
                    _ids.pointer(scores, ctypes.c_float))
            else:
                got = LIB.TOVRAN_RecommendBatch(
                    self._handle, nqueries, _ids.pointer(offsets, ctypes.c_int64),
                    _ids.pointer(items), width, self.num_threads, _ids.pointer(rcmds),
                    _ids.pointer(scores, ctypes.c_float), None)
        if got < 0:
            raise failure(f"{type(self).__name__}.recommend")
        if single:
            ids, scores = _ids.answer(rcmds, got), _ids.answer(scores, got)
        else:
            ids, scores = _ids.rows(rcmds, nqueries, width), _ids.rows(scores, nqueries, width)
        return (ids if item_map is None else item_map.ids(ids)), scores

    # -- life cycle ------------------------------------------------------
    def _check_open(self):
        if self._closed:
            raise ValueError(f"this {type(self).__name__} is closed")

    def _check_fitted(self):
        self._check_open()
        if self._handle is None:
            raise ValueError(f"this {type(self).__name__} is not fitted; call fit first")

    def _release(self):
        """Gives up the engine model to the caller; this object is then closed."""
        with self._lock:
            handle, self._handle, self._closed = self._handle, None, True
        return handle

    def close(self):
        """Releases the model; any later use raises ValueError."""
        lock = getattr(self, "_lock", None)
        if lock is None:
            return
        with lock:
            handle, self._handle, self._closed = self._handle, None, True
            LIB.TOVRAN_FreeModel(handle)

    @property
    def closed(self):
        return self._closed

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def __del__(self):
        self.close()

    # -- files and copies ------------------------------------------------
    def save(self, path):
        """Writes the fitted model to path (the format of docs/model-format.md);
        tovran.load(path) gives a model that answers bit for bit as this one.
        An earlier file at path is replaced only once the new one is complete."""
        self._check_fitted()
        with self._lock:
            self._check_fitted()
            status = LIB.TOVRAN_SaveModel(self._handle, os.fsencode(path))
        if status != 0:
            raise failure(f"{type(self).__name__}.save")

    def __reduce_ex__(self, protocol):
        """Pickles the settings and, when fitted, the model file's bytes."""
        self._check_open()
        data = None
        if self._handle is not None:
            with tempfile.TemporaryDirectory() as folder:
                path = os.path.join(folder, "model.tovran")
                self.save(path)
                with open(path, "rb") as f:
                    data = f.read()
        state = {k: v for k, v in self.__dict__.items() if not k.startswith("_")}
        return _restore, (type(self), state, data)

    # Copies are independent models with their own engine handle.
    def __copy__(self):
        function, args = self.__reduce_ex__(4)
        return function(*args)

    def __deepcopy__(self, memo):
        return self.__copy__()

    def _settings(self):
        return f"K={self.K}, min_support={self.min_support}, num_threads={self.num_threads}"

    def __repr__(self):
        state = ("closed" if self._closed else "not fitted" if self._handle is None
                 else f"fitted on {self.n_users}x{self.n_items}")
        return f"<tovran.{type(self).__name__}({self._settings()}) {state}>"


class ItemCosine(_Recommender):
    """Item-to-item cosine: each item keeps its K most similar items (by
    the cosine of the item columns); a basket's answer sums the lists of
    its items. Only items held by min_support pairs or more become
    neighbours. fit builds the lists on num_threads threads."""

    _kind = ITEM_COSINE

    def __init__(self, K=20, *, min_support=_DEFAULT_MIN_SUPPORT, num_threads=1):
        super().__init__(K, min_support, num_threads)


class ItemConditional(_Recommender):
    """Item-to-item conditional probability, damped by alpha in [0, 1]:
    each item keeps its K best items. alpha=None estimates alpha at fit
    from the fitted pairs as the tovran program does (a fixed re-split, the
    top 10, alpha = 0.0, 0.1, ... until the hits fall); the alpha used is
    then alpha_, and alpha_steps_ lists every (alpha, hits) tried."""

    _kind = ITEM_CPROB

    def __init__(self, K=20, alpha=None, *, min_support=_DEFAULT_MIN_SUPPORT, num_threads=1):
        super().__init__(K, min_support, num_threads)
        self.alpha = None if alpha is None else _ids.fraction(alpha, "alpha")
        self.alpha_ = self.alpha
        self.alpha_steps_ = []

    def _params(self, rowid, colid, nusers, nitems):
        params = super()._params(rowid, colid, nusers, nitems)
        alpha, steps = self.alpha, []
        if alpha is None:
            alpha, steps = estimate(rowid, colid, nusers, nitems, params, _PROGRAM_TOP_N)
        params.alpha = alpha
        self.alpha_, self.alpha_steps_ = alpha, steps
        return params

    def _settings(self):
        return f"K={self.K}, alpha={self.alpha}, " + super()._settings().split(", ", 1)[1]


class UserKNN(_Recommender):
    """User-based: a basket's answer comes from its K nearest users (cosine
    over the users' items), found at query time. Users too similar to the
    basket (the user asking, if it was fitted) are left out, so a basket
    that repeats an item, or repeated training pairs, which can score
    neighbours above 1, may get an empty answer. num_threads threads answer
    batches."""

    _kind = USER_BASED

    def __init__(self, K=50, *, num_threads=1):
        super().__init__(K, _DEFAULT_MIN_SUPPORT, num_threads)

    def _settings(self):
        return f"K={self.K}, num_threads={self.num_threads}"


_CLASSES = {ITEM_COSINE: ItemCosine, ITEM_CPROB: ItemConditional, USER_BASED: UserKNN}


def estimate(rowid, colid, nusers, nitems, params, N):
    """(alpha, [(alpha tried, hits), ...]): the program's estimate of alpha
    for pair arrays, with params' nnbr, min_support and nthreads."""
    alpha, trace = ctypes.c_double(), AlphaTrace()
    with ESTIMATION_LOCK:
        LIB.TOVRAN_RestartRandom()
        status = LIB.TOVRAN_EstimateAlpha(nusers, nitems, len(rowid), _ids.pointer(rowid),
                                          _ids.pointer(colid), ctypes.byref(params), N,
                                          ctypes.byref(alpha), ctypes.byref(trace))
    if status != 0:
        raise failure("the estimation of alpha")
    return alpha.value, [(trace.alpha[j], trace.hits[j]) for j in range(trace.ntried)]


def load(path, *, num_threads=1):
    """The model saved in path by save(): an ItemCosine, ItemConditional or
    UserKNN with the saved parameters, answering bit for bit as the saved
    model; num_threads answer its batches. OSError when the file cannot be
    read, ValueError when it is not a sound model file (truncated, wrong
    magic, newer format version, checksum mismatch, inconsistent contents)."""
    num_threads = _ids.threads(num_threads, MAX_THREADS)
    handle = LIB.TOVRAN_LoadModel(os.fsencode(path))
    if not handle:
        raise failure("tovran.load")
    info = ModelInfo()
    if LIB.TOVRAN_GetModelInfo(handle, ctypes.byref(info)) != 0:
        LIB.TOVRAN_FreeModel(handle)
        raise failure("tovran.load")
    p = info.params
    model = _CLASSES[p.kind].__new__(_CLASSES[p.kind])
    model.K, model.num_threads = p.nnbr, num_threads
    model.min_support = p.min_support if p.kind != USER_BASED else _DEFAULT_MIN_SUPPORT
    model.n_users, model.n_items = info.nusers, info.nitems
    if p.kind == ITEM_CPROB:
        # The alpha the model was built with, as single precision stored it.
        model.alpha = model.alpha_ = p.alpha
        model.alpha_steps_ = []
    model._own(handle)
    return model


def _restore(cls, state, data):
    """A pickled model: the settings of state and, when fitted, the model
    file's bytes data."""
    model = cls.__new__(cls)
    model.__dict__.update(state)
    model._own(None)
    if data is not None:
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "model.tovran")
            with open(path, "wb") as f:
                f.write(data)
            handle = load(path)._release()
        model._own(handle)
    return model
