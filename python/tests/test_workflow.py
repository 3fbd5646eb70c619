"""A new user's workflow from start to end: ratings in a scipy CSR matrix fit
every kind with BM25 weighting; the models answer with filters, kept
baskets, fallback for a user with no history and similar users, and give
the same answers once saved, loaded and pickled. Needs numpy and scipy."""
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


def ratings(n_users=60, n_items=40, seed=7):
    """A random matrix of ratings 1..5, a quarter of the cells rated."""
    rng = numpy.random.default_rng(seed)
    rated = rng.random((n_users, n_items)) < 0.25
    return sparse.csr_matrix(rated * rng.integers(1, 6, (n_users, n_items)).astype(numpy.float64))


@unittest.skipIf(sparse is None, "needs numpy and scipy")
class NewUserWorkflow(unittest.TestCase):

    def test_bm25_fit_filtered_answers_fallback_similar_users_and_copies(self):
        user_items = ratings()
        users = numpy.arange(user_items.shape[0])
        banned = [3, 17, 29]
        popular = tovran.Popular().fit(user_items, weighting="bm25")
        ranking = popular.recommend(0, [], N=40)[0].tolist()
        models = [popular, tovran.ItemCosine(fallback="popular"),
                  tovran.ItemConditional(alpha=0.3, fallback="popular"),
                  tovran.UserKNN(K=10, fallback="popular")]
        with tempfile.TemporaryDirectory() as folder:
            for model in models:
                with self.subTest(model=type(model).__name__):
                    model.fit(user_items, weighting="bm25")
                    unweighted = type(model)().fit(user_items)
                    ids, scores = model.recommend(users, user_items[users], N=10,
                                                  filter_items=banned,
                                                  filter_already_liked_items=False)
                    self.assertEqual(ids.shape, (len(users), 10))
                    self.assertFalse(set(ids.ravel().tolist()) & set(banned))
                    self.assertTrue(any(set(ids[u].tolist()) & set(user_items[u].indices.tolist())
                                        for u in users))
                    self.assertNotEqual(scores.tobytes(), unweighted.recommend(
                        users, user_items[users], N=10, filter_items=banned,
                        filter_already_liked_items=False)[1].tobytes())
                    # A user with no history gets the popularity ranking.
                    cold = model.recommend(0, sparse.csr_matrix((1, 40)), N=5, filter_items=banned)
                    self.assertEqual(cold[0].tolist(), [i for i in ranking if i not in banned][:5])
                    if isinstance(model, tovran.UserKNN):
                        similar, _ = model.similar_users(5, N=4)
                        self.assertEqual(similar[0], 5)
                    path = os.path.join(folder, "model.tovran")
                    model.save(path)
                    buffer = io.BytesIO()
                    model.save(buffer)
                    buffer.seek(0)
                    fallback = None if isinstance(model, tovran.Popular) else "popular"
                    for copy in (tovran.load(path, fallback=fallback),
                                 tovran.load(buffer, fallback=fallback),
                                 pickle.loads(pickle.dumps(model))):
                        got = copy.recommend(users, user_items[users], N=10, filter_items=banned,
                                             filter_already_liked_items=False)
                        self.assertEqual(got[0].tobytes(), ids.tobytes())
                        self.assertEqual(got[1].tobytes(), scores.tobytes())
                        self.assertEqual(copy.weighting, "bm25")


if __name__ == "__main__":
    unittest.main()
