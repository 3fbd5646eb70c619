"""Checks a JSON results document against the console report of the same run.

Usage: check_json_report.py RESULTS.json REPORT.txt
Prints what disagrees and exits with 1, or exits with 0 when all agrees.
"""
import json
import re
import sys


def main(json_path, report_path):
    with open(json_path, encoding="utf-8") as f:
        doc = json.load(f)
    with open(report_path, encoding="utf-8") as f:
        report = f.read()
    faults = []

    def expect(what, got, want):
        if got != want:
            faults.append(f"{what}: JSON has {got!r}, the report {want!r}")

    stats = re.search(r"Nusers: (\d+), Nitems: (\d+), Ntrans; (\d+)", report)
    ds = doc["dataset"]
    expect("users", ds["users"], int(stats.group(1)))
    expect("items", ds["items"], int(stats.group(2)))
    expect("training pairs", ds["training_pairs"], int(stats.group(3)))

    hits = [int(h) for h in re.findall(r"Nhits: (\d+),", report)]
    runs = doc["runs"]
    expect("hits of every run", [r["hits"] for r in runs], hits)
    expect("kinds", [r["kind"] for r in runs], [1, 2, 3])
    expect("neighbours", [r["nnbr"] for r in runs], [20, 20, 50])
    for r in runs:
        queried = r["users_queried"]
        expect("hit rate", r["hit_rate"], r["hits"] / queried if queried else 0)
        expect("coverage", r["catalogue_coverage"],
               r["distinct_items"] / ds["items"] if ds["items"] else 0)
        if not 0 <= r["average_reciprocal_hit_rank"] <= r["hit_rate"]:
            faults.append(f"run {r['kind']}: reciprocal rank outside 0..hit rate")
        if not 0 < queried <= ds["held_out"] <= ds["users"]:
            faults.append(f"run {r['kind']}: users queried {queried} out of range")

    alpha = float(re.search(r"Alpha=(\d\.\d\d)", report).group(1))
    expect("estimated alpha", doc["alpha"]["estimate"], alpha)
    expect("alpha of run 2", runs[1]["alpha"], alpha)
    tried = doc["alpha"]["tried"]
    expect("alphas tried", [t["alpha"] for t in tried], [j / 10 for j in range(len(tried))])
    counts = [t["hits"] for t in tried]
    # The estimate is the last alpha before the first fall (1.0 if none).
    falls = [j for j in range(1, len(counts)) if counts[j] < counts[j - 1]]
    expect("estimate from the tried hits", alpha, (falls[0] - 1) / 10 if falls else 1.0)

    for fault in faults:
        print(fault)
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
