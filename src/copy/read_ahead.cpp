#include "copy/read_ahead.h"

#include <algorithm>
#include <exception>

#include "copy/commit.h"
#include "copy/retry.h"
#include "copy/staging_cleanup.h"
#include "copy/system_copy.h"

namespace qv {
namespace {

// One read or write call moves at most this much, as the Windows calls take
// a 32-bit count.
constexpr size_t kLargestTransfer = 4294967295u;

bool sameSizeAndTime(const FileInfo& a, const FileInfo& b) {
  return a.size == b.size && a.lastWriteTime.ticks == b.lastWriteTime.ticks &&
         a.lastWriteTime.extraNanos == b.lastWriteTime.extraNanos;
}

const std::u16string& readPathOf(const PlannedFile& item) {
  return item.readPath.empty() ? item.sourcePath : item.readPath;
}

// Creates the staging file. One left by an earlier attempt or run is
// removed only when it is met, which spares a delete per file.
SysError createStaging(Platform& platform, const std::u16string& path,
                       std::unique_ptr<WritableFile>& file) {
  SysError err = platform.createStagingFile(path, file);
  if (err != 0 && (platform.isAlreadyExists(err) || platform.isAccessDenied(err))) {
    discardFile(platform, path);
    err = platform.createStagingFile(path, file);
  }
  return err;
}

// The write, times and close of a staged write; the bytes it wrote stay in
// `written` so the caller can take them back from inFlightBytes. The
// attributes go on through the open file too, which spares a path walk per
// file, but their failure is only noted in `attributesError`: it counts
// after the check of the source that follows the close.
bool writeAndClose(JobContext& job, WritableFile& file, const ReadAheadBuffer& buffer,
                   uint64_t& written, SysError& attributesError, std::string& error) {
  bool ok = true;
  size_t offset = 0;
  while (offset < buffer.size) {
    if (job.control.cancelled()) {
      error = "Cancelled.";
      ok = false;
      break;
    }
    job.control.waitWhilePaused();
    const size_t chunk = std::min(buffer.size - offset, kLargestTransfer);
    size_t done = 0;
    const SysError err = file.write(buffer.storage.get() + offset, chunk, done);
    offset += done;
    written += done;
    job.counters.inFlightBytes.fetch_add(done);
    if (err != 0 || done == 0) {
      error = "Destination write failed: " + job.errorText(err);
      ok = false;
      break;
    }
  }
  if (ok && hasOption(job.request, kPreserveTimestamps)) {
    if (SysError err = file.setTimes(buffer.info)) {
      error = "Unable to preserve file timestamps: " + job.errorText(err);
      ok = false;
    }
  }
  if (ok && hasOption(job.request, kPreserveAttributes)) {
    attributesError = file.setAttributes(job.platform.attributesToPreserve(buffer.info));
  }
  // A failed close can be how a file system reports data it did not keep.
  const SysError closeErr = file.close();
  if (ok && closeErr != 0) {
    error = "Destination write failed: " + job.errorText(closeErr);
    ok = false;
  }
  return ok;
}

}  // namespace

ReadAheadResult readAheadFile(CopyContext& copy, ReadAheadQueue& queue,
                              uint32_t itemIndex, ReadAheadBuffer& buffer,
                              std::string& error) {
  JobContext& job = copy.job;
  PlannedFile& item = copy.item(itemIndex);

  bool skipped = false;
  if (!copy.planner.prepareDestination(item, skipped, error)) return ReadAheadResult::kFallBack;
  if (skipped) return ReadAheadResult::kSkipped;

  job.control.waitWhilePaused();
  if (job.control.cancelled()) {
    error = "Cancelled.";
    return ReadAheadResult::kFallBack;
  }
  const std::u16string& path = readPathOf(item);
  job.control.setCurrentFile(path);

  std::unique_ptr<ReadableFile> file;
  if (SysError err = job.platform.openForRead(path, ReadPurpose::Sequential, file)) {
    error = "Unable to open the source for read-ahead: " + job.errorText(err);
    return ReadAheadResult::kFallBack;
  }
  FileInfo info;
  if (SysError err = file->info(info)) {
    error = "Unable to read source information: " + job.errorText(err);
    return ReadAheadResult::kFallBack;
  }
  if (info.size > job.request.smallFileThreshold) {
    error = "The source is no longer eligible for small-file read-ahead.";
    return ReadAheadResult::kFallBack;
  }
  if (item.lastWriteTime != 0 &&
      (info.size != item.size || info.lastWriteTime.ticks != item.lastWriteTime)) {
    error = "The source changed after it was scanned.";
    return ReadAheadResult::kFallBack;
  }

  const size_t size = static_cast<size_t>(info.size);
  queue.prepare(buffer, size);
  buffer.itemIndex = itemIndex;
  buffer.info = info;
  size_t offset = 0;
  while (offset < size) {
    if (job.control.cancelled()) {
      error = "Cancelled.";
      return ReadAheadResult::kFallBack;
    }
    job.control.waitWhilePaused();
    size_t got = 0;
    const SysError err = file->read(buffer.storage.get() + offset,
                                    std::min(size - offset, kLargestTransfer), got);
    if (err != 0 || got == 0) {
      error = "Source read-ahead failed: " + job.errorText(err);
      return ReadAheadResult::kFallBack;
    }
    offset += got;
  }
  buffer.size = size;

  FileInfo again;
  if (SysError err = file->info(again)) {
    error = "Unable to recheck the source after read-ahead: " + job.errorText(err);
    return ReadAheadResult::kFallBack;
  }
  if (!sameSizeAndTime(info, again)) {
    error = "The source changed during read-ahead.";
    return ReadAheadResult::kFallBack;
  }
  item.size = info.size;
  return ReadAheadResult::kRead;
}

void readAheadReader(CopyContext& copy, ReadAheadQueue& queue,
                     std::atomic<uint32_t>& nextPosition,
                     const std::vector<uint32_t>& smallFiles,
                     std::atomic<uint32_t>& remainingReaders) {
  JobContext& job = copy.job;
  ReadAheadBuffer buffer;
  std::string error;
  while (!job.control.cancelled()) {
    const uint32_t position = nextPosition.fetch_add(1);
    if (position >= smallFiles.size()) break;
    const uint32_t itemIndex = smallFiles[position];
    job.counters.activeWorkers.fetch_add(1);
    error.clear();
    ReadAheadResult result = ReadAheadResult::kFallBack;
    try {
      result = readAheadFile(copy, queue, itemIndex, buffer, error);
    } catch (const std::exception& failure) {
      error = failure.what();
    }
    if (result == ReadAheadResult::kRead) {
      if (!queue.add(buffer)) {
        job.counters.activeWorkers.fetch_sub(1);
        break;
      }
    } else if (result == ReadAheadResult::kFallBack && !job.control.cancelled()) {
      copyItem(copy, itemIndex);
    }
    job.counters.activeWorkers.fetch_sub(1);
  }
  if (remainingReaders.fetch_sub(1) == 1) queue.close();
}

bool writeStagedFromBuffer(CopyContext& copy, const ReadAheadBuffer& buffer,
                           std::string& error) {
  JobContext& job = copy.job;
  Platform& platform = job.platform;
  PlannedFile& item = copy.item(buffer.itemIndex);

  item.stagingPath = copy.planner.stagingPathFor(item, buffer.itemIndex);
  job.control.setCurrentFile(item.sourcePath);

  std::unique_ptr<WritableFile> file;
  if (SysError err = createStaging(platform, item.stagingPath, file)) {
    error = "Unable to create the destination stage: " + job.errorText(err);
    return false;
  }
  uint64_t written = 0;
  SysError attributesError = 0;
  const bool ok = writeAndClose(job, *file, buffer, written, attributesError, error);
  file.reset();
  subtractFloorZero(job.counters.inFlightBytes, written);
  if (!ok) {
    discardFile(platform, item.stagingPath);
    return false;
  }

  FileInfo now;
  if (platform.readFileInfo(readPathOf(item), now) != 0 ||
      !sameSizeAndTime(now, buffer.info)) {
    discardFile(platform, item.stagingPath);
    error = "The source changed after read-ahead.";
    return false;
  }
  if (attributesError != 0) {
    discardFile(platform, item.stagingPath);
    error = "Unable to preserve file attributes: " + job.errorText(attributesError);
    return false;
  }
  item.size = buffer.info.size;
  item.copied = true;
  job.counters.copiedBytes.fetch_add(buffer.info.size);
  return true;
}

void writeBufferedItem(CopyContext& copy, const ReadAheadBuffer& buffer) {
  JobContext& job = copy.job;
  job.counters.activeWorkers.fetch_add(1);
  std::string error;
  bool ok = false;
  try {
    ok = writeStagedFromBuffer(copy, buffer, error);
  } catch (const std::exception& failure) {
    error = failure.what();
  }
  ok = withRetries(job, ok,
                   [&] { return copyWithSystemCopier(copy, buffer.itemIndex, error); });
  finishItem(copy, buffer.itemIndex, ok, error);
  job.counters.activeWorkers.fetch_sub(1);
}

}  // namespace qv
