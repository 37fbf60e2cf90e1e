#!/usr/bin/env bash
# A/B of worker binaries on one tree: runs them alternately, so that a busy
# moment of the machine falls on all of them, and prints each binary's
# median wall and CPU time (user + system of all threads). Use it to decide
# whether a change to the hot path helps; a single bench/copy_bench.sh run
# is too noisy for differences of a few percent.
#
#   bench/ab_workers.sh TREE REPS THREADS WORKER...
#   bench/ab_workers.sh /dev/shm/tiny 9 8 /tmp/old/Quorvel.NativeWorker build/linux-release/Quorvel.NativeWorker
#
# Copies go to a scratch folder beside TREE (removed before every run); the
# request asks for read-ahead and preserved metadata.
set -euo pipefail
[ $# -ge 4 ] || { sed -n '2,12p' "$0"; exit 64; }
here=$(cd "$(dirname "$0")" && pwd)
tree=$(cd "$1" && pwd); reps=$2; threads=$3; shift 3
work=$(mktemp -d "$(dirname "$tree")/qv-ab.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 "$here/make_request.py" "$work/request" --dest "$work/out" --source "$tree" \
  --workers "$threads" --read-ahead --preserve >/dev/null
for _ in $(seq "$reps"); do
  for i in $(seq $#); do
    rm -rf "$work/out"
    /usr/bin/time -f "$i %e %U %S" "${!i}" --request "$work/request" >/dev/null 2>>"$work/times"
  done
done
python3 - "$work/times" "$@" <<'PY'
import collections, statistics, sys
runs = collections.defaultdict(list)
for line in open(sys.argv[1]):
    index, wall, user, system = line.split()
    runs[int(index)].append((float(wall), float(user) + float(system)))
for index, worker in enumerate(sys.argv[2:], 1):
    r = runs[index]
    print(f"wall {statistics.median(w for w, _ in r):.3f} s  cpu {statistics.median(c for _, c in r):.3f} s"
          f"  ({len(r)} runs)  {worker}")
PY
