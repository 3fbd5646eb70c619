"""The evaluation protocols of the tovran program: splits of each user's
pairs, per-user metrics and bootstrap intervals, with the program's numbers.

    users, items = tovran.read_dataset("data.txt")
    part = tovran.split(users, items, "random:1", seed=1)
    model = tovran.Model(part.train_users, part.train_items, tovran.ITEM_COSINE,
                         nusers=part.nusers, nitems=part.nitems)   # every pair as it stands
    result = tovran.evaluate(model, part, N=10)
    result.summary["hr"], result.intervals["hr"], result.per_user["ndcg"]

The pairs must stand user by user, as in a dataset file; "popularity" in
place of a model gives the program's kind 0. With numpy the per-user values
are numpy arrays and the bootstrap is vectorised; without it, lists.
"""
import ctypes
import math
from collections import namedtuple

from . import _ids
from ._library import LIB, failure

try:
    import numpy
except ImportError:  # pragma: no cover - exercised by the tests without numpy
    numpy = None

_MASK = (1 << 64) - 1
_GOLDEN = 0x9E3779B97F4A7C15
_SPLIT_DRAWS, _BOOTSTRAP_DRAWS = 1, 2
METRICS = ("hr", "recall", "precision", "ndcg", "map", "mrr")


def _mix(z):
    z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & _MASK
    z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & _MASK
    return z ^ (z >> 31)


class _Draws:
    """The program's generator: stream (seed, purpose, index)."""

    def __init__(self, seed, purpose, index):
        self.state = _mix((_mix(seed) + (purpose << 40) + index) & _MASK)

    def below(self, n):
        self.state = (self.state + _GOLDEN) & _MASK
        return _mix(self.state) % n


def read_dataset(path):
    """(users, items) of a dataset file, every pair in file order."""
    with open(path) as f:
        tokens = f.read().split()
    if len(tokens) < 3:
        raise ValueError(f"{path}: the header must be three integers")
    nusers, nitems, npairs = (int(t) for t in tokens[:3])
    if len(tokens) != 3 + 2 * npairs:
        raise ValueError(f"{path}: the header announces {npairs} pairs")
    values = [int(t) for t in tokens[3:]]
    return values[0::2], values[1::2]


def _parse_protocol(protocol):
    name, _, value = str(protocol).partition(":")
    try:
        if name == "last":
            count = int(value) if value else 1
            if count >= 1:
                return name, count
        elif name == "random" and value:
            if any(c in value for c in ".eE"):
                fraction = float(value)
                if 0 < fraction < 1:
                    return name, (0, fraction)
            elif int(value) >= 1:
                return name, (int(value), 0.0)
        elif name == "kfold" and value and int(value) >= 2:
            return name, int(value)
        elif name == "time" and value:
            return name, float(value)
    except ValueError:
        pass
    raise ValueError(f"protocol: {protocol!r} is not last, last:K, random:K, random:F, "
                     "kfold:F or time:T (T in seconds)")


def _held_positions(kind, arg, seed, fold, user, n, times):
    if kind == "last":
        return set(range(max(0, n - arg), n))
    if kind == "time":
        return {p for p in range(n) if times[p] >= arg}
    order = list(range(n))
    draws = _Draws(seed, _SPLIT_DRAWS, user)
    if kind == "random":
        k, fraction = arg
        if k == 0:
            k = max(1, min(math.floor(fraction * n + 0.5), n - 1))
        if n <= k:
            return set(range(n))
        for i in range(k):
            j = i + draws.below(n - i)
            order[i], order[j] = order[j], order[i]
        return set(order[:k])
    for i in range(n - 1):
        j = i + draws.below(n - i)
        order[i], order[j] = order[j], order[i]
    turn = draws.below(arg)
    return {order[i] for i in range(n) if (i + turn) % arg == fold}


Split = namedtuple("Split", "train_users train_items test nusers nitems not_asked fold")
Split.__doc__ = """A split of the pairs: the training pairs in file order, test
as {user: [held-out items in file order]} for every user asked (both
training and held-out pairs), and the counts of users not asked."""


