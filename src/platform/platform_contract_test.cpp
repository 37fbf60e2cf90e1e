// The same checks against the real platform of each system. Only the
// Platform interface and std::filesystem are used, so the file builds and
// runs unchanged on Linux and on Windows (natively or under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/worker_run.h"

namespace qv {
namespace {

namespace fs = std::filesystem;

// 2020-01-02 03:04:05.1234567 UTC and a second later, in 100 ns ticks since
// 1601: times no file gets by itself, with digits down to the last tick.
constexpr uint64_t kWriteTicks = 132224078451234567ull;
constexpr uint64_t kAccessTicks = kWriteTicks + 10000000ull;

// Wine's copier never calls the progress routine, so nothing can be
// checked about progress and cancel there.
constexpr const char* kNoProgress = "this system's copier reports no progress";

class PlatformContract : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    root_ = fs::temp_directory_path() /
            ("qv-contract-" + std::to_string(platform().processId()) + "-" +
             std::to_string(counter++));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }

  void TearDown() override {
    // Windows does not remove read-only files.
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (!it->is_symlink()) {
        fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ec);
      }
    }
    fs::remove_all(root_, ec);
  }

  static Platform& platform() { return systemPlatform(); }

  fs::path at(const std::string& name) const { return root_ / name; }
  std::u16string path(const std::string& name) const { return at(name).u16string(); }
  std::u16string rootPath() const { return root_.u16string(); }

  void writeFile(const std::string& name, const std::string& data) const {
    test::writeBytes(at(name), data);
  }
  std::string readFile(const std::string& name) const { return test::readBytes(at(name)); }

  // A symbolic link, or false where this account may not make one (Windows
  // without developer mode); the caller then skips.
  bool makeLink(const std::string& target, const std::string& name) const {
    std::error_code ec;
    fs::create_symlink(at(target), at(name), ec);
    return !ec;
  }

  void setTimes(const std::string& name) const {
    std::unique_ptr<MetadataWriter> writer;
    ASSERT_EQ(platform().openForMetadataWrite(path(name), writer), 0u);
    FileInfo times;
    times.lastWriteTime.ticks = kWriteTicks;
    times.lastAccessTime.ticks = kAccessTicks;
    ASSERT_EQ(writer->setTimes(times), 0u);
  }

  FileInfo info(const std::string& name) const {
    FileInfo result;
    EXPECT_EQ(platform().queryPath(path(name), LinkMode::Follow, result), 0u);
    return result;
  }

  fs::path root_;
};

TEST_F(PlatformContract, StagingFileIsNewAndHoldsWhatWasWritten) {
  std::unique_ptr<WritableFile> file;
  ASSERT_EQ(platform().createStagingFile(path("stage"), file), 0u);
  const std::string data = test::patternBytes(300000, 1);
  size_t written = 0;
  ASSERT_EQ(file->write(data.data(), 100000, written), 0u);
  EXPECT_EQ(written, 100000u);
  ASSERT_EQ(file->write(data.data() + 100000, 200000, written), 0u);
  FileInfo times;
  times.lastWriteTime.ticks = kWriteTicks;
  times.lastAccessTime.ticks = kAccessTicks;
  ASSERT_EQ(file->setTimes(times), 0u);
  // Attributes set on the open file leave its times alone.
  writeFile("read-only", "");
  fs::permissions(at("read-only"), fs::perms::owner_read | fs::perms::group_read);
  ASSERT_EQ(file->setAttributes(platform().attributesToPreserve(info("read-only"))), 0u);
  ASSERT_EQ(file->close(), 0u);
  EXPECT_EQ(fs::status(at("stage")).permissions(), fs::status(at("read-only")).permissions());

  std::string contents;
  ASSERT_EQ(platform().readWholeFile(path("stage"), contents), 0u);
  EXPECT_EQ(contents, data);
  const FileInfo got = info("stage");
  EXPECT_EQ(got.size, data.size());
  EXPECT_EQ(got.lastWriteTime.ticks, kWriteTicks);
  EXPECT_FALSE(got.isDirectory);
}

