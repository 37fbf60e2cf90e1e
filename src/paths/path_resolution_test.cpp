#include "paths/path_resolution.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "paths/path_algebra.h"
#include "support/fault_platform.h"
#include "support/worker_run.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using namespace test;

class PathResolution : public ::testing::Test {
 protected:
  std::u16string finalOf(const fs::path& path) {
    std::u16string out;
    EXPECT_EQ(resolveFinalPath(platform, u16(path), out), 0u) << path;
    return out;
  }
  std::u16string join(std::u16string base, std::u16string_view tail) {
    return joinPath(platform.pathStyle(), base, tail);
  }

  Platform& platform = systemPlatform();
  ScratchDir scratch;
};

TEST_F(PathResolution, WeakResolutionResolvesExistingPartAndAppendsTheRest) {
  fs::create_directories(scratch.path() / "exists" / "sub");
  const std::u16string existing = finalOf(scratch.path() / "exists");

  const auto weak = [&](const fs::path& path) {
    std::u16string out;
    EXPECT_EQ(resolveWeakly(platform, u16(path), out), 0u) << path;
    return out;
  };
  EXPECT_EQ(weak(scratch.path() / "exists" / "missing" / "more"),
            join(join(existing, u"missing"), u"more"));
  // The path is normalised before the walk; a trailing separator survives.
  EXPECT_EQ(weak(scratch.path() / "exists" / "." / "sub" / ".." / "gone" / ""),
            join(join(existing, u"gone"), u""));
  // A path that exists whole is simply its final form.
  EXPECT_EQ(weak(scratch.path() / "exists" / "sub"), finalOf(scratch.path() / "exists" / "sub"));

  // An error outside the "not found" family ends the walk.
  FaultPlatform faults(platform);
  const SysError full = platform.diskFullError();
  faults.failCalls(Op::FinalPath, full, CallMatch{u16(scratch.path() / "exists"), 0, 1});
  std::u16string out;
  EXPECT_EQ(resolveWeakly(faults, u16(scratch.path() / "exists" / "missing"), out), full);
}

TEST_F(PathResolution, RootResolution) {
  fs::create_directories(scratch.path() / "exists");
  const std::u16string missing = u16(scratch.path() / "exists" / "missing" / "." / "x");

  // A missing root is resolved weakly, not merely normalised.
  EXPECT_EQ(resolveRoot(platform, missing),
            join(join(finalOf(scratch.path() / "exists"), u"missing"), u"x"));

  // When resolution fails outright, the lexical form stands in.
  FaultPlatform faults(platform);
  faults.failCalls(Op::FinalPath, platform.diskFullError());
  EXPECT_EQ(resolveRoot(faults, missing), lexicallyNormal(platform.pathStyle(), missing));
}

// Each missing folder is made; then again, when every folder is there; a
// trailing separator under an existing parent; a root that is there and an
// empty path make nothing. A file in the way is reported as the file it is,
// not as the missing path below it.
TEST_F(PathResolution, DirectoryChainCreatesEachMissingFolderAndNeverAFile) {
  const fs::path deep = scratch.path() / "a" / "b" / "c" / "d";
  const std::pair<fs::path, bool> steps[] = {{deep, true},
                                             {deep, false},
                                             {scratch.path() / "a" / "e" / "", true},
                                             {scratch.path().root_path(), false}};
  for (const auto& [path, made] : steps) {
    bool created = !made;
    ASSERT_EQ(ensureDirectoryChain(platform, u16(path), &created), 0u) << path;
    EXPECT_EQ(created, made) << path;
    EXPECT_TRUE(fs::is_directory(path)) << path;
  }
  bool created = true;
  EXPECT_EQ(ensureDirectoryChain(platform, u"", &created), platform.pathNotFoundError());
  EXPECT_FALSE(created);

  writeBytes(scratch.path() / "file", "x");
  for (const fs::path& path : {scratch.path() / "file" / "x" / "y", scratch.path() / "file"}) {
    const SysError error = ensureDirectoryChain(platform, u16(path));
    EXPECT_TRUE(platform.isAlreadyExists(error)) << path << " " << error;
  }
  EXPECT_FALSE(fs::is_directory(scratch.path() / "file"));
}

TEST_F(PathResolution, DirectoryChainIsDecidedByItsLastFolder) {
  FaultPlatform faults(platform);
  const SysError full = platform.diskFullError();

  // An earlier failure does not matter once the last folder exists.
  fs::create_directories(scratch.path() / "made");
  faults.failCalls(Op::CreateDirectory, full, CallMatch{u16(scratch.path() / "made"), 0, 1});
  bool created = false;
  EXPECT_EQ(ensureDirectoryChain(faults, u16(scratch.path() / "made" / "new"), &created), 0u);
  EXPECT_TRUE(created);

  // A parent that could not be made is the reported cause, not the
  // "not found" of the folders below it.
  faults.clear();
  faults.failCalls(Op::CreateDirectory, full, CallMatch{u16(scratch.path() / "p"), 0, 1});
  EXPECT_EQ(ensureDirectoryChain(faults, u16(scratch.path() / "p" / "q" / "r")), full);
  EXPECT_FALSE(fs::exists(scratch.path() / "p"));

  // With no other error, the last folder's own error stands.
  faults.clear();
  faults.failCalls(Op::CreateDirectory, platform.pathNotFoundError(),
                   CallMatch{u16(scratch.path() / "s"), 0, 1});
  EXPECT_EQ(ensureDirectoryChain(faults, u16(scratch.path() / "s")), platform.pathNotFoundError());
}

}  // namespace
}  // namespace qv
