"""Plots of the evaluation's JSON results (the document `tovran --json` writes).

    python3 -m tovran.plot RESULTS.json OUT.png
    python3 -m tovran.plot RESULTS.json OUT.svg

For a sweep, every metric is drawn against the swept parameter, one line per
model kind (a kind the parameter does not apply to is a dashed level line);
when several parameters were swept, the one with the most values is the axis
(or the one --x names) and the others split the lines. For single runs, one
group of bars per kind, a bar per metric. Needs matplotlib (Debian package
python3-matplotlib); without it the program says so and exits with 1.
"""
import argparse
import json
import math
import sys

# Parameters a run carries, each with the names it may have in the document.
PARAMETERS = (
    ("top", ("top", "top_n")),
    ("nnbr", ("nnbr",)),
    ("user_nnbr", ("user_nnbr",)),
    ("alpha", ("alpha",)),
    ("min_support", ("min_support",)),
)

# Metrics drawn, with their labels and names in the document.
METRICS = (
    ("hit_rate", "HR@N", ("hit_rate",)),
    ("arhr", "ARHR", ("arhr", "average_reciprocal_hit_rank")),
    ("ndcg", "NDCG@N", ("ndcg",)),
    ("precision", "precision@N", ("precision",)),
    ("recall", "recall@N", ("recall",)),
    ("coverage", "coverage", ("coverage", "catalogue_coverage")),
)

IMAGE_FORMATS = ("png", "svg")


class PlotError(Exception):
    """A document or a command line that cannot be plotted; the message says why."""


def _lookup(run, names, document=None):
    """The first of names found in the run, its nested "parameters" or
    "metrics" objects, or (for document-wide values) the document."""
    places = [run, run.get("parameters"), run.get("metrics"), document]
    for place in places:
        if isinstance(place, dict):
            for name in names:
                value = place.get(name)
                if isinstance(value, (int, float)) and not isinstance(value, bool):
                    return value
    return None


def read_runs(document):
    """The runs of a results document as dicts: kind, label, params (name ->
    value or None) and metrics (name -> value, only those present)."""
    if not isinstance(document, dict) or not isinstance(document.get("runs"), list):
        raise PlotError("the document has no list of runs")
    runs = []
    for k, run in enumerate(document["runs"]):
        if not isinstance(run, dict) or not isinstance(run.get("kind"), int):
            raise PlotError("run %d has no kind" % k)
        params = {name: _lookup(run, names, document if name == "top" else None)
                  for name, names in PARAMETERS}
        metrics = {}
        for name, _, names in METRICS:
            value = _lookup(run, names)
            if value is not None and math.isfinite(value):
                metrics[name] = float(value)
        label = run.get("name") if isinstance(run.get("name"), str) else "kind %d" % run["kind"]
        runs.append({"kind": run["kind"], "label": label, "params": params, "metrics": metrics})
    if not runs:
        raise PlotError("the document has no runs")
    return runs


def swept_parameters(runs):
    """The parameters the runs were swept over: those taking two values in
    two runs of one kind that agree on every other parameter. A value the
    others determine (an estimated Alpha) is therefore not one."""
    swept = []
    for name, _ in PARAMETERS:
        seen = {}
        for run in runs:
            value = run["params"][name]
            if value is None:
                continue
            others = tuple((p, v) for p, v in sorted(run["params"].items()) if p != name)
            seen.setdefault((run["kind"], others), set()).add(value)
        if any(len(values) > 1 for values in seen.values()):
            swept.append(name)
    return swept


def choose_axis(runs, swept):
    """The swept parameter with the most distinct values (the first listed on a tie)."""
    def count(name):
        return len({run["params"][name] for run in runs if run["params"][name] is not None})
    return max(swept, key=count) if swept else None


def _number(value):
    return "%g" % value


def sweep_lines(runs, axis, swept):
    """Lines of a sweep drawn against axis: a list of (label, xs, runs) with
    runs in order of x; xs is None for a level line (the kind's runs do not
    vary along the axis). Kinds come in the order the runs list them."""
    groups, kind_order = {}, {}
    for run in runs:
        others = tuple((p, run["params"][p]) for p in swept if p != axis)
        groups.setdefault((run["kind"], others), []).append(run)
        kind_order.setdefault(run["kind"], len(kind_order))

    def order(group):  # kinds as the runs list them, then by the other values
        kind, others = group[0]
        return kind_order[kind], tuple((v is None, v or 0) for _, v in others)
    lines = []
    for (_, others), members in sorted(groups.items(), key=order):
        label = members[0]["label"]
        extra = ", ".join("%s=%s" % (p, _number(v)) for p, v in others if v is not None)
        if extra:
            label += " (" + extra + ")"
        points = {}
        for run in members:
            x = run["params"][axis]
            if x is not None:
                points.setdefault(x, run)
        if len(points) > 1:
            xs = sorted(points)
            lines.append((label, xs, [points[x] for x in xs]))
        else:
            lines.append((label, None, members[:1]))
    return lines