TEST_F(PlatformContract, StagingFileNeverOpensWhatIsAlreadyThere) {
  writeFile("existing", "keep");
  std::unique_ptr<WritableFile> file;
  const SysError err = platform().createStagingFile(path("existing"), file);
  EXPECT_TRUE(platform().isAlreadyExists(err)) << err;
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(readFile("existing"), "keep");

  ASSERT_EQ(platform().createDirectory(path("folder")), 0u);
  EXPECT_NE(platform().createStagingFile(path("folder"), file), 0u);

  if (!makeLink("existing", "link") || !makeLink("missing", "dangling")) {
    GTEST_SKIP() << "no symbolic links here";
  }
  EXPECT_NE(platform().createStagingFile(path("link"), file), 0u);
  EXPECT_EQ(readFile("existing"), "keep");
  EXPECT_NE(platform().createStagingFile(path("dangling"), file), 0u);
  EXPECT_FALSE(fs::exists(at("missing")));
}

TEST_F(PlatformContract, ReadableFileReadsSeeksAndReportsItself) {
  const std::string data = test::patternBytes(70000, 2);
  writeFile("source", data);
  std::unique_ptr<ReadableFile> file;
  ASSERT_EQ(platform().openForRead(path("source"), ReadPurpose::Sequential, file), 0u);
  std::string got(100000, '\0');
  size_t n = 0;
  ASSERT_EQ(file->read(got.data(), 50000, n), 0u);
  EXPECT_EQ(n, 50000u);
  ASSERT_EQ(file->read(got.data() + 50000, 50000, n), 0u);
  EXPECT_EQ(n, 20000u);  // short only at the end
  ASSERT_EQ(file->read(got.data(), 10, n), 0u);
  EXPECT_EQ(n, 0u);
  got.resize(data.size());
  EXPECT_EQ(got, data);

  ASSERT_EQ(file->seek(69990), 0u);
  char tail[10];
  ASSERT_EQ(file->read(tail, sizeof tail, n), 0u);
  EXPECT_EQ(std::string(tail, n), data.substr(69990));

  FileInfo fromHandle;
  ASSERT_EQ(file->info(fromHandle), 0u);
  FileInfo fromPath;  // queryPath has no identity on Windows; an open has
  ASSERT_EQ(platform().readFileInfo(path("source"), fromPath), 0u);
  EXPECT_EQ(fromHandle.size, data.size());
  EXPECT_EQ(fromHandle.fileIndex, fromPath.fileIndex);
  EXPECT_EQ(fromHandle.volumeId, fromPath.volumeId);
  EXPECT_EQ(fromHandle.linkCount, 1u);
}

TEST_F(PlatformContract, RenameWithoutReplaceLeavesBothFiles) {
  writeFile("from", "new");
  writeFile("to", "old");
  const SysError err = platform().renameFile(path("from"), path("to"), ExistingTarget::Fail);
  EXPECT_TRUE(platform().isAlreadyExists(err)) << err;
  EXPECT_EQ(readFile("from"), "new");
  EXPECT_EQ(readFile("to"), "old");

  ASSERT_EQ(platform().renameFile(path("from"), path("fresh"), ExistingTarget::Fail), 0u);
  EXPECT_FALSE(fs::exists(at("from")));
  EXPECT_EQ(readFile("fresh"), "new");
}

TEST_F(PlatformContract, RenameWithReplaceReplaces) {
  writeFile("from", "new");
  writeFile("to", "old");
  ASSERT_EQ(platform().renameFile(path("from"), path("to"), ExistingTarget::Replace), 0u);
  EXPECT_FALSE(fs::exists(at("from")));
  EXPECT_EQ(readFile("to"), "new");
}

struct CopyCase {
  const char* name;
  size_t size;
  bool large;
};

class PlatformCopy : public PlatformContract,
                     public ::testing::WithParamInterface<CopyCase> {
 protected:
  SysError copy(const std::string& from, const std::string& to, ExistingTarget existing,
                std::vector<uint64_t>* totals = nullptr) {
    if (!GetParam().large) return platform().copySmallFile(path(from), path(to), existing);
    return platform().copyLargeFile(path(from), path(to), existing, [totals](uint64_t t) {
      if (totals != nullptr) totals->push_back(t);
      return CopyProgress::Continue;
    });
  }
};

