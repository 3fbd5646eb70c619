"""One behavioural suite over every model kind: the keywords, shapes and
conventions of the recommender interface practitioners bring (recommend,
similar_items, similar_users, save/load, pickling), on a checkerboard whose
answers are known. Needs numpy and scipy (skipped without them)."""
import io
import os
import pickle
import tempfile
import unittest

import tovran

try:
    import numpy
    import scipy.sparse as sparse
except ImportError:
    numpy = sparse = None

N_SIDE = 10


def checkerboard(values=False):
    """User u holds item i when u + i is even, the diagonal held back: u's
    basket is the items of its parity but u, so its top item is u itself.
    With values, each pair's value is 1 + (u * i) % 5."""
    rows, cols, data = [], [], []
    for u in range(N_SIDE):
        for i in range(N_SIDE):
            if (u + i) % 2 == 0 and u != i:
                rows.append(u)
                cols.append(i)
                data.append(1.0 + (u * i) % 5 if values else 1.0)
    return sparse.csr_matrix((data, (rows, cols)), shape=(N_SIDE, N_SIDE))


def kinds():
    """A fresh model of every kind, fallback to popularity on."""
    return [tovran.Popular(), tovran.ItemCosine(K=20, min_support=1, fallback="popular"),
            tovran.ItemConditional(K=20, alpha=0.5, min_support=1, fallback="popular"),
            tovran.UserKNN(K=20, fallback="popular")]


