#!/usr/bin/env bash
# A real full disk: copies 130 MiB (600 small files of up to 200 KiB written
# from memory, six of 12 MiB through the system copier) onto a 64 MiB tmpfs.
# The first job must complete with exit code 2, every failed item carrying the
# system's "No space left on device" text, no staging file left and every file
# at the destination whole. The tmpfs is then grown to 512 MiB and the same
# request (skip policy) run again: it must skip exactly what the first job
# copied, copy the rest, and leave a destination equal to the source.
#
#   scripts/hardening/disk_full.sh [--quick] [--worker PATH] [--unit-tests PATH]
#
# Full mode runs two configurations (8 threads, read-ahead, CRC-32; 4 threads,
# no read-ahead, no verification); --quick (CI) runs the first only. Mounting
# needs root (CAP_SYS_ADMIN). Where mounting is not allowed the script says so
# and runs the fault-injecting platform's disk-full unit tests instead.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
worker=$here/../../build/linux-release/Quorvel.NativeWorker
unit_tests=$here/../../build/linux-release/qv_unit_tests
configs=("8 --read-ahead crc32" "4 --no-read-ahead none")
while [ $# -gt 0 ]; do
  case $1 in
    --quick) configs=("${configs[0]}"); shift ;;
    --worker) worker=$2; shift 2 ;;
    --unit-tests) unit_tests=$2; shift 2 ;;
    *) echo "usage: $0 [--quick] [--worker PATH] [--unit-tests PATH]" >&2; exit 64 ;;
  esac
done
[ -x "$worker" ] || { echo "no worker at $worker" >&2; exit 1; }
lib=$here/hardening.py
base=${WORK_DIR:-$([ -d /dev/shm ] && echo /dev/shm || echo /tmp)}
work=$(mktemp -d "$base/qv-diskfull.XXXXXX")
mnt=$work/mnt
mkdir "$mnt"
cleanup() { umount "$mnt" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT

if ! mount -t tmpfs -o size=64m tmpfs "$mnt" 2>"$work/mount.err"; then
  echo "mounting a tmpfs is not allowed here ($(cat "$work/mount.err")): falling back to the injected-fault unit tests"
  # Whole suites, so that a renamed test is not silently left out.
  filter='SystemCopy.*:ReadAhead.*:Commit.*'
  [ -x "$unit_tests" ] || { echo "no unit tests at $unit_tests" >&2; exit 1; }
  exec "$unit_tests" --gtest_filter="$filter"
fi
umount "$mnt"

src=$work/tree
python3 "$lib" tree "$src" --small 600 --max-small 204800 --large 6 --large-mib 12 --per-folder 100
echo "tree: $(find "$src" -type f | wc -l) files, $(du -sm "$src" | cut -f1) MiB, onto a 64 MiB tmpfs"

failures=0
for config in "${configs[@]}"; do
  read -r threads read_ahead verify <<<"$config"
  [ "$read_ahead" = --read-ahead ] || read_ahead=""
  mount -t tmpfs -o size=64m tmpfs "$mnt"
  python3 "$lib" request "$work/req" --dest "$mnt/dst" --source "$src" --workers "$threads" --verify "$verify" $read_ahead --policy 0
  echo "== $threads threads, read-ahead $([ -n "$read_ahead" ] && echo on || echo off), verification $verify"
  for pass in full freed; do
    status=0
    "$worker" --request "$work/req" </dev/null >"$work/events.$pass" 2>"$work/stderr" || status=$?
    python3 - "$lib" "$src" "$mnt/dst" "$work/events.full" "$work/events.$pass" "$status" "$pass" <<'PY' || failures=$((failures + 1))
import os, sys
lib, src, dst, first_events, events_path, status, pass_name = sys.argv[1:]
sys.path.insert(0, os.path.dirname(lib))
import hardening as h
events = h.read_events(events_path)
done, problems = h.check_outcome(events, int(status))
counts, dest_problems = h.check_destination(src, dst, allow_staging=False)
problems += dest_problems[:10]
failed = [e for e in events if e.get("type") == "item" and e.get("status") == "failed"]
if done is None:
    sys.exit("no complete line: %s" % problems)
print("  %s disk: exit %s, completed %d, skipped %d, failed %d of %d; %d files whole at the destination, %d staging left" % (
    pass_name, status, done["completedFiles"], done["skippedFiles"], done["failedFiles"],
    done["totalFiles"], counts["committed"], counts["staging"]))
if counts["committed"] != done["completedFiles"] + done["skippedFiles"]:
    problems.append("%d files at the destination, completed + skipped %d" % (
        counts["committed"], done["completedFiles"] + done["skippedFiles"]))
if pass_name == "full":
    if int(status) != 2 or not failed:
        problems.append("the disk never filled: exit %s, %d failed items" % (status, len(failed)))
    other = [e for e in failed if "No space left on device" not in e.get("error", "")]
    if other:
        problems.append("%d failed items without the no-space text, e.g. %r" % (len(other), other[0]["error"]))
    if failed:
        print("  a failed item says: %s" % failed[0]["error"])
else:
    first = [e for e in h.read_events(first_events) if e.get("type") == "complete"][0]
    if int(status) != 0 or done["failedFiles"]:
        problems.append("the freed disk still failed files")
    if done["skippedFiles"] != first["completedFiles"]:
        problems.append("skipped %d, the first run completed %d" % (done["skippedFiles"], first["completedFiles"]))
    if counts["committed"] != done["totalFiles"]:
        problems.append("%d of %d files at the destination" % (counts["committed"], done["totalFiles"]))
for line in problems:
    print("    FAIL: " + line)
sys.exit(1 if problems else 0)
PY
    [ "$pass" = full ] && mount -o remount,size=512m "$mnt"
  done
  umount "$mnt"
done
echo "configurations: ${#configs[@]}; failed checks: $failures"
[ "$failures" = 0 ]
