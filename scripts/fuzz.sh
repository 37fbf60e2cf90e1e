#!/usr/bin/env bash
# Builds the libFuzzer targets (preset linux-fuzz: clang, ASan + UBSan) and
# runs each one for the given number of seconds (default 30) over its corpus.
# Every input under fuzz/regressions/<target>/ is replayed first. Inputs the
# fuzzer finds go to a temporary folder; they join the checked-in corpus only
# with --merge, which keeps just the inputs that add coverage. A crash, leak,
# sanitizer report or timeout fails the script and leaves the input in
# fuzz/crashes/<target>/; move it into fuzz/regressions/<target>/ once fixed.
#
#   scripts/fuzz.sh [seconds] [--merge] [--only <target>]
# Environment: QV_FUZZ_BUILD_DIR (default build/linux-fuzz),
#              QV_FUZZ_ARGS (extra libFuzzer flags).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=30
merge=0
only=""
while [ $# -gt 0 ]; do
  case $1 in
    --merge) merge=1 ;;
    --only) only=$2; shift ;;
    [0-9]*) seconds=$1 ;;
    *) echo "usage: $0 [seconds] [--merge] [--only <target>]" >&2; exit 2 ;;
  esac
  shift
done

build=${QV_FUZZ_BUILD_DIR:-$root/build/linux-fuzz}
cmake --preset linux-fuzz -B "$build" >/dev/null
cmake --build "$build" --target fuzz_targets -j2

targets=(request_reader path_algebra json_escape crc32 text_codec status_line)
[ -n "$only" ] && targets=("$only")

work=$(mktemp -d "${TMPDIR:-/tmp}/qv-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
for t in "${targets[@]}"; do
  bin=$build/fuzz_$t
  corpus=$root/fuzz/corpus/$t
  regressions=$root/fuzz/regressions/$t
  crashes=$root/fuzz/crashes/$t
  mkdir -p "$corpus" "$regressions" "$crashes" "$work/$t"

  if [ "$t" = request_reader ] && [ -z "$(ls -A "$corpus")" ]; then
    "$build/make_request_seeds" "$corpus"
  fi

  # Replays: each regression input once, without fuzzing.
  mapfile -t replay < <(find "$regressions" -type f ! -name '.*' | sort)
  if [ ${#replay[@]} -gt 0 ]; then
    echo "== $t: replaying ${#replay[@]} regression input(s)"
    if ! "$bin" "${replay[@]}" >"$work/$t.replay.log" 2>&1; then
      tail -n 40 "$work/$t.replay.log"
      echo "FAIL $t: a regression input fails again" >&2
      status=1
      continue
    fi
  fi

  echo "== $t: fuzzing for ${seconds}s"
  # One job on one core; libFuzzer then writes the job's output to
  # fuzz-0.log in the folder it runs in.
  mkdir -p "$work/$t.run"
  # shellcheck disable=SC2086
  if ! (cd "$work/$t.run" && "$bin" -max_total_time="$seconds" -jobs=1 \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$crashes/" ${QV_FUZZ_ARGS:-} "$work/$t" "$corpus" \
        >/dev/null 2>&1); then
    tail -n 60 "$work/$t.run/fuzz-0.log"
    echo "FAIL $t: see the input left in $crashes/" >&2
    status=1
    continue
  fi
  grep -E '^#[0-9]+' "$work/$t.run/fuzz-0.log" | tail -n 1
  grep -E '^stat::number_of_executed_units' "$work/$t.run/fuzz-0.log" || true
  if [ "$merge" = 1 ]; then
    mkdir -p "$work/$t.merged"
    # Hit counts left out: every edge stays covered with a corpus a few
    # times smaller, small enough to keep in the repository.
    "$bin" -merge=1 -use_counters=0 "$work/$t.merged" "$corpus" "$work/$t" >/dev/null 2>&1
    rm -f "$corpus"/*
    cp "$work/$t.merged"/* "$corpus"/
    echo "   corpus now $(ls "$corpus" | wc -l) file(s)"
  fi
  rmdir "$crashes" 2>/dev/null || true
done
rmdir "$root/fuzz/crashes" 2>/dev/null || true
exit $status