def split(users, items, protocol="last", *, seed=1, fold=0, times=None, nusers=None,
          nitems=None):
    """Splits the pairs (users[k], items[k]), each user's standing together,
    as the program's --split PROTOCOL --seed SEED does (fold: which fold of
    kfold:F; times: one number per pair for time:T)."""
    kind, arg = _parse_protocol(protocol)
    seed = _ids.count(seed, "seed", 0, (1 << 63) - 1)
    users = [int(u) for u in users]
    items = [int(i) for i in items]
    if len(users) != len(items):
        raise ValueError(f"users and items differ in length ({len(users)} and {len(items)})")
    if kind == "kfold":
        fold = _ids.count(fold, "fold", 0, arg - 1)
    if kind == "time":
        if times is None or len(times) != len(users):
            raise ValueError("times: a time split needs one time per pair")
    nusers = max(users, default=-1) + 1 if nusers is None else nusers
    nitems = max(items, default=-1) + 1 if nitems is None else nitems
    train_users, train_items, test = [], [], {}
    not_asked = {"every_pair_held_out": 0, "none_held_out": 0,
                 "without_pairs": nusers - len(set(users))}
    first = 0
    while first < len(users):
        user = users[first]
        last = first
        while last < len(users) and users[last] == user:
            last += 1
        ts = times[first:last] if kind == "time" else None
        held = _held_positions(kind, arg, seed, fold, user, last - first, ts)
        for p in range(last - first):
            if p not in held:
                train_users.append(user)
                train_items.append(items[first + p])
        if len(held) == last - first:
            not_asked["every_pair_held_out"] += 1
        elif not held:
            not_asked["none_held_out"] += 1
        else:
            test[user] = [items[first + p] for p in sorted(held)]
        first = last
    return Split(train_users, train_items, test, nusers, nitems, not_asked,
                 fold if kind == "kfold" else 0)


def _user_values(ranks, nheld, N):
    listed = sorted(set(r for r in ranks if r > 0))
    hits = len(listed)
    ideal = min(N, nheld)
    gain = 0.0
    precisions = 0.0
    for k, r in enumerate(listed):
        gain += 1.0 / math.log2(1.0 + r)
        precisions += (k + 1) / r
    best = 0.0
    for r in range(1, ideal + 1):
        best += 1.0 / math.log2(1.0 + r)
    return listed, (1.0 if hits else 0.0, hits / nheld, hits / N, gain / best, precisions / ideal,
                    1.0 / listed[0] if listed else 0.0)


def _lists(model, baskets, N, nthreads, trained):
    offsets = [0]
    flat = []
    for basket in baskets:
        flat.extend(basket)
        offsets.append(len(flat))
    if isinstance(model, str) and model == "popularity":
        counts = {}
        for item in trained:
            counts[item] = counts.get(item, 0) + 1
        order = sorted(counts, key=lambda i: (-counts[i], i))
        answers = []
        for basket in baskets:
            own = set(basket)
            answers.append([i for i in order if i not in own][:N])
        return answers
    handle = getattr(model, "_handle", None)
    if handle is None:
        raise ValueError("model: give a fitted tovran model or 'popularity'")
    n = len(baskets)
    rcmds = (ctypes.c_int32 * max(n * N, 1))()
    counts = (ctypes.c_int32 * max(n, 1))()
    offs = (ctypes.c_int64 * (n + 1))(*offsets)
    items = (ctypes.c_int32 * max(len(flat), 1))(*flat)
    with model._lock:
        got = LIB.TOVRAN_RecommendBatch(handle, n, offs, items, N, nthreads, rcmds, None, counts)
    if got < 0:
        raise failure("tovran.evaluate")
    return [rcmds[b * N:b * N + counts[b]] for b in range(n)]


def _percentile(values):
    values = sorted(values)
    B = len(values)
    low = min(math.floor(0.025 * B), B - 1)
    high = min(max(1, math.ceil(0.975 * B)) - 1, B - 1)
    return values[low], values[high]


def _scaled(x, n):
    """The program's Draws::Scaled: a draw in 0..n-1 without a division."""
    return ((x >> 32) * n + (((x & 0xFFFFFFFF) * n) >> 32)) >> 32


