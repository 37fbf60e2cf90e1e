#include "paths/destination_planning.h"

#include "frame/item_outcome.h"
#include "paths/path_algebra.h"

namespace qv {

const char kOverwriteCollision[] =
    "Multiple source files resolve to the same overwrite destination.";
const char kFolderAtTarget[] = "A folder exists at the target file path.";
const char kNoRenamedDestination[] = "Unable to reserve a renamed destination.";

namespace {

// The counter of a renamed destination stays below this.
constexpr uint32_t kRenameLimit = 1000000;

void appendDecimal(std::u16string& out, uint32_t value) {
  char16_t digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n > 0) out.push_back(digits[--n]);
}

// Anything at all at the path counts, a dangling link included: the probe
// does not follow links, and any failure, whatever its code, means absent.
bool isPresent(Platform& platform, const std::u16string& path, FileInfo& info) {
  return platform.queryPath(path, LinkMode::NoFollow, info) == 0;
}

constexpr std::u16string_view kStagingMarker = u".qv-native-partial-";

bool isDeviceName(std::u16string_view stem) {
  if (stem.size() < 3 || stem.size() > 7) return false;
  std::u16string upper(stem);
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  for (const std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
    if (upper == device) return true;
  }
  return upper.size() == 4 && (upper.starts_with(u"COM") || upper.starts_with(u"LPT")) &&
         upper[3] >= u'0' && upper[3] <= u'9';
}

// Whether a file name on disk can only be met under this very name (given
// its key's folding). Windows also finds a file under its short name, with
// trailing dots or spaces dropped, by a letter case outside ASCII, or as a
// device; every such name is probed.
bool standsOnlyForItself(PathStyle style, std::u16string_view name) {
  if (name.empty() || name.find(kStagingMarker) != std::u16string_view::npos) return false;
  if (style != PathStyle::Windows) return true;
  for (const char16_t c : name) {
    if (c < 0x20 || c > 0x7E || c == u'~' || c == u':') return false;
  }
  if (name.back() == u'.' || name.back() == u' ') return false;
  return !isDeviceName(name.substr(0, name.find(u'.')));
}

DestinationDecision copyTo(std::u16string path) {
  return {DestinationAction::kCopy, std::move(path), {}};
}

DestinationDecision fail(const char* message) {
  return {DestinationAction::kFail, {}, message};
}

}  // namespace

std::string ReservedDestinations::pack(const std::u16string& key) {
  std::string packed;
  packed.reserve(key.size());
  for (const char16_t unit : key) {
    if (unit < 0x80) {
      packed.push_back(static_cast<char>(unit));
    } else {
      packed.push_back(static_cast<char>(0x80 | (unit >> 12)));
      packed.push_back(static_cast<char>((unit >> 6) & 0x3F));
      packed.push_back(static_cast<char>(unit & 0x3F));
    }
  }
  return packed;
}

DestinationPlanner::DestinationPlanner(JobContext& job, const JobFolders* folders)
    : job_(job), folders_(folders), processId_(job.platform.processId()) {
  // Each file of the job reserves at most one key.
  reserved_.reserve(job.plan.files.size());
}

bool DestinationPlanner::mayBeOnDisk(std::u16string_view key) const {
  if (folders_ == nullptr) return true;
  const PathStyle style = job_.platform.pathStyle();
  size_t slash = key.size();
  while (slash > 0 && !isSeparator(style, key[slash - 1])) --slash;
  if (slash < 2) return true;  // a root's own entry
  const std::u16string_view folder = key.substr(0, slash - 1);
  if (folders_->created.find(folder) == folders_->created.end()) return true;
  if (folders_->planned.find(key) != folders_->planned.end()) return true;
  return !standsOnlyForItself(style, key.substr(slash));
}

DestinationDecision DestinationPlanner::decideDestination(const std::u16string& destination,
                                                          ConflictPolicy policy) {
  Platform& platform = job_.platform;
  const PathStyle style = platform.pathStyle();
  const std::u16string unpackedKey = destinationKey(style, destination);
  std::string key = ReservedDestinations::pack(unpackedKey);

  // The first probe runs before the planning lock is taken, so that threads
  // do not queue behind each other's system calls. The answer is the same
  // as a probe under the lock: within the job a destination only appears
  // after its key was reserved, and the reservation is tested under the lock
  // before the probe's answer counts (every policy treats "reserved" first or
  // alike). The rename candidates below are still probed under the lock.
  FileInfo info;
  const bool present = mayBeOnDisk(unpackedKey) && isPresent(platform, destination, info);
  auto lock = reserved_.lock();
  bool reserved = true;
  if (!present) {
    // The usual case, a free destination, costs one lookup under the lock.
    if (reserved_.tryAdd(std::move(key))) return copyTo(destination);
  } else {
    reserved = reserved_.contains(key);
  }

  switch (policy) {
    case ConflictPolicy::kSkip:
      return {DestinationAction::kSkip, {}, {}};

    case ConflictPolicy::kOverwrite:
      // A second file of the job must never replace the first, whatever is
      // on disk, so the reservation is tested before the folder.
      if (reserved) return fail(kOverwriteCollision);
      if (info.isDirectory) return fail(kFolderAtTarget);
      reserved_.add(std::move(key));
      return copyTo(destination);

    case ConflictPolicy::kRename:
      break;
  }

  const std::u16string parent = parentPath(style, destination);
  const std::u16string stemText = stem(style, destination);
  const std::u16string extensionText = extension(style, destination);
  std::u16string name;
  for (uint32_t n = 1; n < kRenameLimit; ++n) {
    name = stemText;
    name += u" (";
    appendDecimal(name, n);
    name += u')';
    name += extensionText;
    // Returned as built, not normalised: only the key is normalised.
    std::u16string candidate = joinPath(style, parent, name);
    if (isPresent(platform, candidate, info)) continue;
    std::string candidateKey = ReservedDestinations::pack(destinationKey(style, candidate));
    if (reserved_.contains(candidateKey)) continue;
    reserved_.add(std::move(candidateKey));
    return copyTo(std::move(candidate));
  }
  return fail(kNoRenamedDestination);
}

bool DestinationPlanner::prepareDestination(PlannedFile& item, bool& skipped,
                                            std::string& error) {
  skipped = false;
  if (item.resolved) return true;
  DestinationDecision decision =
      decideDestination(item.destinationPath, conflictPolicyOf(job_.request));
  switch (decision.action) {
    case DestinationAction::kFail:
      error = std::move(decision.failure);
      return false;
    case DestinationAction::kSkip:
      // Left unresolved: the item is finished without being copied.
      skipped = true;
      reportItemSkipped(job_, item);
      return true;
    case DestinationAction::kCopy:
      break;
  }
  item.destinationPath = std::move(decision.path);
  item.resolved = true;
  return true;
}

std::u16string DestinationPlanner::stagingPathFor(const PlannedFile& item,
                                                  uint32_t itemIndex) const {
  std::u16string path = item.destinationPath;
  path += u".qv-native-partial-";
  appendDecimal(path, processId_);
  path += u'-';
  appendDecimal(path, itemIndex);
  return path;
}

}  // namespace qv
