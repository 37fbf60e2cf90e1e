// The same checks against the real platform of each system. Only the
// Platform interface and std::filesystem are used, besides putting a pipe in
// place of standard input, so the file runs unchanged on Linux and on Windows
// (natively or under Wine).
#include <gtest/gtest.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
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
  static Platform& platform() { return systemPlatform(); }

  fs::path at(const std::string& name) const { return dir_.path() / name; }
  std::u16string path(const std::string& name) const { return at(name).u16string(); }
  std::u16string rootPath() const { return dir_.path().u16string(); }

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

  static FileInfo times() {
    FileInfo times;
    times.lastWriteTime.ticks = kWriteTicks;
    times.lastAccessTime.ticks = kAccessTicks;
    return times;
  }
  void setTimes(const std::string& name) const {
    std::unique_ptr<MetadataWriter> writer;
    ASSERT_EQ(platform().openForMetadataWrite(path(name), writer), 0u);
    ASSERT_EQ(writer->setTimes(times()), 0u);
  }

  FileInfo info(const std::string& name) const {
    FileInfo result;
    EXPECT_EQ(platform().queryPath(path(name), LinkMode::Follow, result), 0u);
    return result;
  }

  test::ScratchDir dir_;
};

TEST_F(PlatformContract, StagingFileIsNewAndHoldsWhatWasWritten) {
  std::unique_ptr<WritableFile> file;
  ASSERT_EQ(platform().createStagingFile(path("stage"), file), 0u);
  const std::string data = test::patternBytes(300000, 1);
  size_t written = 0;
  ASSERT_EQ(file->write(data.data(), data.size(), written), 0u);
  EXPECT_EQ(written, data.size());
  ASSERT_EQ(file->setTimes(times()), 0u);
  // Attributes set on the open file leave its times alone.
  writeFile("read-only", "");
  fs::permissions(at("read-only"), fs::perms::owner_read | fs::perms::group_read);
  ASSERT_EQ(file->setAttributes(platform().attributesToPreserve(info("read-only"))), 0u);
  ASSERT_EQ(file->close(), 0u);
  EXPECT_EQ(fs::status(at("stage")).permissions(), fs::status(at("read-only")).permissions());

  std::string contents;
  ASSERT_EQ(platform().readWholeFile(path("stage"), contents), 0u);
  EXPECT_EQ(contents, data);
  EXPECT_EQ(info("stage").lastWriteTime.ticks, kWriteTicks);
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
  EXPECT_EQ(fromHandle.size, data.size());
  EXPECT_EQ(fromHandle.lastWriteTime.ticks, info("source").lastWriteTime.ticks);
}

TEST_F(PlatformContract, RenameReplacesOnlyWhenAsked) {
  writeFile("from", "new");
  writeFile("to", "old");
  const SysError err = platform().renameFile(path("from"), path("to"), ExistingTarget::Fail);
  EXPECT_TRUE(platform().isAlreadyExists(err)) << err;
  EXPECT_EQ(readFile("from"), "new");
  EXPECT_EQ(readFile("to"), "old");

  ASSERT_EQ(platform().renameFile(path("from"), path("to"), ExistingTarget::Replace), 0u);
  EXPECT_FALSE(fs::exists(at("from")));
  EXPECT_EQ(readFile("to"), "new");
  ASSERT_EQ(platform().renameFile(path("to"), path("fresh"), ExistingTarget::Fail), 0u);
  EXPECT_EQ(readFile("fresh"), "new");
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

TEST_P(PlatformCopy, CopiesBytesTimeAndPermissionsReplacingOnlyWhenAsked) {
  const std::string data = test::patternBytes(GetParam().size, 3);
  writeFile("source", data);
  setTimes("source");
  fs::permissions(at("source"), fs::perms::owner_read | fs::perms::group_read);
  writeFile("taken", "old target");
  SysError err = copy("source", "taken", ExistingTarget::Fail);
  EXPECT_TRUE(platform().isAlreadyExists(err)) << err;
  EXPECT_EQ(readFile("taken"), "old target");
  ASSERT_EQ(copy("source", "taken", ExistingTarget::Replace), 0u);
  EXPECT_EQ(readFile("taken"), data);
  err = copy("missing", "fresh", ExistingTarget::Fail);
  EXPECT_TRUE(platform().isNotFoundFamily(err)) << err;

  std::vector<uint64_t> totals;
  ASSERT_EQ(copy("source", "target", ExistingTarget::Fail, &totals), 0u);
  EXPECT_EQ(readFile("target"), data);
  EXPECT_EQ(info("target").lastWriteTime.ticks, kWriteTicks);
  EXPECT_EQ(fs::status(at("target")).permissions(), fs::status(at("source")).permissions());
  if (!GetParam().large || data.empty()) return;
  if (totals.empty()) GTEST_SKIP() << kNoProgress;
  EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end()));
  EXPECT_EQ(totals.back(), data.size());
  // A cancel answer stops the copy with an error.
  EXPECT_NE(platform().copyLargeFile(path("source"), path("cancelled"), ExistingTarget::Fail,
                                     [](uint64_t) { return CopyProgress::Cancel; }),
            0u);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PlatformCopy,
    ::testing::Values(CopyCase{"SmallEmpty", 0, false},
                      CopyCase{"SmallFewMiB", (size_t{3} << 20) + 17, false},
                      CopyCase{"LargeEmpty", 0, true},
                      CopyCase{"LargeManyChunks", (size_t{17} << 20) + 5, true}),
    [](const ::testing::TestParamInfo<CopyCase>& p) { return std::string(p.param.name); });

