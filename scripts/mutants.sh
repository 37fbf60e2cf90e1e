#!/usr/bin/env bash
# Planted faults: applies each small fault of the table below to the engine,
# one at a time, rebuilds incrementally, runs the normal test suite (unit,
# process and tool tests through CTest) and puts the file back. A fault the
# suite misses is behaviour no test pins down.
#
# Usage: scripts/mutants.sh [-n] [-b BUILD_DIR] [-t SECONDS] [-j JOBS] [ID...]
#   -n  only check that each fault still applies, and where
#   -b  build folder (default /tmp/mutants-build; configured when missing)
#   -t  time allowed for one fault's test run (default 300 s; a run that
#       takes longer counts as caught, the suite having hung on it)
#   -j  build and test jobs (default 2)
#   ID  run only these faults (e.g. M03 M17)
#
# Each fault names a file and a text that must occur exactly once in it. When
# the file has moved, or the text no longer occurs there once, every source
# under src/ is searched for the one file that holds it exactly once; a fault
# found nowhere is reported "not applied" and left out of the score. In the
# table "↵" stands for a line break, so a fault can span lines.
set -uo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=/tmp/mutants-build
limit=300
jobs=2
check_only=0
while getopts "nb:t:j:" opt; do
  case $opt in
    n) check_only=1 ;;
    b) build=$OPTARG ;;
    t) limit=$OPTARG ;;
    j) jobs=$OPTARG ;;
    *) sed -n '2,18p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
wanted=" $* "

