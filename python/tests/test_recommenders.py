"""ItemCosine, ItemConditional, UserKNN and IdMap: the program's evaluation
written with them, the input forms, the answers' shape and the objects'
safety. Runs with numpy and scipy and, through without_numpy.py, without
them (environment: see support.py)."""
import copy
import os
import pickle
import tempfile
import unittest

import tovran
from tovran._library import MAX_THREADS
from support import ITEMS, SAMPLE, SOURCE_DIR, USERS, c_lists, hold_out, read_pairs, \
    report_numbers, run_limited, write_pairs

try:
    import numpy
    import scipy.sparse as sparse
except ImportError:
    numpy = sparse = None

CLASSES = (tovran.ItemCosine, tovran.ItemConditional, tovran.UserKNN)


def plain(value):
    """Answers as nested lists, whichever form they came in."""
    if isinstance(value, tuple):
        return tuple(map(plain, value))
    return value.tolist() if hasattr(value, "tolist") else value


def training_matrix(nusers, nitems, users, items):
    """The pairs as a users x items CSR matrix that keeps repeated pairs and
    their order (the constructor from index arrays does not add them up)."""
    order = sorted(range(len(users)), key=lambda k: users[k])
    indptr = numpy.zeros(nusers + 1, dtype=numpy.int64)
    numpy.add.at(indptr, numpy.asarray(users) + 1, 1)
    return sparse.csr_matrix((numpy.ones(len(users)), numpy.asarray(items)[order],
                              numpy.cumsum(indptr)), shape=(nusers, nitems))


