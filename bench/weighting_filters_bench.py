"""Weighted against binary builds and batches, and a batch with a 100-item
filter_items against the plain one, on retail.txt (kinds 1 and 2), least of
REPS interleaved runs (default 15), timed in the calling thread's CPU time
(the work is single-threaded; on a shared machine wall time mostly measures
the other processes):  TOVRAN_LIBRARY=build/libtovran.so python3
bench/weighting_filters_bench.py [REPS]"""
import ctypes
import os
import sys
import time

import numpy as np
sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "python"))
import tovran
from tovran._library import LIB, QueryOptions
with open(os.path.join(os.path.dirname(__file__), "..", "..", "shared", "data", "retail.txt")) as f:
    nums = np.array(f.read().split(), dtype=np.int64)
nu, ni, npairs = nums[:3]
users = nums[3:3+2*npairs:2].astype(np.int32); items = nums[4:4+2*npairs:2].astype(np.int32)
vals = (1 + np.arange(npairs) % 5).astype(np.float32)
order = np.argsort(users, kind="stable")
# baskets: each user's items
indptr = np.zeros(nu + 1, dtype=np.int64); np.add.at(indptr, users + 1, 1); indptr = np.cumsum(indptr)
basket_items = items[order]
present = np.nonzero(np.diff(indptr))[0]
print("users with pairs", len(present), "pairs", npairs, "items", ni)
def build(kind, weighting):
    m = [tovran.ItemCosine, tovran.ItemConditional, tovran.UserKNN][kind-1]
    model = m(K=20, min_support=3) if kind == 1 else (m(K=20, alpha=0.5, min_support=3) if kind == 2 else m(K=50))
    t = time.thread_time(); model.fit((users, items, vals), n_users=int(nu), n_items=int(ni), weighting=weighting); return model, time.thread_time() - t
def batch(model, filt):
    opts = QueryOptions()
    keep = None
    if filt is not None:
        keep = np.ascontiguousarray(filt, dtype=np.int32)
        opts.filter_items = keep.ctypes.data_as(ctypes.POINTER(ctypes.c_int32)); opts.nfilter = len(keep)
    nb = nu
    N = 10
    rc = np.empty(nb * N, np.int32); sc = np.empty(nb * N, np.float32)
    off = np.ascontiguousarray(indptr, dtype=np.int64)
    t = time.thread_time()
    r = LIB.TOVRAN_RecommendFilteredBatch(model._handle, int(nb), off.ctypes.data_as(ctypes.POINTER(ctypes.c_int64)),
        basket_items.ctypes.data_as(ctypes.POINTER(ctypes.c_int32)), N, 1, ctypes.byref(opts),
        rc.ctypes.data_as(ctypes.POINTER(ctypes.c_int32)), sc.ctypes.data_as(ctypes.POINTER(ctypes.c_float)), None)
    assert r == 0
    return time.thread_time() - t, rc
rng = np.random.default_rng(1)
filt = rng.choice(ni, 100, replace=False)
reps = int(sys.argv[1]) if len(sys.argv) > 1 else 15
for kind in (1, 2):
    bt = {"binary": [], "bm25": []}; qt = {"binary": [], "bm25": []}; ft = []
    for r in range(reps):
        for w in ("binary", "bm25"):
            m, t = build(kind, w); bt[w].append(t)
            q, _ = batch(m, None); qt[w].append(q)
            if w == "binary":
                f, _ = batch(m, filt); ft.append(f)
            m.close()
    print(f"kind {kind}: build binary {min(bt['binary']):.3f}s bm25 {min(bt['bm25']):.3f}s ({min(bt['bm25'])/min(bt['binary'])-1:+.1%}); "
          f"batch of {nu} binary {min(qt['binary']):.3f}s bm25 {min(qt['bm25']):.3f}s ({min(qt['bm25'])/min(qt['binary'])-1:+.1%}); "
          f"100-item filter_items {min(ft):.3f}s ({min(ft)/min(qt['binary'])-1:+.1%})", flush=True)
