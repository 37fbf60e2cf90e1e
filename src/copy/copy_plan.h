// How the copy phase divides its files and threads: which files readers
// read ahead, the order copy workers take the others in, and how many of
// the phase's threads read.
#ifndef QV_COPY_COPY_PLAN_H_
#define QV_COPY_COPY_PLAN_H_

#include <cstdint>
#include <vector>

#include "paths/path_algebra.h"
#include "request/job_plan.h"
#include "request/request.h"

namespace qv {

// Files of at least this size are copied before all others.
constexpr uint64_t kLargeFileFirst = 4194304;

// The item indices copy workers take, in order: every file of at least
// kLargeFileFirst bytes in planned order, then the rest interleaved across
// their destination folders (one file of each folder in turn), so that
// concurrent workers seldom create files in one folder at once. With
// `readAheadOn`, files up to smallFileThreshold are left to the readers.
std::vector<uint32_t> buildCopyOrder(const WorkerRequest& request, const JobPlan& plan,
                                     PathStyle style, bool readAheadOn);

// The item indices readers take: with `readAheadOn`, every file up to
// smallFileThreshold in planned order; otherwise none.
std::vector<uint32_t> buildSmallFileList(const WorkerRequest& request, const JobPlan& plan,
                                         bool readAheadOn);

struct ReadAheadSplit {
  uint32_t readers = 0;
  uint32_t copyWorkers = 0;
  uint64_t countLimit = 1;  // most buffers queued at once
  uint64_t byteLimit = 1;   // most bytes queued at once
};

// Splits `targetWorkers` threads into readers and copy workers: half of them
// read when at least three quarters of the files are small, else a third;
// never all of them, never more than 16, never more than there are small
// files. The queue holds readAheadQueueFiles buffers and at most
// readAheadQueueFiles small files' worth of bytes, capped at a quarter of
// the memory budget but never below one small file.
ReadAheadSplit splitReadAhead(const WorkerRequest& request, const JobPlan& plan,
                              uint32_t targetWorkers, size_t smallFileCount);

}  // namespace qv

#endif  // QV_COPY_COPY_PLAN_H_
