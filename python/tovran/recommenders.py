"""Popular, ItemCosine, ItemConditional and UserKNN: fit on a users x items
matrix, recommend for users, similar items (and users), save and load."""
import ctypes
import io
import json
import os
import tempfile
import threading

from . import _ids, _inputs
from ._library import LIB, MAX_THREADS, AlphaTrace, ModelInfo, Params, QueryOptions, failure

numpy = _ids.numpy

POPULAR, ITEM_COSINE, ITEM_CPROB, USER_BASED = 0, 1, 2, 3
# The weightings of fit, by their engine codes.
WEIGHTINGS = {"binary": 0, "raw": 1, "log": 2, "bm25": 3, "tfidf": 4}
# What save writes for a model that is not fitted: this line, then its settings in JSON.
_UNFITTED_MAGIC = b"TOVRAN-UNFITTED\n"
# The program's query length and support threshold.
_PROGRAM_TOP_N = 10
_DEFAULT_MIN_SUPPORT = 3
# The generator behind the estimation of alpha is one per process.
ESTIMATION_LOCK = threading.Lock()


class _Recommender:
    """What the three kinds share; see ItemCosine for the methods."""

    _kind = None

    def __init__(self, K, min_support=_DEFAULT_MIN_SUPPORT, num_threads=1, fallback=None):
        self.K = _ids.count(K, "K", 1)
        self.min_support = _ids.count(min_support, "min_support", 1)
        self.num_threads = _ids.count(num_threads, "num_threads", 1, MAX_THREADS)
        if fallback not in (None, "popular"):
            raise ValueError(f"fallback: None or 'popular', not {fallback!r}")
        self.fallback = fallback
        self.n_users = self.n_items = None
        self.weighting = "binary"
        self.K1, self.B = 1.2, 0.75
        self._own(None)

    def _own(self, handle):
        """Takes over handle (a built model, or None) as this object's."""
        self._handle = handle
        self._closed = False
        # Single queries write the model's scratch arrays, and close() must
        # not free a model in use: every use of the handle holds the lock.
        self._lock = threading.Lock()

    # -- fitting ---------------------------------------------------------
    def fit(self, user_items, *, n_users=None, n_items=None, weighting="binary", K1=1.2, B=0.75,
            show_progress=False):
        """Builds the model from the pairs of user_items: a scipy.sparse
        matrix (users x items; every stored non-zero entry is one pair, its
        value the pair's value) or a tuple (user_ids, item_ids[, values]) of
        equally long arrays. n_users/n_items default to the matrix's shape
        or the largest ids plus one. weighting ("binary", "raw", "log",
        "bm25" with K1 and B, "tfidf"; the README gives each formula) turns
        the values into the entries the model starts from; binary ignores
        them. show_progress is accepted and ignored. Returns self."""
        self._check_open()
        if weighting not in WEIGHTINGS:
            raise ValueError(f"weighting: one of {', '.join(WEIGHTINGS)}, not {weighting!r}")
        values = None
        if weighting == "binary":
            rowid, colid, nusers, nitems = _inputs.training_pairs(user_items, n_users, n_items)
        else:
            rowid, colid, values, nusers, nitems = _inputs.training_pairs(
                user_items, n_users, n_items, with_values=True)
        params = self._params(rowid, colid, nusers, nitems)
        params.weighting = WEIGHTINGS[weighting]
        params.bm25_k1, params.bm25_b = _number(K1, "K1"), _number(B, "B")
        handle = LIB.TOVRAN_BuildWeighted(
            nusers, nitems, len(rowid), _ids.pointer(rowid), _ids.pointer(colid),
            None if values is None else _ids.pointer(values, ctypes.c_float), ctypes.byref(params))
        if not handle:
            raise failure(f"{type(self).__name__}.fit")
        with self._lock:
            old, self._handle = self._handle, handle
            self.n_users, self.n_items = nusers, nitems
            self.weighting = weighting
            self.K1, self.B = float(K1), float(B)
            LIB.TOVRAN_FreeModel(old)
        return self

    def _params(self, rowid, colid, nusers, nitems):
        return Params(self._kind, self.K, 0.0, self.min_support, self.num_threads)

    # -- queries ---------------------------------------------------------
    def recommend(self, userid, user_items, N=10, filter_already_liked_items=True,
                  filter_items=None, recalculate_user=False, items=None, *, item_map=None):
        """(ids, scores) of the N best items for a user, best first.

        user_items holds the user's items, the basket: user_items[userid] of
        a users x items scipy.sparse CSR matrix (one row), or a sequence of
        item ids. filter_already_liked_items=False lets basket items be
        recommended, scored as any other item (docs/python.md). filter_items
        are never recommended; with items, only those are ranked, every one
        of them up to N: scored ones first, then those without a score
        (0.0), then basket items (-inf). Ids outside the catalogue raise
        IndexError. recalculate_user is accepted: these models always answer
        from user_items. With fallback="popular", a short answer is filled
        from the popularity ranking. A basket that repeats an item can, in
        UserKNN, score every neighbour as near-identical and get an empty
        answer. userid only decides the shape: an integer gives one answer of
        up to N ids, an array of k ids a batch answered on num_threads
        threads: k x min(N, n_items) arrays whose rows end in id -1 and score
        0.0 when fewer items qualify (user_items then has k rows, or is a
        sequence of k baskets). Answers are numpy arrays (int32 ids, float32
        scores) when numpy is installed, else lists. With item_map (an IdMap
        of the items), baskets given as sequences, filter_items and items
        hold original ids and answers are original ids (None for -1).
        """
        if _inputs.is_sparse(user_items) and user_items.format != "csr":
            raise ValueError(f"user_items: a CSR matrix is needed, not {user_items.format.upper()} "
                             "(convert it with .tocsr())")
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
        offsets, basket_items = _inputs.baskets(user_items, nqueries, self.n_items)
        options = self._options(filter_items, items, item_map,
                                keep_basket=not filter_already_liked_items)
        return self._answer(offsets, basket_items, N, item_map, single, options)

    def similar_items(self, itemid, N=10, filter_items=None, items=None, *, item_map=None):
        """(ids, scores) of the N items that go best with itemid: itemid
        itself first (score 1.0), then the answer to the basket of that one
        item, with its scores. filter_items and items as in recommend (the
        item itself obeys them too). itemid may be an array: a 2-D batch,
        shaped as in recommend. With item_map, ids in and out are original
        ids. For UserKNN the answer comes from the users who hold the item."""
        single = (not isinstance(itemid, (list, tuple, range)) and getattr(itemid, "ndim", 0) == 0
                  if item_map is not None else _inputs.is_scalar(itemid))
        self._check_fitted()
        queried, _ = _ids.id_array(self._map_in([itemid] if single else itemid, item_map),
                                   "itemid", self.n_items)
        N = _ids.count(N, "N", 0)
        options = self._options(filter_items, items, item_map)
        offsets = _ids.sequence(range(len(queried) + 1), "q")
        ids, scores = self._answer(offsets, queried, max(N - 1, 0), None, False, options)
        banned = set(options.filter_list)
        allowed = None if options.items_list is None else set(options.items_list)
        rows_ids, rows_scores = [], []
        for k, item in enumerate(_ids.tolist(queried)):
            own = N > 0 and item not in banned and (allowed is None or item in allowed)
            row_ids, row_scores = list(_ids.tolist(ids[k])), list(_ids.tolist(scores[k]))
            if own:
                row_ids, row_scores = [item] + row_ids, [1.0] + row_scores
            else:
                row_ids, row_scores = row_ids + [-1], row_scores + [0.0]
            rows_ids.append(row_ids[:N])
            rows_scores.append(row_scores[:N])
        return self._shape(rows_ids, rows_scores, single, item_map)

    def similar_users(self, userid, N=10, filter_users=None, users=None):
        """(ids, scores) of the N users most like userid (the user itself
        first, score 1.0): UserKNN only; the other kinds raise
        NotImplementedError."""
        raise NotImplementedError(f"{type(self).__name__} has no similar_users; UserKNN has")

    def _shape(self, rows_ids, rows_scores, single, item_map):
        """Answers given as lists of rows: trimmed (single) or padded with -1/0.0."""
        if single:
            got = [i for i in rows_ids[0] if i != -1]
            ids = _ids.sequence(got, "i")
            scores = _ids.answer(_ids.floats_array(rows_scores[0][:len(got)]), len(got))
            ids = _ids.answer(ids, len(got))
        else:
            width = max((len(r) for r in rows_ids), default=0)
            flat_ids = [v for r in rows_ids for v in r + [-1] * (width - len(r))]
            flat_scores = [v for r in rows_scores for v in r + [0.0] * (width - len(r))]
            ids = _ids.rows(_ids.sequence(flat_ids, "i"), len(rows_ids), width)
            scores = _ids.rows(_ids.floats_array(flat_scores), len(rows_ids), width)
        return (ids if item_map is None else item_map.ids(ids)), scores

    def _options(self, filter_items, items, item_map, keep_basket=False):
        """The query options (QueryOptions, with the arrays kept alive on it)."""
        options = QueryOptions()
        options.filter_list, options.items_list = [], None
        if filter_items is not None:
            arr = self._catalogue_ids(filter_items, "filter_items", item_map)
            options.keep_filter = arr
            options.filter_items, options.nfilter = _ids.pointer(arr), len(arr)
            options.filter_list = _ids.tolist(arr)
        if items is not None:
            arr = self._catalogue_ids(items, "items", item_map)
            # A list of no items is still a list: the pointer must not be null.
            options.keep_items = arr if len(arr) else _ids.sequence([0], "i")
            options.items, options.nitems = _ids.pointer(options.keep_items), len(arr)
            options.items_list = _ids.tolist(arr)
        options.keep_basket = 1 if keep_basket else 0
        options.fallback = 1 if self.fallback == "popular" else 0
        return options

    def _catalogue_ids(self, values, what, item_map):
        """values (item ids, or original ids with item_map) as an int32 array;
        IndexError for an id outside the catalogue."""
        if item_map is not None:
            values = item_map.indices(values)
        if _inputs.is_scalar(values):
            values = [values]
        arr, bound = _ids.id_array(values, what)
        if len(arr) and bound > self.n_items:
            raise IndexError(f"{what}: id {bound - 1} is outside the catalogue 0..{self.n_items - 1}")
        return arr

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

    def _answer(self, offsets, items, N, item_map, single, options=None):
        """Answers the baskets items[offsets[b]:offsets[b+1]]: (ids, scores)
        of the one basket, or of the batch."""
        N = _ids.count(N, "N", 0)
        options = options if options is not None else QueryOptions()
        nqueries = len(offsets) - 1
        width = min(N, self.n_items)
        rcmds, scores = _ids.empty(nqueries * width, "i"), _ids.empty(nqueries * width, "f")
        with self._lock:
            self._check_fitted()
            if single:
                got = LIB.TOVRAN_RecommendFiltered(
                    self._handle, len(items), _ids.pointer(items), width, ctypes.byref(options),
                    _ids.pointer(rcmds), _ids.pointer(scores, ctypes.c_float))
            else:
                got = LIB.TOVRAN_RecommendFilteredBatch(
                    self._handle, nqueries, _ids.pointer(offsets, ctypes.c_int64),
                    _ids.pointer(items), width, self.num_threads, ctypes.byref(options),
                    _ids.pointer(rcmds), _ids.pointer(scores, ctypes.c_float), None)
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
    def save(self, file):
        """Writes the model to file, a path or a binary file object (the
        format of docs/model-format.md when fitted); tovran.load(file) gives a
        model that answers bit for bit as this one. An earlier file at a path
        is replaced only once the new one is complete. A model that is not
        fitted saves its settings, and loads unfitted."""
        self._check_open()
        if self._handle is None:
            data = _UNFITTED_MAGIC + json.dumps(self._state()).encode() + b"\n"
            if hasattr(file, "write"):
                file.write(data)
            else:
                with open(file, "wb") as f:
                    f.write(data)
            return
        if hasattr(file, "write"):
            file.write(self._model_bytes())
            return
        with self._lock:
            self._check_fitted()
            status = LIB.TOVRAN_SaveModel(self._handle, _ids.path(file, "path"))
        if status != 0:
            raise failure(f"{type(self).__name__}.save")

    def _model_bytes(self):
        """The model file's bytes."""
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "model.tovran")
            self.save(path)
            with open(path, "rb") as f:
                return f.read()

    def _state(self):
        """The settings: every public attribute, and the class."""
        state = {k: v for k, v in self.__dict__.items() if not k.startswith("_")}
        state["class"] = type(self).__name__
        return state

    def __reduce_ex__(self, protocol):
        """Pickles the settings and, when fitted, the model file's bytes."""
        self._check_open()
        data = self._model_bytes() if self._handle is not None else None
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

    def __setstate__(self, state):
        self.__dict__.update(state)

    def __repr__(self):
        state = ("closed" if self._closed else "not fitted" if self._handle is None
                 else f"fitted on {self.n_users}x{self.n_items}")
        return f"<tovran.{type(self).__name__}({self._settings()}) {state}>"


