#include "paths/destination_planning.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "frame/event_text.h"
#include "support/captured_job.h"
#include "support/fault_platform.h"
#include "support/worker_run.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using enum ConflictPolicy;
using test::u16;

// The real platform with a chosen path style and process id, and, when
// `present` is set, a file system where exactly the paths it accepts exist.
class PlanningPlatform : public test::FaultPlatform {
 public:
  explicit PlanningPlatform(Platform& inner) : FaultPlatform(inner), style(inner.pathStyle()) {}

  PathStyle pathStyle() const override { return style; }
  uint32_t processId() override { return 4242; }
  SysError queryPath(const std::u16string& path, LinkMode mode, FileInfo& info) override {
    ++probes;
    if (!present) return FaultPlatform::queryPath(path, mode, info);
    if (!present(path)) return pathNotFoundError();
    info = FileInfo{};
    return 0;
  }

  PathStyle style;
  std::function<bool(const std::u16string&)> present;
  std::atomic<uint64_t> probes{0};
};

class DestinationPlanning : public ::testing::Test, public test::CapturedJob {
 protected:
  DestinationPlanning() : CapturedJob(platform) {}

  // A planner as the copy phase makes one: fresh for each job.
  void newJob(uint8_t policy) {
    request.conflictPolicy = policy;
    planner = std::make_unique<DestinationPlanner>(job);
  }
  // The decision for `name` in the scratch folder: "skip", "fail: " and the
  // failure, or the name copied to.
  std::string decide(const std::string& name, ConflictPolicy policy) {
    const DestinationDecision d = planner->decideDestination(u16(at(name)), policy);
    if (d.action == DestinationAction::kSkip) return "skip";
    if (d.action == DestinationAction::kFail) return "fail: " + d.failure;
    return fs::path(d.path).lexically_relative(scratch.path()).string();
  }
  fs::path at(const std::string& name) const { return scratch.path() / name; }

  test::ScratchDir scratch;
  PlanningPlatform platform{systemPlatform()};
  std::unique_ptr<DestinationPlanner> planner;
};

TEST_F(DestinationPlanning, EachPolicyAgainstWhatIsOnDisk) {
  for (const char* name : {"file.txt", "report.txt", "report (1).txt", "README", ".profile",
                           "x.tar.gz", "name."}) {
    test::writeBytes(at(name), "x");
  }
  fs::create_directories(at("folder"));
  const struct {
    const char* name;
    ConflictPolicy policy;
    std::string answer;
  } cases[] = {
      // Nothing there: every policy copies. Something there: skip skips it,
      // whatever it is, and overwrite replaces a file but never a folder.
      {"absent.txt", kSkip, "absent.txt"},
      {"file.txt", kSkip, "skip"},
      {"file.txt", kOverwrite, "file.txt"},
      {"folder", kOverwrite, "fail: A folder exists at the target file path."},
      // The counter goes before the last extension, past names already taken.
      {"report.txt", kRename, "report (2).txt"},
      {"README", kRename, "README (1)"},
      {".profile", kRename, ".profile (1)"},
      {"x.tar.gz", kRename, "x.tar (1).gz"},
      {"name.", kRename, "name (1)."},
  };
  for (const auto& c : cases) {
    newJob(0);
    EXPECT_EQ(decide(c.name, c.policy), c.answer)
        << c.name << " policy " << static_cast<int>(c.policy);
  }
}

TEST_F(DestinationPlanning, TwoFilesMeetingAtOneAbsentDestination) {
  const std::string collision =
      "fail: Multiple source files resolve to the same overwrite destination.";
  newJob(0);
  EXPECT_EQ(decide("same.txt", kSkip), "same.txt");
  EXPECT_EQ(decide("same.txt", kSkip), "skip");
  newJob(1);
  EXPECT_EQ(decide("same.txt", kOverwrite), "same.txt");
  EXPECT_EQ(decide("same.txt", kOverwrite), collision);
  // The reservation is tested before the folder.
  EXPECT_EQ(decide("dir", kOverwrite), "dir");
  fs::create_directories(at("dir"));
  EXPECT_EQ(decide("dir", kOverwrite), collision);
  newJob(2);
  EXPECT_EQ(decide("same.txt", kRename), "same.txt");
  EXPECT_EQ(decide("same.txt", kRename), "same (1).txt");
  EXPECT_EQ(decide("same.txt", kRename), "same (2).txt");
  EXPECT_EQ(decide("same (1).txt", kSkip), "skip");  // a renamed answer is reserved too
  EXPECT_FALSE(fs::exists(at("same.txt")));          // planning only probes
}

// Decisions go by the destination key; its folding and normal form are the
// path algebra's, and that packed keys never meet unless equal is the path
// algebra fuzz target's.
TEST_F(DestinationPlanning, SpellingsOfOneDestinationMeet) {
  platform.present = [](const std::u16string&) { return false; };
  platform.style = PathStyle::Windows;
  newJob(0);
  EXPECT_EQ(planner->decideDestination(u"C:\\d\\x\\A.txt", kSkip).action, DestinationAction::kCopy);
  EXPECT_EQ(planner->decideDestination(u"c:/D/x/./y/..//a.txt", kSkip).action,
            DestinationAction::kSkip);
}

