#!/usr/bin/env python3
"""Compares two builds of tovran_shapes on the same data, interleaved: each
round runs A then B (then B then A in the next round) once per shape, and the
least figure of every cell over the rounds is kept (times are CPU times, so
the least is the one least disturbed by other jobs).

    bench/ab_shapes.py A/tovran_shapes B/tovran_shapes --rounds 5 [--only users] [--budget UNITS] NAME=FILE ...

Prints, per shape, each ns-per-unit column of A and B and B's change in %.
"""
import argparse
import subprocess

COLUMNS = ["user-based ns/entry", "type 1 ns/entry", "type 2 ns/entry",
           "type 1 build ns/step", "type 2 build ns/step"]


def run(program, shape, only, reps, budget):
    cmd = [program, "--reps", str(reps), "--budget", str(budget)]
    if only:
        cmd += ["--only", only]
    out = subprocess.run(cmd + [shape], check=True, capture_output=True, text=True).stdout
    lines = [l for l in out.splitlines() if l.startswith("|")]
    head = [c.strip() for c in lines[0].strip("|").split("|")]
    row = [c.strip() for c in lines[2].strip("|").split("|")]
    return {name: float(row[head.index(name)]) for name in COLUMNS}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("a")
    parser.add_argument("b")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--reps", type=int, default=1)
    parser.add_argument("--only", default="")
    parser.add_argument("--budget", type=int, default=100000000)
    parser.add_argument("shapes", nargs="+")
    args = parser.parse_args()
    for shape in args.shapes:
        best = {"a": {}, "b": {}}
        for r in range(args.rounds):
            order = ["a", "b"] if r % 2 == 0 else ["b", "a"]
            for side in order:
                figures = run(getattr(args, side), shape, args.only, args.reps, args.budget)
                for name, value in figures.items():
                    if value > 0:
                        best[side][name] = min(best[side].get(name, value), value)
        cells = []
        for name in COLUMNS:
            if name in best["a"] and name in best["b"]:
                a, b = best["a"][name], best["b"][name]
                cells.append(f"{name}: {a:.2f} -> {b:.2f} ({100 * (b - a) / a:+.1f}%)")
        print(shape.split("=")[0] + ": " + "; ".join(cells), flush=True)


if __name__ == "__main__":
    main()
