#!/bin/sh
# Generates the benchmark's data shapes with tovran-generate (into DIR,
# default /tmp/tovran-shapes, kept between runs) and prints tovran_shapes'
# table for them, followed by the shared data sets when they are present.
#
#   bench/shapes.sh [BUILD [DIR [tovran_shapes options...]]]
#
# BUILD is a build tree configured with -DTOVRAN_BENCH=ON (default
# build-bench). A shape's name reads users/mean basket/Zipf exponent.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build-bench}
dir=${2:-/tmp/tovran-shapes}
[ $# -gt 2 ] && shift 2 || set --
mkdir -p "$dir"

# name pairs items zipf mean (seed 1 throughout)
shapes="20k/12/1.1:240000:6000:1.1:10.5
4k/45/0.7:180000:2500:0.7:43
180k/6/0.6:1000000:40000:0.6:4
2k/60/1.3:120000:1000:1.3:58
55k/18/1.3:1000000:10000:1.3:16
110k/9/0.9:1000000:20000:0.9:8
20k/60/0.9:1200000:8000:0.9:58"

args=""
for shape in $shapes; do
  IFS=: read -r name pairs items zipf mean <<SHAPE
$shape
SHAPE
  file="$dir/$(echo "$name" | tr / _).txt"
  [ -s "$file" ] || "$build/tools/tovran-generate" "$pairs" 1 "$items" "$zipf" "$mean" > "$file"
  args="$args $name=$file"
done
for data in ml100k retail; do
  file="$here/../../shared/data/$data.txt"
  [ -f "$file" ] && args="$args $data=$file"
done
# shellcheck disable=SC2086
exec "$build/bench/tovran_shapes" "$@" $args