@unittest.skipIf(sparse is None, "needs numpy and scipy")
class Conventions(unittest.TestCase):
    """Every kind through the same conventions."""

    def setUp(self):
        self.user_items = checkerboard()
        self.models = [m.fit(self.user_items, weighting=w)
                       for m in kinds() for w in ("binary", "bm25")]

    def case(self, model):
        return self.subTest(model=repr(model), weighting=model.weighting)

    def test_recommend_single_and_batch_shapes_and_own_index_first(self):
        users = numpy.arange(N_SIDE)
        for model in self.models:
            with self.case(model):
                ids, scores = model.recommend(3, self.user_items[3], N=4)
                self.assertEqual((ids.dtype, scores.dtype, len(ids)), (numpy.int32, numpy.float32, 4))
                batch_ids, batch_scores = model.recommend(users, self.user_items[users], N=4)
                self.assertEqual(batch_ids.shape, (N_SIDE, 4))
                self.assertEqual(batch_ids[3].tolist(), ids.tolist())
                self.assertEqual(batch_scores[3].tolist(), scores.tolist())
                if not isinstance(model, tovran.Popular):
                    self.assertEqual(batch_ids[:, 0].tolist(), list(range(N_SIDE)))
                self.assertFalse(set(ids.tolist()) & set(self.user_items[3].indices.tolist()))
                self.assertEqual(model.recommend(3, self.user_items[3], N=4, recalculate_user=True)[0]
                                 .tolist(), ids.tolist())

    def test_filters_restrictions_and_kept_baskets(self):
        for model in self.models:
            with self.case(model):
                basket = self.user_items[3]
                plain = model.recommend(3, basket, N=N_SIDE)[0].tolist()
                ids, _ = model.recommend(3, basket, N=N_SIDE, filter_items=[plain[0], plain[1]])
                self.assertEqual(ids.tolist(), [i for i in plain if i not in plain[:2]])
                # Every listed item ranked: scored ones, then unscored, then the basket's.
                listed = [1, 5, 3, 8]
                ids, scores = model.recommend(3, basket, N=10, items=listed)
                self.assertEqual(sorted(ids.tolist()), sorted(listed))
                self.assertEqual(ids[-2:].tolist(), [1, 5])  # basket items last, as listed
                self.assertEqual(scores[-1], -numpy.inf)
                kept, kept_scores = model.recommend(3, basket, N=N_SIDE, filter_already_liked_items=False)
                self.assertTrue(set(basket.indices.tolist()) & set(kept.tolist()))
                self.assertTrue(all(kept_scores[:-1] >= kept_scores[1:]))
                with self.assertRaises(IndexError):
                    model.recommend(3, basket, filter_items=[N_SIDE])
                with self.assertRaises(IndexError):
                    model.recommend(3, basket, items=[0, N_SIDE + 2])
                with self.assertRaises(ValueError):
                    model.recommend(3, basket.tocoo())
                with self.assertRaises(ValueError):
                    model.recommend(3, basket, N=-1)

    def test_fallback_fills_from_popularity(self):
        popular = tovran.Popular().fit(self.user_items)
        ranking = popular.recommend(0, [], N=N_SIDE)[0].tolist()
        for model in self.models:
            with self.case(model):
                ids, scores = model.recommend(0, [], N=5)
                self.assertEqual(ids.tolist(), ranking[:5])
                if not isinstance(model, tovran.Popular):
                    self.assertEqual(scores.tolist(), [0.0] * 5)
                ids, _ = model.recommend(0, [], N=5, filter_items=ranking[:2])
                self.assertEqual(ids.tolist(), ranking[2:7])

    def test_similar_items_itself_first(self):
        for model in self.models:
            with self.case(model):
                ids, scores = model.similar_items(4, N=3)
                self.assertEqual((ids[0], scores[0]), (4, 1.0))
                batch, _ = model.similar_items(numpy.array([4, 5]), N=3)
                self.assertEqual(batch.shape, (2, 3))
                self.assertEqual(batch[0].tolist(), ids.tolist())
                self.assertNotIn(4, model.similar_items(4, N=3, filter_items=[4])[0].tolist())
                self.assertEqual(set(model.similar_items(4, N=5, items=[4, 6])[0].tolist()), {4, 6})

    def test_similar_users_on_the_user_model_only(self):
        for model in self.models:
            with self.case(model):
                if not isinstance(model, tovran.UserKNN):
                    with self.assertRaises(NotImplementedError):
                        model.similar_users(2)
                    continue
                ids, scores = model.similar_users(2, N=4)
                self.assertEqual((ids[0], scores[0]), (2, 1.0))
                self.assertTrue(all(i % 2 == 0 for i in ids.tolist()))  # same parity shares items
                self.assertNotIn(4, model.similar_users(2, N=4, filter_users=[4])[0].tolist())
                self.assertEqual(model.similar_users(numpy.array([2, 3]), N=4)[0].shape, (2, 4))
                with self.assertRaises(IndexError):
                    model.similar_users(2, filter_users=[N_SIDE])

    def test_save_load_and_pickle_with_paths_and_file_objects(self):
        users = numpy.arange(N_SIDE)
        with tempfile.TemporaryDirectory() as folder:
            for model in self.models:
                with self.case(model):
                    want = model.recommend(users, self.user_items[users], N=5)
                    path = os.path.join(folder, "m.tovran")
                    model.save(path)
                    buffer = io.BytesIO()
                    model.save(buffer)
                    buffer.seek(0)
                    for copy in (tovran.load(path, fallback=model.fallback),
                             tovran.load(buffer, fallback=model.fallback),
                                 pickle.loads(pickle.dumps(model))):
                        self.assertIs(type(copy), type(model))
                        self.assertEqual(copy.weighting, model.weighting)
                        got = copy.recommend(users, self.user_items[users], N=5)
                        self.assertEqual(got[0].tolist(), want[0].tolist())
                        self.assertEqual(got[1].tobytes(), want[1].tobytes())
            for unfitted in kinds():
                buffer = io.BytesIO()
                unfitted.save(buffer)
                buffer.seek(0)
                for copy in (tovran.load(buffer), pickle.loads(pickle.dumps(unfitted))):
                    self.assertIs(type(copy), type(unfitted))
                    with self.assertRaises(ValueError):
                        copy.recommend(0, [1])

    def test_values_weigh_and_bad_weightings_are_refused(self):
        valued = checkerboard(values=True)
        binary = tovran.ItemCosine(min_support=1).fit(valued)
        raw = tovran.ItemCosine(min_support=1).fit(valued, weighting="raw")
        self.assertNotEqual(raw.recommend(3, valued[3], N=5)[1].tobytes(),
                            binary.recommend(3, valued[3], N=5)[1].tobytes())
        negative = valued.copy()
        negative.data[0] = -2.0
        for bad in (dict(weighting="bm25", B=2.0), dict(weighting="square"),
                    dict(weighting="log", user_items=negative)):
            with self.subTest(**{k: str(v)[:20] for k, v in bad.items()}):
                with self.assertRaises(ValueError):
                    tovran.ItemCosine().fit(bad.pop("user_items", valued), **bad)


if __name__ == "__main__":
    unittest.main()
