// The job as the host describes it: the options, roots and limits of the
// parsed request, fixed once it is read.

#ifndef QV_REQUEST_REQUEST_H_
#define QV_REQUEST_REQUEST_H_

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// Bits of WorkerRequest::optionFlags. Bits 7 to 31 have no meaning and are
// ignored wherever they are set.
constexpr uint32_t kPreserveTimestamps = 1u << 0;      // onto read-ahead files and folders
constexpr uint32_t kPreserveAttributes = 1u << 1;      // onto read-ahead files and folders
constexpr uint32_t kFitWorkersToProcessors = 1u << 2;  // cap thread counts by processors
constexpr uint32_t kPrePlanned = 1u << 3;              // request's files are the plan; no scan
constexpr uint32_t kSmallFileReadAhead = 1u << 4;      // enable the read-ahead pipeline
constexpr uint32_t kDirectWrite = 1u << 5;             // write destinations, no staging files
constexpr uint32_t kSuppressCompletedEvents = 1u << 6; // no "completed" item events

// What WorkerRequest::conflictPolicy asks for when a destination exists. The
// byte is 0 for skip and 1 for overwrite; every other value means rename, so
// decode it with conflictPolicyOf() instead of comparing against 2.
enum class ConflictPolicy { kSkip, kOverwrite, kRename };

// The parsed request. The initial values below are what a default record
// holds; a request that loads successfully replaces every one of them with
// the host's value. Nothing writes it after parsing: what changes while the
// job runs lives in its JobPlan.
struct WorkerRequest {
  uint8_t verifyOnly = 0;  // 0: copy job; any other value: verify-only job
  uint32_t workerCount = 8;
  uint32_t minimumWorkerCount = 1;
  uint32_t verifyWorkerCount = 0;  // 0 means workerCount
  uint32_t bufferSize = 4194304;   // verification read buffer, bytes
  uint32_t retryCount = 1;         // extra attempts after a failed copy or verification
  uint32_t optionFlags = 0;        // k* option bits above
  uint32_t smallFileThreshold = 262144;  // largest file the read-ahead pipeline takes
  uint32_t readAheadQueueFiles = 128;
  uint32_t memoryBudgetMiB = 256;
  uint8_t conflictPolicy = 0;    // see ConflictPolicy
  uint8_t verificationMode = 0;  // not range-checked when the request is read
  std::vector<std::u16string> sourceRoots;
  std::u16string destinationRoot;
};

// `option` is one of the k* bits above.
inline bool hasOption(const WorkerRequest& request, uint32_t option) {
  return (request.optionFlags & option) != 0;
}

inline bool isVerifyOnly(const WorkerRequest& request) {
  return request.verifyOnly != 0;
}

inline ConflictPolicy conflictPolicyOf(const WorkerRequest& request) {
  switch (request.conflictPolicy) {
    case 0:
      return ConflictPolicy::kSkip;
    case 1:
      return ConflictPolicy::kOverwrite;
    default:
      return ConflictPolicy::kRename;
  }
}

}  // namespace qv

#endif  // QV_REQUEST_REQUEST_H_
