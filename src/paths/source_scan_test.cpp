#include "paths/source_scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "frame/event_text.h"
#include "paths/path_resolution.h"
#include "support/captured_job.h"
#include "support/fault_platform.h"
#include "support/worker_run.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using test::FaultPlatform;
using test::Op;
using test::ScratchDir;
using test::scanCompleteLine;
using test::scanProgressLine;
using test::u16;

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
void referenceWalk(Platform& platform, const std::u16string& folder,
                   std::vector<Walked>& out) {
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

template <typename Planned>
std::vector<std::u16string> sources(const std::vector<Planned>& planned) {
  std::vector<std::u16string> out;
  for (const Planned& p : planned) out.push_back(p.sourcePath);
  return out;
}

// A code the platform calls "access denied", and one outside every family.
SysError accessDenied(Platform& platform) {
  return platform.pathStyle() == PathStyle::Windows ? 5 : 13;
}
SysError ioError(Platform& platform) {
  return platform.pathStyle() == PathStyle::Windows ? 1117 : 5;
}

bool canMakeLinks(const fs::path& where) {
  std::error_code error;
  fs::create_symlink(where / "nowhere", where / "probe-link", error);
  if (error) return false;
  fs::remove(where / "probe-link");
  return true;
}

TEST(SourceScan, FolderRootIsWalkedDepthFirstInListingOrder) {
  ScratchDir dir;
  makeTree(dir.path() / "photos", {"2020/", "2020/a.jpg", "2020/deep/", "2020/deep/b.jpg",
                                   "top.txt", "empty/", "z/", "z/c.txt", "z/d.txt"});
  ScanJob scan;
  scan.request.sourceRoots = {u16(dir.path() / "photos")};
  scan.request.destinationRoot = u16(dir.path() / "backup");
  scanSources(scan.job);

  const std::u16string root = resolveRoot(scan.job.platform, u16(dir.path() / "photos"));
  // Destinations by the standard library's own path rules.
  const auto destinationOf = [&](const std::u16string& source) {
    const fs::path rel = fs::path(source).lexically_relative(fs::path(root));
    return u16((dir.path() / "backup" / "photos" / rel).lexically_normal());
  };
  std::vector<Walked> walk;
  referenceWalk(scan.job.platform, root, walk);
  std::vector<std::u16string> files;
  std::vector<std::u16string> folders = {root};
  for (const Walked& w : walk) (w.folder ? folders : files).push_back(w.path);
  EXPECT_EQ(sources(scan.plan.directories), folders);
  ASSERT_EQ(sources(scan.plan.files), files);

  EXPECT_EQ(scan.plan.directories[0].destinationPath, u16(dir.path() / "backup" / "photos"));
  for (size_t i = 1; i < folders.size(); ++i) {
    const PlannedDirectory& d = scan.plan.directories[i];
    EXPECT_EQ(d.readPath, d.sourcePath);
    EXPECT_EQ(d.destinationPath, destinationOf(d.sourcePath));
  }
  for (const PlannedFile& f : scan.plan.files) {
    FileInfo info;
    ASSERT_EQ(scan.job.platform.queryPath(f.sourcePath, LinkMode::NoFollow, info), 0u);
    EXPECT_EQ(f.readPath, f.sourcePath);
    EXPECT_EQ(f.destinationPath, destinationOf(f.sourcePath));
    EXPECT_EQ(f.size, fileName(scan.job.platform.pathStyle(), f.sourcePath).size());
    EXPECT_EQ(f.lastWriteTime, info.lastWriteTime.ticks);
  }
  // a.jpg b.jpg top.txt c.txt d.txt, each holding its own name.
  EXPECT_EQ(scan.counters.totalFiles.load(), 5u);
  EXPECT_EQ(scan.counters.totalBytes.load(), 27u);
  EXPECT_EQ(scan.output.lines(), std::vector<std::string>{scanCompleteLine(27, 5)});
}

TEST(SourceScan, RootsOfEveryShape) {
  ScratchDir dir;
  makeTree(dir.path() / "src", {"one.txt", "empty/", "tree/", "tree/a", "tree/b/", "tree/b/c"});
  struct Case {
    const char* name;
    std::vector<std::string> roots;
    std::vector<std::string> files;    // destinations under out/
    std::vector<std::string> folders;  // destinations under out/
  };
  const std::vector<Case> cases = {
      {"no roots", {}, {}, {}},
      {"file root lands directly in the destination root", {"one.txt"}, {"one.txt"}, {}},
      {"empty folder root is still planned", {"empty"}, {}, {"empty"}},
      {"same root twice plans every file twice",
       {"tree", "tree"},
       {"tree/a", "tree/b/c", "tree/a", "tree/b/c"},
       {"tree", "tree/b", "tree", "tree/b"}},
  };
  const auto under = [&](const std::vector<std::string>& names) {
    std::vector<std::u16string> out;
    for (const std::string& n : names) {
      out.push_back(u16((dir.path() / "out" / n).make_preferred()));
    }
    return out;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScanJob scan;
    for (const std::string& r : c.roots) {
      scan.request.sourceRoots.push_back(u16(dir.path() / "src" / r));
    }
    scan.request.destinationRoot = u16(dir.path() / "out");
    scanSources(scan.job);
    std::vector<std::u16string> files;
    uint64_t bytes = 0;
    for (const PlannedFile& f : scan.plan.files) {
      files.push_back(f.destinationPath);
      bytes += f.size;
    }
    std::vector<std::u16string> folders;
    for (const PlannedDirectory& d : scan.plan.directories) folders.push_back(d.destinationPath);
    // Within one folder the listing decides the order; compare files as sets.
    std::vector<std::u16string> expectedFiles = under(c.files);
    std::sort(files.begin(), files.end());
    std::sort(expectedFiles.begin(), expectedFiles.end());
    EXPECT_EQ(files, expectedFiles);
    EXPECT_EQ(folders, under(c.folders));
    EXPECT_EQ(scan.output.lines(), std::vector<std::string>{scanCompleteLine(
                                bytes, static_cast<uint32_t>(c.files.size()))});
    EXPECT_EQ(scan.errors.escapedForEvent(), "");
  }
}

TEST(SourceScan, ReportsProgressEvery512Files) {
  ScratchDir dir;
  const fs::path root = dir.path() / "many";
  fs::create_directories(root);
  for (int i = 0; i < 1100; ++i) test::writeBytes(root / ("f" + std::to_string(i)), "x");
  ScanJob scan;
  scan.request.sourceRoots = {u16(root)};
  scan.request.destinationRoot = u16(dir.path() / "out");
  scanSources(scan.job);

  ASSERT_EQ(scan.plan.files.size(), 1100u);
  const auto scanning = [&](uint32_t count) {
    return scanProgressLine("Scanning source...",
                            jsonEscape(toUtf8(scan.plan.files[count - 1].sourcePath)), count,
                            count);
  };
  const std::vector<std::string> expected = {scanning(512), scanning(1024),
                                             scanCompleteLine(1100, 1100)};
  EXPECT_EQ(scan.output.lines(), expected);
}

TEST(SourceScan, LinksInsideAreSkippedAndRootLinksFollowed) {
  ScratchDir dir;
  if (!canMakeLinks(dir.path())) GTEST_SKIP() << "this system cannot make symbolic links here";
  makeTree(dir.path() / "src", {"real.txt", "sub/", "sub/inner.txt"});
  makeTree(dir.path() / "elsewhere", {"outside.txt"});
  fs::create_symlink(dir.path() / "src" / "real.txt", dir.path() / "src" / "file-link");
  fs::create_directory_symlink(dir.path() / "elsewhere", dir.path() / "src" / "folder-link");
  fs::create_symlink(dir.path() / "src" / "missing", dir.path() / "src" / "dangling");
  fs::create_directory_symlink(dir.path() / "elsewhere", dir.path() / "root-link");
  fs::create_symlink(dir.path() / "missing", dir.path() / "dangling-root");

  ScanJob scan;
  scan.request.sourceRoots = {u16(dir.path() / "src"), u16(dir.path() / "root-link"),
                              u16(dir.path() / "dangling-root")};
  scan.request.destinationRoot = u16(dir.path() / "out");
  scanSources(scan.job);

  const std::u16string src = resolveRoot(scan.job.platform, u16(dir.path() / "src"));
  const std::u16string elsewhere = resolveRoot(scan.job.platform, u16(dir.path() / "elsewhere"));
  std::vector<std::u16string> files = sources(scan.plan.files);
  std::sort(files.begin(), files.end() - 1);
  const PathStyle style = scan.job.platform.pathStyle();
  EXPECT_EQ(files, (std::vector<std::u16string>{joinPath(style, src, u"real.txt"),
                                                joinPath(style, src, u"sub/inner.txt"),
                                                joinPath(style, elsewhere, u"outside.txt")}));
  // The followed root goes under its target's own name.
  EXPECT_EQ(scan.plan.files.back().destinationPath,
            u16(dir.path() / "out" / "elsewhere" / "outside.txt"));
  EXPECT_EQ(sources(scan.plan.directories),
            (std::vector<std::u16string>{src, joinPath(style, src, u"sub"), elsewhere}));
  EXPECT_EQ(scan.counters.totalFiles.load(), 3u);
  EXPECT_EQ(scan.counters.failedFiles.load(), 0u);
  EXPECT_EQ(scan.errors.escapedForEvent(), "");
}

TEST(SourceScan, CancelStopsTheScanWithoutTheFinalEvent) {
  ScratchDir dir;
  makeTree(dir.path() / "first", {"1", "2", "3", "4"});
  makeTree(dir.path() / "second", {"5"});
  FaultPlatform faults(systemPlatform());
  ScanJob scan(faults);
  // The first file read cancels the job; no further entry is looked at.
  faults.addHook(Op::QueryPath, test::When::After, [&](const std::u16string& path) {
    if (fileName(faults.pathStyle(), path).size() == 1) scan.control.cancel();
  });
  scan.request.sourceRoots = {u16(dir.path() / "first"), u16(dir.path() / "second")};
  scan.request.destinationRoot = u16(dir.path() / "out");
  scanSources(scan.job);
  EXPECT_EQ(scan.plan.files.size(), 1u);
  EXPECT_EQ(scan.plan.directories.size(), 1u);
  EXPECT_TRUE(scan.output.lines().empty());
}

// A listing of `path` that gives its first `keep` entries and then fails.
class BrokenListing : public FaultPlatform {
 public:
  BrokenListing(Platform& inner, std::u16string path, size_t keep, SysError code)
      : FaultPlatform(inner), path_(std::move(path)), keep_(keep), code_(code) {}
  SysError listDirectory(const std::u16string& path,
                         const std::function<bool(const DirectoryEntry&)>& visit) override {
    if (path != path_) return FaultPlatform::listDirectory(path, visit);
    size_t given = 0;
    FaultPlatform::listDirectory(path, [&](const DirectoryEntry& e) {
      if (given == keep_) return false;
      ++given;
      return visit(e);
    });
    return code_;
  }

 private:
  std::u16string path_;
  size_t keep_;
  SysError code_;
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
  const std::string io = systemErrorText(real, ioError(real));

  std::vector<Walked> walk;  // the entries of src, in the order the scan meets them
  referenceWalk(real, src, walk);

  struct Case {
    const char* name;
    std::function<void(FaultPlatform&)> arrange;
    uint32_t failed;
    std::string errors;
    bool subPlanned;
    size_t filesFromSrc;
  };
  const std::vector<Case> cases = {
      {"unreadable file information: counted and recorded",
       [&](FaultPlatform& p) { p.failCalls(Op::QueryPath, ioError(real), {f1}); },
       1,
       jsonEscape(toUtf8(f1) + " -> " + toUtf8(joinPath(style, destFolder, u"f1")) +
                  ": Unable to read source information: " + io),
       true, 3},
      {"subfolder denied: planned, empty, nothing counted",
       [&](FaultPlatform& p) { p.failCalls(Op::ListDirectory, accessDenied(real), {sub}); },
       0, "", true, 2},
      {"root cannot be listed: nothing counted",
       [&](FaultPlatform& p) { p.failCalls(Op::ListDirectory, ioError(real), {src}); },
       0, "", false, 0},
      {"root's resolution fails: every entry counted and recorded",
       [&](FaultPlatform& p) { p.failCalls(Op::FinalPath, ioError(real), {rootText}); },
       5, "", false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FaultPlatform faults(real);
    c.arrange(faults);
    ScanJob scan(faults);
    scan.request.sourceRoots = {rootText, u16(dir.path() / "next")};
    scan.request.destinationRoot = u16(dir.path() / "out");
    scanSources(scan.job);
    EXPECT_EQ(scan.counters.failedFiles.load(), c.failed);
    if (c.failed == 5) {
      // One line per entry met, each naming the root's destination folder.
      // The root is now its lexical form, which the entry paths start with.
      const std::u16string lexicalRoot = scan.plan.directories.at(0).sourcePath;
      std::string expected;
      for (const Walked& w : walk) {
        if (!expected.empty()) expected += "\\n";
        const std::u16string entry =
            joinPath(style, lexicalRoot, relativeUnder(style, w.path, src));
        expected += jsonEscape(toUtf8(entry) + " -> " + toUtf8(destFolder) +
                               ": Unable to calculate destination path: " + io);
      }
      EXPECT_EQ(scan.errors.escapedForEvent(), expected);
    } else {
      EXPECT_EQ(scan.errors.escapedForEvent(), c.errors);
    }
    const std::vector<std::u16string> folders = sources(scan.plan.directories);
    EXPECT_EQ(std::count(folders.begin(), folders.end(), sub), c.subPlanned ? 1 : 0);
    // The second root is scanned in every case.
    ASSERT_FALSE(scan.plan.files.empty());
    EXPECT_EQ(fileName(style, scan.plan.files.back().sourcePath), u"n");
    EXPECT_EQ(scan.plan.files.size() - 1, c.filesFromSrc);
    EXPECT_EQ(scan.output.lines().size(), 1u);
  }
}

// A listing that breaks off ends the root's walk. It counts a failed file
// only when the entry met before it was handled normally.
TEST(SourceScan, BrokenListingEndsTheRoot) {
  ScratchDir dir;
  makeTree(dir.path() / "src", {"a", "b", "c"});
  makeTree(dir.path() / "next", {"n"});
  Platform& real = systemPlatform();
  const std::u16string rootText = u16(dir.path() / "src");
  const std::u16string src = resolveRoot(real, rootText);
  for (const bool entryFailed : {false, true}) {
    SCOPED_TRACE(entryFailed ? "after a failed destination" : "after a planned file");
    // Without the root's resolution the walk runs under its lexical form.
    BrokenListing broken(real, entryFailed ? lexicallyNormal(real.pathStyle(), rootText) : src,
                         1, ioError(real));
    if (entryFailed) broken.failCalls(Op::FinalPath, ioError(real), {rootText});
    ScanJob scan(broken);
    scan.request.sourceRoots = {rootText, u16(dir.path() / "next")};
    scan.request.destinationRoot = u16(dir.path() / "out");
    scanSources(scan.job);
    EXPECT_EQ(scan.plan.files.size(), entryFailed ? 1u : 2u);
    EXPECT_EQ(scan.counters.failedFiles.load(), 1u);  // the entry's own failure, or the break
  }
}

TEST(SourceScan, RootsWithoutANameOfTheirOwnStayInsideTheDestination) {
  struct Case {
    PathStyle style;
    std::u16string destinationRoot;
    std::u16string root;
    std::u16string folder;
  };
  const std::vector<Case> cases = {
      {PathStyle::Windows, u"E:\\backup", u"D:\\src\\photos", u"E:\\backup\\photos"},
      {PathStyle::Windows, u"E:\\backup", u"C:\\", u"E:\\backup\\C"},
      {PathStyle::Windows, u"C:\\backup", u"C:\\", u"C:\\backup\\C"},
      {PathStyle::Windows, u"E:\\backup", u"\\\\?\\C:\\", u"E:\\backup\\C"},
      {PathStyle::Windows, u"E:\\backup", u"\\\\?\\C:", u"E:\\backup\\C"},
      {PathStyle::Windows, u"E:\\backup", u"\\\\server\\", u"E:\\backup\\root"},
      {PathStyle::Windows, u"E:\\backup", u"\\\\server\\share\\", u"E:\\backup\\share"},
      {PathStyle::Windows, u"E:\\backup", u"\\\\?\\GLOBALROOT\\Device\\HarddiskVolume5\\",
       u"E:\\backup\\HarddiskVolume5"},
      {PathStyle::Windows, u"E:\\backup", u"..\\..", u"E:\\backup\\root"},
      {PathStyle::Posix, u"/backup", u"/src/photos", u"/backup/photos"},
      {PathStyle::Posix, u"/backup", u"/", u"/backup/root"},
      {PathStyle::Posix, u"/backup", u"/mnt/C:/", u"/backup/C:"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rootDestinationFolder(c.style, c.destinationRoot, c.root), c.folder)
        << toUtf8(c.root);
  }
}

}  // namespace
}  // namespace qv
