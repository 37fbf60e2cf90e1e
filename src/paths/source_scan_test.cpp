#include "paths/source_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "frame/event_text.h"
#include "paths/path_resolution.h"
#include "support/captured_job.h"
#include "support/fault_platform.h"
#include "support/worker_run.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using namespace test;

using ScanJob = test::CapturedJob;

// Folders end with '/'; a file holds its own name (without its folders) as
// its bytes.
void makeTree(const fs::path& base, std::initializer_list<std::string> entries) {
  fs::create_directories(base);
  for (const std::string& entry : entries) {
    if (entry.back() == '/') {
      fs::create_directories(base / entry.substr(0, entry.size() - 1));
    } else {
      std::ofstream(base / entry, std::ios::binary) << fs::path(entry).filename().string();
    }
  }
}

// What the scan should meet under `folder`, by a plain recursive walk over
// the same listings: depth first, each folder before its contents.
struct Walked {
  std::u16string path;
  bool folder;
};
void referenceWalk(Platform& platform, const std::u16string& folder, std::vector<Walked>& out) {
  std::vector<Platform::DirectoryEntry> entries;
  platform.listDirectory(folder, [&](const Platform::DirectoryEntry& e) {
    entries.push_back(e);
    return true;
  });
  for (const auto& e : entries) {
    const std::u16string path = joinPath(platform.pathStyle(), folder, e.name);
    const bool isFolder = e.kind == Platform::DirectoryEntry::Kind::Directory;
    if (e.kind != Platform::DirectoryEntry::Kind::Link) out.push_back({path, isFolder});
    if (isFolder) referenceWalk(platform, path, out);
  }
}

// Roots of every shape in one job: a folder tree, a file, an empty folder,
// the same folder twice and, where links can be made, links inside a folder
// (neither planned nor followed), a root link (followed, and named after its
// target) and a dangling root link (ignored). The expectation takes each
// root in request order and a folder root by a plain recursive walk.
TEST(SourceScan, PlansEveryRootShapeDepthFirstInListingOrder) {
  ScratchDir dir;
  const fs::path src = dir.path() / "src";
  makeTree(src, {"one.txt", "empty/", "tree/", "tree/a", "tree/b/", "tree/b/c", "photos/2020/",
                 "photos/2020/a.jpg", "photos/top.txt", "photos/empty/", "photos/z/",
                 "photos/z/c.txt", "photos/z/d.txt"});
  std::vector<std::string> roots = {"photos", "one.txt", "empty", "tree", "tree"};
  std::error_code noLinks;
  fs::create_symlink(src / "one.txt", src / "photos" / "file-link", noLinks);
  if (!noLinks) {
    fs::create_directory_symlink(src / "tree", src / "photos" / "z" / "folder-link");
    fs::create_symlink(src / "missing", src / "photos" / "dangling");
    fs::create_directory_symlink(src / "tree", src / "root-link");
    fs::create_symlink(src / "missing", src / "dangling-root");
    roots.insert(roots.end(), {"root-link", "dangling-root"});
  }
  ScanJob scan;
  for (const std::string& r : roots) scan.request.sourceRoots.push_back(u16(src / r));
  scan.request.destinationRoot = u16(dir.path() / "out");
  scanSources(scan.job);

  // (source, destination) pairs; destinations by the standard library's
  // own path rules.
  using Planned = std::vector<std::pair<std::u16string, std::u16string>>;
  Planned files, folders;
  for (const std::string& r : roots) {
    if (!fs::exists(src / r)) continue;
    const std::u16string root = resolveRoot(scan.job.platform, u16(src / r));
    const fs::path out = dir.path() / "out" / fs::path(root).filename();
    if (!fs::is_directory(src / r)) {
      files.emplace_back(root, u16(out));
      continue;
    }
    folders.emplace_back(root, u16(out));
    std::vector<Walked> walk;
    referenceWalk(scan.job.platform, root, walk);
    for (const Walked& w : walk) {
      const fs::path rel = fs::path(w.path).lexically_relative(fs::path(root));
      (w.folder ? folders : files).emplace_back(w.path, u16((out / rel).lexically_normal()));
    }
  }
  Planned plannedFiles, plannedFolders;
  uint64_t bytes = 0;
  for (const PlannedFile& f : scan.plan.files) {
    plannedFiles.emplace_back(f.sourcePath, f.destinationPath);
    FileInfo info;
    ASSERT_EQ(scan.job.platform.queryPath(f.sourcePath, LinkMode::NoFollow, info), 0u);
    EXPECT_EQ(f.readPath, f.sourcePath);
    EXPECT_EQ(f.size, fileName(scan.job.platform.pathStyle(), f.sourcePath).size());
    EXPECT_EQ(f.lastWriteTime, info.lastWriteTime.ticks);
    bytes += f.size;
  }
  for (const PlannedDirectory& d : scan.plan.directories) {
    plannedFolders.emplace_back(d.sourcePath, d.destinationPath);
    EXPECT_EQ(d.readPath, d.sourcePath);
  }
  EXPECT_EQ(plannedFiles, files);
  EXPECT_EQ(plannedFolders, folders);
  EXPECT_EQ(scan.counters.totalFiles.load(), files.size());
  EXPECT_EQ(scan.counters.totalBytes.load(), bytes);
  EXPECT_EQ(scan.counters.failedFiles.load(), 0u);
  EXPECT_EQ(scan.errors.escapedForEvent(), "");
  EXPECT_EQ(scan.output.lines(),
            std::vector<std::string>{scanCompleteLine(bytes, static_cast<uint32_t>(files.size()))});
}

