#!/usr/bin/env bash
# Installs the build tree BUILD into a fresh prefix, builds the consumer
# project against it and runs it, then imports the installed Python module.
set -euo pipefail
build=$1
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$here" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/build" >/dev/null
for program in consumer_shared consumer_static consumer_c; do
  echo "$program: $("$work/build/$program")"
done
"$work/prefix/bin/tovran" "$here/../../data/sample.txt" >"$work/report"
head -1 "$work/report"
"$work/prefix/bin/tovran-convert" --help >"$work/usage"
head -1 "$work/usage"
pydir=$(find "$work/prefix" -type d -path '*/tovran/python' | head -1)
PYTHONPATH="$pydir" PYTHONDONTWRITEBYTECODE=1 python3 -c '
import tovran
with tovran.Model([0, 0, 1, 1, 2, 2], [0, 1, 0, 1, 0, 1], nnbr=5) as m:
    print("python:", m.recommend([0]))
'
