#include "paths/source_scan.h"

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <utility>
#include <vector>

#include "frame/event_text.h"
#include "paths/path_resolution.h"
#include "progress/progress.h"

namespace qv {
namespace {

using Entry = Platform::DirectoryEntry;
using Kind = Entry::Kind;

constexpr uint32_t kFilesPerScanEvent = 512;

// What became of the entry met last. A failure to move on past it counts as
// a failed file only after an entry that was handled normally, not after a
// skipped link or an entry whose destination could not be computed.
enum class LastEntry { kNone, kHandled, kSkipped };

// What an entry is planned as.
enum class EntryType { kFolder, kFile, kNothing };

// One folder of the walk, listed whole when it is reached. Holding listings
// rather than open handles keeps one folder open at a time, so neither the
// handle limit nor the stack limits how deep a tree can be.
struct Folder {
  std::u16string path;
  // Its destination; kept only while entry paths are known to be their own
  // final paths (see RootScan::exact_).
  std::u16string destination;
  std::vector<Entry> entries;
  std::size_t next = 0;
  // An error the listing ended with after `entries`: it is met when the walk
  // moves on past the last of them.
  SysError listingError = 0;
};

void planFile(JobContext& job, const std::u16string& path, std::u16string destination,
              const FileInfo& info) {
  PlannedFile file;
  file.sourcePath = path;
  file.readPath = path;
  file.destinationPath = std::move(destination);
  file.size = info.size;
  file.lastWriteTime = info.lastWriteTime.ticks;
  job.plan.files.push_back(std::move(file));
  job.counters.totalBytes.fetch_add(info.size);
  const uint32_t counted = job.counters.totalFiles.fetch_add(1) + 1;
  if (counted % kFilesPerScanEvent == 0) {
    sendScanProgress(job, path, ScanProgress::kScanning);
  }
}

// The type of an entry that is not a link, as planning sees it. The listing
// decides for what it named a folder, a file or something else; only an
// entry it could not type (or one it saw as a link that is a link no more)
// is typed by `own`, the entry's own information.
EntryType typeOf(Kind listed, const FileInfo& own) {
  switch (listed) {
    case Kind::Directory:
      return EntryType::kFolder;
    case Kind::File:
      return EntryType::kFile;
    case Kind::Other:
      return EntryType::kNothing;
    case Kind::Link:
    case Kind::Unknown:
      break;
  }
  if (own.isDirectory) return EntryType::kFolder;
  return own.isSpecial ? EntryType::kNothing : EntryType::kFile;
}

// The walk of one folder root.
class RootScan {
 public:
  RootScan(JobContext& job, std::u16string root, std::u16string destination)
      : job_(job),
        platform_(job.platform),
        style_(platform_.pathStyle()),
        root_(std::move(root)),
        destination_(std::move(destination)) {
    // An entry's destination is its path relative to the root, both weakly
    // resolved. The root's resolution does not change while the scan runs,
    // so it is taken once. When the root is its own final path, so is an
    // entry path made by joining listed names under it (links are never
    // descended into): the entry's resolution would give back its own path,
    // and its path relative to the root is its names. So the destination
    // needs no per-entry system call. Any entry the shortcut meets a failure
    // on is looked at the long way (visitLiterally), so that failures come
    // out exactly as the rules say.
    rootError_ = resolveWeakly(platform_, root_, resolvedRoot_);
    exact_ = rootError_ == 0 && resolvedRoot_ == root_;
  }

  // False when the job was cancelled during the walk.
  bool run() {
    Folder top{root_, destination_, {}, 0, 0};
    list(top);
    // A root that cannot be listed at all contributes nothing further, and
    // nothing is counted for it.
    if (top.entries.empty()) return true;
    stack_.push_back(std::move(top));
    while (!stack_.empty()) {
      Folder& folder = stack_.back();
      if (folder.next == folder.entries.size()) {
        const SysError error = folder.listingError;
        stack_.pop_back();
        if (error != 0) {
          countFailedAdvance();
          return true;
        }
        continue;
      }
      const Entry& entry = folder.entries[folder.next++];
      if (job_.control.cancelled()) return false;
      job_.control.waitWhilePaused();
      std::u16string path = childPath(folder.path, entry.name);
      std::u16string destination;
      if (exact_) destination = joinPath(style_, folder.destination, entry.name);
      // `folder` and `entry` are not touched again: visiting may push a
      // subfolder and move them.
      if (!visit(std::move(path), std::move(destination), entry.kind)) return true;
    }
    return true;
  }

 private:
  // The folder's path, one separator unless it already ends with one, the
  // name.
  std::u16string childPath(const std::u16string& folder, const std::u16string& name) const {
    std::u16string path;
    path.reserve(folder.size() + 1 + name.size());
    path = folder;
    if (path.empty() || !isSeparator(style_, path.back())) {
      path += preferredSeparator(style_);
    }
    path += name;
    return path;
  }

  void list(Folder& folder) {
    folder.listingError = platform_.listDirectory(folder.path, [&](const Entry& entry) {
      folder.entries.push_back(entry);
      return true;
    });
  }