class Popular(_Recommender):
    """The items held by the most pairs (by summed weight under a
    weighting), ties by lower id, the same for every user; basket items
    left out. The baseline of the tovran program, and what fallback fills
    from. num_threads threads answer batches."""

    _kind = POPULAR

    def __init__(self, *, num_threads=1):
        super().__init__(1, _DEFAULT_MIN_SUPPORT, num_threads)
        self.K = 0

    def _params(self, rowid, colid, nusers, nitems):
        return Params(self._kind, 0, 0.0, _DEFAULT_MIN_SUPPORT, self.num_threads)

    def _settings(self):
        return f"num_threads={self.num_threads}"


class ItemCosine(_Recommender):
    """Item-to-item cosine: each item keeps its K most similar items (by
    the cosine of the item columns); a basket's answer sums the lists of
    its items. Only items held by min_support pairs or more become
    neighbours. fit builds the lists on num_threads threads."""

    _kind = ITEM_COSINE

    def __init__(self, K=20, *, min_support=_DEFAULT_MIN_SUPPORT, num_threads=1, fallback=None):
        super().__init__(K, min_support, num_threads, fallback)


class ItemConditional(_Recommender):
    """Item-to-item conditional probability, damped by alpha in [0, 1]:
    each item keeps its K best items. alpha=None estimates alpha at fit
    from the fitted pairs as the tovran program does (a fixed re-split, the
    top 10, alpha = 0.0, 0.1, ... until the hits fall); the alpha used is
    then alpha_, and alpha_steps_ lists every (alpha, hits) tried."""

    _kind = ITEM_CPROB

    def __init__(self, K=20, alpha=None, *, min_support=_DEFAULT_MIN_SUPPORT, num_threads=1,
                 fallback=None):
        super().__init__(K, min_support, num_threads, fallback)
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

    def __init__(self, K=50, *, num_threads=1, fallback=None):
        super().__init__(K, _DEFAULT_MIN_SUPPORT, num_threads, fallback)

    def _settings(self):
        return f"K={self.K}, num_threads={self.num_threads}"

    def similar_users(self, userid, N=10, filter_users=None, users=None):
        """(ids, scores) of the N users most like userid: userid itself first
        (score 1.0, unless it holds no pair), then every user sharing one of
        its items by the cosine of the two users' rows. filter_users are
        left out; with users, only those are ranked. userid may be an array:
        a 2-D batch whose rows end in -1 and 0.0."""
        single = _inputs.is_scalar(userid)
        self._check_fitted()
        queried, _ = _ids.id_array([userid] if single else userid, "userid", self.n_users)
        N = _ids.count(N, "N", 0)
        banned = set(self._user_ids(filter_users, "filter_users"))
        allowed = None if users is None else set(self._user_ids(users, "users"))
        ids_out = _ids.empty(self.n_users, "i")
        scores_out = _ids.empty(self.n_users, "f")
        rows_ids, rows_scores = [], []
        for user in _ids.tolist(queried):
            with self._lock:
                self._check_fitted()
                got = LIB.TOVRAN_SimilarUsers(self._handle, user, self.n_users,
                                              _ids.pointer(ids_out),
                                              _ids.pointer(scores_out, ctypes.c_float))
            if got < 0:
                raise failure("UserKNN.similar_users")
            pairs = [(i, s) for i, s in zip(_ids.tolist(ids_out[:got]), _ids.tolist(scores_out[:got]))
                     if i not in banned and (allowed is None or i in allowed)][:N]
            rows_ids.append([i for i, _ in pairs])
            rows_scores.append([s for _, s in pairs])
        if not single:
            width = min(N, self.n_users)
            rows_ids = [r + [-1] * (width - len(r)) for r in rows_ids]
            rows_scores = [r + [0.0] * (width - len(r)) for r in rows_scores]
        return self._shape(rows_ids, rows_scores, single, None)

    def _user_ids(self, values, what):
        if values is None:
            return []
        arr, bound = _ids.id_array([values] if _inputs.is_scalar(values) else values, what)
        if len(arr) and bound > self.n_users:
            raise IndexError(f"{what}: id {bound - 1} is outside the users 0..{self.n_users - 1}")
        return _ids.tolist(arr)


