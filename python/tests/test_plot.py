"""tovran.plot on the program's JSON results: a sweep of data/sample.txt and
single runs drawn as valid PNG and SVG files, the sweep found in the runs,
and the messages for what cannot be drawn.

Environment: TOVRAN_PROGRAM (the tovran program; default: next to
TOVRAN_LIBRARY) and TOVRAN_SOURCE_DIR (for data/sample.txt).
"""
import json
import os
import subprocess
import sys
import tempfile
import unittest

from tovran import plot

SOURCE_DIR = os.environ.get("TOVRAN_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
SAMPLE = os.path.join(SOURCE_DIR, "data", "sample.txt")
PROGRAM = os.environ.get("TOVRAN_PROGRAM") or os.path.join(
    os.path.dirname(os.environ.get("TOVRAN_LIBRARY", "")), "tovran")
PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"
try:  # an optional dependency: the drawings are checked where it is installed
    import matplotlib.image
    HAVE_MATPLOTLIB = True
except ImportError:
    HAVE_MATPLOTLIB = False
needs_matplotlib = unittest.skipUnless(
    HAVE_MATPLOTLIB, "matplotlib (Debian python3-matplotlib) is not installed for this interpreter")


def run(kind, **params):
    """A run as read_runs gives it, with every metric at 0.5."""
    full = {name: params.get(name) for name, _ in plot.PARAMETERS}
    return {"kind": kind, "label": "kind %d" % kind, "params": full,
            "metrics": {name: 0.5 for name, _, _ in plot.METRICS}}


def plot_main(*args):
    """Runs `python3 -m tovran.plot ARGS`; returns (status, stdout, stderr)."""
    done = subprocess.run([sys.executable, "-m", "tovran.plot", *args], capture_output=True,
                          text=True, env=os.environ.copy())
    return done.returncode, done.stdout, done.stderr


class SweepFound(unittest.TestCase):
    def test_runs_without_the_library(self):
        env = dict(os.environ, TOVRAN_LIBRARY=os.path.join(tempfile.gettempdir(), "absent.so"))
        done = subprocess.run([sys.executable, "-m", "tovran.plot", "--help"], capture_output=True,
                              text=True, env=env)
        self.assertEqual(done.returncode, 0, done.stderr)

    def test_an_estimated_alpha_follows_nnbr_and_is_not_swept(self):
        runs = [run(0, top=10)]
        for nnbr, alpha in ((10, 0.3), (20, 0.5), (40, 0.5)):
            runs += [run(1, top=10, nnbr=nnbr, min_support=3),
                     run(2, top=10, nnbr=nnbr, min_support=3, alpha=alpha)]
        runs.append(run(3, top=10, nnbr=50))
        self.assertEqual(plot.swept_parameters(runs), ["nnbr"])
        lines = plot.sweep_lines(runs, "nnbr", ["nnbr"])
        self.assertEqual([(label, xs) for label, xs, _ in lines],
                         [("kind 0", None), ("kind 1", [10, 20, 40]), ("kind 2", [10, 20, 40]),
                          ("kind 3", None)])

    def test_two_swept_parameters_split_the_lines_of_the_longer_axis(self):
        runs = [run(2, top=top, nnbr=20, alpha=alpha)
                for top in (5, 10) for alpha in (0.0, 0.5, 1.0)]
        swept = plot.swept_parameters(runs)
        self.assertEqual(swept, ["top", "alpha"])
        self.assertEqual(plot.choose_axis(runs, swept), "alpha")
        lines = plot.sweep_lines(runs, "alpha", swept)
        self.assertEqual([(label, xs) for label, xs, _ in lines],
                         [("kind 2 (top=5)", [0.0, 0.5, 1.0]),
                          ("kind 2 (top=10)", [0.0, 0.5, 1.0])])

    def test_single_runs_sweep_nothing(self):
        runs = [run(1, top=10, nnbr=20), run(2, top=10, nnbr=20, alpha=0.3), run(3, nnbr=50)]
        self.assertEqual(plot.swept_parameters(runs), [])


class Images(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def results(self, name, *options):
        """The JSON document of the program run on the sample with options."""
        path = os.path.join(self.tmp.name, name)
        done = subprocess.run([PROGRAM, *options, "--json", path, SAMPLE], capture_output=True,
                              text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        return path

    def draw(self, results, out):
        status, stdout, stderr = plot_main(results, out)
        self.assertEqual(status, 0, stderr)
        self.assertEqual(stderr, "")
        with open(out, "rb") as f:
            return stdout, f.read()

    @needs_matplotlib
    def test_a_sweep_of_the_sample_gives_a_line_per_kind_in_png_and_svg(self):
        results = self.results("sweep.json", "--kinds", "0,1,2,3", "--nnbr", "5,10,20")
        with open(results) as f:
            runs = plot.read_runs(json.load(f))
        self.assertEqual(plot.swept_parameters(runs), ["nnbr"])
        out = os.path.join(self.tmp.name, "sweep.png")
        stdout, png = self.draw(results, out)
        self.assertEqual(stdout, out + ": 6 metrics against nnbr, 4 lines\n")
        self.assertTrue(png.startswith(PNG_SIGNATURE))
        height, width = matplotlib.image.imread(out).shape[:2]
        self.assertGreater(height * width, 100_000)
        _, svg = self.draw(results, os.path.join(self.tmp.name, "sweep.svg"))
        self.assertTrue(svg.startswith(b"<?xml"))
        self.assertIn(b"<svg", svg)
        self.assertTrue(svg.rstrip().endswith(b"</svg>"))

    @needs_matplotlib
    def test_a_written_sweep_gives_a_valid_svg(self):
        runs = []
        for kind, name in ((0, "popularity"), (1, "item-cosine"), (2, "item-cprob")):
            for nnbr in ((None,) if kind == 0 else (5, 10, 20)):
                runs.append({"kind": kind, "name": name, "top_n": 10, "nnbr": nnbr,
                             "alpha": 0.1 * (nnbr or 0) if kind == 2 else None,
                             "hit_rate": 0.3 + 0.001 * (nnbr or 0), "ndcg": 0.2})
        results = os.path.join(self.tmp.name, "written.json")
        with open(results, "w") as f:
            json.dump({"runs": runs}, f)
        out = os.path.join(self.tmp.name, "written.svg")
        stdout, svg = self.draw(results, out)
        self.assertEqual(stdout, out + ": 2 metrics against nnbr, 3 lines\n")
        self.assertTrue(svg.startswith(b"<?xml"))
        self.assertTrue(svg.rstrip().endswith(b"</svg>"))

    @needs_matplotlib
    def test_single_runs_give_bars(self):
        results = self.results("single.json")
        with open(results) as f:
            metrics = {name for run in plot.read_runs(json.load(f)) for name in run["metrics"]}
        self.assertGreaterEqual(len(metrics), 3)
        out = os.path.join(self.tmp.name, "single.png")
        stdout, png = self.draw(results, out)
        self.assertEqual(stdout, out + ": %d metrics of 3 runs as bars\n" % len(metrics))
        self.assertTrue(png.startswith(PNG_SIGNATURE))

    def test_what_cannot_be_drawn_is_named(self):
        results = self.results("named.json")
        bad = os.path.join(self.tmp.name, "bad.json")
        with open(bad, "w") as f:
            f.write("{\"runs\": [")
        jpeg = os.path.join(self.tmp.name, "out.jpg")
        for args, message in (((bad, jpeg.replace(".jpg", ".png")), bad + " is not a JSON document"),
                              ((results, jpeg), jpeg + ": the output must end in .png or .svg"),
                              ((results, "x.png", "--x", "nnbr"),
                               "--x nnbr: not a swept parameter (swept: none)")):
            status, stdout, stderr = plot_main(*args)
            self.assertEqual(status, 1)
            self.assertEqual(stdout, "")
            self.assertTrue(stderr.startswith("tovran.plot: " + message), stderr)
        self.assertFalse(os.path.exists(jpeg))

    def test_missing_matplotlib_is_named(self):
        results = self.results("nompl.json")
        out = os.path.join(self.tmp.name, "nompl.png")
        code = ("import sys; sys.modules['matplotlib'] = None\n"
                "from tovran import plot\n"
                "sys.exit(plot.main(sys.argv[1:]))\n")
        done = subprocess.run([sys.executable, "-c", code, results, out], capture_output=True,
                              text=True, env=os.environ.copy())
        self.assertEqual(done.returncode, 1)
        self.assertIn("tovran.plot: plots need matplotlib (Debian package python3-matplotlib)",
                      done.stderr)
        self.assertFalse(os.path.exists(out))


if __name__ == "__main__":
    unittest.main()
