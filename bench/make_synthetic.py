#!/usr/bin/env python3
"""Writes a synthetic data set: NUSERS users, NITEMS items, about NPAIRS pairs,
items drawn with a Zipf-like popularity and users' basket sizes skewed, each
user's pairs together. Deterministic for a given seed.

    bench/make_synthetic.py OUT [--users 100000] [--items 20000] [--pairs 2000000] [--seed 1]
"""
import argparse
import bisect
import itertools
import random


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("out")
    parser.add_argument("--users", type=int, default=100000)
    parser.add_argument("--items", type=int, default=20000)
    parser.add_argument("--pairs", type=int, default=2000000)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    cumulative = list(itertools.accumulate(1.0 / (r + 1) ** 0.9 for r in range(args.items)))
    total = cumulative[-1]
    mean = args.pairs / args.users
    lengths = [max(1, int(rng.expovariate(1.0 / mean))) for _ in range(args.users)]
    scale = args.pairs / sum(lengths)
    lengths = [max(1, round(n * scale)) for n in lengths]
    lines = []
    for user, length in enumerate(lengths):
        for _ in range(length):
            item = min(bisect.bisect_left(cumulative, rng.random() * total), args.items - 1)
            lines.append(f"{user} {item}\n")
    with open(args.out, "w") as out:
        out.write(f"{args.users} {args.items} {len(lines)}\n")
        out.writelines(lines)


if __name__ == "__main__":
    main()
