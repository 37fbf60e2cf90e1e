#include "copy/system_copy.h"

#include <exception>

#include "copy/commit.h"
#include "copy/retry.h"
#include "copy/staging_cleanup.h"

namespace qv {
namespace {

struct SourceIdentity {
  uint64_t size = 0;
  uint64_t lastWriteTime = 0;
};

// Both copier forms. The small form has no hook: it runs to its end once
// started. The large form reports the bytes it has moved so that progress
// events see them in flight, stands still at the pause gate and stops when
// the job is cancelled. `reported` is what this file has added to
// inFlightBytes so far.
SysError runCopier(JobContext& job, const std::u16string& source,
                   const std::u16string& target, ExistingTarget existing, bool small,
                   uint64_t& reported) {
  if (small) return job.platform.copySmallFile(source, target, existing);
  return job.platform.copyLargeFile(
      source, target, existing, [&job, &reported](uint64_t total) {
        if (total >= reported) {
          job.counters.inFlightBytes.fetch_add(total - reported);
          reported = total;
        }
        job.control.waitWhilePaused();
        return job.control.cancelled() ? CopyProgress::Cancel : CopyProgress::Continue;
      });
}

bool attempt(CopyContext& copy, uint32_t itemIndex, std::string& error) {
  JobContext& job = copy.job;
  Platform& platform = job.platform;
  const WorkerRequest& request = job.request;
  PlannedFile& item = copy.item(itemIndex);

  job.control.waitWhilePaused();
  if (job.control.cancelled()) {
    error = "Cancelled.";
    return false;
  }
  job.control.setCurrentFile(item.sourcePath);

  bool skipped = false;
  if (!copy.planner.prepareDestination(item, skipped, error)) return false;
  if (skipped) return true;

  const bool direct = hasOption(request, kDirectWrite);
  const bool overwrite = conflictPolicyOf(request) == ConflictPolicy::kOverwrite;
  item.stagingPath =
      direct ? item.destinationPath : copy.planner.stagingPathFor(item, itemIndex);
  const std::u16string& source = item.readPath.empty() ? item.sourcePath : item.readPath;

  SourceIdentity identity{item.size, item.lastWriteTime};
  if (item.lastWriteTime == 0) {
    FileInfo info;
    if (SysError err = platform.readFileInfo(source, info)) {
      error = "Unable to open the source: " + job.errorText(err);
      return false;
    }
    identity = {info.size, info.lastWriteTime.ticks};
  }

  const bool small = identity.size <= kLargestSmallFormCopy;
  // The small form fails on an existing target and the large form replaces
  // it, except under direct writes, where only the overwrite policy may
  // replace the destination.
  ExistingTarget existing = ExistingTarget::Replace;
  if (direct) {
    existing = overwrite ? ExistingTarget::Replace : ExistingTarget::Fail;
  } else if (small) {
    existing = ExistingTarget::Fail;
  }

  uint64_t reported = 0;
  SysError err = runCopier(job, source, item.stagingPath, existing, small, reported);
  // A staging file left by an earlier attempt or run is in the way (or, read
  // only, cannot be replaced). Removing it only when the copy meets it saves
  // a delete per file over removing it up front, with the same result.
  if (err != 0 && !direct && reported == 0 &&
      (platform.isAlreadyExists(err) || platform.isAccessDenied(err))) {
    discardFile(platform, item.stagingPath);
    err = runCopier(job, source, item.stagingPath, existing, small, reported);
  }
  subtractFloorZero(job.counters.inFlightBytes, reported);

  if (err != 0) {
    if (direct && !item.committed && platform.isAlreadyExists(err)) {
      // The destination appeared after the conflict decision and was not
      // written by this run: it stays, and nothing later removes it.
      item.stagingPath.clear();
    } else {
      discardFile(platform, item.stagingPath);
    }
    if (small) {
      error = "CopyFile2 failed: " + job.errorText(err);
    } else if (job.control.cancelled()) {
      error = "Cancelled.";
    } else {
      error = "Copy failed: " + job.errorText(err);
    }
    return false;
  }

  FileInfo after;
  if (platform.readFileInfo(source, after) != 0 || after.size != identity.size ||
      after.lastWriteTime.ticks != identity.lastWriteTime) {
    discardFile(platform, item.stagingPath);
    error = "The source changed while it was being copied.";
    return false;
  }
  item.size = after.size;
  item.copied = true;
  item.committed = direct;
  job.counters.copiedBytes.fetch_add(after.size);
  return true;
}

}  // namespace

bool copyWithSystemCopier(CopyContext& copy, uint32_t itemIndex, std::string& error) {
  try {
    return attempt(copy, itemIndex, error);
  } catch (const std::exception& failure) {
    error = failure.what();
    return false;
  }
}

void copyItem(CopyContext& copy, uint32_t itemIndex) {
  JobContext& job = copy.job;
  job.counters.activeWorkers.fetch_add(1);
  std::string error;
  const auto tryOnce = [&] { return copyWithSystemCopier(copy, itemIndex, error); };
  const bool ok = withRetries(job, !job.control.cancelled() && tryOnce(), tryOnce);
  finishItem(copy, itemIndex, ok, error);
  job.counters.activeWorkers.fetch_sub(1);
}

}  // namespace qv
