"""Training pairs and query baskets from scipy.sparse matrices, id arrays
and sequences, as the int32/int64 arrays the library reads.

A stored entry of a sparse matrix whose value is not zero is one pair; its
value is the pair's value, which a weighting other than binary reads. Repeated entries (a matrix built without summing
duplicates) are repeated pairs, as repeated lines are in the program.
"""
import operator
import sys

from . import _ids

numpy = _ids.numpy


def is_sparse(obj):
    """Whether obj is a scipy.sparse matrix or array (scipy not imported: no)."""
    sparse = sys.modules.get("scipy.sparse")
    return sparse is not None and sparse.issparse(obj)


def _check_shape(matrix, what):
    """A ValueError, from the shape alone, for a matrix the engine cannot
    index, before any work in proportion to its rows."""
    if len(matrix.shape) != 2:
        raise ValueError(f"{what}: a two-dimensional matrix is needed")
    rows, cols = matrix.shape
    if rows > _ids.MAX_COUNT or cols > _ids.MAX_COUNT:
        raise ValueError(f"{what}: {rows}x{cols} is more than the engine can index "
                         f"(at most {_ids.MAX_COUNT} rows and columns)")


def _check_offsets(csr, what):
    """A ValueError unless the row offsets of csr start at 0, never decrease
    and end within its indices and data (a matrix changed after it was made)."""
    indptr = csr.indptr
    if (len(indptr) != csr.shape[0] + 1 or indptr[0] != 0
            or indptr[-1] > min(len(csr.indices), len(csr.data))
            or numpy.any(indptr[1:] < indptr[:-1])):
        raise ValueError(f"{what}: the row offsets (indptr) do not start at 0, rise and end "
                         f"within the {len(csr.indices)} indices")


def _nonzero_csr(matrix, what):
    """matrix in CSR form without entries of value zero; duplicates and the
    order within rows kept. Not copied when it already is."""
    _check_shape(matrix, what)
    csr = matrix.tocsr()
    _check_offsets(csr, what)
    if csr.nnz and not numpy.all(csr.data[:csr.indptr[-1]] != 0):
        csr = csr.copy()
        csr.eliminate_zeros()
    return csr


def _offsets(indptr, what):
    if indptr[-1] > _ids.MAX_COUNT:
        raise ValueError(f"{what}: {indptr[-1]} entries are more than the engine can index")
    return numpy.ascontiguousarray(indptr, dtype=numpy.int64)


def training_pairs(user_items, n_users=None, n_items=None, with_values=False):
    """(rowid, colid, nusers, nitems) of a users x items sparse matrix or of
    a tuple (user_ids, item_ids); the sizes default to the matrix's shape or
    to the largest ids plus one. with_values: (rowid, colid, values, nusers,
    nitems), values float32 from the matrix's entries or a third member of
    the tuple (user_ids, item_ids, values)."""
    values = None
    if n_users is not None:
        n_users = _ids.count(n_users, "n_users", 0)
    if n_items is not None:
        n_items = _ids.count(n_items, "n_items", 0)
    if is_sparse(user_items):
        _check_shape(user_items, "user_items")
        if user_items.format == "coo":
            users, items, values = user_items.row, user_items.col, user_items.data
            if not numpy.all(values != 0):
                keep = values != 0
                users, items, values = users[keep], items[keep], values[keep]
        else:
            csr = _nonzero_csr(user_items, "user_items")
            users = numpy.repeat(numpy.arange(csr.shape[0], dtype=numpy.int32),
                                 numpy.diff(_offsets(csr.indptr, "user_items")))
            used = csr.indptr[-1]
            items, values = csr.indices[:used], csr.data[:used]
        rows, cols = user_items.shape
        n_users = rows if n_users is None else n_users
        n_items = cols if n_items is None else n_items
    elif isinstance(user_items, tuple) and len(user_items) in (2, 3):
        users, items = user_items[:2]
        values = user_items[2] if len(user_items) == 3 else None
    else:
        raise ValueError("user_items: a scipy.sparse matrix (users x items) or a tuple "
                         f"(user_ids, item_ids[, values]) is needed, not {type(user_items).__name__}")
    rowid, nusers = _ids.id_array(users, "user ids", n_users)
    colid, nitems = _ids.id_array(items, "item ids", n_items)
    if len(rowid) != len(colid):
        raise ValueError(f"user ids and item ids differ in length ({len(rowid)} and {len(colid)})")
    if not with_values:
        return rowid, colid, nusers, nitems
    if values is None:
        raise ValueError("user_items: a weighting other than binary needs a value per pair "
                         "(a sparse matrix, or a tuple (user_ids, item_ids, values))")
    try:
        values = (numpy.ascontiguousarray(values, dtype=numpy.float32) if numpy is not None
                  else _ids.floats(values))
    except (TypeError, ValueError) as exc:
        raise ValueError(f"user_items: the values are not numbers ({exc})") from None
    if len(values) != len(rowid):
        raise ValueError(f"user_items: {len(values)} values for {len(rowid)} pairs")
    return rowid, colid, values, nusers, nitems


def is_scalar(value):
    """Whether value is one integer id rather than a sequence of them."""
    if isinstance(value, bool):
        raise ValueError("True/False is not an id")
    try:
        operator.index(value)
    except TypeError:
        return False
    return True


def baskets(user_items, nqueries, nitems, what="user_items"):
    """(offsets, items) of nqueries baskets: the rows of a sparse matrix with
    nqueries rows, or a sequence of nqueries id sequences. Items are checked
    against 0..nitems-1."""
    if is_sparse(user_items):
        _check_shape(user_items, what)
        if user_items.shape[0] != nqueries:
            raise ValueError(f"{what}: {user_items.shape[0]} rows for {nqueries} users; one row "
                             "per user is needed (pass user_items[userid])")
        csr = _nonzero_csr(user_items, what)
        items, _ = _ids.id_array(csr.indices[:csr.indptr[-1]], what, nitems)
        return _offsets(csr.indptr, what), items
    if isinstance(user_items, (str, bytes)) or not hasattr(user_items, "__len__"):
        raise ValueError(f"{what}: a scipy.sparse matrix or a sequence of baskets is needed, "
                         f"not {type(user_items).__name__}")
    if len(user_items) != nqueries:
        raise ValueError(f"{what}: {len(user_items)} baskets for {nqueries} users")
    parts = [_ids.id_array(b, f"{what}[{k}]", nitems)[0] for k, b in enumerate(user_items)]
    ends = [0]
    for part in parts:
        ends.append(ends[-1] + len(part))
    if ends[-1] > _ids.MAX_COUNT:
        raise ValueError(f"{what}: {ends[-1]} items are more than the engine can index")
    if numpy is not None:
        joined = numpy.concatenate(parts) if parts else numpy.empty(0, dtype=numpy.int32)
    else:
        joined = _ids.sequence([], "i")
        for part in parts:
            joined.extend(part)
    return _ids.sequence(ends, "q"), joined
