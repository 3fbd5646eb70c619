"""tovran: exact, deterministic top-N recommendation, over the engine's C library.

    import tovran, scipy.sparse as sp
    model = tovran.ItemCosine(K=20).fit(user_items)      # users x items
    ids, scores = model.recommend(userid, user_items[userid], N=10)
    ids, scores = model.similar_items(itemid, N=10)
    model.save("m.tovran"); model = tovran.load("m.tovran")

ItemCosine, ItemConditional and UserKNN are the three model kinds; IdMap
turns original ids (tovran-convert's .users/.items maps, or any sequence)
into indices and back. numpy and scipy are optional: without numpy, answers
are lists. Model and estimate_alpha are the lower-level interface over the
same engine. split, evaluate and read_dataset measure a model as the
tovran program does, per user and with intervals.

The shared library is found through the environment variable TOVRAN_LIBRARY,
next to this package, in the library directory of an installed tree, or by
the system's loader, in that order.
"""
from .evaluation import evaluate, read_dataset, split
from .idmap import IdMap
from .model import ITEM_COSINE, ITEM_CPROB, USER_BASED, Model, estimate_alpha
from .recommenders import ItemConditional, ItemCosine, UserKNN, load

__all__ = ["ITEM_COSINE", "ITEM_CPROB", "USER_BASED", "IdMap", "ItemConditional", "ItemCosine",
           "Model", "UserKNN", "estimate_alpha", "evaluate", "load", "read_dataset", "split"]
