#include "support/fault_platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace qv::test {
namespace {

namespace fs = std::filesystem;

class FaultPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("qv-fault-" + std::to_string(systemPlatform().processId()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }

  std::u16string path(const std::string& name) const { return (root_ / name).u16string(); }
  void writeFile(const std::string& name, const std::string& data) const {
    std::ofstream(root_ / name, std::ios::binary) << data;
  }
  std::string readFile(const std::string& name) {
    std::string contents;
    EXPECT_EQ(systemPlatform().readWholeFile(path(name), contents), 0u);
    return contents;
  }

  FaultPlatform fault_{systemPlatform()};
  fs::path root_;
};

TEST_F(FaultPlatformTest, NthWriteFailsWithDiskFullAcrossFiles) {
  fault_.failNthWrite(3);
  std::unique_ptr<WritableFile> a;
  std::unique_ptr<WritableFile> b;
  ASSERT_EQ(fault_.createStagingFile(path("a"), a), 0u);
  ASSERT_EQ(fault_.createStagingFile(path("b"), b), 0u);
  size_t written = 99;
  EXPECT_EQ(a->write("1", 1, written), 0u);
  EXPECT_EQ(b->write("2", 1, written), 0u);
  EXPECT_EQ(a->write("3", 1, written), fault_.diskFullError());
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(a->write("4", 1, written), 0u);
  EXPECT_EQ(a->close(), 0u);
  EXPECT_EQ(b->close(), 0u);
  EXPECT_EQ(readFile("a"), "14");
  EXPECT_EQ(fault_.calls(Op::Write), 4u);
  EXPECT_EQ(fault_.calls(Op::CreateStagingFile), 2u);
}

TEST_F(FaultPlatformTest, FaultsMatchByPathSkipAndTimes) {
  writeFile("x", "x");
  writeFile("y", "y");
  CallMatch match;
  match.path = path("moved");  // either path of a rename matches
  match.skip = 1;
  match.times = 1;
  fault_.failCalls(Op::RenameFile, 1234, match);
  EXPECT_EQ(fault_.renameFile(path("y"), path("other"), ExistingTarget::Fail), 0u);
  EXPECT_EQ(fault_.renameFile(path("x"), path("moved"), ExistingTarget::Fail), 0u);
  EXPECT_EQ(fault_.renameFile(path("moved"), path("x"), ExistingTarget::Fail), 1234u);
  EXPECT_EQ(readFile("moved"), "x");  // the failed call never reached the system
  EXPECT_EQ(fault_.renameFile(path("moved"), path("x"), ExistingTarget::Fail), 0u);
  EXPECT_EQ(fault_.renameFile(path("x"), path("moved"), ExistingTarget::Fail), 0u);
  EXPECT_EQ(fault_.calls(Op::RenameFile), 5u);

  fault_.clear();
  fault_.failCalls(Op::CreateStagingFile, 77);
  std::unique_ptr<WritableFile> file;
  EXPECT_EQ(fault_.createStagingFile(path("s1"), file), 77u);
  EXPECT_EQ(fault_.createStagingFile(path("s2"), file), 77u);
  EXPECT_FALSE(fs::exists(root_ / "s1"));
}

TEST_F(FaultPlatformTest, HooksChangeTheSourceBetweenTwoCalls) {
  writeFile("source", "before");
  CallMatch once;
  once.times = 1;
  fault_.addHook(
      Op::QueryPath, When::After,
      [this](const std::u16string&) { writeFile("source", "changed!"); }, once);
  FileInfo first;
  FileInfo second;
  ASSERT_EQ(fault_.queryPath(path("source"), LinkMode::Follow, first), 0u);
  ASSERT_EQ(fault_.copySmallFile(path("source"), path("target"), ExistingTarget::Fail), 0u);
  ASSERT_EQ(fault_.queryPath(path("source"), LinkMode::Follow, second), 0u);
  EXPECT_EQ(first.size, 6u);
  EXPECT_EQ(second.size, 8u);
  EXPECT_EQ(readFile("target"), "changed!");
}

TEST_F(FaultPlatformTest, LargeCopyFailsAfterSomeProgress) {
  writeFile("source", std::string(size_t{17} << 20, 'q'));
  fault_.failLargeCopyAfter(1, 4321);
  std::vector<uint64_t> seen;
  const SysError err = fault_.copyLargeFile(
      path("source"), path("target"), ExistingTarget::Fail, [&](uint64_t total) {
        seen.push_back(total);
        return CopyProgress::Continue;
      });
  EXPECT_EQ(err, 4321u);
  // Wine's copier reports no progress: the copy then runs to its end and
  // fails all the same.
  if (!seen.empty()) {
    EXPECT_GT(seen.back(), 0u);
    EXPECT_LT(seen.back(), uint64_t{17} << 20);
  }

  fault_.clear();
  fs::remove(root_ / "target");
  EXPECT_EQ(fault_.copyLargeFile(path("source"), path("target"), ExistingTarget::Fail,
                                 nullptr),
            0u);
}

TEST_F(FaultPlatformTest, Sha256SetUpFailsAtTheChosenStep) {
  CallMatch once;
  once.times = 1;
  fault_.failSha256(Sha256Failure::QueryObjectLength, once);
  Sha256Failure failure = Sha256Failure::None;
  EXPECT_EQ(fault_.createSha256(failure), nullptr);
  EXPECT_EQ(failure, Sha256Failure::QueryObjectLength);
  EXPECT_NE(fault_.createSha256(failure), nullptr);
  EXPECT_EQ(failure, Sha256Failure::None);
}

TEST_F(FaultPlatformTest, ALimitedFaultFiresExactlyThatOftenAcrossThreads) {
  writeFile("f", "x");
  CallMatch match;
  match.skip = 10;
  match.times = 25;
  fault_.failCalls(Op::QueryPath, 5, match);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        FileInfo info;
        if (fault_.queryPath(path("f"), LinkMode::Follow, info) == 5) ++failures;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(failures.load(), 25);
  EXPECT_EQ(fault_.calls(Op::QueryPath), 400u);
}

}  // namespace
}  // namespace qv::test
