#!/usr/bin/env bash
# The quick mode of every hardening script, one after the other, for CI.
# Each prints its own figures; the exit code is 1 when any of them failed.
#
#   scripts/hardening/quick.sh [worker] [tsan-worker]
#
# worker defaults to build/linux-release/Quorvel.NativeWorker; the TSan storm
# runs only when tsan-worker (default build/linux-tsan/Quorvel.NativeWorker)
# exists. disk_full.sh needs root to mount a tmpfs (it falls back to unit
# tests otherwise, found beside the worker).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
worker=${1:-$here/../../build/linux-release/Quorvel.NativeWorker}
tsan_worker=${2:-$here/../../build/linux-tsan/Quorvel.NativeWorker}
worker=$(realpath "$worker")
failed=()

step() {  # name command...
  local name=$1 start status
  shift
  echo "==== $name"
  start=$(date +%s)
  "$@"
  status=$?
  echo "==== $name: exit $status after $(( $(date +%s) - start )) s"
  [ "$status" = 0 ] || failed+=("$name")
}

step crash_safety "$here/crash_safety.sh" --runs 5 --worker "$worker"
step storms "$here/storms.sh" --runs 3 --worker "$worker"
if [ -x "$tsan_worker" ]; then
  step storms-tsan "$here/storms.sh" --tsan --runs 1 --worker "$tsan_worker"
else
  echo "==== storms-tsan: skipped, no worker at $tsan_worker"
fi
step disk_full "$here/disk_full.sh" --quick --worker "$worker" --unit-tests "$(dirname "$worker")/qv_unit_tests"
step scale "$here/scale.sh" --files 20000 --worker "$worker"

if [ ${#failed[@]} -gt 0 ]; then
  echo "failed: ${failed[*]}"
  exit 1
fi
echo "all hardening quick modes passed"
