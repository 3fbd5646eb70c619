#!/usr/bin/env python3
"""Runs the tovran program several times on each shared data set and prints
the median of every phase (loading, each build, the Alpha estimation, each
query loop), the whole run and the peak resident memory.

    bench/run_e2e.py [--program build/tovran] [--runs 5] [--threads N] [files...]

Files default to ../shared/data/ml100k.txt and retail.txt. Loading and the
estimation are timed from when the report's lines arrive (standard output is
line buffered through stdbuf); builds and query loops are the report's own.
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
RESULT = re.compile(r"Nhits: (\d+), InitTime: ([0-9.]+) secs, TopN-Rate: ([0-9.]+|inf)")


def run_once(program, path, threads):
    cmd = ["stdbuf", "-oL", program]
    if threads:
        cmd += ["--threads", str(threads)]
    cmd.append(path)
    start = time.monotonic()
    proc = subprocess.Popen(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    chunks = []  # (seconds since start, text)
    while True:
        data = os.read(proc.stdout.fileno(), 65536)
        if not data:
            break
        chunks.append((time.monotonic() - start, data.decode()))
    _, status, usage = os.wait4(proc.pid, 0)
    total = time.monotonic() - start
    if status != 0:
        sys.exit(f"{' '.join(cmd)} failed with status {status}")
    text = "".join(c for _, c in chunks)

    def arrival(marker):
        seen = ""
        for at, chunk in chunks:
            seen += chunk
            if marker in seen:
                return at
        return None

    nusers = int(re.search(r"Nusers: (\d+)", text).group(1))
    results = RESULT.findall(text)
    phases = {"load": arrival("Dataset Statistics")}
    for kind, (_, build, rate) in zip((1, 2, 3), results):
        phases[f"build {kind}"] = float(build)
        rate = float(rate)
        phases[f"query {kind}"] = nusers / rate if rate > 0 else 0.0
        phases[f"users/s {kind}"] = rate
    phases["alpha"] = arrival("Alpha=") - arrival("Estimating Alpha...")
    phases["total"] = total
    phases["peak MB"] = usage.ru_maxrss / 1024.0
    size = os.path.getsize(path)
    phases["load MB/s"] = size / 1e6 / phases["load"]
    return phases


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", default=os.path.join(ROOT, "build", "tovran"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--threads", type=int, default=0)
    parser.add_argument("files", nargs="*")
    args = parser.parse_args()
    files = args.files or [os.path.join(ROOT, "..", "shared", "data", name)
                           for name in ("ml100k.txt", "retail.txt")]
    for path in files:
        if not os.path.exists(path):
            print(f"{path}: not present, skipped")
            continue
        runs = [run_once(args.program, path, args.threads) for _ in range(args.runs)]
        print(f"{os.path.basename(path)}: median of {args.runs} runs"
              + (f", --threads {args.threads}" if args.threads else ""))
        for key in runs[0]:
            values = [r[key] for r in runs]
            print(f"  {key:12s} {statistics.median(values):12.3f}"
                  f"   (min {min(values):.3f}, max {max(values):.3f})")


if __name__ == "__main__":
    main()