// A cancel during the third progress interval: the files up to it are
// planned and their progress sent, the final event is not, and neither the
// rest of the folder nor the next root is looked at.
TEST(SourceScan, ReportsProgressEvery512FilesUntilACancelWithoutTheFinalEvent) {
  ScratchDir dir;
  fs::create_directories(dir.path() / "many");
  for (int i = 0; i < 1100; ++i) writeBytes(dir.path() / "many" / std::to_string(i), "x");
  makeTree(dir.path() / "next", {"n"});
  FaultPlatform faults(systemPlatform());
  ScanJob scan(faults);
  faults.addHook(Op::QueryPath, When::After, [&](const std::u16string&) {
    if (scan.plan.files.size() == 1029) scan.control.cancel();
  });
  scan.request.sourceRoots = {u16(dir.path() / "many"), u16(dir.path() / "next")};
  scan.request.destinationRoot = u16(dir.path() / "out");
  scanSources(scan.job);
  // The next root's file would be one more.
  ASSERT_EQ(scan.plan.files.size(), 1030u);
  const auto scanning = [&](uint32_t count) {
    const std::u16string& path = scan.plan.files[count - 1].sourcePath;
    return scanProgressLine("Scanning source...", jsonEscape(toUtf8(path)), count, count);
  };
  EXPECT_EQ(scan.output.lines(), (std::vector<std::string>{scanning(512), scanning(1024)}));
}

// Lists `brokenListing` as far as its first entry, then fails.
struct ScanFaults : FaultPlatform {
  using FaultPlatform::FaultPlatform;
  SysError listDirectory(const std::u16string& path,
                         const std::function<bool(const DirectoryEntry&)>& visit) override {
    if (path != brokenListing) return FaultPlatform::listDirectory(path, visit);
    bool given = false;
    FaultPlatform::listDirectory(
        path, [&](const DirectoryEntry& e) { return !std::exchange(given, true) && visit(e); });
    return diskFullError();
  }
  std::u16string brokenListing;
};

