#!/usr/bin/env bash
# SHA-256 throughput of the worker's verify-only job (mode 3) against
# sha256sum and openssl dgst -sha256 over the same files, on a hot page
# cache, printed as ratios measured in this run.
#
# Two data sets, each a source tree and an equal destination tree:
#   large: two files of 512 MiB
#   small: 20,000 files of 1 to 16 KiB
# The worker hashes every destination, then its source, so each tool is
# timed over both trees. The worker runs with 2 workers (the host's setting
# under test) and with 1, which compares its hashing with openssl's on
# equal terms: one thread each.
#
# Usage: bench/verify_bench.sh [worker-binary]
#   worker-binary defaults to $QV_WORKER, then build/linux-release's worker.
#   BENCH_DIR (default: a fresh folder under /tmp) holds about 2.3 GiB of
#   data and is removed at the end unless KEEP=1. RUNS (default 3) is the
#   number of timed runs per measurement; the best one is reported.
set -euo pipefail

here="$(cd "$(dirname "$0")/.." && pwd)"
worker="${1:-${QV_WORKER:-$here/build/linux-release/Quorvel.NativeWorker}}"
runs="${RUNS:-3}"
[[ -x "$worker" ]] || { echo "worker not found: $worker (build the linux-release preset)" >&2; exit 1; }
for tool in sha256sum openssl python3; do
  command -v "$tool" >/dev/null || { echo "$tool is required" >&2; exit 1; }
done

dir="${BENCH_DIR:-$(mktemp -d /tmp/qv-verify-bench.XXXXXX)}"
mkdir -p "$dir"
cleanup() { [[ "${KEEP:-0}" == 1 ]] || rm -rf "$dir"; }
trap cleanup EXIT

echo "building data in $dir ..." >&2
python3 - "$dir" <<'PY'
import os, random, struct, sys

root = sys.argv[1]
rng = random.Random(20240601)

def tree(name, files):
    """Writes files[i] = (relative name, bytes) under name/src and name/dst."""
    for side in ("src", "dst"):
        os.makedirs(os.path.join(root, name, side), exist_ok=True)
    for rel, data in files:
        for side in ("src", "dst"):
            with open(os.path.join(root, name, side, rel), "wb") as f:
                f.write(data)

def big(name, size):
    # Random bytes, written in chunks so memory stays small; both sides equal.
    for side in ("src", "dst"):
        os.makedirs(os.path.join(root, "large", side), exist_ok=True)
    seed = rng.getrandbits(64)
    paths = [os.path.join(root, "large", side, name) for side in ("src", "dst")]
    outs = [open(p, "wb") for p in paths]
    chunk_rng = random.Random(seed)
    left = size
    while left:
        n = min(left, 8 << 20)
        data = chunk_rng.randbytes(n)
        for o in outs:
            o.write(data)
        left -= n
    for o in outs:
        o.close()

if not os.path.exists(os.path.join(root, "large", "dst", "b")):
    big("a", 512 << 20)
    big("b", 512 << 20)
if not os.path.exists(os.path.join(root, "small", "dst", "f19999")):
    tree("small", [("f%05d" % i, rng.randbytes(rng.randint(1024, 16384)))
                   for i in range(20000)])

def s(text):
    b = text.encode("utf-8")
    return struct.pack("<I", len(b)) + b

def request(name, workers):
    # The request file: a verify-only job in mode 3 over every file of the
    # data set, each destination checked against its source.
    src = os.path.join(root, name, "src")
    dst = os.path.join(root, name, "dst")
    names = sorted(os.listdir(src))
    out = bytearray(b"QVCWREQ1")
    out += struct.pack("<I", 3)
    out += struct.pack("<BBBB", 1, 0, 3, 0)  # verifyOnly, conflict, mode, reserved
    # workers, minimum, verify workers, bufferSize, retries, options,
    # small-file threshold, queue files, memory budget
    out += struct.pack("<9I", workers, 1, 0, 4 << 20, 1, 0, 262144, 128, 256)
    out += s(dst)
    out += struct.pack("<I", 0)  # source roots
    out += struct.pack("<I", len(names))
    for n in names:
        size = os.path.getsize(os.path.join(src, n))
        out += s(os.path.join(src, n)) + s("") + s(os.path.join(dst, n))
        out += struct.pack("<QQ", size, 0)
    out += struct.pack("<I", 0)  # directories
    with open(os.path.join(root, "%s-%d.req" % (name, workers)), "wb") as f:
        f.write(out)