TEST_F(PlatformContract, ListsEntriesWithoutDotsAndStopsWhenAsked) {
  writeFile("a.txt", "a");
  writeFile("b", "");
  ASSERT_EQ(platform().createDirectory(path("sub")), 0u);
  using Kind = Platform::DirectoryEntry::Kind;
  std::vector<std::pair<std::u16string, Kind>> seen;
  auto list = [&](const std::u16string& folder, bool more) {
    seen.clear();
    return platform().listDirectory(folder, [&](const Platform::DirectoryEntry& e) {
      seen.emplace_back(e.name, e.kind);
      return more;
    });
  };
  const decltype(seen) want = {
      {u"a.txt", Kind::File}, {u"b", Kind::File}, {u"sub", Kind::Directory}};
  // A folder path may end in a separator.
  for (const std::u16string& folder : {rootPath(), (dir_.path() / "").u16string()}) {
    ASSERT_EQ(list(folder, true), 0u);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, want);
  }
  ASSERT_EQ(list(rootPath(), false), 0u);
  EXPECT_EQ(seen.size(), 1u);
  const SysError err = list(path("missing"), true);
  EXPECT_TRUE(platform().isNotFoundFamily(err)) << err;
}

TEST_F(PlatformContract, FinalPathsAndInformationOfFoldersAndLinks) {
  FileInfo info;
  ASSERT_EQ(platform().readFileInfo(rootPath(), info), 0u);
  EXPECT_TRUE(info.isDirectory);
  std::u16string final;
  ASSERT_EQ(platform().finalPath(rootPath(), final), 0u);
  EXPECT_FALSE(final.empty());
  const SysError err = platform().finalPath(path("missing"), final);
  EXPECT_TRUE(platform().isNotFoundFamily(err)) << err;

  writeFile("target", "12345");
  if (!makeLink("target", "link")) GTEST_SKIP() << "no symbolic links here";
  ASSERT_EQ(platform().queryPath(path("link"), LinkMode::NoFollow, info), 0u);
  EXPECT_TRUE(info.isLink);
  ASSERT_EQ(platform().queryPath(path("link"), LinkMode::Follow, info), 0u);
  EXPECT_FALSE(info.isLink);
  EXPECT_EQ(info.size, 5u);
  std::u16string direct;
  ASSERT_EQ(platform().finalPath(path("link"), final), 0u);
  ASSERT_EQ(platform().finalPath(path("target"), direct), 0u);
  EXPECT_EQ(final, direct);
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
  std::unique_ptr<ReadableFile> reader;
  const SysError notFound[] = {
      platform().removeFile(path("missing")),
      platform().queryPath(path("missing/x"), LinkMode::NoFollow, unused),
      platform().openForRead(path("file/x"), ReadPurpose::Sequential, reader),
      platform().renameFile(path("file"), path("missing/file"), ExistingTarget::Fail),
      platform().pathNotFoundError(),
  };
  for (const SysError code : notFound) {
    EXPECT_TRUE(platform().isNotFoundFamily(code)) << code;
  }
  const SysError exists = platform().createDirectory(path("file"));
  EXPECT_TRUE(platform().isAlreadyExists(exists)) << exists;

  const SysError full = platform().diskFullError();
  EXPECT_FALSE(platform().isNotFoundFamily(full) || platform().isAccessDenied(full));
  EXPECT_FALSE(platform().systemErrorMessage(full).empty());
}

