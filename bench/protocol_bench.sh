#!/bin/sh
# The cost of the evaluation protocols on one data set: wall and CPU seconds
# (user + system; each the least of REPS interleaved runs) and peak memory of
# tovran for leave-last-out, random:1, random:0.2 and the bootstrap's 1000
# resamples against 1 on leave-last-out and random:1. On a shared machine
# the CPU seconds vary less than the wall seconds.
# Usage: bench/protocol_bench.sh TOVRAN DATA [REPS] [KINDS]
set -eu
tovran=$1 data=$2 reps=${3:-3} kinds=${4:-0,1}
configs="last|--bootstrap|1
last-B1000|--bootstrap|1000
random:1|--split|random:1|--bootstrap|1
random:1-B1000|--split|random:1|--bootstrap|1000
random:0.2|--split|random:0.2|--bootstrap|1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for rep in $(seq "$reps"); do
  echo "$configs" | while IFS= read -r config; do
    name=${config%%|*}
    args=$(echo "${config#*|}" | tr '|' ' ')
    # shellcheck disable=SC2086
    /usr/bin/time -f "%e %M %U %S" -o "$tmp/time" "$tovran" --kinds "$kinds" --summary --no-progress \
      $args "$data" > "$tmp/out" 2> /dev/null
    echo "$name $(cat "$tmp/time") $(grep -c '' "$tmp/out")" >> "$tmp/all"
  done
done
echo "config         least_s least_cpu_s   peak_MB"
awk '{ cpu = $4 + $5
       if (!($1 in wall) || $2 < wall[$1]) wall[$1] = $2
       if (!($1 in least) || cpu < least[$1]) least[$1] = cpu
       if ($3 > peak[$1]) peak[$1] = $3 }
     END { for (c in wall) printf "%-14s %7.2f %11.2f %9.1f\n", c, wall[c], least[c], peak[c] / 1024 }' \
  "$tmp/all" | sort
