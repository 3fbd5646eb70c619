"""Original ids (strings, numbers, anything hashable) and the indices the
engine works with."""
from . import _ids

numpy = _ids.numpy


class IdMap:
    """A one-to-one map between original ids and indices 0..len-1.

    IdMap(ids) numbers the distinct values of any iterable (a list, a
    pandas column, a numpy array) in order of first appearance, as
    tovran-convert numbers users and items; IdMap.read(path) reads one of
    the converter's maps (line k holds the id of index k).
    """

    def __init__(self, ids=()):
        if hasattr(ids, "tolist"):  # numpy and pandas: Python values, not numpy scalars
            ids = ids.tolist()
        if isinstance(ids, (str, bytes)):
            raise TypeError("IdMap: a sequence of ids is needed, not a single string")
        self._ids = []
        self._index = {}
        for value in ids:
            if value not in self._index:
                self._index[value] = len(self._ids)
                self._ids.append(value)
        self._table = None

    @classmethod
    def read(cls, path):
        """The map in the file path, one id a line (a converter's .users or
        .items file). The ids are strings; a "\\r" before a line's end is
        dropped, and a repeated id is an error."""
        with open(path, encoding="utf-8", newline="\n") as f:
            ids = [line[:-1] if line.endswith("\n") else line for line in f]
        ids = [line[:-1] if line.endswith("\r") else line for line in ids]
        idmap = cls(ids)
        if len(idmap) != len(ids):
            repeated = next(v for k, v in enumerate(ids) if idmap._index[v] != k)
            raise ValueError(f"{path}: id {repeated!r} is listed twice")
        return idmap

    @classmethod
    def for_dataset(cls, path):
        """(user map, item map) read from path.users and path.items, the maps
        tovran-convert writes next to the dataset path."""
        return cls.read(f"{path}.users"), cls.read(f"{path}.items")

    def __len__(self):
        return len(self._ids)

    def __iter__(self):
        return iter(self._ids)

    def __contains__(self, value):
        return value in self._index

    def __getitem__(self, index):
        """The id of index (an int)."""
        return self._ids[_ids.count(index, "index", 0, len(self._ids) - 1)]

    def index(self, value):
        """The index of the id value; KeyError when the map does not hold it."""
        try:
            return self._index[value]
        except (KeyError, TypeError):
            raise KeyError(f"id {value!r} is not in the map") from None

    def indices(self, values):
        """The indices of a sequence of ids: an int32 numpy array, or a list
        without numpy."""
        if hasattr(values, "tolist"):
            values = values.tolist()
        if isinstance(values, (str, bytes)):
            raise ValueError(f"a sequence of ids is needed, not the single id {values!r}")
        found = [self.index(v) for v in values]
        return numpy.array(found, dtype=numpy.int32) if numpy is not None else found

    def ids(self, indices):
        """The ids of indices (any shape of nested sequences or a numpy
        array); index -1, the padding of batch answers, gives None. A numpy
        object array with numpy, else nested lists."""
        if numpy is not None:
            if self._table is None:
                # Element by element, so that tuple ids stay whole.
                self._table = numpy.empty(len(self._ids) + 1, dtype=object)
                for k, value in enumerate(self._ids):
                    self._table[k] = value
            picks = numpy.asarray(indices)
            if picks.dtype.kind not in "iu":
                raise ValueError(f"indices: integers are needed, not {picks.dtype}")
            if picks.size and (picks.min() < -1 or picks.max() >= len(self._ids)):
                raise ValueError(f"indices: outside -1..{len(self._ids) - 1}")
            return self._table[picks]
        return self._ids_of_list(indices)

    def _ids_of_list(self, indices):
        if isinstance(indices, (list, tuple)):
            return [self._ids_of_list(k) for k in indices]
        return None if indices == -1 else self[indices]

    def __eq__(self, other):
        return isinstance(other, IdMap) and self._ids == other._ids

    __hash__ = None

    def __repr__(self):
        shown = ", ".join(repr(v) for v in self._ids[:3])
        more = ", ..." if len(self._ids) > 3 else ""
        return f"IdMap([{shown}{more}], {len(self._ids)} ids)"