// A folder the job created holds only what the job put there, so a plain
// name in it is decided without a probe; everything else is still probed.
TEST_F(DestinationPlanning, ProbesSkippedOnlyForPlainNamesInFoldersTheJobCreated) {
  const JobFolders folders{.created = {u"c:\\new", u"/new"},
                           .planned = {u"c:\\new", u"/new", u"c:\\new\\sub", u"/old"}};
  const struct {
    PathStyle style;
    const char16_t* destination;
    bool probed;
  } cases[] = {
      {PathStyle::Posix, u"/new/\u00e4 ~1.txt", false},
      {PathStyle::Posix, u"/old/a.txt", true},  // found, not created
      {PathStyle::Posix, u"/new/a.qv-native-partial-1-2", true},
      {PathStyle::Windows, u"C:\\New\\a.txt", false},
      {PathStyle::Windows, u"C:\\new\\SUB", true},           // a planned folder's name
      {PathStyle::Windows, u"C:\\new\\\u00c4.txt", true},    // folds outside ASCII
      {PathStyle::Windows, u"C:\\new\\LONGNA~1.TXT", true},  // a short name
      {PathStyle::Windows, u"C:\\new\\a.txt.", true},
      {PathStyle::Windows, u"C:\\new\\nul.txt", true},
      {PathStyle::Windows, u"C:\\new\\com7", true},
      {PathStyle::Windows, u"C:\\new\\com.txt", false},
  };
  platform.present = [](const std::u16string&) { return false; };
  for (const auto& c : cases) {
    platform.style = c.style;
    DestinationPlanner withFolders(job, &folders);
    platform.probes = 0;
    EXPECT_EQ(withFolders.decideDestination(c.destination, kRename).action,
              DestinationAction::kCopy);
    EXPECT_EQ(platform.probes, c.probed ? 1u : 0u) << toUtf8(c.destination);
  }
}

TEST_F(DestinationPlanning, RenameCounterStopsBelowOneMillion) {
  platform.present = [](const std::u16string&) { return true; };
  newJob(2);
  EXPECT_EQ(decide("f.txt", kRename), "fail: Unable to reserve a renamed destination.");
  const std::u16string last = u16(at("f (999999).txt"));
  platform.present = [&](const std::u16string& path) { return path != last; };
  EXPECT_EQ(decide("f.txt", kRename), "f (999999).txt");
}

// The staging file of a renamed destination sits beside it.
TEST_F(DestinationPlanning, PrepareDestinationRecordsTheOutcomeAndTheStagingPathFollows) {
  test::writeBytes(at("taken.txt"), "x");
  fs::create_directories(at("folder"));
  PlannedFile item;
  item.sourcePath = u"src";
  item.destinationPath = u16(at("taken.txt"));
  item.size = 7;
  bool skipped = false;
  std::string error;
  newJob(0);
  EXPECT_TRUE(planner->prepareDestination(item, skipped, error));
  EXPECT_TRUE(skipped && !item.resolved);
  EXPECT_EQ(counters.skippedFiles.load(), 1u);
  EXPECT_EQ(output.text(), "{\"type\":\"item\",\"status\":\"skipped\",\"source\":\"src\","
                           "\"destination\":\"" + jsonEscape(toUtf8(item.destinationPath)) +
                           "\",\"size\":7,\"error\":\"\"}\n");

  newJob(9);  // any value past 1 renames
  EXPECT_TRUE(planner->prepareDestination(item, skipped, error));
  EXPECT_TRUE(!skipped && item.resolved);
  // Resolved items are not decided again.
  EXPECT_TRUE(planner->prepareDestination(item, skipped, error));
  EXPECT_EQ(item.destinationPath, u16(at("taken (1).txt")));
  EXPECT_EQ(planner->stagingPathFor(item, 4294967295u),
            item.destinationPath + u".qv-native-partial-4242-4294967295");

  PlannedFile blocked;
  blocked.destinationPath = u16(at("folder"));
  newJob(1);
  EXPECT_FALSE(planner->prepareDestination(blocked, skipped, error));
  EXPECT_EQ(error, kFolderAtTarget);
  EXPECT_TRUE(!skipped && !blocked.resolved && blocked.destinationPath == u16(at("folder")));
  EXPECT_EQ(counters.skippedFiles.load(), 1u);  // a failure is no skip
}

TEST_F(DestinationPlanning, ConcurrentDecisionsNeverShareADestination) {
  newJob(2);
  std::vector<std::vector<std::string>> answers(8);
  std::vector<std::thread> threads;
  for (auto& list : answers) {
    threads.emplace_back([&] {
      for (int i = 0; i < 25; ++i) list.push_back(decide("hot.txt", kRename));
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::string> distinct;
  for (const auto& list : answers) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), 200u);
  EXPECT_EQ(distinct.count("hot.txt") + distinct.count("hot (199).txt"), 2u);
}

}  // namespace
}  // namespace qv
