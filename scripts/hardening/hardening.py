"""Shared pieces of the hardening scripts: trees, requests, runs and checks.

Used as a module by the other scripts in this folder and as a small command
line by the bash ones:

    hardening.py tree ROOT --small N [--large N --large-mib M] [--seed S]
    hardening.py request OUT --dest DIR (--source ROOT... | --planned-from ROOT)
                 [--workers N] [--verify MODE] [--read-ahead] [--policy N]
                 [--quiet-items]
    hardening.py check SOURCE DEST [--allow-staging] [--pid PID]

Every generated file starts with its own number, so two files never share
content and a byte landing in the wrong file is seen.
"""
import argparse
import json
import os
import random
import re
import stat
import struct
import sys

MODES = {"none": 0, "sampled": 1, "crc32": 2, "sha256": 3, "full": 4}
OPT_PRESERVE = 1 | 2
OPT_PREPLANNED = 8
OPT_READ_AHEAD = 16
OPT_QUIET_ITEMS = 64
# 100 ns units between 1601-01-01 and 1970-01-01.
EPOCH_1601 = 116444736000000000

# The name a staging file takes beside its destination: the destination,
# then ".qv-native-partial-", the worker's process id, "-" and the item index.
STAGING = re.compile(r"^(.*)\.qv-native-partial-(\d+)-(\d+)$")


# ---- trees ----

