#!/usr/bin/env python3
"""The layering of the code: includes and links point downward only.

    check_layers.py SOURCE_DIR LINK_GRAPH

Every folder of shipped code has a layer, and each names the folders it may
use; a folder not in the table fails the check until it is given a place.
The include graph is read from the tracked sources, the link graph from the
file CMake writes at configure time (target, its folder, its sources, what
it links). Developer folders (tests, bench, fuzz) may use anything; no
shipped folder may use them, nor another program's folder. Outside the
engine's own layers, only engine/tovran.h of the engine may be included.
Prints one line per fault and exits 1 when there is any.
"""
import os
import re
import subprocess
import sys

# folder -> the folders its code may use besides itself, lowest layers first.
LAYERS = {
    "util": set(),
    "matrix": {"util"},
    "engine": {"util", "matrix"},
    "cli": {"util"},
    "dataset": {"util"},
    "driver": {"util", "cli", "dataset", "engine"},
    "programs": {"util", "cli", "dataset", "driver", "engine"},
    "tools": {"util", "cli", "dataset", "driver", "engine"},
}
DEVELOPER = {"tests", "bench", "fuzz"}
# Folders that see only the public header of the engine.
PUBLIC_ENGINE_ONLY = {"cli", "dataset", "driver", "programs", "tools"}
# Folders whose C and C++ files the check reads (python/ holds none that count).
IGNORED = {"python", "cmake", "docs", "data", ".ci"}


def folder_of(path):
    """The layer folder of a path relative to the source dir: programs/X for
    a program, else the first component."""
    parts = path.split("/")
    if parts[0] == "programs" and len(parts) > 2:
        return "programs/" + parts[1]
    return parts[0]


def layer(folder):
    return "programs" if folder.startswith("programs/") else folder


def allowed(user, used):
    """Whether code in folder `user` may use folder `used`."""
    if user == used:
        return True
    if layer(user) in DEVELOPER:
        return True
    if layer(used) == "programs":
        return False  # another program's folder
    return used in LAYERS.get(layer(user), set())


def check_includes(source_dir, faults):
    try:
        files = subprocess.run(["git", "ls-files", "*.c", "*.cc", "*.cpp", "*.h"],
                               cwd=source_dir, capture_output=True, text=True,
                               check=True).stdout.split()
    except (OSError, subprocess.CalledProcessError):  # not a git checkout
        files = [os.path.relpath(os.path.join(d, n), source_dir)
                 for d, _, names in os.walk(source_dir) for n in names
                 if n.endswith((".c", ".cc", ".cpp", ".h"))]
    include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
    for path in files:
        user = folder_of(path)
        if layer(user) in IGNORED or "/" not in path:
            continue
        if layer(user) not in LAYERS and layer(user) not in DEVELOPER:
            faults.append(f"{path}: folder {user}/ has no place in the layers")
            continue
        with open(os.path.join(source_dir, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                m = include.match(line)
                if not m or "/" not in m.group(1):
                    continue
                target = m.group(1)
                used = folder_of(target)
                if not os.path.exists(os.path.join(source_dir, target)):
                    continue  # a system or generated header
                if not allowed(user, used):
                    faults.append(f"{path}:{number}: {user}/ may not include {target}")
                elif (layer(user) in PUBLIC_ENGINE_ONLY and used == "engine"
                      and target != "engine/tovran.h"):
                    faults.append(f"{path}:{number}: {user}/ sees the engine through "
                                  f"engine/tovran.h only, not {target}")


def check_links(source_dir, graph, faults):
    targets = {}
    with open(graph, encoding="utf-8") as f:
        for line in f:
            name, directory, sources, links = (line.rstrip("\n").split("\t") + [""] * 4)[:4]
            folders = set()
            for source in sources.split(";"):
                if not source or source.startswith("$<"):
                    continue
                full = os.path.normpath(os.path.join(directory, source))
                rel = os.path.relpath(full, source_dir)
                if not rel.startswith(".."):
                    folders.add(folder_of(rel))
            targets[name] = (folders, [l for l in links.split(";") if l])
    for name, (folders, links) in sorted(targets.items()):
        if len(folders) != 1:
            continue  # interface, utility or all-layer object libraries
        (user,) = folders
        for link in links:
            if link not in targets or len(targets[link][0]) != 1:
                continue
            (used,) = targets[link][0]
            if not allowed(user, used):
                faults.append(f"{name} ({user}/) may not link {link} ({used}/)")
    # A target compiled from several layers' sources is a fault unless it is
    # the shared library's object collection.
    for name, (folders, _) in sorted(targets.items()):
        shipped = {f for f in folders if layer(f) not in DEVELOPER}
        if len(shipped) > 1 and name != "tovran_objects":
            faults.append(f"{name}: compiled from the sources of {', '.join(sorted(shipped))}")


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source_dir, graph = os.path.abspath(sys.argv[1]), sys.argv[2]
    faults = []
    check_includes(source_dir, faults)
    check_links(source_dir, graph, faults)
    for fault in faults:
        print(fault)
    if faults:
        sys.exit(1)
    print("includes and links run downward")


if __name__ == "__main__":
    main()