_CLASSES = {POPULAR: Popular, ITEM_COSINE: ItemCosine, ITEM_CPROB: ItemConditional,
            USER_BASED: UserKNN}
_WEIGHTING_NAMES = {code: name for name, code in WEIGHTINGS.items()}


def _number(value, what):
    """value as a finite float, or a ValueError."""
    try:
        number = float(value)
    except (TypeError, ValueError):
        raise ValueError(f"{what}: {value!r} is not a number") from None
    if isinstance(value, bool) or number != number or number in (float("inf"), float("-inf")):
        raise ValueError(f"{what}: {value!r} is not a finite number")
    return number


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


def load(file, *, num_threads=1, fallback=None):
    """The model saved in file (a path or a binary file object) by save():
    a Popular, ItemCosine, ItemConditional or UserKNN with the saved
    parameters, answering bit for bit as the saved model; num_threads
    answer its batches, fallback as the classes take it. OSError when the file cannot be read, ValueError
    when it is not a sound model file (truncated, wrong magic, newer format
    version, checksum mismatch, inconsistent contents)."""
    num_threads = _ids.count(num_threads, "num_threads", 1, MAX_THREADS)
    if hasattr(file, "read"):
        data = file.read()
        if not isinstance(data, (bytes, bytearray)):
            raise ValueError("tovran.load: the file object should be opened in binary mode")
        if data.startswith(_UNFITTED_MAGIC):
            return _unfitted(data)
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "model.tovran")
            with open(path, "wb") as f:
                f.write(data)
            return load(path, num_threads=num_threads, fallback=fallback)
    try:
        with open(file, "rb") as f:
            if f.read(len(_UNFITTED_MAGIC)) == _UNFITTED_MAGIC:
                return _unfitted(_UNFITTED_MAGIC + f.read())
    except OSError:
        pass  # the loader names the fault
    handle = LIB.TOVRAN_LoadModel(_ids.path(file, "path"))
    if not handle:
        raise failure("tovran.load")
    info = ModelInfo()
    if LIB.TOVRAN_GetModelInfo(handle, ctypes.byref(info)) != 0:
        LIB.TOVRAN_FreeModel(handle)
        raise failure("tovran.load")
    p = info.params
    model = _CLASSES[p.kind].__new__(_CLASSES[p.kind])
    model.K, model.num_threads = p.nnbr, num_threads
    model.min_support = p.min_support if p.kind in (ITEM_COSINE, ITEM_CPROB) else _DEFAULT_MIN_SUPPORT
    model.n_users, model.n_items = info.nusers, info.nitems
    if fallback not in (None, "popular"):
        LIB.TOVRAN_FreeModel(handle)
        raise ValueError(f"fallback: None or 'popular', not {fallback!r}")
    model.fallback = fallback
    model.weighting = _WEIGHTING_NAMES[p.weighting]
    model.K1, model.B = (p.bm25_k1, p.bm25_b) if p.weighting == WEIGHTINGS["bm25"] else (1.2, 0.75)
    if p.kind == ITEM_CPROB:
        # The alpha the model was built with, as single precision stored it.
        model.alpha = model.alpha_ = p.alpha
        model.alpha_steps_ = []
    model._own(handle)
    return model


def _unfitted(data):
    """The unfitted model whose settings save() wrote."""
    try:
        state = json.loads(data[len(_UNFITTED_MAGIC):].decode())
        name = state.pop("class")
        cls = next(c for c in _CLASSES.values() if c.__name__ == name)
    except (ValueError, KeyError, StopIteration, UnicodeDecodeError):
        raise ValueError("tovran.load: the settings of an unfitted model are damaged") from None
    model = cls.__new__(cls)
    model.__dict__.update(state)
    model._own(None)
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