def _resample_means(columns, B, seed, stream):
    """The program's bootstrap: B x C averages over resamples of the rows,
    each the sum in row order of every drawn row times its count, over Q."""
    Q = len(columns[0])
    C = len(columns)
    if Q == 0:
        return [[0.0] * C for _ in range(B)]
    means = []
    if numpy is not None:
        values = numpy.array(columns, dtype=numpy.float64).T.copy()
        steps = numpy.arange(1, Q + 1, dtype=numpy.uint64)
        with numpy.errstate(over="ignore"):
            walk = steps * numpy.uint64(_GOLDEN)
            m1, m2 = numpy.uint64(0xBF58476D1CE4E5B9), numpy.uint64(0x94D049BB133111EB)
            low, q = numpy.uint64(0xFFFFFFFF), numpy.uint64(Q)
            s30, s27, s31, s32 = (numpy.uint64(k) for k in (30, 27, 31, 32))
            for b in range(B):
                start = _mix((_mix(seed) + (_BOOTSTRAP_DRAWS << 40) + (stream << 20) + b) & _MASK)
                z = walk + numpy.uint64(start)
                z = (z ^ (z >> s30)) * m1
                z = (z ^ (z >> s27)) * m2
                z = z ^ (z >> s31)
                drawn = ((z >> s32) * q + (((z & low) * q) >> s32)) >> s32
                counts = numpy.bincount(drawn.astype(numpy.int64), minlength=Q)
                sums = numpy.cumsum(counts[:, None].astype(numpy.float64) * values, axis=0)[-1]
                means.append((sums / Q).tolist())
        return means
    for b in range(B):
        draws = _Draws(seed, _BOOTSTRAP_DRAWS, (stream << 20) + b)
        counts = [0] * Q
        for _ in range(Q):
            draws.state = (draws.state + _GOLDEN) & _MASK
            counts[_scaled(_mix(draws.state), Q)] += 1
        sums = [0.0] * C
        for row in range(Q):
            if counts[row]:
                for c in range(C):
                    sums[c] += counts[row] * columns[c][row]
        means.append([s / Q for s in sums])
    return means


Evaluation = namedtuple("Evaluation", "users held_out hit_ranks per_user summary intervals")
Evaluation.__doc__ = """The outcome of evaluate: the users asked (in the
program's order), their held-out items and hit ranks, per_user {metric:
values} (numpy arrays when numpy is present), summary {metric: value,
"users": Q, "hits": users with a hit} and intervals {metric: (low, high)}."""


def evaluate(model, part, N=10, *, seed=1, bootstrap=1000, nthreads=1, reference=None):
    """Asks model (a fitted tovran model, or "popularity") for N items for
    every user of part.test, with the user's training items as the basket,
    and gives what tovran's --per-user rows and summary give for the same
    split and seed. With reference (another Evaluation on the same split),
    summary["compared"] holds each metric's paired difference, interval and
    p-value, as the program gives them against its first run."""
    N = _ids.count(N, "N", 1)
    bootstrap = _ids.count(bootstrap, "bootstrap", 1, 1000000)
    seed = _ids.count(seed, "seed", 0, (1 << 63) - 1)
    baskets_of = {}
    order = []
    for user, item in zip(part.train_users, part.train_items):
        if user not in baskets_of:
            baskets_of[user] = []
            order.append(user)
        baskets_of[user].append(item)
    users = [u for u in order if u in part.test]
    answers = _lists(model, [baskets_of[u] for u in users], N, nthreads, part.train_items)
    columns = {m: [] for m in METRICS}
    held_out, hit_ranks = [], []
    listed_total = 0
    for user, answer in zip(users, answers):
        held = part.test[user]
        ranks = [answer.index(i) + 1 if i in answer else 0 for i in held]
        listed, values = _user_values(ranks, len(held), N)
        held_out.append(held)
        hit_ranks.append(listed)
        listed_total += len(listed)
        for m, v in zip(METRICS, values):
            columns[m].append(v)
    Q = len(users)
    summary = {"users": Q, "hits": sum(1 for r in hit_ranks if r)}
    for m in METRICS:
        total = 0.0
        for v in columns[m]:
            total += v
        summary[m] = total / Q if Q else 0.0
    summary["precision"] = listed_total / (Q * N) if Q else 0.0
    means = _resample_means([columns[m] for m in METRICS], bootstrap, seed, part.fold)
    intervals = {m: _percentile([row[k] for row in means]) for k, m in enumerate(METRICS)}
    result = Evaluation(users, held_out, hit_ranks, columns, summary, intervals)
    if reference is not None:
        both = _resample_means([columns[m] for m in METRICS] +
                               [list(reference.per_user[m]) for m in METRICS], bootstrap, seed,
                               part.fold)
        compared = {}
        for k, m in enumerate(METRICS):
            diffs = [row[k] - row[k + len(METRICS)] for row in both]
            at_most = sum(1 for d in diffs if d <= 0)
            at_least = sum(1 for d in diffs if d >= 0)
            p = min(1.0, 2.0 * (min(at_most, at_least) + 1) / (len(diffs) + 1.0))
            compared[m] = (summary[m] - reference.summary[m], _percentile(diffs), p)
        summary["compared"] = compared
    if numpy is not None:
        columns = {m: numpy.array(v) for m, v in columns.items()}
        result = result._replace(per_user=columns)
    return result
