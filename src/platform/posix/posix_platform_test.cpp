// Behaviour only the POSIX platform has: nanosecond times, names that are
// not UTF-8, permission bits, links and special files.
#include "platform/posix/posix_platform.h"

#include <limits.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "platform/posix/posix_errors.h"
#include "platform/posix/posix_file_info.h"
#include "platform/posix/posix_text.h"
#include "support/worker_run.h"

namespace qv::posix {
namespace {

namespace fs = std::filesystem;

TEST(PosixFileTime, ConvertsExactlyBothWays) {
  struct Case {
    int64_t seconds;
    uint32_t nanos;
    uint64_t ticks;
    uint32_t extra;
  };
  const Case cases[] = {
      {0, 123456789, 116444736001234567ull, 89},
      {-1, 1, 116444735990000000ull, 1},
      {-11644473600, 0, 0, 0},  // 1601-01-01 itself
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    const FileTime t = toFileTime(c.seconds, c.nanos);
    EXPECT_EQ(t.ticks, c.ticks);
    EXPECT_EQ(t.extraNanos, c.extra);
    const timespec back = toTimespec(t);
    EXPECT_EQ(back.tv_sec, c.seconds);
    EXPECT_EQ(back.tv_nsec, static_cast<long>(c.nanos));
  }
  // Before 1601 no FileTime can say it: 0, "not known".
  EXPECT_EQ(toFileTime(-11644473601, 5).ticks, 0u);
}

using Kind = Platform::DirectoryEntry::Kind;
using Listing = std::vector<std::pair<std::u16string, Kind>>;

class PosixPlatformTest : public ::testing::Test {
 protected:
  std::string at(const std::string& name) const { return (dir_.path() / name).string(); }
  std::u16string path(const std::string& name) const { return fromNativeName(at(name)); }
  std::u16string root() const { return fromNativeName(dir_.path().string()); }

  void writeFile(const std::string& name, const std::string& data, mode_t mode = 0644) {
    test::writeBytes(at(name), data);
    ASSERT_EQ(chmod(at(name).c_str(), mode), 0);
  }

  std::string readFile(const std::string& name) {
    std::string contents;
    EXPECT_EQ(platform_.readWholeFile(path(name), contents), 0u);
    return contents;
  }

  struct stat statOf(const std::string& name) {
    struct stat st {};
    EXPECT_EQ(lstat(at(name).c_str(), &st), 0) << name;
    return st;
  }

  // Names and kinds in the folder, sorted.
  Listing listed() {
    Listing seen;
    EXPECT_EQ(platform_.listDirectory(root(),
                                      [&](const Platform::DirectoryEntry& e) {
                                        seen.emplace_back(e.name, e.kind);
                                        return true;
                                      }),
              0u);
    std::sort(seen.begin(), seen.end());
    return seen;
  }

