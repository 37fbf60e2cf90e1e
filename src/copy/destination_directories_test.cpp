#include "copy/destination_directories.h"

#include "copy/copy_test_fixture.h"
#include "paths/path_algebra.h"
#include "paths/path_resolution.h"

namespace qv::test {
namespace {

void planFolder(CopyHarness& h, const std::string& source, const std::string& destination) {
  PlannedDirectory folder;
  if (!source.empty()) folder.sourcePath = u16(h.at(source));
  folder.destinationPath = destination.empty() ? u"" : u16(h.at(destination));
  h.plan.directories.push_back(folder);
}

void planFileTo(CopyHarness& h, const std::string& destination) {
  PlannedFile file;
  file.destinationPath = u16(h.at(destination));
  h.plan.files.push_back(file);
}

TEST(DestinationDirectories, CreatesFoldersAndFileParentsEachOnce) {
  CopyHarness h;
  planFolder(h, "src/empty", "dst/empty");
  planFolder(h, "src/a", "dst/a");
  planFileTo(h, "dst/a/b/c/f1");
  planFileTo(h, "dst/a/b/./c/f2");     // the same parent spelled differently
  planFileTo(h, "dst/a/x/../b/c/f3");  // and again
  planFileTo(h, "dst/a/B/f4");         // differs in case only: its own folder
  const JobFolders first = createDestinationDirectories(h.job);
  for (const char* folder : {"dst/empty", "dst/a/b/c", "dst/a/B"}) {
    EXPECT_TRUE(std::filesystem::is_directory(h.at(folder))) << folder;
  }
  EXPECT_FALSE(std::filesystem::exists(h.at("dst/a/x")));
  const std::u16string abc = destinationKey(h.platform.pathStyle(), u16(h.at("dst/a/b/c")));
  EXPECT_EQ(first.created.count(abc) + first.planned.count(abc), 2u);
  // Running again over existing folders changes nothing, and folders found
  // are planned but not counted as this job's own.
  const JobFolders second = createDestinationDirectories(h.job);
  EXPECT_TRUE(second.created.empty());
  EXPECT_EQ(second.planned.size(), first.planned.size());
  EXPECT_EQ(h.errors.escapedForEvent(), "");
}

TEST(DestinationDirectories, AFolderThatCannotBeCreatedCountsOnce) {
  CopyHarness h;
  std::filesystem::create_directories(h.at("dst"));
  writeBytes(h.at("dst/blocker"), "a file where a folder should be");
  planFolder(h, "src/blocker/sub", "dst/blocker/sub");
  planFileTo(h, "dst/blocker/sub/f1");
  planFileTo(h, "dst/blocker/sub/f2");
  planFileTo(h, "dst/blocker/other/f3");
  planFolder(h, "src/nowhere", "");  // no destination at all
  createDestinationDirectories(h.job);

  const std::string sub = utf8(h.at("dst/blocker/sub"));
  // A file's parent is created under its normal form.
  const std::string other = toUtf8(
      lexicallyNormal(h.platform.pathStyle(), u16(h.at("dst/blocker/other"))));
  const auto line = [&](const std::string& source, const std::string& destination, SysError code) {
    return jsonEscape(source + " -> " + destination +
                      ": Unable to create destination directory: " + h.text(code));
  };
  const auto chainError = [&](const char* folder) {
    return ensureDirectoryChain(h.platform.inner(), u16(h.at(folder)));
  };
  EXPECT_EQ(h.errors.escapedForEvent(),
            line(utf8(h.at("src/nowhere")), "", h.platform.pathNotFoundError()) + "\\n" +
                line(utf8(h.at("src/blocker/sub")), sub, chainError("dst/blocker/sub")) + "\\n" +
                line("", other, chainError("dst/blocker/other")));
  EXPECT_EQ(h.counters.failedFiles.load(), 3u);
}

TEST(DestinationDirectories, CancelStopsCreation) {
  CopyHarness h;
  planFolder(h, "", "dst/a");
  h.control.cancel();
  createDestinationDirectories(h.job);
  EXPECT_FALSE(std::filesystem::exists(h.at("dst")));
}

// Times and attributes that reach the copy are checked on whole jobs; here
// only their failures, which must stay warnings.
TEST(DirectoryMetadata, FailuresAreWarningsOnly) {
  const struct {
    const char* name;
    Arrange arrange;  // gives the code reported
    std::string prefix;
    uint64_t attributeCalls;  // a failure with the times does not stop the attributes
  } cases[] = {
      {"source gone",
       [](CopyHarness& h) {
         std::filesystem::remove(h.at("src/a"));
         FileInfo info;
         return h.platform.inner().readFileInfo(u16(h.at("src/a")), info);
       },
       "Unable to read final directory metadata: ", 0},
      {"destination does not open", refusing(Op::OpenForMetadataWrite),
       "Unable to open the destination directory for metadata: ", 1},
      {"times refused", refusing(Op::MetadataSetTimes), "Unable to preserve directory timestamps: ",
       1},
      {"attributes refused", refusing(Op::SetAttributes),
       "Unable to preserve directory attributes: ", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CopyHarness h;
    h.request.optionFlags = kPreserveTimestamps | kPreserveAttributes;
    std::filesystem::create_directories(h.at("src/a"));
    std::filesystem::create_directories(h.at("dst/a"));
    planFolder(h, "src/a", "dst/a");
    planFolder(h, "", "dst/created-only");  // no source: nothing to apply, nothing to warn of
    const SysError code = c.arrange(h);
    applyDirectoryMetadata(h.job);
    EXPECT_EQ(h.errors.escapedForEvent(),
              jsonEscape("Warning: " + utf8(h.at("src/a")) + " -> " + utf8(h.at("dst/a")) +
                         ": " + c.prefix + h.text(code)));
    EXPECT_EQ(h.platform.calls(Op::SetAttributes), c.attributeCalls);
    EXPECT_EQ(h.counters.failedFiles.load(), 0u);
  }
}

}  // namespace
}  // namespace qv::test
