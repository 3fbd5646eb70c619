#!/bin/sh
# The cost of the evaluation protocols on one data set: wall seconds (least
# of REPS interleaved runs) and peak memory of tovran for leave-last-out,
# random:1, random:0.2 and the bootstrap's 1000 resamples against 1.
# Usage: bench/protocol_bench.sh TOVRAN DATA [REPS] [KINDS]
set -eu
tovran=$1 data=$2 reps=${3:-3} kinds=${4:-0,1}
configs="last|--bootstrap|1
last-B1000|--bootstrap|1000
random:1|--split|random:1|--bootstrap|1
random:0.2|--split|random:0.2|--bootstrap|1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for rep in $(seq "$reps"); do
  echo "$configs" | while IFS= read -r config; do
    name=${config%%|*}
    args=$(echo "${config#*|}" | tr '|' ' ')
    # shellcheck disable=SC2086
    /usr/bin/time -f "%e %M" -o "$tmp/time" "$tovran" --kinds "$kinds" --summary --no-progress \
      $args "$data" > "$tmp/out" 2> /dev/null
    echo "$name $(cat "$tmp/time") $(grep -c '' "$tmp/out")" >> "$tmp/all"
  done
done
echo "config         least_s   peak_MB"
sort -k1,1 -k2,2n "$tmp/all" | awk '!seen[$1]++ { printf "%-14s %7.2f %9.1f\n", $1, $2, $3 / 1024 }'