def plot(document, out, axis=None):
    """Draws the document into the file out (its extension chooses PNG or SVG)
    and returns a one-line description of what was drawn. Raises PlotError."""
    fmt = out.rsplit(".", 1)[-1].lower() if "." in out else ""
    if fmt not in IMAGE_FORMATS:
        raise PlotError("%s: the output must end in .png or .svg" % out)
    runs = read_runs(document)
    metrics = [(name, label) for name, label, _ in METRICS
               if any(name in run["metrics"] for run in runs)]
    if not metrics:
        raise PlotError("the runs carry none of the metrics " +
                        ", ".join(name for name, _, _ in METRICS))
    swept = swept_parameters(runs)
    if axis is not None and axis not in swept:
        raise PlotError("--x %s: not a swept parameter (swept: %s)" %
                        (axis, ", ".join(swept) if swept else "none"))
    axis = axis or choose_axis(runs, swept)
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError as error:
        raise PlotError("plots need matplotlib (Debian package python3-matplotlib): %s" % error)
    if axis is None:
        figure = _draw_bars(plt, runs, metrics)
        described = "%d metrics of %d runs as bars" % (len(metrics), len(runs))
    else:
        lines = sweep_lines(runs, axis, swept)
        figure = _draw_sweep(plt, lines, metrics, axis)
        described = "%d metrics against %s, %d lines" % (len(metrics), axis, len(lines))
    try:
        figure.savefig(out, format=fmt)
    except OSError as error:
        raise PlotError("cannot write %s (%s)" % (out, error.strerror or error))
    finally:
        plt.close(figure)
    return described


def _draw_sweep(plt, lines, metrics, axis):
    ncols = 3 if len(metrics) > 4 else min(2, len(metrics))
    nrows = -(-len(metrics) // ncols)
    figure, axes = plt.subplots(nrows, ncols, figsize=(4.2 * ncols, 3.4 * nrows), squeeze=False)
    for k, (name, label) in enumerate(metrics):
        ax = axes[k // ncols][k % ncols]
        for n, (line_label, xs, members) in enumerate(lines):
            colour = "C%d" % (n % 10)
            if xs is None:
                value = members[0]["metrics"].get(name)
                if value is not None:
                    ax.axhline(value, color=colour, linestyle="--", label=line_label)
                continue
            points = [(x, run["metrics"][name]) for x, run in zip(xs, members)
                      if name in run["metrics"]]
            if points:
                ax.plot([p[0] for p in points], [p[1] for p in points], marker="o",
                        color=colour, label=line_label)
        ax.set_title(label)
        ax.set_xlabel(axis)
        ax.grid(True, alpha=0.3)
    for k in range(len(metrics), nrows * ncols):
        axes[k // ncols][k % ncols].set_visible(False)
    handles, labels = axes[0][0].get_legend_handles_labels()
    figure.legend(handles, labels, loc="lower center", ncol=min(4, len(labels)),
                  frameon=False)
    figure.tight_layout(rect=(0, 0.06 + 0.03 * (len(labels) // 4), 1, 1))
    return figure


def _draw_bars(plt, runs, metrics):
    width = 0.8 / len(metrics)
    figure, ax = plt.subplots(figsize=(max(6.0, 1.6 * len(runs) + 2), 4.2))
    for m, (name, label) in enumerate(metrics):
        xs = [k + (m - (len(metrics) - 1) / 2) * width for k in range(len(runs))]
        ax.bar(xs, [run["metrics"].get(name, 0.0) for run in runs], width, label=label,
               color="C%d" % m)
    ax.set_xticks(range(len(runs)))
    ax.set_xticklabels([run["label"] for run in runs])
    ax.set_ylabel("value")
    ax.legend(ncol=min(3, len(metrics)), fontsize="small")
    ax.grid(True, axis="y", alpha=0.3)
    figure.tight_layout()
    return figure


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m tovran.plot",
        description="Draws the results of `tovran --json RESULTS.json` as PNG or SVG: every "
                    "metric against the swept parameter, one line per kind, or grouped bars "
                    "for single runs.")
    parser.add_argument("results", metavar="RESULTS.json", help="the document tovran wrote")
    parser.add_argument("out", metavar="OUT.png|OUT.svg", help="the image to write")
    parser.add_argument("--x", dest="axis", choices=[name for name, _ in PARAMETERS],
                        help="the swept parameter on the horizontal axis (default: the one "
                             "with the most values)")
    args = parser.parse_args(argv)
    try:
        try:
            with open(args.results, encoding="utf-8") as f:
                document = json.load(f)
        except OSError as error:
            raise PlotError("cannot read %s (%s)" % (args.results, error.strerror or error))
        except ValueError as error:
            raise PlotError("%s is not a JSON document (%s)" % (args.results, error))
        print("%s: %s" % (args.out, plot(document, args.out, args.axis)))
    except PlotError as error:
        print("tovran.plot: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
