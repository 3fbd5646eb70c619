"""tovran.split and tovran.evaluate against the tovran program's per-user
rows, summary, intervals and comparison for the same split and seed."""
import csv
import json
import os
import subprocess
import tempfile
import unittest

import tovran
from support import SAMPLE

PROGRAM = os.environ.get("TOVRAN_PROGRAM")


@unittest.skipUnless(PROGRAM, "TOVRAN_PROGRAM (the tovran program) not given")
class EvaluationMatchesTheProgram(unittest.TestCase):
    def program(self, protocol, seed):
        with tempfile.TemporaryDirectory() as tmp:
            rows_path, json_path = os.path.join(tmp, "rows.csv"), os.path.join(tmp, "r.json")
            subprocess.run([PROGRAM, "--split", protocol, "--seed", str(seed), "--kinds", "0,1",
                            "--top", "5", "--bootstrap", "300", "--per-user", rows_path,
                            "--json", json_path, "--no-progress", SAMPLE],
                           check=True, capture_output=True)
            with open(rows_path) as f:
                rows = list(csv.DictReader(f))
            with open(json_path) as f:
                return rows, json.load(f)

    def test_every_value_equals_the_programs(self):
        users, items = tovran.read_dataset(SAMPLE)
        for protocol, seed, fold in (("random:1", 3, 0), ("random:0.4", 9, 0), ("kfold:3", 2, 1)):
            rows, report = self.program(protocol, seed)
            part = tovran.split(users, items, protocol, seed=seed, fold=fold)
            # The program's model: every training pair as it stands.
            with tovran.Model(part.train_users, part.train_items, tovran.ITEM_COSINE, 20,
                              nusers=part.nusers, nitems=part.nitems) as model:
                runs = [tovran.evaluate("popularity", part, 5, seed=seed, bootstrap=300)]
                runs.append(tovran.evaluate(model, part, 5, seed=seed, bootstrap=300,
                                            reference=runs[0]))
            first = [r for r, run in enumerate(report["runs"]) if run["fold"] == fold][0]
            for j, got in enumerate(runs):
                want_rows = [row for row in rows if int(row["run"]) == first + j]
                self.assertEqual(got.users, [int(row["user"]) for row in want_rows])
                self.assertEqual(got.held_out, [[int(x) for x in row["held_out"].split()]
                                                for row in want_rows])
                for metric in tovran.evaluation.METRICS:
                    self.assertEqual(list(got.per_user[metric]),
                                     [float(row[metric]) for row in want_rows], metric)
                summary = report["runs"][first + j]
                names = {"hr": "hit_rate", "recall": "recall", "precision": "precision",
                         "ndcg": "ndcg", "map": "map", "mrr": "mrr"}
                for metric, field in names.items():
                    self.assertEqual(got.summary[metric], summary[field], (protocol, metric))
                    self.assertEqual(list(got.intervals[metric]), summary["intervals"][metric])
                if j == 1:
                    for metric in names:
                        want = summary["compared_with"][metric]
                        difference, interval, p = got.summary["compared"][metric]
                        self.assertEqual((difference, list(interval), p),
                                         (want["difference"], want["interval"], want["p_value"]))

    def test_bad_arguments_raise(self):
        for protocol in ("sometimes", "random:0", "random:1.5", "kfold:1", "last:0"):
            with self.assertRaises(ValueError):
                tovran.split([0, 0], [1, 2], protocol)
        with self.assertRaises(ValueError):
            tovran.split([0, 0], [1, 2], "time:5")  # no times
        part = tovran.split([0, 0], [1, 2], "last")
        with self.assertRaises(ValueError):
            tovran.evaluate(object(), part)
        with self.assertRaises(ValueError):
            tovran.evaluate("popularity", part, bootstrap=0)


if __name__ == "__main__":
    unittest.main()
