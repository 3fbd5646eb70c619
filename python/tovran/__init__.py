"""tovran: exact, deterministic top-N recommendation, over the engine's C library.

    import tovran, scipy.sparse as sp
    model = tovran.ItemCosine(K=20).fit(user_items)      # users x items
    ids, scores = model.recommend(userid, user_items[userid], N=10)
    ids, scores = model.similar_items(itemid, N=10)
    model.save("m.tovran"); model = tovran.load("m.tovran")

Popular, ItemCosine, ItemConditional and UserKNN are the four model kinds; IdMap
turns original ids (tovran-convert's .users/.items maps, or any sequence)
into indices and back. numpy and scipy are optional: without numpy, answers
are lists. Model and estimate_alpha are the lower-level interface over the
same engine.

The shared library is found through the environment variable TOVRAN_LIBRARY,
next to this package, in the library directory of an installed tree, or by
the system's loader, in that order.
The library is loaded on first use of a name that needs it, so tovran.plot
and IdMap work without it.
"""
import importlib

from .idmap import IdMap

# Names that need the shared library, and the modules that define them.
_LAZY = {name: ".model" for name in ("ITEM_COSINE", "ITEM_CPROB", "USER_BASED", "Model",
                                      "estimate_alpha")}
_LAZY.update({name: ".recommenders" for name in ("ItemConditional", "ItemCosine", "Popular",
                                                 "UserKNN", "load")})


def __getattr__(name):
    if name not in _LAZY:
        raise AttributeError(f"module 'tovran' has no attribute {name!r}")
    value = getattr(importlib.import_module(_LAZY[name], __name__), name)
    globals()[name] = value
    return value


def __dir__():
    return sorted(set(globals()) | set(_LAZY))


__all__ = ["ITEM_COSINE", "ITEM_CPROB", "USER_BASED", "IdMap", "ItemConditional", "ItemCosine",
           "Model", "Popular", "UserKNN", "estimate_alpha", "load"]
