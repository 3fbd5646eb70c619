"""Data and helpers shared by the Python tests.

Environment: TOVRAN_SOURCE_DIR (for data/sample.txt; default: this
checkout), optionally TOVRAN_C_API_LISTS (the C helper printing lists) and
TOVRAN_SHARED_DATA (the folder of ml100k.txt and its report).
"""
import os
import re
import subprocess

SOURCE_DIR = os.environ.get("TOVRAN_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
SAMPLE = os.path.join(SOURCE_DIR, "data", "sample.txt")

# Items 0, 1, 2 go together for users 0-2, items 3, 4 for users 3-5.
USERS = [0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 4, 4, 5, 5]
ITEMS = [0, 1, 2, 0, 1, 2, 0, 1, 2, 3, 4, 3, 4, 3, 4]


def read_pairs(path):
    """(nusers, nitems, users, items) of a file in the program's format."""
    with open(path) as f:
        numbers = [int(tok) for tok in f.read().split()]
    nusers, nitems, npairs = numbers[:3]
    return nusers, nitems, numbers[3:3 + 2 * npairs:2], numbers[4:4 + 2 * npairs:2]


def hold_out(users, items):
    """The program's split: each user's last listed pair is held out."""
    train_u, train_i, test = [], [], {}
    for k, (u, i) in enumerate(zip(users, items)):
        if k + 1 < len(users) and users[k + 1] == u:
            train_u.append(u)
            train_i.append(i)
        else:
            test[u] = i
    return train_u, train_i, test


def baskets(users, items):
    """Each user's items, users in order of first appearance."""
    by_user = {}
    for u, i in zip(users, items):
        by_user.setdefault(u, []).append(i)
    return by_user


def report_numbers(path):
    """(hits of every run, estimated alpha) of a report file."""
    with open(path) as f:
        text = f.read()
    hits = [int(h) for h in re.findall(r"Nhits: (\d+),", text)]
    return hits, float(re.search(r"Alpha=(\d\.\d\d)", text).group(1))


def c_lists(path, *args):
    """The C helper's output for the pairs of path, or None without it."""
    helper = os.environ.get("TOVRAN_C_API_LISTS")
    if not helper:
        return None
    run = subprocess.run([helper, path, *map(str, args)], capture_output=True, text=True,
                         check=True)
    return run.stdout


def write_pairs(path, nusers, nitems, users, items):
    """Writes the pairs in the program's format."""
    with open(path, "w") as f:
        f.write(f"{nusers} {nitems} {len(users)}\n")
        f.writelines(f"{u} {i}\n" for u, i in zip(users, items))


def run_limited(code, megabytes):
    """Runs code in a fresh interpreter whose address space is limited;
    returns (exit status, standard output, standard error)."""
    import resource
    import sys

    def limit():
        size = megabytes << 20
        resource.setrlimit(resource.RLIMIT_AS, (size, size))

    env = dict(os.environ, OPENBLAS_NUM_THREADS="1", PYTHONPATH=os.pathsep.join(sys.path))
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         preexec_fn=limit, env=env, timeout=300)
    return run.returncode, run.stdout, run.stderr