  // False ends the walk of this root.
  bool visit(std::u16string path, std::u16string destination, Kind kind) {
    if (!exact_) return visitLiterally(path, destination, kind, nullptr);
    // A listed folder needs no call of its own: its listing, taken next
    // anyway, shows whether it can be entered.
    if (kind == Kind::Directory) return enterFolder(std::move(path), std::move(destination));
    // For a file this one call also reads its size and time.
    FileInfo info;
    if (platform_.queryPath(path, LinkMode::NoFollow, info) != 0) {
      return visitLiterally(path, destination, kind, nullptr);
    }
    if (info.isLink) {
      last_ = LastEntry::kSkipped;
      return true;
    }
    switch (typeOf(kind, info)) {
      case EntryType::kFolder:
        return enterFolder(std::move(path), std::move(destination));
      case EntryType::kFile:
        planFile(job_, path, std::move(destination), info);
        break;
      case EntryType::kNothing:
        break;
    }
    last_ = LastEntry::kHandled;
    return true;
  }

  // A folder entry met while paths are exact: listed first, planned and
  // entered when the listing works. A listing that fails outright may stand
  // for a failure of the entry itself, which the long way tells apart.
  bool enterFolder(std::u16string path, std::u16string destination) {
    Folder folder{std::move(path), std::move(destination), {}, 0, 0};
    list(folder);
    if (folder.entries.empty() && folder.listingError != 0) {
      const SysError listingError = folder.listingError;
      return visitLiterally(folder.path, folder.destination, Kind::Directory, &listingError);
    }
    job_.plan.directories.push_back({folder.path, folder.path, folder.destination});
    last_ = LastEntry::kHandled;
    if (!folder.entries.empty()) stack_.push_back(std::move(folder));
    return true;
  }

  // An entry looked at the way the host's rules state it: its own attributes
  // (a link is skipped and not entered), the weak resolutions of its path and
  // of the root, then its type with links followed. `listingError`, when
  // given, is how listing the entry as a folder has already failed.
  // `walkDestination` is the Folder::destination a folder entry is entered
  // with.
  bool visitLiterally(const std::u16string& path, const std::u16string& walkDestination,
                      Kind kind, const SysError* listingError) {
    FileInfo info;
    const bool haveInfo = platform_.queryPath(path, LinkMode::NoFollow, info) == 0;
    if (haveInfo && info.isLink) {
      last_ = LastEntry::kSkipped;
      return true;
    }
    const bool descend =
        kind == Kind::Directory || (kind == Kind::Unknown && haveInfo && info.isDirectory);
    std::u16string destination;
    if (!destinationOf(path, destination)) {
      last_ = LastEntry::kSkipped;
      return !descend || descendInto(path, walkDestination, listingError);
    }
    switch (haveInfo ? typeOf(kind, info) : typeFollowingLinks(path, kind)) {
      case EntryType::kFolder:
        job_.plan.directories.push_back({path, path, destination});
        break;
      case EntryType::kFile:
        addScannedFile(job_, path, destination);
        break;
      case EntryType::kNothing:
        break;
    }
    last_ = LastEntry::kHandled;
    return !descend || descendInto(path, walkDestination, listingError);
  }

  // The type of an entry whose own attributes could not be read: the
  // listing's word for what it typed, else whatever the path leads to now
  // (nothing when that cannot be read either, as for an entry that vanished).
  EntryType typeFollowingLinks(const std::u16string& path, Kind kind) {
    if (kind != Kind::Link && kind != Kind::Unknown) return typeOf(kind, FileInfo{});
    FileInfo target;
    if (platform_.queryPath(path, LinkMode::Follow, target) != 0) return EntryType::kNothing;
    if (target.isDirectory) return EntryType::kFolder;
    return target.isSpecial ? EntryType::kNothing : EntryType::kFile;
  }

  // The entry's destination under the root's destination folder, or false
  // after counting and recording why it cannot be computed.
  bool destinationOf(const std::u16string& path, std::u16string& destination) {
    std::u16string resolved;
    SysError error = resolveWeakly(platform_, path, resolved);
    if (error == 0) error = rootError_;
    if (error != 0) {
      job_.counters.failedFiles.fetch_add(1);
      job_.errors.recordFailure(path, destination_,
                                "Unable to calculate destination path: " +
                                    job_.errorText(error));
      return false;
    }
    destination = joinPath(style_, destination_, relativeUnder(style_, resolved, resolvedRoot_));
    return true;
  }

  // Moves into a folder entry after it was met. `listingError`, when given,
  // is the outcome of listing it already. False ends the walk of this root.
  bool descendInto(const std::u16string& path, const std::u16string& destination,
                   const SysError* listingError) {
    Folder folder{path, destination, {}, 0, 0};
    SysError error = 0;
    if (listingError != nullptr) {
      error = *listingError;
    } else {
      list(folder);
      error = folder.listingError;
      if (!folder.entries.empty()) {
        stack_.push_back(std::move(folder));
        return true;
      }
    }
    if (error == 0 || countsAsEmpty(path, error)) return true;
    countFailedAdvance();
    return false;
  }