class LeaveLastOut(unittest.TestCase):
    """The program's three runs on the sample, as a user of the package
    writes them: scipy input with numpy, id lists without."""

    @classmethod
    def setUpClass(cls):
        nusers, nitems, users, items = read_pairs(SAMPLE)
        cls.train_u, cls.train_i, cls.test = hold_out(users, items)
        cls.asked = sorted(set(cls.train_u))
        cls.shape = (nusers, nitems)
        cls.want_hits, cls.want_alpha = report_numbers(os.path.join(SOURCE_DIR, "data",
                                                                    "sample.expected"))
        if sparse is not None:
            cls.user_items = training_matrix(nusers, nitems, cls.train_u, cls.train_i)
            cls.fit_input = cls.user_items
            cls.rows = cls.user_items.__getitem__
            cls.batch = cls.user_items[numpy.array(cls.asked)]
        else:
            by_user = {}
            for u, i in zip(cls.train_u, cls.train_i):
                by_user.setdefault(u, []).append(i)
            cls.fit_input = (cls.train_u, cls.train_i)
            cls.rows = by_user.__getitem__
            cls.batch = [by_user[u] for u in cls.asked]

    def fitted(self, cls, **kwargs):
        return cls(**kwargs).fit(self.fit_input, n_users=self.shape[0], n_items=self.shape[1])

    def test_hits_lists_and_alpha_of_the_program(self):
        lists, hits = [], []
        for cls in CLASSES:
            with self.fitted(cls) as model:
                answers = [plain(model.recommend(u, self.rows(u), N=10)[0]) for u in self.asked]
                hits.append(sum(self.test[u] in ids for u, ids in zip(self.asked, answers)))
                lists.append(answers)
                if cls is tovran.ItemConditional:
                    alpha, steps = model.alpha_, model.alpha_steps_
        self.assertEqual(hits, self.want_hits)
        self.assertEqual(round(alpha, 2), self.want_alpha)
        # On the sample the hits fall: the last step tried is the fall, the
        # one before it the estimate.
        self.assertLess(steps[-1][1], steps[-2][1])
        self.assertEqual(round(steps[-2][0], 2), self.want_alpha)
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "train.txt")
            write_pairs(path, *self.shape, self.train_u, self.train_i)
            for answers, (kind, nnbr, a) in zip(lists, ((1, 20, 0.0), (2, 20, alpha),
                                                       (3, 50, 0.0))):
                want = c_lists(path, kind, nnbr, a, 10)
                if want is None:
                    self.skipTest("the C helper is not given")
                ours = "".join(f"{u}:" + "".join(f" {i}" for i in ids) + "\n"
                               for u, ids in zip(self.asked, answers))
                self.assertEqual(ours, want, f"kind {kind}")

    def test_batches_on_threads_answer_as_single_queries(self):
        for cls in CLASSES:
            with self.subTest(cls=cls.__name__), self.fitted(cls, num_threads=3) as model:
                ids, scores = model.recommend(self.asked, self.batch, N=12)
                for row, u in enumerate(self.asked):
                    one_ids, one_scores = model.recommend(u, self.rows(u), N=12)
                    width = len(plain(one_ids))
                    self.assertEqual(plain(ids[row])[:width], plain(one_ids))
                    self.assertEqual(plain(scores[row])[:width], plain(one_scores))
                    self.assertEqual(plain(ids[row])[width:], [-1] * (12 - width))
                    self.assertEqual(plain(scores[row])[width:], [0.0] * (12 - width))

    def test_zero_threads_means_every_usable_processor(self):
        usable = min(len(os.sched_getaffinity(0)), MAX_THREADS) \
            if hasattr(os, "sched_getaffinity") else None
        with self.fitted(tovran.UserKNN, num_threads=0) as model:
            self.assertGreaterEqual(model.num_threads, 1)
            if usable is not None:
                self.assertEqual(model.num_threads, usable)
            ids, _ = model.recommend(self.asked, self.batch, N=5)
            first, _ = model.recommend(self.asked[0], self.rows(self.asked[0]), N=5)
            self.assertEqual(plain(ids[0])[:len(plain(first))], plain(first))
        with self.assertRaises(ValueError):
            tovran.UserKNN(num_threads=-1)

    def test_scores_rank_the_answers_and_similar_items_is_a_basket_of_one(self):
        for cls in CLASSES:
            with self.subTest(cls=cls.__name__), self.fitted(cls) as model:
                ids, scores = map(plain, model.similar_items(7, N=30))
                self.assertEqual((ids[0], scores[0]), (7, 1.0))  # the item itself first
                ids, scores = ids[1:], scores[1:]
                self.assertTrue(ids and 7 not in ids)
                self.assertEqual(scores, sorted(scores, reverse=True))
                self.assertEqual((ids, scores), tuple(map(plain, model.recommend(0, [7], N=29))))
                batch = model.similar_items([7, 8], N=30)
                self.assertEqual(plain(batch[0])[0][1:len(ids) + 1], ids)