# id ¦ file ¦ original ¦ replacement ¦ what the fault does
read -r -d '' TABLE <<'EOF'
M01 ¦ src/copy/commit.cpp ¦ conflictPolicyOf(job.request) == ConflictPolicy::kOverwrite ¦ conflictPolicyOf(job.request) == ConflictPolicy::kRename ¦ commit never replaces under the overwrite policy
M02 ¦ src/copy/commit.cpp ¦ "Atomic commit failed: " ¦ "Atomic commit failure: " ¦ commit failure text changed
M03 ¦ src/copy/commit.cpp ¦ if (cancelled && !item.committed) { ¦ if (false && !item.committed) { ¦ a staged file is committed after a cancel
M04 ¦ src/copy/commit.cpp ¦ if (!cancelled) reportItemFailed(job, item, error); ¦ reportItemFailed(job, item, error); ¦ a cancelled item is reported as failed
M05 ¦ src/copy/commit.cpp ¦ job.counters.copiedFiles.fetch_add(1);↵ ¦ ↵ ¦ copied files not counted
M06 ¦ src/copy/commit.cpp ¦ reportItemCompleted(job, item, true); ¦ reportItemCompleted(job, item, !hasOption(job.request, kSuppressCompletedEvents)); ¦ commit event dropped when completed events are suppressed
M07 ¦ src/copy/commit.cpp ¦ } else if (!job.control.cancelled()) {↵      discardFile(job.platform, item.stagingPath); ¦ } else if (!job.control.cancelled()) { ¦ staging file kept after a failed check
M08 ¦ src/copy/verification_stage.cpp ¦ counters.verifyFailedFiles.fetch_add(1);↵      reportItemFailed ¦ reportItemFailed ¦ verification failures of a copy not counted
M09 ¦ src/copy/retry.h ¦ done < job.request.retryCount ¦ done <= job.request.retryCount ¦ one copy attempt too many
M10 ¦ src/copy/system_copy.cpp ¦ after.lastWriteTime.ticks != identity.lastWriteTime) { ¦ false) { ¦ a source rewritten in place during its copy goes unnoticed
M11 ¦ src/copy/system_copy.cpp ¦ "Unable to open the source: " ¦ "Unable to read the source: " ¦ source failure text changed
M12 ¦ src/copy/system_copy.cpp ¦ existing = overwrite ? ExistingTarget::Replace : ExistingTarget::Fail; ¦ existing = ExistingTarget::Replace; ¦ direct writes replace a destination that appeared meanwhile
M13 ¦ src/copy/system_copy.cpp ¦ discardFile(platform, item.stagingPath);↵    err = runCopier ¦ err = runCopier ¦ a stale staging file is not removed before the second try
M14 ¦ src/copy/staging_cleanup.cpp ¦ if (item.committed || item.stagingPath.empty()) continue; ¦ if (item.stagingPath.empty()) continue; ¦ end-of-job cleanup removes committed direct writes
M15 ¦ src/verify/verify_item.cpp ¦ sourceSize != copySize || sourceSize != item.size ¦ sourceSize != copySize ¦ length check ignores the planned size
M16 ¦ src/verify/verify_item.cpp ¦ "CRC32 verification failed." ¦ "CRC32 verification failed" ¦ CRC32 mismatch text changed
M17 ¦ src/verify/verify_item.cpp ¦ if (copyDigest != sha256OfFile( ¦ if (copyDigest == sha256OfFile( ¦ SHA-256 comparison flipped
M18 ¦ src/verify/verify_phase.cpp ¦ reportItemFailed(job, item, failure.what()); ¦ job.errors.recordFailure(item.sourcePath, item.destinationPath, failure.what());↵    job.events.emitItemEvent("failed", item, failure.what()); ¦ verify-only mismatch not counted as failed
M19 ¦ src/job/job_run.cpp ¦ counters.failedFiles.load() > 0 ? 2 : 0; ¦ counters.failedFiles.load() > 1 ? 2 : 0; ¦ exit code off by one failure
M20 ¦ src/job/job_run.cpp ¦ removePartialFiles(job);↵    control.cancel(); ¦ control.cancel(); ¦ staging files left after a cancelled job
M21 ¦ src/job/job_run.cpp ¦ appendNumber(line, counters.skippedFiles.load()); ¦ appendNumber(line, counters.failedFiles.load()); ¦ complete event reports failures as skipped
M22 ¦ src/request/request_reader.cpp ¦ if (in.u32() != kProtocolVersion) ¦ if (in.u32() > kProtocolVersion) ¦ an older request version is accepted
M23 ¦ src/request/request_reader.cpp ¦ request.conflictPolicy = in.u8();↵  request.verificationMode = in.u8(); ¦ request.verificationMode = in.u8();↵  request.conflictPolicy = in.u8(); ¦ two request fields read in swapped order
M24 ¦ src/request/request_reader.cpp ¦ !utf8ToUtf16Strict(take(length), decoded)) { ¦ !utf8ToUtf16Strict(take(length), decoded) && false) { ¦ invalid UTF-8 in a request string accepted
M25 ¦ src/paths/destination_planning.cpp ¦ if (reserved) return fail(kOverwriteCollision); ¦ ¦ two files of a job may overwrite the same destination
M26 ¦ src/paths/destination_planning.cpp ¦ name += u" ("; ¦ name += u"("; ¦ renamed destination text changed
M27 ¦ src/frame/item_outcome.cpp ¦ job.counters.skippedFiles.fetch_add(1); ¦ ¦ skipped files not counted
M28 ¦ src/paths/path_algebra.cpp ¦ if (dot == std::u16string_view::npos || dot == 0) ¦ if (dot == std::u16string_view::npos) ¦ a leading dot starts an extension
M29 ¦ src/progress/progress.cpp ¦ processedBytes = sum < totalBytes ? sum : totalBytes; ¦ processedBytes = sum; ¦ processed bytes may pass the total
M30 ¦ src/progress/progress.cpp ¦ isVerify ? counters.verifyFailedFiles.load() : counters.failedFiles.load(); ¦ counters.failedFiles.load(); ¦ verify progress counts copy failures
M31 ¦ src/progress/progress.cpp ¦ return counters.copiedFiles.load() + counters.skippedFiles.load() + ¦ return counters.copiedFiles.load() + ¦ copy progress ignores skipped files
M32 ¦ src/paths/source_scan.cpp ¦ if (info.isLink) { ¦ if (false) { ¦ links inside a source folder are followed
M33 ¦ src/paths/source_scan.cpp ¦ if (platform_.isAccessDenied(error)) return true; ¦ ¦ a folder that cannot be listed for access counts as a failure
M34 ¦ src/copy/copy_phase.cpp ¦ if (job.plan.files[i].copied) verificationList.push_back(i); ¦ verificationList.push_back(i); ¦ skipped and failed files are verified too
EOF

say() { printf '%s\n' "$*"; }

# How often $2 occurs in $1.
occurrences() {
  local rest=$1 n=0
  while [[ -n $2 && $rest == *"$2"* ]]; do rest=${rest#*"$2"}; n=$((n + 1)); done
  echo "$n"
}

read_text() {  # keeps trailing line breaks
  local text
  text=$(cat -- "$1"; printf x)
  printf '%s' "${text%x}"
}

# The file that holds $1 exactly once: the named one, else the only such
# file under src/.
locate() {
  local named=$1 original=$2 first file found=""
  if [[ -f $root/$named ]] && [[ $(occurrences "$(read_text "$root/$named")" "$original") == 1 ]]; then
    echo "$named"; return 0
  fi
  first=${original%%$'\n'*}
  while IFS= read -r file; do
    if [[ $(occurrences "$(read_text "$root/$file")" "$original") == 1 ]]; then
      [[ -n $found ]] && return 1  # more than one file: ambiguous
      found=$file
    fi
  done < <(cd "$root" && grep -rlF --include='*.cpp' --include='*.h' -- "$first" src |
           grep -v '_test\.cpp$')
  [[ -n $found ]] && echo "$found"
}

build_suite() { cmake --build "$build" -j "$jobs" >"$build/mutant-build.log" 2>&1; }
run_suite() {
  GTEST_FAIL_FAST=1 timeout "$limit" \
    ctest --test-dir "$build" -j "$jobs" --stop-on-failure --timeout "$limit" --output-on-failure \
    >"$build/mutant-test.log" 2>&1
}

if [[ $check_only == 0 ]]; then
if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null || exit 1
fi
say "building the unchanged tree in $build"
build_suite || { say "the unchanged tree does not build: see $build/mutant-build.log"; exit 1; }
run_suite || { say "the unchanged tree fails its tests: see $build/mutant-test.log"; exit 1; }
fi

backup=""
target=""
restore() {
  if [[ -n $backup ]]; then
    # A plain copy, not -p: the restored file must be newer than the
    # mutant's object so the next build compiles it again.
    cat -- "$backup" >"$target" && rm -f -- "$backup"
    backup=""
  fi
}
trap 'restore; exit 130' INT TERM
trap restore EXIT

caught=0 total=0
missed=() skipped=()
while IFS= read -r row; do
  [[ -z $row ]] && continue
  fields=()
  rest=$row
  while [[ $rest == *"¦"* ]]; do fields+=("${rest%%¦*}"); rest=${rest#*¦}; done
  fields+=("$rest")
  for i in "${!fields[@]}"; do fields[i]=${fields[i]# }; fields[i]=${fields[i]% }; done
  id=${fields[0]} file=${fields[1]} original=${fields[2]} replacement=${fields[3]} what=${fields[4]}
  [[ $wanted != "  " && $wanted != *" $id "* ]] && continue
  original=${original//↵/$'\n'}
  replacement=${replacement//↵/$'\n'}

  if ! found=$(locate "$file" "$original"); then
    say "$id not applied   $file: $what (text not found once under src/)"
    skipped+=("$id"); continue
  fi
  if [[ $check_only == 1 ]]; then
    say "$id applies to $found"; continue
  fi
  target=$root/$found
  backup=$(mktemp)
  cp -- "$target" "$backup"
  text=$(read_text "$target")
  printf '%s' "${text/"$original"/"$replacement"}" >"$target"

  if ! build_suite; then
    restore
    say "$id not applied   $found: $what (does not build)"
    skipped+=("$id"); continue
  fi
  total=$((total + 1))
  start=$SECONDS
  # A timing test may fail once on a loaded machine: a fault counts as
  # caught only when a second run fails too.
  if run_suite || run_suite; then
    verdict=missed; missed+=("$id")
  else
    caught=$((caught + 1))
    # The first failing test, to know which test stands for which fault.
    by=$(grep -m1 -o -E '\[  FAILED  \] [A-Za-z0-9_/.]+' "$build/mutant-test.log" | cut -c14-)
    grep -q -E '\*\*\*Timeout' "$build/mutant-test.log" && by="a timeout"
    verdict="caught by ${by:-a failing run}"
  fi
  restore
  say "$id $verdict   $found: $what ($((SECONDS - start)) s)"
done <<<"$TABLE"

[[ $check_only == 1 ]] && exit 0
build_suite || say "warning: the restored tree does not build"
say ""
say "caught $caught of $total"
[[ ${#missed[@]} -gt 0 ]] && say "missed: ${missed[*]}"
[[ ${#skipped[@]} -gt 0 ]] && say "not applied: ${skipped[*]}"
exit 0
