#!/usr/bin/env bash
# Scale: one tree of N tiny files (1 to 64 bytes, 1,000 per folder), copied
#   1. by a prePlanned request that lists every file and folder,
#   2. by a request that names only the root, so the worker scans it,
#   3. by cp -a,
# reporting each job's time and peak memory (/usr/bin/time %M), the memory per
# planned file above an empty job's, beside the path bytes each file holds
# (source, destination and staging path as UTF-16), and the scan rate (files
# listed per second up to the "Source scan complete." progress event).
# Then a request of N/2 (at least 200,000) ready-made entries of missing files,
# within the reader's limits, is run under a range of address-space limits
# (ulimit -v, from 1.5 to 16 times the request's size): allocation fails in
# the reader, the planner or a worker thread depending on the limit, and each
# run must end with a "complete" or a "fatal" event and exit code 0, 1 or 2:
# never a signal, never silence. (Eight threads reserve about 64 MiB of
# address space each for their allocator, so even the larger limits fail.)
#
#   scripts/hardening/scale.sh [--files N] [--worker PATH]   # default 1,000,000
#   scripts/hardening/scale.sh --files 20000                  # quick mode (CI)
#   scripts/hardening/scale.sh --tree DIR --copies /dev/shm   # reuse a tree
#
# Runs in WORK_DIR (default /tmp, a disk file system): a million files take
# about 4 GiB and a million inodes there. --tree reuses a tree of any shape
# (it is neither made nor removed); --copies puts the three copies in another
# folder. Each copy is removed once measured: on a disk mounted with
# "discard" removing a million files can take 20 minutes, which is why a
# tmpfs for the copies is worth it (about 5 GiB of memory per copy). Jobs run with 8 threads,
# read-ahead, no verification and completed-item events suppressed.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
worker=$here/../../build/linux-release/Quorvel.NativeWorker
files=1000000
tree=""
copies=""
while [ $# -gt 0 ]; do
  case $1 in
    --files) files=$2; shift 2 ;;
    --worker) worker=$2; shift 2 ;;
    --tree) tree=$(realpath "$2"); shift 2 ;;
    --copies) copies=$2; shift 2 ;;
    *) echo "usage: $0 [--files N] [--worker PATH] [--tree DIR] [--copies DIR]" >&2; exit 64 ;;
  esac
done
[ -x "$worker" ] || { echo "no worker at $worker" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }
base=${WORK_DIR:-/tmp}
work=$(mktemp -d "$base/qv-scale.XXXXXX")
copies=$(mktemp -d "${copies:-$work}/qv-scale-copies.XXXXXX")
trap 'rm -rf "$work" "$copies"' EXIT
echo "before:"; df -h "$base" | sed 's/^/  /'; df -i "$base" | tail -n 1 | sed 's/^/  inodes: /'

python3 - "$here" "$worker" "$work" "$files" "$tree" "$copies" <<'PY'
import json, os, resource, shutil, subprocess, sys, time
here, worker, work, files, given_tree, copies = sys.argv[1:]
files = int(files)
sys.path.insert(0, here)
import hardening as h

tree = given_tree or os.path.join(work, "tree")

def df():
    out = subprocess.run(["df", "-h", "--output=used,avail", work], capture_output=True, text=True).stdout
    return " ".join(out.split()[2:4])

def timed_remove(path):
    t0 = time.monotonic()
    shutil.rmtree(path)
    return time.monotonic() - t0

# ---- the tree: one process, nothing but os.open/os.write ----
t0 = time.monotonic()
if given_tree:
    files = sum(1 for _ in h.walk_files(tree))
    print("tree: %s, %d files (counted in %.1f s)" % (tree, files, time.monotonic() - t0), flush=True)
