#!/usr/bin/env bash
# Crash safety: kills the worker with SIGKILL at a random moment of a copy job
# and checks what it left. Every file at the destination must be byte-identical
# to its source; every other name must be a staging file (the destination's
# name, ".qv-native-partial-", the killed worker's process id, "-", item
# index). A file that is there but differs from its source is a partial
# destination: the goal is none.
#
#   scripts/hardening/crash_safety.sh [--runs N] [--worker PATH]   # 100 kills
#   scripts/hardening/crash_safety.sh --runs 5          # quick mode (CI)
#
# The tree: 3,000 small files (0 to 8 KiB, every 50th 300 KiB, so some go
# through the system copier) in nested folders, and three of 24 MiB. Each run
# picks a verification mode (none, sampled, CRC-32, SHA-256, full), 2 to 16
# threads and read-ahead, and a kill moment between the start and the
# measured length of a job with full verification. A job that ends before its
# kill is checked too but does not count: runs go on until N workers were
# killed mid-job (at most 3N runs). Runs in WORK_DIR (default /dev/shm, else
# /tmp). Exit code 0 when every run passed.
set -euo pipefail
export LC_ALL=C

here=$(cd "$(dirname "$0")" && pwd)
worker=$here/../../build/linux-release/Quorvel.NativeWorker
runs=100
while [ $# -gt 0 ]; do
  case $1 in
    --runs) runs=$2; shift 2 ;;
    --worker) worker=$2; shift 2 ;;
    *) echo "usage: $0 [--runs N] [--worker PATH]" >&2; exit 64 ;;
  esac
done
[ -x "$worker" ] || { echo "no worker at $worker" >&2; exit 1; }
lib=$here/hardening.py
base=${WORK_DIR:-$([ -d /dev/shm ] && echo /dev/shm || echo /tmp)}
work=$(mktemp -d "$base/qv-crash.XXXXXX")
trap 'rm -rf "$work"' EXIT

src=$work/tree
python3 "$lib" tree "$src" --small 3000 --large 3 --large-mib 24 --over-threshold-every 50 --per-folder 300
modes=(none sampled crc32 sha256 full)
threads=(2 4 8 16)

# The longest uninterrupted job (full verification) bounds the kill moments.
python3 "$lib" request "$work/req" --dest "$work/calibrate" --source "$src" --workers 8 --verify full --read-ahead
start=$(date +%s%N)
"$worker" --request "$work/req" </dev/null >"$work/events" 2>&1 || true
span_ms=$(( ($(date +%s%N) - start) / 1000000 ))
python3 "$lib" check "$src" "$work/calibrate" >/dev/null || { echo "an uninterrupted job did not copy the tree" >&2; exit 1; }
rm -rf "$work/calibrate"
echo "tree: $(find "$src" -type f | wc -l) files, $(du -sm "$src" | cut -f1) MiB; an uninterrupted job with full verification takes $span_ms ms"

killed=0 finished=0 partial=0 bad_runs=0 staging_seen=0
run=0
while [ "$killed" -lt "$runs" ] && [ "$run" -lt $((runs * 3)) ]; do
  run=$((run + 1))
  mode=${modes[RANDOM % ${#modes[@]}]}
  n=${threads[RANDOM % ${#threads[@]}]}
  delay_ms=$(( (RANDOM * 32768 + RANDOM) % (span_ms + 1) ))
  dst=$work/dst
  python3 "$lib" request "$work/req" --dest "$dst" --source "$src" --workers "$n" --verify "$mode" --read-ahead
  "$worker" --request "$work/req" </dev/null >"$work/events" 2>&1 &
  pid=$!
  sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
  kill -KILL "$pid" 2>/dev/null || true
  status=0
  wait "$pid" 2>/dev/null || status=$?
  # 137: ended by SIGKILL; anything else: the job ended before the kill.
  if [ "$status" = 137 ]; then killed=$((killed + 1)); how="killed"; else finished=$((finished + 1)); how="finished"; fi
  if counts=$(python3 "$lib" check "$src" "$dst" --allow-staging --pid "$pid" 2>"$work/problems"); then
    result=ok
  else
    result=FAIL
    bad_runs=$((bad_runs + 1))
    cat "$work/problems" >&2
  fi
  found=$(python3 -c 'import json,sys; c=json.loads(sys.argv[1]); print(c["partial"], c["staging"])' "$counts")
  partial=$((partial + ${found% *}))
  staging_seen=$((staging_seen + ${found#* }))
  printf 'run %3d: %-7s %2d threads, %-8s after %5d ms: %s %s\n' "$run" "$mode" "$n" "$how" "$delay_ms" "$counts" "$result"
  rm -rf "$dst"
done

echo "runs: $run (killed mid-job: $killed, finished before the kill: $finished)"
echo "partial destinations found: $partial; runs with a problem: $bad_runs; staging files left by killed workers: $staging_seen (allowed)"
[ "$bad_runs" = 0 ]
