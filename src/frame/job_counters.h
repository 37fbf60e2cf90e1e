// The job's shared counters. Workers change them only by atomic add,
// subtract or exchange; readers load each field on its own, so one progress
// event is not a snapshot of a single instant.
#ifndef QV_FRAME_JOB_COUNTERS_H_
#define QV_FRAME_JOB_COUNTERS_H_

#include <atomic>
#include <cstdint>

namespace qv {

struct JobCounters {
  std::atomic<uint64_t> totalBytes{0};
  std::atomic<uint64_t> copiedBytes{0};
  std::atomic<uint64_t> inFlightBytes{0};
  std::atomic<uint64_t> verifiedBytes{0};
  std::atomic<uint32_t> totalFiles{0};
  std::atomic<uint32_t> copiedFiles{0};
  std::atomic<uint32_t> verifiedFiles{0};
  std::atomic<uint32_t> verifyFailedFiles{0};
  std::atomic<uint32_t> completedFiles{0};
  std::atomic<uint32_t> skippedFiles{0};
  std::atomic<uint32_t> failedFiles{0};
  std::atomic<uint32_t> activeWorkers{0};
  std::atomic<uint32_t> nextItemIndex{0};
  std::atomic<uint32_t> retryQueue{0};
};

// Takes `amount` back from `counter`, never below zero (a file's in-flight
// bytes are taken back at its end while a progress callback may race).
inline void subtractFloorZero(std::atomic<uint64_t>& counter, uint64_t amount) {
  uint64_t current = counter.load();
  while (!counter.compare_exchange_weak(current,
                                        current > amount ? current - amount : 0)) {
  }
}

}  // namespace qv

#endif  // QV_FRAME_JOB_COUNTERS_H_