  // A folder that access is denied to is silently empty, and so is one whose
  // listing says "not found" while the folder is still there (Windows says
  // so for an empty drive root, which has not even "." to list).
  bool countsAsEmpty(const std::u16string& path, SysError error) {
    if (platform_.isAccessDenied(error)) return true;
    if (!platform_.isNotFoundFamily(error)) return false;
    FileInfo info;
    return platform_.queryPath(path, LinkMode::Follow, info) == 0 && info.isDirectory;
  }

  // The walk could not move on past the entry met last, which ends it.
  void countFailedAdvance() {
    if (last_ == LastEntry::kHandled) job_.counters.failedFiles.fetch_add(1);
  }

  JobContext& job_;
  Platform& platform_;
  const PathStyle style_;
  const std::u16string root_;
  const std::u16string destination_;
  std::u16string resolvedRoot_;
  SysError rootError_ = 0;
  bool exact_ = false;
  std::vector<Folder> stack_;
  LastEntry last_ = LastEntry::kNone;
};

// The name a folder root's destination folder gets. Most roots have one of
// their own. A root without one (`C:\`, `/`, `\\server\share\`, a volume
// reached through `\\?\GLOBALROOT\Device\...\`) joined as it stands would put
// its copies into destinationRoot itself, on a drive-relative path or
// outside destinationRoot altogether, so it is named instead by:
// - the last name in its path: `share`, `HarddiskVolume5`, and `C` for the
//   `C:` of `\\?\C:\`;
// - else the letter of its drive: `C` for `C:\`;
// - else "root": the POSIX `/`.
// The names `.` and `..` (left by a root that could only be normalised
// lexically) are not names of their own either: `..` would climb out. In the
// Windows style a name never keeps a drive's colon, which would make the
// join leave destinationRoot for that drive.
std::u16string rootFolderName(PathStyle style, std::u16string_view root) {
  const auto isDots = [](std::u16string_view name) {
    return name == u"." || name == u"..";
  };
  std::u16string name = fileName(style, root);
  if (name.empty() || isDots(name)) {
    name.clear();
    for (PathElementCursor cursor(style, root); !cursor.atEnd(); cursor.advance()) {
      const PathElement& element = cursor.element();
      if (element.kind == PathElementKind::Name && !isDots(element.text)) {
        name = element.text;
      }
    }
  }
  if (name.empty()) name = rootName(style, root);
  if (style == PathStyle::Windows && startsWithDriveDesignator(name)) {
    name.erase(1, 1);
  } else if (style == PathStyle::Windows && !name.empty() && isSeparator(style, name[0])) {
    name.clear();  // a share's or device's root name: not a name
  }
  return name.empty() ? std::u16string(u"root") : name;
}

}  // namespace

std::u16string rootDestinationFolder(PathStyle style, std::u16string_view destinationRoot,
                                     std::u16string_view root) {
  return joinPath(style, destinationRoot, rootFolderName(style, root));
}

void addScannedFile(JobContext& job, const std::u16string& path,
                    const std::u16string& destination) {
  FileInfo info;
  const SysError error = job.platform.queryPath(path, LinkMode::NoFollow, info);
  if (error != 0) {
    job.counters.failedFiles.fetch_add(1);
    job.errors.recordFailure(path, destination,
                             "Unable to read source information: " + job.errorText(error));
    return;
  }
  planFile(job, path, destination, info);
}

void scanSources(JobContext& job) {
  Platform& platform = job.platform;
  // The scan lists a folder and then queries each of its entries.
  FolderReuseScope reuse(platform);
  const PathStyle style = platform.pathStyle();
  // Used exactly as the request holds it: neither resolved nor normalised.
  const std::u16string destinationRoot = job.request.destinationRoot;
  // The scan appends to the planned lists only, never to the roots.
  for (const std::u16string& entry : job.request.sourceRoots) {
    if (job.control.cancelled()) return;
    job.control.waitWhilePaused();
    std::u16string root = resolveRoot(platform, entry);
    FileInfo info;
    if (platform.queryPath(root, LinkMode::NoFollow, info) != 0) {
      throw std::runtime_error("Source path was not found: " + toUtf8(entry));
    }
    // A link still there after resolution is one whose target cannot be
    // opened. A FIFO, socket or device given as a root is skipped like one
    // met inside a folder: reading it may never end.
    if ((info.isLink && !info.isOtherReparsePoint) || info.isSpecial) continue;
    if (!info.isDirectory) {
      addScannedFile(job, root, joinPath(style, destinationRoot, fileName(style, root)));
      continue;
    }
    std::u16string destination = rootDestinationFolder(style, destinationRoot, root);
    job.plan.directories.push_back({root, root, destination});
    RootScan scan(job, std::move(root), std::move(destination));
    if (!scan.run()) return;
  }
  sendScanProgress(job, u"", ScanProgress::kComplete);
}

}  // namespace qv
