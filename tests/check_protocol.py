"""A plain second implementation of the evaluation protocols, to check
tovran's per-user rows against: every split and every metric recomputed
from the data set alone with simple loops (standard library only).

Usage: check_protocol.py TOVRAN_PROGRAM WORK_DIR
"""
import csv
import json
import math
import os
import random
import subprocess
import sys

MASK = (1 << 64) - 1
GOLDEN = 0x9E3779B97F4A7C15


def mix(z):
    for shift, factor in ((30, 0xBF58476D1CE4E5B9), (27, 0x94D049BB133111EB)):
        z = ((z ^ (z >> shift)) * factor) % (MASK + 1)
    return z ^ (z >> 31)


def stream(seed, purpose, index):
    """Draws below n of stream (seed, purpose, index): call with n."""
    state = [mix((mix(seed) + purpose * 2 ** 40 + index) % (MASK + 1))]

    def draw(n):
        state[0] = (state[0] + GOLDEN) % (MASK + 1)
        return mix(state[0]) % n
    return draw


def held_positions(kind, arg, seed, fold, user, items, times):
    """Positions (in file order) of the user's held-out pairs."""
    n = len(items)
    if kind == "last":
        return set(range(max(0, n - arg), n))
    if kind == "time":
        return {p for p in range(n) if times[p] >= arg}
    order = list(range(n))
    below = stream(seed, 1, user)
    if kind == "random":
        count, fraction = arg
        k = count
        if count == 0:
            k = max(1, min(math.floor(fraction * n + 0.5), n - 1))
        if n <= k:
            return set(range(n))
        chosen = set()
        for i in range(k):
            j = i + below(n - i)
            order[i], order[j] = order[j], order[i]
            chosen.add(order[i])
        return chosen
    # k-fold: a full shuffle, then the folds dealt from a drawn start.
    for i in range(n - 1):
        j = i + below(n - i)
        order[i], order[j] = order[j], order[i]
    turn = below(arg)
    return {order[i] for i in range(n) if (i + turn) % arg == fold}


def user_values(held, ranks, top):
    listed = sorted(set(ranks))
    hits = len(listed)
    ideal = min(top, len(held))
    gain = sum(1.0 / math.log2(1.0 + r) for r in listed)
    best = sum(1.0 / math.log2(1.0 + r) for r in range(1, ideal + 1))
    ap = 0.0
    for k, r in enumerate(listed):
        ap += (k + 1) / r
    return {
        "hits": hits,
        "hr": 1.0 if hits else 0.0,
        "recall": hits / len(held),
        "precision": hits / top,
        "ndcg": gain / best,
        "map": ap / ideal,
        "mrr": 1.0 / listed[0] if listed else 0.0,
    }


def write_dataset(path, rng, nusers, nitems):
    runs, times = [], []
    order = list(range(nusers))
    rng.shuffle(order)  # users need not stand in id order
    for u in order:
        n = rng.choice([0, 1, 2, 3, 5, 8, 13])
        for _ in range(n):
            runs.append((u, int(nitems * rng.random() ** 2)))
            times.append(rng.randrange(1000, 2000))
    with open(path, "w") as out:
        out.write(f"{nusers} {nitems} {len(runs)}\n")
        for u, i in runs:
            out.write(f"{u} {i}\n")
    with open(path + ".times", "w") as out:
        for t in times:
            out.write(f"{t}\n")
    return runs, times


def expected_split(runs, times, kind, arg, seed, fold):
    by_user, at = {}, {}
    for p, (u, i) in enumerate(runs):
        by_user.setdefault(u, []).append(i)
        at.setdefault(u, []).append(p)
    held = {}
    for u, items in by_user.items():
        ts = [times[p] for p in at[u]]
        pos = held_positions(kind, arg, seed, fold, u, items, ts)
        if 0 < len(pos) < len(items):
            held[u] = [items[p] for p in sorted(pos)]
    return held, by_user


def by_user_training(runs, times, kind, arg, seed):
    """The training items of every user of fold 0, in file order."""
    by_user, at = {}, {}
    for p, (u, i) in enumerate(runs):
        by_user.setdefault(u, []).append(i)
        at.setdefault(u, []).append(p)
    for u, items in by_user.items():
        ts = [times[p] for p in at[u]]
        pos = held_positions(kind, arg, seed, 0, u, items, ts)
        yield [items[p] for p in range(len(items)) if p not in pos]


def run(program, args):
    done = subprocess.run([program] + args, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"{' '.join(args)}: status {done.returncode}: {done.stderr}")
    return done


