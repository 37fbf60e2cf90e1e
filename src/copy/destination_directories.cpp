#include "copy/destination_directories.h"

#include <algorithm>
#include <string>
#include <unordered_set>
#include <vector>

#include "paths/path_algebra.h"
#include "paths/path_resolution.h"

namespace qv {
namespace {

struct FolderToCreate {
  const std::u16string* sourcePath;  // null for a file's parent
  std::u16string destinationPath;
};

const std::u16string kNoSource;

// Creates one folder whose parent this pass has already made or found. The
// chain walk would only meet existing folders before the last name, so its
// answer is this single creation's: success, or the last name's own error.
// Saves a creation attempt per ancestor for every folder of a deep tree.
SysError createUnderKnownParent(Platform& platform, const std::u16string& path,
                                bool& created) {
  const SysError err = platform.createDirectory(path);
  created = err == 0;
  if (err == 0 || !platform.isAlreadyExists(err)) return err;
  FileInfo info;
  if (platform.queryPath(path, LinkMode::Follow, info) == 0 && info.isDirectory) {
    return 0;
  }
  return err;
}

}  // namespace

JobFolders createDestinationDirectories(JobContext& job) {
  const PathStyle style = job.platform.pathStyle();
  const JobPlan& plan = job.plan;

  std::vector<FolderToCreate> work;
  work.reserve(plan.directories.size());
  std::unordered_set<std::u16string> keys;
  for (const PlannedDirectory& folder : plan.directories) {
    work.push_back({&folder.sourcePath, folder.destinationPath});
    keys.insert(lexicallyNormal(style, folder.destinationPath));
  }
  // Files of one folder come in runs, so the previous parent answers most
  // look-ups without normalising again.
  std::u16string previousParent;
  bool havePrevious = false;
  for (const PlannedFile& file : plan.files) {
    std::u16string parent = parentPath(style, file.destinationPath);
    if (havePrevious && parent == previousParent) continue;
    std::u16string key = lexicallyNormal(style, parent);
    previousParent = std::move(parent);
    havePrevious = true;
    if (key.empty() || !keys.insert(key).second) continue;
    work.push_back({nullptr, std::move(key)});
  }
  std::stable_sort(work.begin(), work.end(),
                   [](const FolderToCreate& a, const FolderToCreate& b) {
                     return a.destinationPath.size() < b.destinationPath.size();
                   });

  JobFolders folders;
  std::unordered_set<std::u16string> madeOrFound;
  for (const FolderToCreate& folder : work) {
    if (job.control.cancelled()) return folders;
    const std::u16string& path = folder.destinationPath;
    folders.planned.insert(destinationKey(style, path));
    SysError err = 0;
    bool created = false;
    const bool plain = isAbsolute(style, path) && lexicallyNormal(style, path) == path &&
                       !fileName(style, path).empty();
    if (plain && madeOrFound.count(parentPath(style, path)) != 0) {
      err = createUnderKnownParent(job.platform, path, created);
    } else {
      err = ensureDirectoryChain(job.platform, path, &created);
    }
    if (err == 0) {
      if (created) folders.created.insert(destinationKey(style, path));
      madeOrFound.insert(path);
      continue;
    }
    job.counters.failedFiles.fetch_add(1);
    job.errors.recordFailure(folder.sourcePath ? *folder.sourcePath : kNoSource, path,
                             "Unable to create destination directory: " +
                                 job.errorText(err));
  }
  return folders;
}

void applyDirectoryMetadata(JobContext& job) {
  const WorkerRequest& request = job.request;
  const bool times = hasOption(request, kPreserveTimestamps);
  const bool attributes = hasOption(request, kPreserveAttributes);
  if (!times && !attributes) return;

  std::vector<const PlannedDirectory*> folders;
  for (const PlannedDirectory& folder : job.plan.directories) {
    if (folder.destinationPath.empty()) continue;
    if (folder.readPath.empty() && folder.sourcePath.empty()) continue;
    folders.push_back(&folder);
  }
  // Deepest first: setting a child's times touches nothing of its parent,
  // but a read-only parent must be the last thing changed above it.
  std::stable_sort(folders.begin(), folders.end(),
                   [](const PlannedDirectory* a, const PlannedDirectory* b) {
                     return a->destinationPath.size() > b->destinationPath.size();
                   });

  Platform& platform = job.platform;
  for (const PlannedDirectory* folder : folders) {
    const std::u16string& source =
        folder->readPath.empty() ? folder->sourcePath : folder->readPath;
    const std::u16string& destination = folder->destinationPath;
    auto warn = [&](const char* prefix, SysError err) {
      job.errors.recordWarning(folder->sourcePath, destination,
                               prefix + job.errorText(err));
    };
    FileInfo info;
    if (SysError err = platform.readFileInfo(source, info)) {
      warn("Unable to read final directory metadata: ", err);
      continue;
    }
    if (times) {
      std::unique_ptr<MetadataWriter> writer;
      if (SysError err = platform.openForMetadataWrite(destination, writer)) {
        warn("Unable to open the destination directory for metadata: ", err);
      } else if (SysError setErr = writer->setTimes(info)) {
        warn("Unable to preserve directory timestamps: ", setErr);
      }
    }
    if (attributes) {
      if (SysError err =
              platform.setAttributes(destination, platform.attributesToPreserve(info))) {
        warn("Unable to preserve directory attributes: ", err);
      }
    }
  }
}

}  // namespace qv