for name in ("large", "small"):
    for workers in (1, 2):
        request(name, workers)
PY

# "wall cpu": the best wall-clock seconds and the best CPU seconds (user +
# system, children included) of $runs runs of "$@" (output discarded), after
# one untimed run that warms the cache. CPU seconds hold up on a busy
# machine, where wall-clock figures mostly measure the other load.
best_of() {
  "$@" >/dev/null
  local wall="" cpu="" t w c
  for ((i = 0; i < runs; i++)); do
    t=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null; } 2>&1 | tail -1)
    w=$(awk '{print $1}' <<<"$t")
    c=$(awk '{print $2 + $3}' <<<"$t")
    if [[ -z "$wall" ]] || (( $(echo "$w < $wall" | bc -l) )); then wall=$w; fi
    if [[ -z "$cpu" ]] || (( $(echo "$c < $cpu" | bc -l) )); then cpu=$c; fi
  done
  echo "$wall $cpu"
}

# A verify-only job that must pass every item.
worker_job() {
  local out
  out=$("$worker" --request "$1" </dev/null)
  grep -q '"type":"complete".*"failedFiles":0,' <<<"$out" || { echo "worker job failed: $1" >&2; exit 1; }
}

# Hashes every file of both trees in one process, in the order the worker
# reads them (all destinations, then all sources, as each file's digest does).
sha256sum_trees() { find "$1/dst" "$1/src" -type f -print0 | xargs -0 sha256sum; }
openssl_trees() { find "$1/dst" "$1/src" -type f -print0 | xargs -0 openssl dgst -sha256; }

printf '%s\n' "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) logical processors"
printf '%s\n' "load average before the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%s\n' "best of $runs runs, hot cache; GB/s = 1e9 bytes hashed (source + destination) per second"
printf '%s\n' "wall: per second of elapsed time; cpu: per CPU second (user + system)"
rate() { echo "scale=2; $1 / $2 / 1000000000" | bc -l | sed 's/^\./0./'; }
ratio() { echo "scale=2; $1 / $2" | bc -l | sed 's/^\./0./'; }
for name in large small; do
  bytes=$(du -sb --apparent-size "$dir/$name/src" "$dir/$name/dst" | awk '{s += $1} END {printf "%.0f\n", s}')
  read -r w2 c2 <<<"$(best_of worker_job "$dir/$name-2.req")"
  read -r w1 c1 <<<"$(best_of worker_job "$dir/$name-1.req")"
  read -r ws cs <<<"$(best_of sha256sum_trees "$dir/$name")"
  read -r wo co <<<"$(best_of openssl_trees "$dir/$name")"
  echo
  echo "$name: $(ratio "$bytes" 1000000000) GB over both trees"
  printf '  %-22s wall %6s GB/s   cpu %6s GB/s\n' \
    "worker, 2 workers" "$(rate "$bytes" "$w2")" "$(rate "$bytes" "$c2")" \
    "worker, 1 worker" "$(rate "$bytes" "$w1")" "$(rate "$bytes" "$c1")" \
    "sha256sum" "$(rate "$bytes" "$ws")" "$(rate "$bytes" "$cs")" \
    "openssl dgst -sha256" "$(rate "$bytes" "$wo")" "$(rate "$bytes" "$co")"
  echo "  worker (2 workers) vs sha256sum, elapsed: $(ratio "$ws" "$w2")x faster"
  echo "  worker (1 worker) vs openssl dgst, elapsed: $(ratio "$wo" "$w1")x, per CPU second: $(ratio "$co" "$c1")x"
done
echo
echo "(worker figures include process start, reading the request and the reporter's last 100 ms period)"