else:
    os.makedirs(tree)
    for i in range(files):
        if i % 1000 == 0:
            folder = os.path.join(tree, "d%05d" % (i // 1000))
            os.mkdir(folder)
        fd = os.open(os.path.join(folder, "file-%07d.txt" % i), os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
        os.write(fd, (b"%d;" % i) * (1 + i % 8))
        os.close(fd)
    print("tree: %d files in %.1f s; disk used/avail %s" % (files, time.monotonic() - t0, df()), flush=True)
print("copies go to %s (%s)" % (copies, subprocess.run(["stat", "-f", "-c", "%T", copies],
      capture_output=True, text=True).stdout.strip()), flush=True)

def run_job(name, request, expect_files):
    """Runs one job under /usr/bin/time, reading events as they come so the
    end of the scan can be timed. Returns (seconds, peak KiB, scan seconds)."""
    rss = os.path.join(work, name + ".rss")
    t0 = time.monotonic()
    p = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss, worker, "--request", request],
                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE)
    scan_end, last = None, b""
    for line in p.stdout:
        if scan_end is None and b"Source scan complete." in line:
            scan_end = time.monotonic() - t0
        last = line
    p.wait()
    seconds = time.monotonic() - t0
    done = json.loads(last)
    if p.returncode != 0 or done.get("type") != "complete" or done["completedFiles"] != expect_files:
        sys.exit("%s job failed: exit %s, %s" % (name, p.returncode, last[:300]))
    with open(rss) as f:
        peak = int(f.read().split()[-1])
    return seconds, peak, scan_end

# An empty job is the floor that the per-file figures are measured above.
empty = os.path.join(work, "empty")
os.mkdir(empty)
h.write_request(os.path.join(work, "req-empty"), os.path.join(work, "dst-empty"), [empty],
                workers=8, read_ahead=True, quiet_items=True)
_, floor, _ = run_job("empty", os.path.join(work, "req-empty"), 0)

dst = os.path.join(copies, "dst-planned")
planned, _ = h.planned_lists(tree, dst)
# What each file holds as paths: source, destination and staging path in
# UTF-16 (the read path is empty).
staging_extra = len(".qv-native-partial-") + 7 + 1 + len(str(files))
path_bytes = sum(2 * (len(s) + 2 * len(d) + staging_extra) for s, d, _, _ in planned) / files
del planned

results = []
h.write_request(os.path.join(work, "req-planned"), dst, planned_from=tree,
                workers=8, read_ahead=True, quiet_items=True)
request_mib = os.path.getsize(os.path.join(work, "req-planned")) / 1048576
seconds, peak, _ = run_job("planned", os.path.join(work, "req-planned"), files)
print("prePlanned: %.1f s, peak %d MiB (request file %.0f MiB), %.0f bytes per file above an empty job (%d MiB), paths %.0f bytes of them; disk %s" % (
    seconds, peak // 1024, request_mib, (peak - floor) * 1024 / files, floor // 1024, path_bytes, df()), flush=True)
results.append(("worker, prePlanned", seconds, peak))
print("  removed in %.1f s" % timed_remove(dst), flush=True)

dst = os.path.join(copies, "dst-scanned")
h.write_request(os.path.join(work, "req-scan"), dst, [tree], workers=8, read_ahead=True, quiet_items=True)
seconds, peak, scan = run_job("scanned", os.path.join(work, "req-scan"), files)
print("scanned: %.1f s, scan %.1f s (%.0f files/s), peak %d MiB, %.0f bytes per file above an empty job, paths %.0f bytes of them" % (
    seconds, scan, files / scan, peak // 1024, (peak - floor) * 1024 / files, path_bytes), flush=True)
results.append(("worker, scanned", seconds, peak))
print("  removed in %.1f s" % timed_remove(dst), flush=True)

dst = os.path.join(copies, "dst-cp")
t0 = time.monotonic()
subprocess.run(["/usr/bin/time", "-f", "%M", "-o", os.path.join(work, "cp.rss"), "cp", "-a", tree, dst], check=True)
seconds = time.monotonic() - t0
with open(os.path.join(work, "cp.rss")) as f:
    peak = int(f.read().split()[-1])
results.append(("cp -a", seconds, peak))
print("cp -a: %.1f s, peak %d MiB; disk %s" % (seconds, peak // 1024, df()), flush=True)
print("  removed in %.1f s" % timed_remove(dst), flush=True)
if not given_tree:
    print("  tree removed in %.1f s" % timed_remove(tree), flush=True)

print("== %d tiny files" % files)
for name, seconds, peak in results:
    print("  %-20s %7.1f s  %5.2fx cp -a  peak %d MiB" % (name, seconds, seconds / results[-1][1], peak // 1024))

# ---- too large for memory: within the reader's limits, past ulimit -v ----
# Ready-made entries with 120-byte paths that do not exist (the job never
# gets that far when memory runs out; when it does, each file fails alone).
entries = max(files // 2, 200000)
big = os.path.join(work, "req-big")
pad = "x" * 100
with open(big, "wb") as f:
    f.write(h.request_bytes(os.path.join(work, "dst-big"), (), (), (), workers=8,
                            read_ahead=True, planned=True, quiet_items=True)[:-8])
    import struct
    f.write(struct.pack("<I", entries))
    for i in range(entries):
        s = "/nonexistent/%s/%010d" % (pad, i)
        f.write(h._text(s) + h._text("") + h._text(os.path.join(work, "dst-big", "%010d" % i)) + struct.pack("<QQ", 1, 0))
    f.write(struct.pack("<I", 0))
size_mib = os.path.getsize(big) / 1048576
print("== a request of %d entries (%.0f MiB) under ulimit -v" % (entries, size_mib))
crashes = 0
for limit_mib in [int(size_mib * k) for k in (1.5, 2, 3, 4, 5, 6, 8, 12, 16)]:
    def limit(limit_mib=limit_mib):
        resource.setrlimit(resource.RLIMIT_AS, (limit_mib << 20, limit_mib << 20))
    p = subprocess.run([worker, "--request", big], stdin=subprocess.DEVNULL, capture_output=True,
                       preexec_fn=limit)
    lines = p.stdout.splitlines()
    last = lines[-1].decode("utf-8", "replace") if lines else ""
    try:
        kind = json.loads(last).get("type")
    except ValueError:
        kind = None   # cut off mid-line: the process died while writing
    ok = p.returncode in (0, 1, 2) and kind in ("complete", "fatal") and \
        (kind == "fatal") == (p.returncode == 1)
    crashes += not ok
    print("  ulimit -v %5d MiB: exit %4d, last line %s %s" % (limit_mib, p.returncode, last[:150],
          "ok" if ok else "CRASH " + p.stderr.decode("utf-8", "replace")[-300:]), flush=True)
shutil.rmtree(os.path.join(work, "dst-big"), ignore_errors=True)
print("memory-limit runs that did not end in complete or fatal: %d" % crashes)
sys.exit(1 if crashes else 0)
PY
echo "after:"; df -h "$base" | sed 's/^/  /'
