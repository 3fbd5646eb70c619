"""Model and estimate_alpha against the program's report and the C entries'
answers (environment: see support.py)."""
import array
import ctypes
import os
import unittest

import tovran
from support import ITEMS, SAMPLE, SOURCE_DIR, USERS, baskets, c_lists, hold_out, read_pairs, \
    report_numbers

KINDS = (tovran.ITEM_COSINE, tovran.ITEM_CPROB, tovran.USER_BASED)


class AgreesWithTheProgram(unittest.TestCase):
    def replay(self, data, expected):
        """Runs the program's three evaluations through the module."""
        nusers, nitems, users, items = read_pairs(data)
        train_u, train_i, test = hold_out(users, items)
        want_hits, want_alpha = report_numbers(expected)
        alpha = tovran.estimate_alpha(train_u, train_i, 20, 10, nusers=nusers, nitems=nitems)
        self.assertEqual(round(alpha, 2), want_alpha)
        hits = []
        for kind, nnbr in ((1, 20), (2, 20), (3, 50)):
            with tovran.Model(train_u, train_i, kind, nnbr, alpha, nusers=nusers,
                              nitems=nitems) as model:
                hits.append(sum(test[u] in model.recommend(b, 10)
                                for u, b in baskets(train_u, train_i).items()))
        self.assertEqual(hits, want_hits)

    def test_hits_and_alpha_of_the_sample_report(self):
        self.replay(SAMPLE, os.path.join(SOURCE_DIR, "data", "sample.expected"))

    def test_hits_and_alpha_of_the_movielens_report(self):
        shared = os.environ.get("TOVRAN_SHARED_DATA", "")
        data = os.path.join(shared, "ml100k.txt")
        if not shared or not os.path.exists(data):
            self.skipTest("shared data sets not present")
        self.replay(data, os.path.join(shared, "ml100k.expected"))

    def test_every_estimate_of_a_process_is_the_same(self):
        _, _, users, items = read_pairs(SAMPLE)
        # With these settings the generator's next draws give other answers.
        first = tovran.estimate_alpha(users, items, 5, 3)
        self.assertEqual([tovran.estimate_alpha(users, items, 5, 3) for _ in range(3)], [first] * 3)


@unittest.skipUnless(os.environ.get("TOVRAN_C_API_LISTS"), "the C helper is not given")
class AgreesWithTheCEntries(unittest.TestCase):
    def c_output(self, *args):
        return c_lists(SAMPLE, *args)

    def test_every_list_of_every_kind(self):
        nusers, nitems, users, items = read_pairs(SAMPLE)
        for kind, nnbr, alpha in ((1, 20, 0.0), (2, 7, 0.3), (3, 50, 0.0)):
            with self.subTest(kind=kind):
                with tovran.Model(users, items, kind, nnbr, alpha, nusers=nusers,
                                  nitems=nitems) as model:
                    ours = "".join(f"{u}:" + "".join(f" {i}" for i in model.recommend(b, 12)) + "\n"
                                   for u, b in baskets(users, items).items())
                self.assertEqual(ours, self.c_output(kind, nnbr, alpha, 12))

    def test_estimated_alpha(self):
        _, _, users, items = read_pairs(SAMPLE)
        want = float(self.c_output("estimate", 5, 3))
        self.assertEqual([tovran.estimate_alpha(users, items, 5, 3) for _ in range(3)], [want] * 3)