TEST_P(PlatformCopy, CopiesBytesModificationTimeAndPermissions) {
  const std::string data = test::patternBytes(GetParam().size, 3);
  writeFile("source", data);
  setTimes("source");
  fs::permissions(at("source"), fs::perms::owner_read | fs::perms::group_read);

  std::vector<uint64_t> totals;
  ASSERT_EQ(copy("source", "target", ExistingTarget::Fail, &totals), 0u);
  EXPECT_EQ(readFile("target"), data);
  EXPECT_EQ(info("target").lastWriteTime.ticks, kWriteTicks);
  EXPECT_EQ(fs::status(at("target")).permissions(), fs::status(at("source")).permissions());
  if (!GetParam().large) return;
  if (totals.empty() && data.size() > 0) {
    GTEST_SKIP() << kNoProgress;
  }
  if (!totals.empty()) {
    EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end()));
    EXPECT_EQ(totals.back(), data.size());
  }
}

TEST_P(PlatformCopy, ExistingTargetFailsOrIsReplaced) {
  const std::string data = test::patternBytes(GetParam().size, 4);
  writeFile("source", data);
  writeFile("target", "old target");
  const SysError err = copy("source", "target", ExistingTarget::Fail);
  EXPECT_TRUE(platform().isAlreadyExists(err)) << err;
  EXPECT_EQ(readFile("target"), "old target");

  ASSERT_EQ(copy("source", "target", ExistingTarget::Replace), 0u);
  EXPECT_EQ(readFile("target"), data);
}

TEST_P(PlatformCopy, MissingSourceFailsAsNotFound) {
  const SysError err = copy("missing", "target", ExistingTarget::Fail);
  EXPECT_TRUE(platform().isNotFoundFamily(err)) << err;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PlatformCopy,
    ::testing::Values(CopyCase{"SmallEmpty", 0, false}, CopyCase{"SmallOneByte", 1, false},
                      CopyCase{"SmallFewMiB", (size_t{3} << 20) + 17, false},
                      CopyCase{"LargeEmpty", 0, true}, CopyCase{"LargeOneByte", 1, true},
                      CopyCase{"LargeManyChunks", (size_t{17} << 20) + 5, true}),
    [](const ::testing::TestParamInfo<CopyCase>& p) { return std::string(p.param.name); });

TEST_F(PlatformContract, LargeCopyStopsWhenProgressAnswersCancel) {
  writeFile("source", test::patternBytes(size_t{17} << 20, 5));
  int callsAfterCancel = 0;
  bool cancelled = false;
  const SysError err = platform().copyLargeFile(
      path("source"), path("target"), ExistingTarget::Fail, [&](uint64_t) {
        if (cancelled) ++callsAfterCancel;
        cancelled = true;
        return CopyProgress::Cancel;
      });
  if (!cancelled && err == 0) GTEST_SKIP() << kNoProgress;
  EXPECT_NE(err, 0u);
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(callsAfterCancel, 0);
}

TEST_F(PlatformContract, ListsEntriesWithoutDotsAndStopsWhenAsked) {
  writeFile("a.txt", "a");
  writeFile("b", "");
  ASSERT_EQ(platform().createDirectory(path("sub")), 0u);

  std::vector<std::pair<std::u16string, Platform::DirectoryEntry::Kind>> seen;
  ASSERT_EQ(platform().listDirectory(rootPath(),
                                     [&](const Platform::DirectoryEntry& e) {
                                       seen.emplace_back(e.name, e.kind);
                                       return true;
                                     }),
            0u);
  std::sort(seen.begin(), seen.end());
  using Kind = Platform::DirectoryEntry::Kind;
  const std::vector<std::pair<std::u16string, Kind>> want = {
      {u"a.txt", Kind::File}, {u"b", Kind::File}, {u"sub", Kind::Directory}};
  EXPECT_EQ(seen, want);

  int visits = 0;
  ASSERT_EQ(platform().listDirectory(rootPath(),
                                     [&](const Platform::DirectoryEntry&) {
                                       ++visits;
                                       return false;
                                     }),
            0u);
  EXPECT_EQ(visits, 1);

  const SysError err = platform().listDirectory(
      path("missing"), [](const Platform::DirectoryEntry&) { return true; });
  EXPECT_TRUE(platform().isNotFoundFamily(err)) << err;
}