  test::ScratchDir dir_;
  PosixPlatform platform_;
};

// A zero time leaves that time alone, and the nanoseconds a FileTime keeps
// past its ticks reach the file and come back.
TEST_F(PosixPlatformTest, ZeroLeavesATimeAloneAndNanosecondsSurvive) {
  writeFile("f", "");
  std::unique_ptr<MetadataWriter> writer;
  ASSERT_EQ(platform_.openForMetadataWrite(path("f"), writer), 0u);
  FileInfo times;
  times.lastAccessTime = toFileTime(1600000000, 0);
  ASSERT_EQ(writer->setTimes(times), 0u);
  times.lastAccessTime = FileTime{};
  times.lastWriteTime = toFileTime(1000000000, 1);
  ASSERT_EQ(writer->setTimes(times), 0u);
  EXPECT_EQ(statOf("f").st_atim.tv_sec, 1600000000);
  FileInfo info;
  ASSERT_EQ(platform_.queryPath(path("f"), LinkMode::NoFollow, info), 0u);
  EXPECT_EQ(info.lastWriteTime.ticks, times.lastWriteTime.ticks);
  EXPECT_EQ(info.lastWriteTime.extraNanos, 1u);
}

TEST_F(PosixPlatformTest, NamesThatAreNotUtf8AreListedAndCopied) {
  writeFile("caf\xE9", "latin-1 name");
  EXPECT_EQ(listed(), (Listing{{u"caf\xDCE9", Kind::File}}));
  ASSERT_EQ(platform_.copySmallFile(path("caf\xE9"), root() + u"/caf\xDCE9.copy",
                                    ExistingTarget::Fail),
            0u);
  EXPECT_EQ(readFile("caf\xE9.copy"), "latin-1 name");
}

TEST_F(PosixPlatformTest, CopyCarriesPermissionBitsAsTheyAreAndStagingTakesTheUmask) {
  for (mode_t mode : {mode_t{0}, mode_t{0751}, mode_t{01777}}) {
    SCOPED_TRACE(mode);
    writeFile("source", "data", mode);
    unlink(at("target").c_str());
    ASSERT_EQ(platform_.copySmallFile(path("source"), path("target"), ExistingTarget::Fail),
              0u);
    EXPECT_EQ(statOf("target").st_mode & 07777, mode);
    FileInfo info;
    ASSERT_EQ(platform_.queryPath(path("source"), LinkMode::Follow, info), 0u);
    EXPECT_EQ(platform_.attributesToPreserve(info), mode);
    chmod(at("source").c_str(), 0644);
  }
  const mode_t old = umask(027);
  std::unique_ptr<WritableFile> file;
  const SysError err = platform_.createStagingFile(path("stage"), file);
  umask(old);
  ASSERT_EQ(err, 0u);
  EXPECT_EQ(statOf("stage").st_mode & 07777, 0640u);
}

// A link planted where a staging file or a target was is never followed:
// attributes are refused and a replacing copy replaces the link itself.
TEST_F(PosixPlatformTest, LinksPlantedAtAStagingFileOrTargetAreNeverFollowed) {
  writeFile("source", "new");
  writeFile("victim", "keep", 0644);
  ASSERT_EQ(symlink(at("victim").c_str(), at("staging").c_str()), 0);
  EXPECT_NE(platform_.setAttributes(path("staging"), 0777), 0u);
  EXPECT_EQ(statOf("victim").st_mode & 07777, 0644u);
  EXPECT_EQ(platform_.setAttributes(path("victim"), 0600), 0u);
  EXPECT_EQ(statOf("victim").st_mode & 07777, 0600u);

  EXPECT_TRUE(platform_.isAlreadyExists(
      platform_.copySmallFile(path("source"), path("staging"), ExistingTarget::Fail)));
  ASSERT_EQ(platform_.copyLargeFile(path("source"), path("staging"), ExistingTarget::Replace,
                                    [](uint64_t) { return CopyProgress::Continue; }),
            0u);
  EXPECT_FALSE(S_ISLNK(statOf("staging").st_mode));
  EXPECT_EQ(readFile("staging"), "new");
  EXPECT_EQ(readFile("victim"), "keep");
}

TEST_F(PosixPlatformTest, SpecialFilesNeverBlockAndAreListedAsSuch) {
  ASSERT_EQ(mkfifo(at("fifo").c_str(), 0644), 0);
  ASSERT_EQ(symlink("fifo", at("link").c_str()), 0);
  FileInfo info;
  ASSERT_EQ(platform_.queryPath(path("link"), LinkMode::NoFollow, info), 0u);
  EXPECT_FALSE(info.isSpecial);
  ASSERT_EQ(platform_.queryPath(path("link"), LinkMode::Follow, info), 0u);
  EXPECT_TRUE(info.isSpecial);
  std::unique_ptr<ReadableFile> reader;
  ASSERT_EQ(platform_.openForRead(path("fifo"), ReadPurpose::Sequential, reader), 0u);
  EXPECT_EQ(platform_.copySmallFile(path("fifo"), path("copy"), ExistingTarget::Fail),
            static_cast<SysError>(EOPNOTSUPP));
  EXPECT_EQ(platform_.copySmallFile(root(), path("copy"), ExistingTarget::Fail),
            static_cast<SysError>(EISDIR));

  EXPECT_EQ(listed(), (Listing{{u"fifo", Kind::Other}, {u"link", Kind::Link}}));
}

TEST_F(PosixPlatformTest, FilesThatUnderstateTheirSizeAreReadToTheEnd) {
  // /proc files report size 0 and still have contents.
  std::string contents;
  ASSERT_EQ(platform_.readWholeFile(u"/proc/self/status", contents), 0u);
  EXPECT_NE(contents.find("Pid:"), std::string::npos);
  ASSERT_EQ(platform_.copySmallFile(u"/proc/self/status", path("copy"),
                                    ExistingTarget::Fail),
            0u);
  EXPECT_NE(readFile("copy").find("Pid:"), std::string::npos);
}

// The work of a copy thread spread over six folders (more than a thread
// keeps open), with the failures it meets, as one line per step.
std::vector<std::string> folderWork(Platform& platform, const std::string& base) {
  std::vector<std::string> log;
  auto note = [&](const std::string& step, SysError err) {
    log.push_back(step + (err == 0                           ? " ok"
                          : platform.isNotFoundFamily(err)   ? " not found"
                          : platform.isAlreadyExists(err)    ? " exists"
                                                             : " failed"));
  };
  auto p = [&](const std::string& name) { return fromNativeName(base + "/" + name); };
  for (int i = 0; i < 6; ++i) mkdir((base + "/d" + std::to_string(i)).c_str(), 0755);
  test::writeBytes(base + "/d0/taken", "old");
  FileInfo info;
  for (int i = 0; i < 6; ++i) {
    const std::string d = "d" + std::to_string(i) + "/";
    const std::string moved = "d" + std::to_string((i + 1) % 6) + "/moved" + std::to_string(i);
    std::unique_ptr<WritableFile> out;
    note(d + "create", platform.createStagingFile(p(d + "stage"), out));
    if (out) note(d + "close", out->close());
    note(d + "create again", platform.createStagingFile(p(d + "stage"), out));
    note(d + "attributes", platform.setAttributes(p(d + "stage"), 0600));
    note(d + "query", platform.queryPath(p(d + "stage"), LinkMode::NoFollow, info));
    note(d + "below a missing folder", platform.queryPath(p(d + "no/x"), LinkMode::Follow, info));
    note(d + "onto a taken name",
         platform.renameFile(p(d + "stage"), p("d0/taken"), ExistingTarget::Fail));
    note(d + "into the next folder",
         platform.renameFile(p(d + "stage"), p(moved), ExistingTarget::Fail));
    note(d + "remove", platform.removeFile(p(moved)));
    note(d + "remove again", platform.removeFile(p(moved)));
  }
  note("folder itself", platform.queryPath(p("d0/"), LinkMode::NoFollow, info));
  note("dot", platform.queryPath(p("d0/."), LinkMode::NoFollow, info));
  return log;
}

// Folder reuse changes no answer and keeps the length limit: a path refused
// as too long is still refused though its folder and name alone would pass.
TEST_F(PosixPlatformTest, FolderReuseChangesNoAnswer) {
  std::string deep = at("deep");
  while (deep.size() < PATH_MAX - 200) {
    ASSERT_EQ(mkdir(deep.c_str(), 0755), 0);
    deep += "/" + std::string(100, 'd');
  }
  const std::u16string tooLong = fromNativeName(deep + "/" + std::string(250, 'f'));
  ASSERT_EQ(mkdir(at("plain").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(at("reused").c_str(), 0755), 0);
  const std::vector<std::string> plain = folderWork(platform_, at("plain"));
  EXPECT_EQ(plain.front(), "d0/create ok");
  FolderReuseScope reuse(platform_);
  EXPECT_EQ(folderWork(platform_, at("reused")), plain);
  std::unique_ptr<WritableFile> out;
  EXPECT_EQ(platform_.createStagingFile(tooLong, out), static_cast<SysError>(ENAMETOOLONG));
}

// The one guard on the folder handles a thread keeps: moving through many
// folders holds at most its own two and the shared pool, and ending reuse
// closes them all.
TEST_F(PosixPlatformTest, FolderReuseHoldsBoundedHandlesAndClosesThem) {
  auto openDescriptors = [] {
    return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator());
  };
  for (int i = 0; i < 300; ++i) ASSERT_EQ(mkdir(at("m" + std::to_string(i)).c_str(), 0755), 0);
  const auto before = openDescriptors();
  {
    FolderReuseScope reuse(platform_);
    FileInfo info;
    for (int i = 0; i < 300; ++i) {
      EXPECT_NE(platform_.queryPath(path("m" + std::to_string(i) + "/absent"),
                                    LinkMode::NoFollow, info), 0u);
    }
    EXPECT_LE(openDescriptors(), before + 2 + 128);
  }
  EXPECT_EQ(openDescriptors(), before);
}

// Codes no call in the shared contract test meets.
TEST(PosixErrors, TextsAndFamilies) {
  EXPECT_EQ(errorMessage(ENOENT), u"No such file or directory");
  EXPECT_TRUE(errorMessage(99999).empty() && errorMessage(0xFFFFFFFFu).empty());
  EXPECT_TRUE(isNotFoundFamily(ENAMETOOLONG) && isNotFoundFamily(EILSEQ));
  EXPECT_FALSE(isNotFoundFamily(EACCES) || isNotFoundFamily(ELOOP) || isNotFoundFamily(EIO));
  PosixPlatform platform;
  EXPECT_EQ(platform.errorNumberLabel(), "System error ");
  FileInfo unused;
  EXPECT_EQ(platform.queryPath(u"/tmp/\xD800", LinkMode::Follow, unused),
            static_cast<SysError>(EILSEQ));
}

}  // namespace
}  // namespace qv::posix
