// The job as the host describes it: the parsed request and the planned files
// and folders that every phase works through.

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

// One file of the job. Its position in WorkerRequest::files is its item index,
// which appears in its staging-file name, so the list is only ever appended to.
//
// The three state flags are written by whichever thread holds the item at the
// time (planning under its lock, then one copy or verification worker) and read
// by other threads only after those workers have been joined. They are separate
// bools on purpose: distinct objects are distinct memory locations, so
// neighbouring items' and neighbouring flags' writes never race. Do not pack
// them into a bit field.
struct PlannedFile {
  std::u16string sourcePath;       // the source as reported in events and error lines
  std::u16string readPath;         // opened and read instead of sourcePath when not empty
  std::u16string destinationPath;  // final destination; replaced once under the rename policy
  std::u16string stagingPath;      // what the copy writes; empty until the copy engine sets it
  uint64_t size = 0;               // source size in bytes; refreshed by the copy engine
  uint64_t lastWriteTime = 0;      // 100 ns units since 1601-01-01 UTC; 0 when none was recorded
  bool resolved = false;   // the conflict decision is taken and destinationPath is final
  bool copied = false;     // copied in this run; awaits verification or commit
  bool committed = false;  // the destination holds the final file
};

// One folder of the job. With both source paths empty no folder metadata is
// copied; the folder is only created.
struct PlannedDirectory {
  std::u16string sourcePath;
  std::u16string readPath;  // read instead of sourcePath when not empty
  std::u16string destinationPath;
};

// The parsed request. The initial values below are what a default record
// holds; a request that loads successfully replaces every one of them with
// the host's value. Read by every phase; only the scan, on the main thread
// before any worker starts, appends to files and directories.
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
  std::vector<PlannedFile> files;
  std::vector<PlannedDirectory> directories;
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