class Answers(unittest.TestCase):
    def test_numpy_arrays_with_numpy_lists_without(self):
        with tovran.ItemCosine(K=3).fit((USERS, ITEMS)) as model:
            ids, scores = model.recommend(0, [0])
            batch_ids, _ = model.recommend([0, 1], [[0], [3]], N=2)
            if numpy is None:
                self.assertEqual((ids, type(scores)), ([1, 2], list))
                self.assertEqual(batch_ids, [[1, 2], [4, -1]])
            else:
                self.assertEqual((ids.dtype, scores.dtype), (numpy.int32, numpy.float32))
                self.assertEqual(batch_ids.tolist(), [[1, 2], [4, -1]])

    def test_original_ids_in_and_out_through_an_id_map(self):
        items = tovran.IdMap(["x", "y", "z", "p", "q"])
        with tovran.UserKNN(K=5).fit((USERS, ITEMS)) as model:
            self.assertEqual(plain(model.recommend(0, ["x"], item_map=items)[0]), ["y", "z"])
            self.assertEqual(plain(model.similar_items("p", item_map=items)[0]), ["p", "q"])
            self.assertEqual(plain(model.similar_items(["p", "x"], N=3, item_map=items)[0]),
                             [["p", "q", None], ["x", "y", "z"]])
            with self.assertRaises(KeyError):
                model.similar_items("nope", item_map=items)
            with self.assertRaisesRegex(ValueError, "single id 'x'"):
                model.recommend(0, "x", item_map=items)
            if numpy is not None:
                one, batch = numpy.array(["p"])[0], numpy.array(["p", "x"])
                self.assertEqual(plain(model.similar_items(one, item_map=items)[0]), ["p", "q"])
                self.assertEqual(len(model.similar_items(batch, item_map=items)[0]), 2)

    @unittest.skipIf(sparse is None, "scipy is not installed")
    def test_every_sparse_form_gives_the_same_model(self):
        coo = sparse.coo_matrix((numpy.ones(len(USERS)), (USERS, ITEMS)))
        # (5, 0) is stored, but not a pair.
        with_zero = sparse.csr_matrix((numpy.r_[coo.data, 0], (USERS + [5], ITEMS + [0])))
        self.assertEqual(with_zero.nnz, len(USERS) + 1)
        want = None
        for form in (coo, coo.tocsr(), coo.tocsc(), sparse.csr_array(coo), with_zero,
                     (numpy.array(USERS, dtype=numpy.uint16), numpy.array(ITEMS))):
            with tovran.ItemCosine(K=3).fit(form) as model:
                got = [plain(model.similar_items(i)) for i in range(5)]
            self.assertEqual(got, want or got)
            want = got

    @unittest.skipIf(sparse is None, "scipy is not installed")
    def test_rows_must_match_the_users_asked(self):
        matrix = sparse.csr_matrix((numpy.ones(len(USERS)), (USERS, ITEMS)))
        with tovran.ItemCosine(K=3).fit(matrix) as model:
            with self.assertRaisesRegex(ValueError, "one row per user"):
                model.recommend(0, matrix)
            with self.assertRaisesRegex(ValueError, "one row per user"):
                model.recommend([0, 1], matrix[0])


    @unittest.skipIf(sparse is None, "scipy is not installed")
    def test_the_documented_example(self):
        with open(os.path.join(SOURCE_DIR, "docs", "python.md")) as f:
            text = f.read()
        start = text.index("    import numpy as np, scipy.sparse as sp")
        code = text[start:text.index("\n\n- ", start)].replace("\n    ", "\n")[4:]
        scope, here = {}, os.getcwd()
        with tempfile.TemporaryDirectory() as folder:
            os.chdir(folder)  # the example saves a model file
            try:
                exec(code, scope)
            finally:
                os.chdir(here)
        self.assertEqual((plain(scope["ids"]), type(scope["model"])),
                         ([0, 1, 2], tovran.ItemCosine))