TEST_F(PlatformContract, LinksAreSeenOnlyWithoutFollowingAndResolveToTheirTarget) {
  writeFile("target", "12345");
  if (!makeLink("target", "link")) GTEST_SKIP() << "no symbolic links here";

  FileInfo link;
  ASSERT_EQ(platform().queryPath(path("link"), LinkMode::NoFollow, link), 0u);
  EXPECT_TRUE(link.isLink);
  FileInfo followed;
  ASSERT_EQ(platform().queryPath(path("link"), LinkMode::Follow, followed), 0u);
  EXPECT_FALSE(followed.isLink);
  EXPECT_EQ(followed.size, 5u);
  FileInfo opened;
  ASSERT_EQ(platform().readFileInfo(path("link"), opened), 0u);
  EXPECT_EQ(opened.fileIndex, followed.fileIndex);

  std::u16string viaLink;
  std::u16string direct;
  ASSERT_EQ(platform().finalPath(path("link"), viaLink), 0u);
  ASSERT_EQ(platform().finalPath(path("target"), direct), 0u);
  EXPECT_EQ(viaLink, direct);
  EXPECT_FALSE(direct.empty());
}

TEST_F(PlatformContract, FolderInformationAndFinalPath) {
  FileInfo folder;
  ASSERT_EQ(platform().readFileInfo(rootPath(), folder), 0u);
  EXPECT_TRUE(folder.isDirectory);
  std::u16string final;
  ASSERT_EQ(platform().finalPath(rootPath(), final), 0u);
  EXPECT_FALSE(final.empty());
  const SysError err = platform().finalPath(path("missing"), final);
  EXPECT_TRUE(platform().isNotFoundFamily(err)) << err;
}

TEST_F(PlatformContract, TimesAreSetExactlyOnFilesAndFolders) {
  writeFile("file", "x");
  ASSERT_EQ(platform().createDirectory(path("folder")), 0u);
  for (const char* name : {"file", "folder"}) {
    SCOPED_TRACE(name);
    setTimes(name);
    const FileInfo got = info(name);
    EXPECT_EQ(got.lastWriteTime.ticks, kWriteTicks);
    EXPECT_EQ(got.lastAccessTime.ticks, kAccessTicks);
  }
  std::unique_ptr<MetadataWriter> writer;
  const SysError err = platform().openForMetadataWrite(path("missing"), writer);
  EXPECT_TRUE(platform().isNotFoundFamily(err)) << err;
}

TEST_F(PlatformContract, ErrorsAnswerTheirPredicates) {
  writeFile("file", "x");
  FileInfo unused;
  std::string contents;
  std::unique_ptr<ReadableFile> reader;
  struct Case {
    const char* what;
    SysError code;
  };
  const Case notFound[] = {
      {"remove a missing file", platform().removeFile(path("missing"))},
      {"query below a missing folder",
       platform().queryPath(path("missing/x"), LinkMode::NoFollow, unused)},
      {"open below a file",
       platform().openForRead(path("file/x"), ReadPurpose::Sequential, reader)},
      {"read a missing file", platform().readWholeFile(path("missing"), contents)},
      {"rename into a missing folder",
       platform().renameFile(path("file"), path("missing/file"), ExistingTarget::Fail)},
      {"the empty-path code", platform().pathNotFoundError()},
  };
  for (const Case& c : notFound) {
    EXPECT_TRUE(platform().isNotFoundFamily(c.code)) << c.what << ": " << c.code;
    EXPECT_FALSE(platform().isAlreadyExists(c.code)) << c.what;
  }

  const SysError exists = platform().createDirectory(path("file"));
  EXPECT_TRUE(platform().isAlreadyExists(exists)) << exists;
  EXPECT_FALSE(platform().isNotFoundFamily(exists));

  const SysError full = platform().diskFullError();
  EXPECT_NE(full, 0u);
  EXPECT_FALSE(platform().isNotFoundFamily(full));
  EXPECT_FALSE(platform().isAccessDenied(full));
  EXPECT_FALSE(platform().systemErrorMessage(full).empty());
  EXPECT_FALSE(platform().systemErrorMessage(platform().pathNotFoundError()).empty());
  EXPECT_FALSE(platform().errorNumberLabel().empty());
  EXPECT_EQ(platform().errorNumberLabel().back(), ' ');
}

