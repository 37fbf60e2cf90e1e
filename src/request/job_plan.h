// The job's files and folders and their state as the job works through
// them. The request reader seeds the plan with the host's own entries; every
// later change is made by the one phase named beside the field.

#ifndef QV_REQUEST_JOB_PLAN_H_
#define QV_REQUEST_JOB_PLAN_H_

#include <cstdint>
#include <string>
#include <vector>

namespace qv {

// One file of the job. Its position in JobPlan::files is its item index,
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

struct JobPlan {
  // The scan appends, on the main thread before any worker starts. Destination
  // planning then rewrites each file's destinationPath and sets `resolved`; the
  // copy engine sets stagingPath, size, `copied` and `committed`.
  std::vector<PlannedFile> files;
  // The scan appends; nothing changes an entry afterwards.
  std::vector<PlannedDirectory> directories;
};

}  // namespace qv

#endif  // QV_REQUEST_JOB_PLAN_H_