class Behaviour(unittest.TestCase):
    def test_basket_items_are_never_recommended_and_the_group_comes_first(self):
        for kind in KINDS:
            with tovran.Model(USERS, ITEMS, kind, nnbr=3, alpha=0.5) as model:
                self.assertEqual(sorted(model.recommend([0])), [1, 2])
                self.assertEqual(model.recommend([3]), [4])
                self.assertEqual(model.recommend([0, 1, 2, 3, 4]), [])

    def test_buffers_and_lists_give_the_same_answers(self):
        _, _, users, items = read_pairs(SAMPLE)
        with tovran.Model(users, items) as a, \
                tovran.Model(array.array("q", users), memoryview(array.array("i", items))) as b:
            for basket in ([0], [5, 7, 9], list(range(0, 120, 11))):
                self.assertEqual(a.recommend(basket), b.recommend(array.array("H", basket)))
                self.assertEqual(a.recommend(basket), b.recommend(tuple(basket)))
                # ctypes arrays carry an explicit byte order ("<i").
                c_basket = (ctypes.c_int32 * len(basket))(*basket)
                self.assertEqual(a.recommend(basket), b.recommend(c_basket))

    def test_repeating_a_query_changes_nothing(self):
        # (Among equal scores the selection for a smaller n may pick others,
        # so n is not swept here.)
        _, _, users, items = read_pairs(SAMPLE)
        for kind in KINDS:
            with tovran.Model(users, items, kind, 20, 0.4) as model:
                answers = [model.recommend([1, 2, 3], n) for n in (1, 10, 119)]
                self.assertGreater(len(answers[2]), 10)
                model.recommend([7, 8])
                model.recommend([1, 2, 3, 7, 8], 5)
                self.assertEqual([model.recommend([1, 2, 3], n) for n in (1, 10, 119)], answers)
                self.assertEqual(answers[0], answers[2][:1])
                self.assertEqual(model.recommend([1], 10**9), model.recommend([1], 119))

    def test_context_manager_and_close_release_once(self):
        with tovran.Model(USERS, ITEMS) as model:
            self.assertFalse(model.closed)
        self.assertTrue(model.closed)
        model.close()
        with self.assertRaisesRegex(ValueError, "closed"):
            model.recommend([0])

    def test_sizes_default_to_the_largest_ids_and_may_be_larger(self):
        model = tovran.Model(USERS, ITEMS)
        self.assertEqual((model.nusers, model.nitems), (6, 5))
        model.close()
        with tovran.Model(USERS, ITEMS, nusers=10, nitems=8) as wide:
            self.assertEqual(wide.recommend([7]), [])
        with tovran.Model([], [], nusers=2, nitems=3) as empty:
            self.assertEqual(empty.recommend([1]), [])


class InvalidArguments(unittest.TestCase):
    def test_model_parameters(self):
        for kwargs in ({"kind": 0}, {"kind": 4}, {"kind": True}, {"kind": "1"}, {"kind": 2.0}, {"nnbr": 0},
                       {"nnbr": -3}, {"nnbr": 2.5}, {"kind": 2, "alpha": 1.5},
                       {"kind": 2, "alpha": -0.1}, {"kind": 2, "alpha": float("nan")},
                       {"kind": 2, "alpha": "x"}, {"nusers": 5}, {"nitems": 4},
                       {"nusers": -1}, {"nitems": 2**31}):
            with self.subTest(**{k: repr(v) for k, v in kwargs.items()}):
                with self.assertRaises(ValueError):
                    tovran.Model(USERS, ITEMS, **kwargs)
        # alpha is only read by the conditional-probability kind.
        tovran.Model(USERS, ITEMS, kind=1, alpha=7.0).close()

    def test_pair_sequences(self):
        for users, items in (([0, 1], [0]), ([0, -1], [0, 1]), ([0, 1], [0, 1.0]),
                             ([0, True], [0, 1]), ("01", [0, 1]), (5, [0]),
                             ([0, 2**40], [0, 1]), (memoryview(b"ab").cast("c"), [0, 1]),
                             (memoryview(array.array("i", [0, 1, 2, 3])).cast("B").cast("i", (2, 2)),
                              [0, 1]), (array.array("d", [0, 1]), [0, 1])):
            with self.subTest(users=repr(users), items=repr(items)):
                with self.assertRaises(ValueError):
                    tovran.Model(users, items)
                with self.assertRaises(ValueError):
                    tovran.estimate_alpha(users, items)

    def test_queries_and_estimation_parameters(self):
        with tovran.Model(USERS, ITEMS) as model:
            for basket, n in (([5], 10), ([-1], 10), ([0], -1), ([0], 1.5), ([0.0], 3), (None, 3)):
                with self.subTest(basket=basket, n=n):
                    with self.assertRaises(ValueError):
                        model.recommend(basket, n)
        for nnbr, n in ((0, 10), (20, 0), (20, -2)):
            with self.assertRaises(ValueError):
                tovran.estimate_alpha(USERS, ITEMS, nnbr, n)


if __name__ == "__main__":
    unittest.main()