// The work of a copy thread spread over six folders (more than a thread
// keeps open), with the failures it meets, as one line per step: the same
// lines must come out with folder reuse on and off.
std::vector<std::string> folderWork(Platform& platform, const fs::path& base) {
  std::vector<std::string> log;
  auto note = [&](const std::string& step, SysError err) {
    log.push_back(step + (err == 0                           ? " ok"
                          : platform.isNotFoundFamily(err)   ? " not found"
                          : platform.isAlreadyExists(err)    ? " exists"
                                                             : " failed"));
  };
  auto p = [&](const std::string& name) { return (base / name).u16string(); };
  for (int i = 0; i < 6; ++i) fs::create_directories(base / ("d" + std::to_string(i)));
  test::writeBytes(base / "d0" / "taken", "old");
  FileInfo info;
  for (int i = 0; i < 6; ++i) {
    const std::string d = "d" + std::to_string(i) + "/";
    const std::string next = "d" + std::to_string((i + 1) % 6) + "/";
    std::unique_ptr<WritableFile> out;
    note(d + "create", platform.createStagingFile(p(d + "stage"), out));
    if (out) {
      size_t written = 0;
      note(d + "write", out->write("data", 4, written));
      note(d + "close", out->close());
    }
    note(d + "create again", platform.createStagingFile(p(d + "stage"), out));
    note(d + "attributes", platform.setAttributes(p(d + "stage"), platform.normalAttributes()));
    note(d + "query", platform.queryPath(p(d + "stage"), LinkMode::NoFollow, info));
    note(d + "info", platform.readFileInfo(p(d + "stage"), info));
    note(d + "missing", platform.queryPath(p(d + "none"), LinkMode::NoFollow, info));
    note(d + "below a missing folder", platform.queryPath(p(d + "no/x"), LinkMode::Follow, info));
    note(d + "onto a taken name",
         platform.renameFile(p(d + "stage"), p("d0/taken"), ExistingTarget::Fail));
    note(d + "into the next folder",
         platform.renameFile(p(d + "stage"), p(next + "moved" + std::to_string(i)),
                             ExistingTarget::Fail));
    std::unique_ptr<ReadableFile> in;
    note(d + "open", platform.openForRead(p(next + "moved" + std::to_string(i)),
                                          ReadPurpose::Sequential, in));
    note(d + "remove", platform.removeFile(p(next + "moved" + std::to_string(i))));
    note(d + "remove again", platform.removeFile(p(next + "moved" + std::to_string(i))));
  }
  note("folder itself", platform.queryPath(p("d0") + u"/", LinkMode::NoFollow, info));
  note("dot", platform.queryPath(p("d0") + u"/.", LinkMode::NoFollow, info));
  return log;
}

TEST_F(PlatformContract, FolderReuseChangesNoAnswer) {
  const std::vector<std::string> plain = folderWork(platform(), at("plain"));
  std::vector<std::string> reused;
  {
    FolderReuseScope reuse(platform());
    FolderReuseScope nested(platform());
    reused = folderWork(platform(), at("reused"));
  }
  EXPECT_EQ(reused, plain);
  EXPECT_EQ(plain.front(), "d0/create ok");
  EXPECT_EQ(fs::directory_iterator(at("reused/d3")), fs::directory_iterator());
}

TEST_F(PlatformContract, Sha256OfAKnownMessage) {
  Sha256Failure failure = Sha256Failure::CreateHash;
  std::unique_ptr<Sha256> hash = platform().createSha256(failure);
  ASSERT_NE(hash, nullptr);
  EXPECT_EQ(failure, Sha256Failure::None);
  ASSERT_TRUE(hash->update("ab", 2));
  ASSERT_TRUE(hash->update("c", 1));
  uint8_t digest[32];
  ASSERT_TRUE(hash->finish(digest));
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  EXPECT_EQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace qv