class ModelFiles(unittest.TestCase):
    def test_a_loaded_model_answers_as_the_saved_one(self):
        nusers, nitems, users, items = read_pairs(SAMPLE)
        baskets = [items[k:k + 4] for k in range(0, len(items), 37)]
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "m.tovran")
            for model in (tovran.ItemCosine(K=15), tovran.ItemConditional(K=20, alpha=0.3),
                          tovran.UserKNN(K=40)):
                with self.subTest(model=type(model).__name__), model:
                    model.fit((users, items), n_users=nusers, n_items=nitems).save(path)
                    with tovran.load(path, num_threads=2) as loaded:
                        self.assertIs(type(loaded), type(model))
                        self.assertEqual((loaded.K, loaded.n_users, loaded.n_items),
                                         (model.K, nusers, nitems))
                        self.assertEqual(round(getattr(loaded, "alpha", 0.3), 6), 0.3)
                        self.assertEqual(plain(loaded.recommend(range(len(baskets)), baskets)),
                                         plain(model.recommend(range(len(baskets)), baskets)))

    def test_unreadable_and_damaged_files_raise(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "m.tovran")
            with self.assertRaisesRegex(OSError, "cannot be opened"):
                tovran.load(path)
            with tovran.ItemCosine().fit((USERS, ITEMS)) as model:
                with self.assertRaisesRegex(OSError, "cannot be written"):
                    model.save(os.path.join(folder, "absent", "m.tovran"))
                model.save(path)
            with open(path, "rb") as f:
                data = f.read()
            for damaged, reason in ((b"XXXX" + data[4:], "wrong magic"),
                                    (data[:len(data) // 2], "truncated"),
                                    (data[:-1] + bytes([data[-1] ^ 1]), "checksum")):
                with open(path, "wb") as f:
                    f.write(damaged)
                with self.assertRaisesRegex(ValueError, reason):
                    tovran.load(path)

    def test_paths_are_path_likes_and_a_nul_byte_is_refused(self):
        import pathlib
        with tempfile.TemporaryDirectory() as folder, \
                tovran.ItemCosine().fit((USERS, ITEMS)) as model:
            path = pathlib.Path(folder) / "m.tovran"
            model.save(path)
            tovran.load(path).close()
            # The name up to the NUL byte is never written nor read.
            for call in (lambda: model.save(os.path.join(folder, "a\0b")),
                         lambda: tovran.load(os.fsencode(path) + b"\0junk")):
                with self.assertRaisesRegex(ValueError, "embedded null byte"):
                    call()
            self.assertEqual(sorted(os.listdir(folder)), ["m.tovran"])


class IdMaps(unittest.TestCase):
    def test_a_sequence_is_numbered_in_order_of_first_appearance(self):
        ids = tovran.IdMap(["b", "a", "b", "c"])
        self.assertEqual((list(ids), len(ids), ids[1], ids.index("c")), (["b", "a", "c"], 3, "a", 2))
        self.assertEqual(plain(ids.indices(["c", "b"])), [2, 0])
        self.assertEqual(plain(ids.ids([[2, -1], [0, 1]])), [["c", None], ["b", "a"]])
        with self.assertRaises(KeyError):
            ids.index("d")
        with self.assertRaises(ValueError):
            ids[3]

    def test_the_converter_maps_of_a_dataset(self):
        with tempfile.TemporaryDirectory() as folder:
            data = os.path.join(folder, "d.txt")
            # Line ends as the C++ reader takes them: a carriage return dropped.
            for suffix, lines in ((".users", "u7\r\nu 1\n"), (".items", "25\n01\n1\n")):
                with open(data + suffix, "w", newline="") as f:
                    f.write(lines)
            users, items = tovran.IdMap.for_dataset(data)
            self.assertEqual((list(users), list(items)), (["u7", "u 1"], ["25", "01", "1"]))
            with open(data + ".items", "a") as f:
                f.write("25\n")
            with self.assertRaisesRegex(ValueError, "'25' is listed twice"):
                tovran.IdMap.read(data + ".items")


class Safety(unittest.TestCase):
    def test_copies_and_pickles_are_independent_models(self):
        original = tovran.ItemConditional(K=3).fit((USERS, ITEMS))
        want = plain(original.recommend([0, 1], [[0], [3]], N=3))
        copies = [copy.copy(original), copy.deepcopy(original),
                  pickle.loads(pickle.dumps(original))]
        original.close()
        for other in copies:
            with self.subTest(copy=repr(other)):
                self.assertEqual((type(other), other.alpha_), (tovran.ItemConditional, 1.0))
                self.assertEqual(plain(other.recommend([0, 1], [[0], [3]], N=3)), want)
                other.close()
        unfitted = pickle.loads(pickle.dumps(tovran.UserKNN(K=7)))
        self.assertEqual((unfitted.K, unfitted.closed), (7, False))
        with self.assertRaisesRegex(ValueError, "closed"):
            copy.copy(original)

    def test_the_lower_level_model_refuses_copies(self):
        with tovran.Model(USERS, ITEMS) as model:
            for action in (copy.copy, copy.deepcopy, pickle.dumps):
                with self.assertRaises(TypeError):
                    action(model)

    def test_a_closed_or_unfitted_model_raises(self):
        model = tovran.ItemConditional(alpha=0.5)
        with self.assertRaisesRegex(ValueError, "not fitted"):
            model.similar_items(0)
        model.fit((USERS, ITEMS))
        model.close()
        model.close()
        for call in (lambda: model.recommend(0, [0]), lambda: model.similar_items(0),
                     lambda: model.fit((USERS, ITEMS))):
            with self.assertRaisesRegex(ValueError, "closed"):
                call()

    def test_invalid_arguments_raise_value_errors(self):
        with tovran.ItemCosine().fit((USERS, ITEMS)) as model:
            for call in (lambda: tovran.ItemCosine(fallback="random"),
                         lambda: model.recommend(0, [5]), lambda: model.recommend(0, [0], N=-1),
                         lambda: model.recommend([0, 1], [[0]]), lambda: model.recommend(0, "0"),
                         lambda: model.similar_items(True), lambda: model.fit([USERS, ITEMS]),
                         lambda: model.fit((USERS, ITEMS[:-1])), lambda: model.fit((USERS, [0.5])),
                         lambda: tovran.ItemCosine(K=0), lambda: tovran.UserKNN(num_threads=257),
                         lambda: tovran.ItemConditional(alpha=1.5),
                         lambda: tovran.ItemCosine().fit((USERS, ITEMS), n_items=2)):
                with self.assertRaises(ValueError):
                    call()

    @unittest.skipIf(sparse is None, "needs scipy")
    def test_sparse_inputs_are_checked_before_any_work(self):
        # 2**31 rows: refused from the shape, before O(rows) arrays are made.
        huge = sparse.csr_matrix((2**31, 5))
        for call in (lambda: tovran.UserKNN().fit(huge),
                     lambda: tovran.UserKNN().fit(huge, n_users=10)):
            with self.assertRaisesRegex(ValueError, "more than the engine can index"):
                call()
        # Row offsets changed after the matrix was made, beyond its indices.
        with tovran.ItemCosine().fit((USERS, ITEMS)) as model:
            rows = sparse.csr_matrix(([1, 1], [0, 1], [0, 1, 2]), shape=(2, max(ITEMS) + 1))
            for indptr in ([0, 1, 9], [0, 2, 1], [1, 1, 2]):
                rows.indptr = numpy.array(indptr, dtype=rows.indptr.dtype)
                with self.subTest(indptr=indptr), \
                        self.assertRaisesRegex(ValueError, "row offsets"):
                    model.recommend([0, 1], rows)

    def test_no_call_ends_the_interpreter_and_buffers_fit_the_answers(self):
        # 1 GiB of address space: neither an answer buffer for 2**31 - 2
        # recommendations nor neighbour lists for 2**31 - 2 neighbours fit.
        status, out, err = run_limited(f"""
import tovran
from tovran._library import MAX_THREADS
users, items = {USERS}, {ITEMS}
print(tovran.estimate_alpha(users, items, 3, 2**31 - 2) == tovran.estimate_alpha(users, items, 3, 5))
with tovran.Model(users, items, nnbr=2**31 - 2) as a, tovran.Model(users, items, nnbr=4) as b:
    print(a.recommend([0, 3]) == b.recommend([0, 3]))
for call in (lambda: tovran.Model([0, 0, 1], [0, 1, 0], nitems=200_000_000),
             lambda: tovran.estimate_alpha([0, 0, 1], [0, 1, 0], nitems=200_000_000),
             lambda: tovran.UserKNN().fit((users, items), n_users=2**31 - 2)):
    try:
        call()
    except (ValueError, MemoryError) as exc:
        print(type(exc).__name__)
""", 1024)
        self.assertEqual((status, out.split()), (0, ["True", "True", "ValueError", "ValueError", "MemoryError"]),
                         err)


if __name__ == "__main__":
    unittest.main()
