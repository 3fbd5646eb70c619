"""tovran: exact, deterministic top-N recommendation, over the engine's C library.

    import tovran
    with tovran.Model(users, items, kind=tovran.ITEM_COSINE, nnbr=20) as model:
        print(model.recommend([4, 17, 23], n=10))
    alpha = tovran.estimate_alpha(users, items)

The shared library is found through the environment variable TOVRAN_LIBRARY,
next to this package, in the library directory of an installed tree, or by
the system's loader, in that order.
"""
from .model import ITEM_COSINE, ITEM_CPROB, USER_BASED, Model, estimate_alpha

__all__ = ["ITEM_COSINE", "ITEM_CPROB", "USER_BASED", "Model", "estimate_alpha"]