def check(program, work):
    rng = random.Random(23)
    failures = []
    for case in range(3):
        data = os.path.join(work, f"protocol{case}.txt")
        runs, times = write_dataset(data, rng, 60 + 20 * case, 40)
        splits = [("last", "last", 1), ("last:3", "last", 3), ("random:2", "random", (2, 0.0)),
                  ("random:0.3", "random", (0, 0.3)), ("kfold:3", "kfold", 3),
                  ("time:1700", "time", 1700)]
        for text, kind, arg in splits:
            seed = 5 + case
            rows_out = os.path.join(work, "rows.csv")
            json_out = os.path.join(work, "report.json")
            top = 4
            run(program, ["--split", text, "--seed", str(seed), "--kinds", "0,1,3",
                          "--top", str(top), "--per-user", rows_out, "--json", json_out,
                          "--bootstrap", "50", "--no-progress", data])
            with open(rows_out) as f:
                rows = list(csv.DictReader(f))
            with open(json_out) as f:
                report = json.load(f)
            folds = arg if kind == "kfold" else 1
            # The training side: every pair not held out, users asked or not.
            train = sum(len(p) for p in by_user_training(runs, times, kind, arg, seed))
            if report["dataset"]["training_pairs"] != train:
                failures.append(f"{data} {text}: {report['dataset']['training_pairs']} training "
                                f"pairs, want {train}")
            runs_per_fold = len(report["runs"]) // folds
            dealt = {}
            for r, summary in enumerate(report["runs"]):
                fold = summary["fold"]
                held, by_user = expected_split(runs, times, kind, arg, seed, fold)
                mine = [row for row in rows if int(row["run"]) == r]
                got_users = [int(row["user"]) for row in mine]
                if sorted(got_users) != sorted(held):
                    failures.append(f"{data} {text} run {r}: users asked differ")
                    continue
                sums = {k: 0.0 for k in ("hr", "recall", "ndcg", "map", "mrr")}
                hits = 0
                for row in mine:
                    u = int(row["user"])
                    got_held = [int(x) for x in row["held_out"].split()]
                    if got_held != held[u]:
                        failures.append(f"{data} {text} run {r} user {u}: held out "
                                        f"{got_held}, want {held[u]}")
                    ranks = [int(x) for x in row["hit_ranks"].split()]
                    want = user_values(held[u], ranks, top)
                    for key, value in want.items():
                        got = int(row[key]) if key == "hits" else float(row[key])
                        if got != value:
                            failures.append(f"{data} {text} run {r} user {u}: {key} {got}, "
                                            f"want {value}")
                    for key in sums:
                        sums[key] += float(row[key])
                    hits += int(row["hits"])
                    if r % runs_per_fold == 0:
                        for item in got_held:
                            dealt[(u, item)] = dealt.get((u, item), 0) + 1
                q = len(mine)
                names = {"hr": "hit_rate", "recall": "recall", "ndcg": "ndcg", "map": "map",
                         "mrr": "mrr"}
                for key, field in names.items():
                    if q and summary[field] != sums[key] / q:
                        failures.append(f"{data} {text} run {r}: {field} {summary[field]} is "
                                        f"not the rows' average {sums[key] / q}")
                if q and summary["precision"] != hits / (q * top):
                    failures.append(f"{data} {text} run {r}: precision")
            if kind == "kfold":
                # Every pair of a user with one pair or more in a fold's test
                # set lies in exactly one fold.
                _, by_user = expected_split(runs, times, kind, arg, seed, 0)
                for u, items in by_user.items():
                    for item in set(items):
                        got = dealt.get((u, item), 0)
                        if got > items.count(item):
                            failures.append(f"{data} kfold user {u} item {item}: in {got} folds")
                all_held = [sorted(held_positions("kfold", arg, seed, f, u, items, []))
                            for u, items in by_user.items() for f in range(arg)]
                count = sum(len(h) for h in all_held)
                if count != len(runs):
                    failures.append(f"{data} kfold: {count} test places for {len(runs)} pairs")
    return failures


def check_threads_and_usage(program, work):
    """The same rows on 1 and 3 threads; every bad protocol option refused
    with status 1 and a message naming it."""
    failures = []
    data = os.path.join(work, "protocol0.txt")
    rows = []
    for threads in ("1", "3"):
        out = os.path.join(work, f"rows{threads}.jsonl")
        run(program, ["--split", "random:0.5", "--seed", "11", "--kinds", "0,1,2,3", "--threads",
                      threads, "--per-user", out, "--no-progress", data])
        with open(out) as f:
            rows.append(f.read())
    if rows[0] != rows[1] or not rows[0].startswith('{"run": 0'):
        failures.append("per-user rows differ between 1 and 3 threads")
    untimed = os.path.join(work, "untimed.txt")
    with open(data) as f, open(untimed, "w") as out:
        out.write(f.read())
    for args, option in ((["--split", "sometimes"], "--split"), (["--split", "last:0"], "--split"),
                         (["--split", "random:1.5"], "--split"), (["--split", "kfold:1"], "--split"),
                         (["--seed", "-1"], "--seed"), (["--bootstrap", "0"], "--bootstrap"),
                         (["--per-user", data], "--per-user"),
                         (["--split", "kfold:100000"], "--split"),
                         (["--split", "time:5"], "untimed.txt.times")):
        target = untimed if option.startswith("untimed") else data
        done = subprocess.run([program] + args + [target], capture_output=True, text=True)
        if done.returncode != 1 or option not in done.stderr or done.stdout:
            failures.append(f"{args}: status {done.returncode}, {done.stderr!r}")
    return failures


def main():
    os.makedirs(sys.argv[2], exist_ok=True)
    failures = check(sys.argv[1], sys.argv[2])
    failures += check_threads_and_usage(sys.argv[1], sys.argv[2])
    for failure in failures[:40]:
        print(failure)
    if failures:
        sys.exit(f"{len(failures)} differences")
    print("every split and metric agrees")


if __name__ == "__main__":
    main()