// The hex digest of `message` fed in two parts, or what went wrong.
std::string sha256Hex(const std::string& message) {
  Sha256Failure failure = Sha256Failure::CreateHash;
  std::unique_ptr<Sha256> hash = systemPlatform().createSha256(failure);
  if (hash == nullptr || failure != Sha256Failure::None) return "no hash";
  const size_t half = message.size() / 2;
  uint8_t digest[32];
  if (!hash->update(message.data(), half) ||
      !hash->update(message.data() + half, message.size() - half) || !hash->finish(digest)) {
    return "failed";
  }
  // A finished hash takes nothing more.
  if (hash->update("x", 1) || hash->finish(digest)) return "reused";
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

TEST(PlatformSha256, KnownDigestsOnThreadsOfTheirOwn) {
  const std::string messages[] = {"", "abc", std::string(1000000, 'a')};
  const char* const digests[] = {
      "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855",
      "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad",
      "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"};
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (size_t m = 0; m < 3; ++m) EXPECT_EQ(sha256Hex(messages[m]), digests[m]) << m;
    });
  }
  for (std::thread& thread : threads) thread.join();
}

// Puts the read end of a fresh pipe in place of standard input while it
// lives; the test writes to the other end. The C library's descriptor 0 is
// the system's standard input handle on Windows too.
class PipedStandardInput {
 public:
  // A closed standard input (saved_ -1) makes the pipe's read end 0 itself.
  PipedStandardInput() : saved_(dup(0)) {
    int fds[2];
#ifdef _WIN32
    EXPECT_EQ(_pipe(fds, 1 << 16, _O_BINARY), 0);
#else
    EXPECT_EQ(pipe(fds), 0);
#endif
    if (fds[0] != 0) {
      dup2(fds[0], 0);
      close(fds[0]);
    }
    write_ = fds[1];
  }
  ~PipedStandardInput() {
    closeWriter();
    if (saved_ >= 0) dup2(saved_, 0);
    close(saved_ >= 0 ? saved_ : 0);
  }
  void send(const std::string& text) {
    EXPECT_EQ(static_cast<size_t>(write(write_, text.data(), text.size())), text.size());
  }
  void closeWriter() {
    if (write_ >= 0) close(write_);
    write_ = -1;
  }

 private:
  int saved_, write_ = -1;
};

TEST(PlatformStandardInput, LinesArriveWholeWithOneCarriageReturnDropped) {
  PipedStandardInput input;
  std::unique_ptr<LineReader> reader = systemPlatform().openStandardInput();
  auto lines = std::async(std::launch::async, [&] {
    std::vector<std::string> got;
    std::string line;
    while (reader->readLine(line)) got.push_back(line);
    return got;
  });
  // Lines split across writes, one far longer than any read.
  const std::string longLine(100000, 'x');
  for (const std::string& part : {std::string("cancel\r\npause\nx\ry\r\r\n\nres"),
                                  std::string("ume\r"), "\n" + longLine + "\nlast"}) {
    input.send(part);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  input.closeWriter();
  EXPECT_EQ(lines.get(), (std::vector<std::string>{"cancel", "pause", "x\ry\r", "", "resume",
                                                   longLine, "last"}));
}

TEST(PlatformStandardInput, CancelEndsAPendingReadAndAllLaterOnes) {
  PipedStandardInput input;  // open and silent
  std::unique_ptr<LineReader> reader = systemPlatform().openStandardInput();
  auto result = std::async(std::launch::async, [&] {
    std::string line;
    return reader->readLine(line);
  });
  EXPECT_EQ(result.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
  reader->cancel();
  ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_FALSE(result.get());
  // Later reads fail too, even with input waiting; cancel may be repeated.
  input.send("resume\n");
  reader->cancel();
  std::string line;
  EXPECT_FALSE(reader->readLine(line));
}

}  // namespace
}  // namespace qv
