#!/usr/bin/env bash
# Cancel and pause storms: copy jobs of 20,000 tiny files and three of 32 MiB
# with 64 threads and read-ahead, while "pause", "resume" and "cancel" arrive
# on standard input at random moments. Every run must end with exactly one
# "complete" line (last, no "fatal"), exit code 2 when failedFiles > 0 and 0
# otherwise, completedFiles + skippedFiles + failedFiles <= totalFiles, no
# staging file left, as many files at the destination as completedFiles, and
# every one of them byte-identical to its source. A run still going long after
# its last command is a hang.
#
#   scripts/hardening/storms.sh [--runs N] [--worker PATH]     # default 100 runs
#   scripts/hardening/storms.sh --runs 3                        # quick mode (CI)
#   scripts/hardening/storms.sh --tsan [--runs N]               # default 10 runs
#
# --tsan takes the worker from build/linux-tsan and also fails a run whose
# standard error holds "WARNING: ThreadSanitizer". The tree is generated once
# per invocation in WORK_DIR (default /dev/shm, else /tmp) and reused by every
# run. SEED=N repeats a storm. Exit code 0 when every run passed.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
runs=""
tsan=0
worker=""
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --worker) worker=$2; shift 2 ;;
    --tsan) tsan=1; shift ;;
    *) echo "usage: $0 [--runs N] [--worker PATH] [--tsan]" >&2; exit 64 ;;
  esac
done
if [ "$tsan" = 1 ]; then
  worker=${worker:-$here/../../build/linux-tsan/Quorvel.NativeWorker}
  runs=${runs:-10}
else
  worker=${worker:-$here/../../build/linux-release/Quorvel.NativeWorker}
  runs=${runs:-100}
fi
[ -x "$worker" ] || { echo "no worker at $worker" >&2; exit 1; }
base=${WORK_DIR:-$([ -d /dev/shm ] && echo /dev/shm || echo /tmp)}
work=$(mktemp -d "$base/qv-storm.XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 "$here/hardening.py" tree "$work/tree" --small 20000 --max-small 2048 --large 3 --large-mib 32 --per-folder 1000
echo "tree: 20,003 files in $work/tree; worker $worker; $runs runs"

python3 - "$here" "$worker" "$work" "$runs" "$tsan" <<'PY'
import os, random, shutil, subprocess, sys, time
here, worker, work, runs, tsan = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), sys.argv[5] == "1"
sys.path.insert(0, here)
import hardening as h

src = os.path.join(work, "tree")
dst = os.path.join(work, "dst")
req = os.path.join(work, "req")
seed = int(os.environ.get("SEED", time.time_ns() % 1000000))
rng = random.Random(seed)
print("seed %d (SEED=%d repeats the commands and their moments)" % (seed, seed), flush=True)

def start(verify):
    h.write_request(req, dst, [src], workers=64, verify=verify, read_ahead=True)
    out = open(os.path.join(work, "events"), "wb")
    err = open(os.path.join(work, "stderr"), "wb")
    p = subprocess.Popen([worker, "--request", req], stdin=subprocess.PIPE, stdout=out, stderr=err)
    return p, out, err

# One uninterrupted job sets the time scale of the storms.
t0 = time.monotonic()
p, out, err = start("crc32")
p.stdin.close()
p.wait()
span = time.monotonic() - t0
out.close(); err.close()
done, problems = h.check_outcome(h.read_events(os.path.join(work, "events")), p.returncode)
with open(os.path.join(work, "stderr"), "rb") as f:
    stderr = f.read()
    if stderr:
        problems.append("standard error: " + stderr.decode("utf-8", "replace")[:4000])
if problems or done["completedFiles"] != done["totalFiles"]:
    sys.exit("an uninterrupted job failed: %s %s" % (problems, done))
shutil.rmtree(dst)
print("an uninterrupted job takes %.2f s" % span, flush=True)

