// Where each file of a copy job goes when its destination is taken, and the
// name of the staging file a copy is written to before its commit.
//
// Nothing is created on disk here: the file system is only probed, and a
// destination handed out is reserved in memory for the rest of the job.
#ifndef QV_PATHS_DESTINATION_PLANNING_H_
#define QV_PATHS_DESTINATION_PLANNING_H_

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "frame/job_context.h"
#include "request/job_plan.h"
#include "request/request.h"

namespace qv {

// The destination keys (destinationKey()) handed out so far in this job,
// with the planning lock that guards them. Only grows: a key stays reserved
// even when its file later fails, so no two files of one job are ever given
// one destination.
class ReservedDestinations {
 public:
  // The planning lock. Held for the reservation test and the rest of a
  // decision, so that a decision sees every reservation made before it.
  std::unique_lock<std::mutex> lock() { return std::unique_lock<std::mutex>(mutex_); }

  // A destination key as it is stored: a UTF-16 unit below 0x80 as one
  // byte, any other as three (the first from 0x80 to 0x8F). Lossless for any
  // unit sequence, unpaired surrogates included, and half the memory of
  // UTF-16 for the usual paths, which matters when a job reserves millions
  // of keys.
  static std::string pack(const std::u16string& key);

  // Sizes the set for `count` keys, so that no later insertion rehashes the
  // whole set while other threads queue on the planning lock. Call before
  // the planner is shared.
  void reserve(size_t count) { keys_.reserve(count); }

  // All three require the planning lock. tryAdd() reserves the key unless
  // it is reserved already, in one lookup, and says whether it did.
  bool contains(const std::string& packedKey) const { return keys_.count(packedKey) != 0; }
  void add(std::string packedKey) { keys_.insert(std::move(packedKey)); }
  bool tryAdd(std::string packedKey) { return keys_.insert(std::move(packedKey)).second; }

 private:
  std::mutex mutex_;  // the planning lock; guards keys_
  std::unordered_set<std::string> keys_;
};

// A set of destination keys (destinationKey()) that answers for a view too.
struct KeyHash {
  using is_transparent = void;
  size_t operator()(std::u16string_view key) const {
    return std::hash<std::u16string_view>{}(key);
  }
};
using KeySet = std::unordered_set<std::u16string, KeyHash, std::equal_to<>>;

// What the folder stage of a copy job leaves for the conflict decision. A
// folder this job created held nothing when it was made, and while the job
// runs it holds only the job's own entries: reserved destinations, their
// staging files and the planned folders below it. A file planned into such a
// folder needs no presence probe unless its name could stand for one of
// those folders or staging files, or for another name on disk (Windows'
// short names, trailing dots, device names). Another program writing into a
// folder the job just created is met by the commit, which never replaces
// what it did not reserve unless the policy says overwrite.
struct JobFolders {
  KeySet created;  // made by this job's own createDirectory call
  KeySet planned;  // every folder the job created or found
};

enum class DestinationAction {
  kCopy,  // copy to `path`
  kSkip,  // leave the file alone; nothing was reserved
  kFail,  // the file fails with `failure`; nothing was reserved
};

struct DestinationDecision {
  DestinationAction action = DestinationAction::kCopy;
  std::u16string path;  // kCopy: the planned destination, or its renamed form
  std::string failure;  // kFail: the item's error message
};

// The three failures of a decision, word for word as the host sees them.
extern const char kOverwriteCollision[];
extern const char kFolderAtTarget[];
extern const char kNoRenamedDestination[];

// The conflict decision of one copy job. Created once by the copy phase
// and shared by all of its workers; every decision runs under one planning
// lock from its reservation test on, so two files that meet at one
// destination are decided one after the other and the second sees the
// first's reservation.
class DestinationPlanner {
 public:
  // `folders`, when given, must outlive the planner.
  explicit DestinationPlanner(JobContext& job, const JobFolders* folders = nullptr);

  DestinationPlanner(const DestinationPlanner&) = delete;
  DestinationPlanner& operator=(const DestinationPlanner&) = delete;

  // Decides `destination` under `policy`. A destination that is neither on
  // disk (anything at all, a dangling link included) nor reserved is
  // reserved and returned unchanged under every policy. Otherwise:
  // - kSkip skips;
  // - kOverwrite fails if another file of the job holds the key, else fails
  //   if a folder is there, else reserves and returns the destination;
  // - kRename returns the first "<stem> (<n>)<extension>" beside it, n from
  //   1 to 999999, that is neither on disk nor reserved, and reserves it.
  // Safe to call from any thread.
  DestinationDecision decideDestination(const std::u16string& destination,
                                        ConflictPolicy policy);

  // Called for each file before anything of it is read or written; `item`
  // is touched only by the calling thread. True with `skipped` false: copy
  // to item.destinationPath (now final; `resolved` is set). True with
  // `skipped` true: the file is done; skippedFiles was counted and its
  // "skipped" item event sent. False: the file failed with `error` and is
  // left unresolved, so a retry decides again. Returns true at once for an
  // item already resolved.
  bool prepareDestination(PlannedFile& item, bool& skipped, std::string& error);

  // item.destinationPath + ".qv-native-partial-" + process id + "-" +
  // itemIndex: beside the destination, unique to this process and item.
  // Call after prepareDestination() so a renamed destination is in place.
  std::u16string stagingPathFor(const PlannedFile& item, uint32_t itemIndex) const;

 private:
  // False only when nothing but this job's reservations can be at the
  // destination with key `key` (see JobFolders).
  bool mayBeOnDisk(std::u16string_view key) const;

  JobContext& job_;
  const JobFolders* folders_;
  const uint32_t processId_;
  ReservedDestinations reserved_;
};

}  // namespace qv

#endif  // QV_PATHS_DESTINATION_PLANNING_H_
