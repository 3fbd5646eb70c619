#!/bin/sh
# Load test of tovran-serve with wrk on loopback: the item-cosine model of a
# data set (default the shared retail.txt), POST /recommend with baskets
# drawn from the data set's users, at 1, 4, 16 and 64 connections. Prints
# per run the requests per second, wrk's p50 and p99 latency, the server's
# own mean time per request (from its /metrics) and its peak resident
# memory; then the same requests answered in one process without HTTP
# (tovran-serve-baseline). Exits 0 without measuring when wrk is missing.
#
#   bench/serve_load.sh [BUILD [DATA [SECONDS [SERVER OPTIONS...]]]]
#
# BUILD is a build tree (default build), SECONDS each run's length (10).
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build}
data=${2:-$here/../../shared/data/retail.txt}
seconds=${3:-10}
[ $# -gt 3 ] && shift 3 || set --
if ! command -v wrk >/dev/null 2>&1; then
  echo "serve_load: wrk is not installed (Debian package wrk); nothing measured"
  exit 0
fi
for program in tovran-serve tovran-model tools/tovran-serve-baseline; do
  [ -x "$build/$program" ] || { echo "serve_load: $build/$program is not built" >&2; exit 1; }
done
work=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

"$build/tovran-model" build "$data" "$work/model.tovran" --kind 1 --threads 2 >/dev/null
# 2,000 users' baskets (every pair of the user), drawn with a fixed seed.
/usr/bin/python3 - "$data" "$work/bodies.txt" <<'PY'
import random, sys
baskets = {}
with open(sys.argv[1]) as data:
    next(data)
    for line in data:
        user, item = line.split()
        baskets.setdefault(user, []).append(item)
users = sorted(baskets, key=int)
random.Random(7).shuffle(users)
with open(sys.argv[2], "w") as out:
    for user in users[:2000]:
        out.write('{"items": [%s], "n": 10}\n' % ", ".join(baskets[user]))
PY
cat >"$work/post.lua" <<LUA
local bodies = {}
for line in io.lines("$work/bodies.txt") do bodies[#bodies + 1] = line end
local next_body = 0
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/json"
request = function()
  next_body = next_body % #bodies + 1
  return wrk.format(nil, "/recommend", nil, bodies[next_body])
end
LUA

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$build/tovran-serve" "$work/model.tovran" --port "$port" --quiet "$@" 2>"$work/server.log" &
server=$!
for _ in $(seq 100); do
  curl -sf "http://127.0.0.1:$port/health" >/dev/null 2>&1 && break
  sleep 0.1
done

# The server's total seconds and request count (arrival to departure), and
# the same for its handlers alone, from its metrics.
server_time() {
  curl -sf "http://127.0.0.1:$port/metrics" |
    awk '/^tovran_request_duration_seconds_sum/ {s=$2} /^tovran_request_duration_seconds_count/ {c=$2}
         /^tovran_handler_duration_seconds_sum/ {hs=$2} /^tovran_handler_duration_seconds_count/ {hc=$2}
         END {print s, c, hs, hc}'
}

echo "connections  requests/s  p50      p99      server us/request  handler us/request  non-2xx"
for connections in 1 4 16 64; do
  before=$(server_time)
  threads=$([ "$connections" -gt 1 ] && echo 2 || echo 1)
  wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency -s "$work/post.lua" \
    "http://127.0.0.1:$port" >"$work/wrk.txt"
  after=$(server_time)
  rps=$(awk '/^Requests\/sec/ {print $2}' "$work/wrk.txt")
  p50=$(awk '$1 == "50%" {print $2}' "$work/wrk.txt")
  p99=$(awk '$1 == "99%" {print $2}' "$work/wrk.txt")
  errors=$(awk '/Non-2xx/ {print $NF} /Socket errors/ {print "socket errors:", $0}' "$work/wrk.txt")
  own=$(echo "$before $after" | awk '{printf "%.1f", ($5 - $1) / ($6 - $2) * 1e6}')
  handler=$(echo "$before $after" | awk '{printf "%.1f", ($7 - $3) / ($8 - $4) * 1e6}')
  printf '%-12s %-11s %-8s %-8s %-18s %-19s %s\n' "$connections" "$rps" "$p50" "$p99" "$own" \
    "$handler" "${errors:-0}"
done
echo "peak resident memory: $(awk '/VmHWM/ {print $2, $3}' /proc/$server/status)" \
  "(model file $(stat -c %s "$work/model.tovran") bytes)"
echo "in process, one thread: $("$build/tools/tovran-serve-baseline" "$work/model.tovran" "$work/bodies.txt")"