def make_tree(root, small, large=0, large_mib=0, seed=1, per_folder=500,
              max_small=8192, over_threshold_every=0):
    """Writes `small` files of 0..max_small bytes in folders of `per_folder`,
    and `large` files of `large_mib` MiB at the top. Every
    `over_threshold_every`-th small file is 300 KiB instead, which is past
    the read-ahead threshold and goes through the system copier."""
    rng = random.Random(seed)
    noise = rng.randbytes(1 << 20)
    os.makedirs(root, exist_ok=True)
    for i in range(small):
        folder = os.path.join(root, "d%04d" % (i // per_folder))
        if i % per_folder == 0:
            os.makedirs(os.path.join(folder, "sub"), exist_ok=True)
        name = ("sub/f%07d.bin" if i % 3 == 0 else "f%07d.bin") % i
        size = rng.randint(0, max_small)
        if over_threshold_every and i % over_threshold_every == 0:
            size = 300 * 1024
        head = b"%d:" % i
        start = rng.randrange(len(noise) - size) if size else 0
        data = (head + noise[start:start + size])[:size]
        fd = os.open(os.path.join(folder, name), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
        try:
            os.write(fd, data)
        finally:
            os.close(fd)
    for i in range(large):
        with open(os.path.join(root, "large%02d.bin" % i), "wb") as f:
            for block in range(large_mib):
                mark = b"large %d block %d:" % (i, block)
                f.write(mark + noise[len(mark):])


def walk_tree(root):
    """Yields (relative path, stat) for every entry below root, a folder
    before what it holds; links are not followed."""
    stack = [""]
    while stack:
        rel = stack.pop()
        with os.scandir(os.path.join(root, rel)) as entries:
            for entry in entries:
                child = os.path.join(rel, entry.name) if rel else entry.name
                st = entry.stat(follow_symlinks=False)
                if stat.S_ISDIR(st.st_mode):
                    stack.append(child)
                yield child, st


def walk_files(root):
    """Yields (relative path, stat) for every non-folder below root."""
    for child, st in walk_tree(root):
        if not stat.S_ISDIR(st.st_mode):
            yield child, st


# ---- requests ----

def _text(value):
    data = value.encode("utf-8", "surrogateescape")
    return struct.pack("<I", len(data)) + data


def request_bytes(dest, sources=(), files=(), folders=(), workers=8,
                  verify="none", read_ahead=False, policy=0, planned=False,
                  quiet_items=False, preserve=True, retries=1):
    """files: (source, destination, size, lastWriteTime) tuples;
    folders: (source, destination) pairs."""
    flags = OPT_PRESERVE if preserve else 0
    if read_ahead:
        flags |= OPT_READ_AHEAD
    if planned:
        flags |= OPT_PREPLANNED
    if quiet_items:
        flags |= OPT_QUIET_ITEMS
    parts = [b"QVCWREQ1", struct.pack("<I", 3),
             struct.pack("<BBBB", 0, policy, MODES[verify], 0),
             struct.pack("<9I", workers, 1, 0, 4194304, retries, flags,
                         262144, 128, 256),
             _text(dest), struct.pack("<I", len(sources))]
    parts += [_text(s) for s in sources]
    parts.append(struct.pack("<I", len(files)))
    for source, destination, size, written in files:
        parts += [_text(source), _text(""), _text(destination),
                  struct.pack("<QQ", size, written)]
    parts.append(struct.pack("<I", len(folders)))
    for source, destination in folders:
        parts += [_text(source), _text(""), _text(destination)]
    return b"".join(parts)


def planned_lists(source_root, dest_root):
    """The ready-made file and folder lists that copy source_root into
    dest_root/<its name>, as a host that planned the job itself would send."""
    top = os.path.join(dest_root, os.path.basename(source_root.rstrip("/")))
    files, folders = [], [(source_root, top)]
    for child, st in walk_tree(source_root):
        if stat.S_ISDIR(st.st_mode):
            folders.append((os.path.join(source_root, child), os.path.join(top, child)))
        elif stat.S_ISREG(st.st_mode):
            files.append((os.path.join(source_root, child), os.path.join(top, child),
                          st.st_size, st.st_mtime_ns // 100 + EPOCH_1601))
    return files, folders


def write_request(out, dest, sources=(), planned_from=None, **options):
    files, folders = ((), ())
    if planned_from:
        files, folders = planned_lists(planned_from, dest)
        options["planned"] = True
    with open(out, "wb") as f:
        f.write(request_bytes(dest, sources, files, folders, **options))
    return len(files)


# ---- events ----

def read_events(path):
    """Parses the event stream; a line that is not JSON is kept as text."""
    events = []
    with open(path, "rb") as f:
        for raw in f:
            try:
                events.append(json.loads(raw))
            except ValueError:
                events.append({"type": "<unparsable>", "text": raw[:200]})
    return events


def check_outcome(events, exit_code):
    """The job's end as the host sees it: exactly one "complete" line, last,
    no "fatal", the exit code the counters call for, and counters that never
    add up past the total. Returns (complete event or None, problems)."""
    problems = []
    completes = [e for e in events if e.get("type") == "complete"]
    if len(completes) != 1:
        problems.append("%d complete lines" % len(completes))
    if any(e.get("type") == "fatal" for e in events):
        problems.append("fatal event: %s" % [e for e in events if e.get("type") == "fatal"][0])
    if any(e.get("type") == "<unparsable>" for e in events):
        problems.append("unparsable event line")
    if not completes:
        return None, problems
    done = completes[0]
    if events[-1] is not done:
        problems.append("complete is not the last line")
    want = 2 if done["failedFiles"] > 0 else 0
    if exit_code != want:
        problems.append("exit code %s, counters call for %d" % (exit_code, want))
    settled = done["completedFiles"] + done["skippedFiles"] + done["failedFiles"]
    if settled > done["totalFiles"]:
        problems.append("completed+skipped+failed %d > totalFiles %d" % (settled, done["totalFiles"]))
    return done, problems


# ---- destinations ----

def _same_bytes(a, b):
    with open(a, "rb") as fa, open(b, "rb") as fb:
        while True:
            x = fa.read(1 << 20)
            if x != fb.read(1 << 20):
                return False
            if not x:
                return True


def check_destination(source_root, dest_root, allow_staging, pid=None):
    """Compares every name under dest_root/<name of source_root> with the
    source. Returns a dict of counts and a list of problems: a committed file
    that differs from its source (a partial destination), a name with no
    source, and (unless allowed) a staging file. With `pid`, a staging file
    must carry that process id."""
    top = os.path.join(dest_root, os.path.basename(source_root.rstrip("/")))
    counts = {"committed": 0, "staging": 0, "partial": 0, "stray": 0}
    problems = []
    if not os.path.isdir(top):
        return counts, problems
    for rel, st in walk_files(top):
        match = STAGING.match(rel)
        if match and os.path.isfile(os.path.join(source_root, match.group(1))) and \
                (pid is None or int(match.group(2)) == pid):
            counts["staging"] += 1
            if not allow_staging:
                problems.append("staging file left: " + rel)
            continue
        source = os.path.join(source_root, rel)
        if not stat.S_ISREG(st.st_mode) or not os.path.isfile(source):
            counts["stray"] += 1
            problems.append("name with no source: " + rel)
            continue
        counts["committed"] += 1
        if st.st_size != os.path.getsize(source) or not _same_bytes(source, os.path.join(top, rel)):
            counts["partial"] += 1
            problems.append("differs from its source: %s (%d bytes)" % (rel, st.st_size))
    return counts, problems


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="command", required=True)
    t = sub.add_parser("tree")
    t.add_argument("root")
    t.add_argument("--small", type=int, default=0)
    t.add_argument("--large", type=int, default=0)
    t.add_argument("--large-mib", type=int, default=0)
    t.add_argument("--max-small", type=int, default=8192)
    t.add_argument("--over-threshold-every", type=int, default=0)
    t.add_argument("--per-folder", type=int, default=500)
    t.add_argument("--seed", type=int, default=1)
    r = sub.add_parser("request")
    r.add_argument("out")
    r.add_argument("--dest", required=True)
    r.add_argument("--source", action="append", default=[])
    r.add_argument("--planned-from")
    r.add_argument("--workers", type=int, default=8)
    r.add_argument("--verify", choices=MODES, default="none")
    r.add_argument("--read-ahead", action="store_true")
    r.add_argument("--policy", type=int, default=0)
    r.add_argument("--quiet-items", action="store_true")
    c = sub.add_parser("check")
    c.add_argument("source")
    c.add_argument("dest")
    c.add_argument("--allow-staging", action="store_true")
    c.add_argument("--pid", type=int, help="the process id staging files must carry")
    a = p.parse_args()
    if a.command == "tree":
        make_tree(a.root, a.small, a.large, a.large_mib, a.seed, a.per_folder,
                  a.max_small, a.over_threshold_every)
    elif a.command == "request":
        n = write_request(a.out, a.dest, a.source, a.planned_from, workers=a.workers,
                          verify=a.verify, read_ahead=a.read_ahead, policy=a.policy,
                          quiet_items=a.quiet_items)
        if a.planned_from:
            print(n)
    else:
        counts, problems = check_destination(a.source, a.dest, a.allow_staging, a.pid)
        print(json.dumps(counts))
        for line in problems[:20]:
            print("  " + line, file=sys.stderr)
        return 1 if problems else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