failed_runs = 0
latencies = []
tally = {"cancelled": 0, "finished": 0, "with failed files": 0}
for run in range(1, runs + 1):
    verify = rng.choice(["none", "crc32", "sha256", "sampled"])
    p, out, err = start(verify)
    sent, paused, cancel_at = [], False, None
    t0 = time.monotonic()
    try:
        # Six runs in ten end with a cancel, the others run to their end.
        storm = [rng.choice(["pause", "resume"]) for _ in range(rng.randint(1, 8))]
        if rng.random() < 0.6:
            storm.append("cancel")
        for command in storm:
            time.sleep(rng.uniform(0, span / len(storm)))
            if command == "pause" and rng.random() < 0.3:
                p.stdin.write(b"pause\n"); p.stdin.flush()
                time.sleep(rng.uniform(0.1, 0.5))   # a pause long enough to be seen
            p.stdin.write(command.encode() + (b"\r\n" if rng.random() < 0.2 else b"\n"))
            p.stdin.flush()
            sent.append("%s@%.2f" % (command, time.monotonic() - t0))
            if command == "cancel":
                cancel_at = time.monotonic() - t0
            paused = command == "pause" or (paused and command != "resume" and command != "cancel")
            if command == "cancel":
                break
        if paused:
            last = rng.choice(["resume", "cancel"])
            p.stdin.write(last.encode() + b"\n"); p.stdin.flush()
            sent.append("%s@%.2f" % (last, time.monotonic() - t0))
            if last == "cancel":
                cancel_at = time.monotonic() - t0
        p.stdin.close()
    except BrokenPipeError:
        pass   # the job ended between two commands
    try:
        p.wait(timeout=span * 10 + 60)
        elapsed = time.monotonic() - t0
        hang = False
    except subprocess.TimeoutExpired:
        p.kill(); p.wait(); hang = True
        elapsed = time.monotonic() - t0
    out.close(); err.close()
    events = h.read_events(os.path.join(work, "events"))
    done, problems = h.check_outcome(events, p.returncode)
    if hang:
        problems.append("still running %.0f s after its last command" % (span * 10 + 60))
    counts, dest_problems = h.check_destination(src, dst, allow_staging=False)
    problems += dest_problems[:10]
    if done and counts["committed"] != done["completedFiles"]:
        problems.append("%d files at the destination, completedFiles %d" % (counts["committed"], done["completedFiles"]))
    with open(os.path.join(work, "stderr"), "rb") as f:
        stderr = f.read()
    if tsan and b"WARNING: ThreadSanitizer" in stderr:
        problems.append("ThreadSanitizer reports: %d" % stderr.count(b"WARNING: ThreadSanitizer"))
        sys.stderr.write(stderr.decode("utf-8", "replace")[:6000])
    elif stderr:
        problems.append("standard error: %r" % stderr[:300])
    if cancel_at is not None:
        latencies.append(elapsed - cancel_at)
    if done:
        tally["cancelled" if done["cancelled"] else "finished"] += 1
        if done["failedFiles"]:
            tally["with failed files"] += 1
    summary = ("completed %(completedFiles)d skipped %(skippedFiles)d failed %(failedFiles)d of %(totalFiles)d cancelled %(cancelled)s" % done) if done else "no complete line"
    print("run %3d: %-7s exit %s %.2f s, %s; sent %s: %s" % (
        run, verify, p.returncode, elapsed, summary, " ".join(sent),
        "ok" if not problems else "FAIL"), flush=True)
    for line in problems:
        print("    " + line, flush=True)
    if problems:
        failed_runs += 1
        keep = os.path.join(work, "..", "qv-storm-failed-%d-%d" % (os.getpid(), run))
        shutil.copytree(work, keep, ignore=shutil.ignore_patterns("tree"))
        print("    kept in " + os.path.realpath(keep), flush=True)
    shutil.rmtree(dst, ignore_errors=True)

if latencies:
    latencies.sort()
    print("from cancel to exit: median %.2f s, worst %.2f s over %d cancels" % (
        latencies[len(latencies) // 2], latencies[-1], len(latencies)))
print("runs: %d; cancelled %d, finished %d, with failed files %d; runs with a problem: %d" % (
    runs, tally["cancelled"], tally["finished"], tally["with failed files"], failed_runs))
sys.exit(1 if failed_runs else 0)
PY