// Every failure row: what is counted, what is recorded, where the walk goes
// on. The tree's second root shows whether the scan went on past the first.
TEST(SourceScan, FailuresAreCountedAndRecordedAsTheRulesSay) {
  ScratchDir dir;
  makeTree(dir.path() / "src", {"f1", "f2", "sub/", "sub/inner1", "sub/inner2"});
  makeTree(dir.path() / "next", {"n"});
  Platform& real = systemPlatform();
  const PathStyle style = real.pathStyle();
  const std::u16string rootText = u16(dir.path() / "src");
  const std::u16string src = resolveRoot(real, rootText);
  const std::u16string sub = joinPath(style, src, u"sub");
  const std::u16string f1 = joinPath(style, src, u"f1");
  const std::u16string destFolder = u16(dir.path() / "out" / "src");
  // Access denied, and a failure outside the access-denied and not-found
  // families.
  const SysError denied = style == PathStyle::Windows ? 5 : 13;
  const SysError other = real.diskFullError();
  const std::string io = systemErrorText(real, other);
  std::vector<Walked> walk;  // the entries of src, in the order the scan meets them
  referenceWalk(real, src, walk);
  // Whether the listing gives the folder first decides what a listing that
  // breaks after its first entry leaves.
  const bool subFirst = walk[0].folder;

  struct Case {
    const char* name;
    std::function<void(ScanFaults&)> arrange;
    uint32_t failed;
    std::string errors;
    // The first `unresolved` entries met are each recorded as a destination
    // that cannot be calculated.
    size_t unresolved;
    bool subPlanned;
    size_t filesFromSrc;
  };
  const std::vector<Case> cases = {
      {"unreadable file information: counted and recorded",
       [&](ScanFaults& p) { p.failCalls(Op::QueryPath, other, {f1}); }, 1,
       jsonEscape(toUtf8(f1) + " -> " + toUtf8(joinPath(style, destFolder, u"f1")) +
                  ": Unable to read source information: " + io),
       0, true, 3},
      {"subfolder denied: planned, empty, nothing counted",
       [&](ScanFaults& p) { p.failCalls(Op::ListDirectory, denied, {sub}); }, 0, "", 0, true, 2},
      {"root cannot be listed: nothing counted",
       [&](ScanFaults& p) { p.failCalls(Op::ListDirectory, other, {src}); }, 0, "", 0, false, 0},
      {"root's resolution fails: every entry counted and recorded",
       [&](ScanFaults& p) { p.failCalls(Op::FinalPath, other, {rootText}); }, 5, "", 5, false, 0},
      {"listing breaks after a planned entry: the root ends, the break counted",
       [&](ScanFaults& p) { p.brokenListing = src; }, 1, "", 0, subFirst, subFirst ? 2u : 1u},
      // Without the root's resolution the walk runs under its lexical form.
      {"listing breaks after a failed destination: only the entries counted",
       [&](ScanFaults& p) {
         p.failCalls(Op::FinalPath, other, {rootText});
         p.brokenListing = lexicallyNormal(style, rootText);
       },
       subFirst ? 3u : 1u, "", subFirst ? 3u : 1u, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScanFaults faults(real);
    c.arrange(faults);
    ScanJob scan(faults);
    scan.request.sourceRoots = {rootText, u16(dir.path() / "next")};
    scan.request.destinationRoot = u16(dir.path() / "out");
    scanSources(scan.job);
    EXPECT_EQ(scan.counters.failedFiles.load(), c.failed);
    // Each unresolved entry names the root's destination folder. The root
    // is then its lexical form, which the entry paths start with.
    std::string expected = c.errors;
    for (size_t i = 0; i < c.unresolved; ++i) {
      if (!expected.empty()) expected += "\\n";
      const std::u16string entry = joinPath(style, scan.plan.directories.at(0).sourcePath,
                                            relativeUnder(style, walk[i].path, src));
      expected += jsonEscape(toUtf8(entry) + " -> " + toUtf8(destFolder) +
                             ": Unable to calculate destination path: " + io);
    }
    EXPECT_EQ(scan.errors.escapedForEvent(), expected);
    EXPECT_EQ(std::count_if(scan.plan.directories.begin(), scan.plan.directories.end(),
                            [&](const PlannedDirectory& d) { return d.sourcePath == sub; }),
              c.subPlanned ? 1 : 0);
    // The second root is scanned in every case.
    EXPECT_EQ(scan.plan.files.size(), c.filesFromSrc + 1);
    EXPECT_EQ(fileName(style, scan.plan.files.at(c.filesFromSrc).sourcePath), u"n");
    EXPECT_EQ(scan.output.lines().size(), 1u);
  }
}

// Into E:\backup in the Windows style, /backup in the POSIX style.
TEST(SourceScan, RootsWithoutANameOfTheirOwnStayInsideTheDestination) {
  struct Case {
    PathStyle style;
    std::u16string root;
    std::u16string folder;
  };
  const std::vector<Case> cases = {
      {PathStyle::Windows, u"D:\\src\\photos", u"E:\\backup\\photos"},
      {PathStyle::Windows, u"C:\\", u"E:\\backup\\C"},
      {PathStyle::Windows, u"\\\\?\\C:\\", u"E:\\backup\\C"},
      {PathStyle::Windows, u"\\\\?\\C:", u"E:\\backup\\C"},
      {PathStyle::Windows, u"\\\\server\\", u"E:\\backup\\root"},
      {PathStyle::Windows, u"\\\\server\\share\\", u"E:\\backup\\share"},
      {PathStyle::Windows, u"..\\..", u"E:\\backup\\root"},
      {PathStyle::Posix, u"/", u"/backup/root"},
      {PathStyle::Posix, u"/mnt/C:/", u"/backup/C:"},
  };
  for (const Case& c : cases) {
    const std::u16string destination = c.style == PathStyle::Windows ? u"E:\\backup" : u"/backup";
    EXPECT_EQ(rootDestinationFolder(c.style, destination, c.root), c.folder) << toUtf8(c.root);
  }
}

}  // namespace
}  // namespace qv
