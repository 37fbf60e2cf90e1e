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
using test::ScratchDir;
using test::u16;

// The real platform with a chosen path style and process id, and, when
// `present` is set, a file system where exactly the paths it accepts exist.
class PlanningPlatform : public test::FaultPlatform {
 public:
  explicit PlanningPlatform(Platform& inner)
      : FaultPlatform(inner), style(inner.pathStyle()) {}

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
  DestinationPlanner& newJob(uint8_t policy) {
    request.conflictPolicy = policy;
    planner = std::make_unique<DestinationPlanner>(job);
    return *planner;
  }
  DestinationDecision decide(const fs::path& destination, ConflictPolicy policy) {
    return planner->decideDestination(u16(destination), policy);
  }
  fs::path at(const std::string& name) const { return scratch.path() / name; }

  ScratchDir scratch;
  PlanningPlatform platform{systemPlatform()};
  std::unique_ptr<DestinationPlanner> planner;
};

TEST_F(DestinationPlanning, EachPolicyAgainstWhatIsOnDisk) {
  test::writeBytes(at("file.txt"), "x");
  fs::create_directories(at("folder"));
  struct Case {
    const char* name;
    ConflictPolicy policy;
    DestinationAction action;
    const char* path;  // the answer's file name, for kCopy
    const char* failure;
  } cases[] = {
      {"absent.txt", ConflictPolicy::kSkip, DestinationAction::kCopy, "absent.txt", ""},
      {"absent.txt", ConflictPolicy::kOverwrite, DestinationAction::kCopy, "absent.txt", ""},
      {"absent.txt", ConflictPolicy::kRename, DestinationAction::kCopy, "absent.txt", ""},
      {"file.txt", ConflictPolicy::kSkip, DestinationAction::kSkip, "", ""},
      {"file.txt", ConflictPolicy::kOverwrite, DestinationAction::kCopy, "file.txt", ""},
      {"file.txt", ConflictPolicy::kRename, DestinationAction::kCopy, "file (1).txt", ""},
      {"folder", ConflictPolicy::kSkip, DestinationAction::kSkip, "", ""},
      {"folder", ConflictPolicy::kOverwrite, DestinationAction::kFail, "", kFolderAtTarget},
      {"folder", ConflictPolicy::kRename, DestinationAction::kCopy, "folder (1)", ""},
  };
  for (const Case& c : cases) {
    newJob(0);
    const DestinationDecision d = decide(at(c.name), c.policy);
    SCOPED_TRACE(std::string(c.name) + " policy " +
                 std::to_string(static_cast<int>(c.policy)));
    EXPECT_EQ(d.action, c.action);
    EXPECT_EQ(d.failure, c.failure);
    EXPECT_EQ(d.path, c.action == DestinationAction::kCopy ? u16(at(c.path)) : u"");
  }
}

TEST_F(DestinationPlanning, RenameCounterGoesBeforeTheLastExtension) {
  for (const char* name : {"report.txt", "report (1).txt", "README", ".profile", "x.tar.gz",
                           "name."}) {
    test::writeBytes(at(name), "x");
  }
  newJob(2);
  const std::pair<const char*, const char*> cases[] = {
      {"report.txt", "report (2).txt"}, {"README", "README (1)"},
      {".profile", ".profile (1)"},     {"x.tar.gz", "x.tar (1).gz"},
      {"name.", "name (1)."},
  };
  for (const auto& [planned, renamed] : cases) {
    EXPECT_EQ(decide(at(planned), ConflictPolicy::kRename).path, u16(at(renamed))) << planned;
  }
}

TEST_F(DestinationPlanning, TwoFilesMeetingAtOneAbsentDestination) {
  const fs::path target = at("same.txt");
  {
    newJob(0);
    EXPECT_EQ(decide(target, ConflictPolicy::kSkip).action, DestinationAction::kCopy);
    EXPECT_EQ(decide(target, ConflictPolicy::kSkip).action, DestinationAction::kSkip);
  }
  {
    newJob(1);
    EXPECT_EQ(decide(target, ConflictPolicy::kOverwrite).path, u16(target));
    // Every later attempt fails the same way, whatever happened to the first.
    for (int attempt = 0; attempt < 2; ++attempt) {
      const DestinationDecision d = decide(target, ConflictPolicy::kOverwrite);
      EXPECT_EQ(d.action, DestinationAction::kFail);
      EXPECT_EQ(d.failure, kOverwriteCollision);
    }
  }
  {
    // The reservation is tested before the folder.
    newJob(1);
    EXPECT_EQ(decide(at("dir"), ConflictPolicy::kOverwrite).action, DestinationAction::kCopy);
    fs::create_directories(at("dir"));
    EXPECT_EQ(decide(at("dir"), ConflictPolicy::kOverwrite).failure, kOverwriteCollision);
  }
  {
    newJob(2);
    EXPECT_EQ(decide(target, ConflictPolicy::kRename).path, u16(target));
    EXPECT_EQ(decide(target, ConflictPolicy::kRename).path, u16(at("same (1).txt")));
    EXPECT_EQ(decide(target, ConflictPolicy::kRename).path, u16(at("same (2).txt")));
    // A renamed answer is itself reserved.
    EXPECT_EQ(decide(at("same (1).txt"), ConflictPolicy::kSkip).action,
              DestinationAction::kSkip);
  }
  EXPECT_FALSE(fs::exists(target));  // planning only probes
}

TEST_F(DestinationPlanning, SpellingsOfOneDestinationMeet) {
  struct Case {
    PathStyle style;
    std::u16string first;
    std::u16string second;
    bool meet;
  } cases[] = {
      {PathStyle::Posix, u"/d/x/a.txt", u"/d//x/./y/../a.txt", true},
      {PathStyle::Windows, u"C:\\d\\x\\a.txt", u"C:/d/x/./y/..//a.txt", true},
      {PathStyle::Windows, u"C:\\d\\A.TXT", u"c:\\D\\a.txt", true},
      {PathStyle::Posix, u"/d/A.TXT", u"/d/a.txt", false},
      {PathStyle::Windows, u"C:\\d\\\u00c4.txt", u"C:\\d\\\u00e4.txt", false},
      // Keys are stored packed: units that share bytes must stay apart.
      {PathStyle::Posix, u"/d/\u0101", u"/d/\u0201", false},
      {PathStyle::Posix, u"/d/\xd800", u"/d/\xdc00", false},
      {PathStyle::Posix, u"/d/\u1041", u"/d/\u1041", true},
  };
  for (const Case& c : cases) {
    platform.style = c.style;
    // Only the key matters here: nothing is on disk under these names.
    platform.present = [](const std::u16string&) { return false; };
    newJob(0);
    SCOPED_TRACE(std::string(c.style == PathStyle::Windows ? "windows " : "posix ") +
                 toUtf8(c.second));
    EXPECT_EQ(planner->decideDestination(c.first, ConflictPolicy::kSkip).action,
              DestinationAction::kCopy);
    EXPECT_EQ(planner->decideDestination(c.second, ConflictPolicy::kSkip).action,
              c.meet ? DestinationAction::kSkip : DestinationAction::kCopy);
  }
}

// A folder the job created holds only what the job put there, so a plain
// name in it is decided without a probe; everything else is still probed.
TEST_F(DestinationPlanning, ProbesSkippedOnlyForPlainNamesInFoldersTheJobCreated) {
  JobFolders folders;
  folders.created.insert(u"c:\\new");
  folders.created.insert(u"/new");
  folders.planned = folders.created;
  folders.planned.insert(u"c:\\new\\sub");
  folders.planned.insert(u"/new/sub");
  folders.planned.insert(u"/old");
  struct Case {
    PathStyle style;
    const char16_t* destination;
    bool probed;
  } cases[] = {
      {PathStyle::Posix, u"/new/a.txt", false},
      {PathStyle::Posix, u"/new/\u00e4 ~1.txt", false},
      {PathStyle::Posix, u"/old/a.txt", true},                // found, not created
      {PathStyle::Posix, u"/new/sub", true},                  // a planned folder's name
      {PathStyle::Posix, u"/new/a.qv-native-partial-1-2", true},
      {PathStyle::Windows, u"C:\\New\\a.txt", false},
      {PathStyle::Windows, u"C:\\new\\SUB", true},
      {PathStyle::Windows, u"C:\\new\\\u00c4.txt", true},  // folds outside ASCII
      {PathStyle::Windows, u"C:\\new\\LONGNA~1.TXT", true},  // a short name
      {PathStyle::Windows, u"C:\\new\\a.txt.", true},
      {PathStyle::Windows, u"C:\\new\\nul.txt", true},
      {PathStyle::Windows, u"C:\\new\\com7", true},
      {PathStyle::Windows, u"C:\\new\\com.txt", false},
  };
  platform.present = [](const std::u16string&) { return false; };
  for (const Case& c : cases) {
    SCOPED_TRACE(toUtf8(c.destination));
    platform.style = c.style;
    DestinationPlanner withFolders(job, &folders);
    platform.probes = 0;
    EXPECT_EQ(withFolders.decideDestination(c.destination, ConflictPolicy::kRename).action,
              DestinationAction::kCopy);
    EXPECT_EQ(platform.probes, c.probed ? 1u : 0u);
  }
}

TEST_F(DestinationPlanning, RenameCounterStopsBelowOneMillion) {
  platform.present = [](const std::u16string&) { return true; };
  newJob(2);
  platform.probes = 0;
  const DestinationDecision full = decide(at("f.txt"), ConflictPolicy::kRename);
  EXPECT_EQ(full.action, DestinationAction::kFail);
  EXPECT_EQ(full.failure, kNoRenamedDestination);
  EXPECT_EQ(platform.probes, 1u + 999999u);

  const std::u16string last = u16(at("f (999999).txt"));
  platform.present = [&](const std::u16string& path) { return path != last; };
  EXPECT_EQ(decide(at("f.txt"), ConflictPolicy::kRename).path, last);
}

TEST_F(DestinationPlanning, PrepareDestinationRecordsTheOutcomeOnTheItem) {
  test::writeBytes(at("taken.txt"), "x");
  PlannedFile item;
  item.sourcePath = u"src";
  item.destinationPath = u16(at("taken.txt"));
  item.size = 7;
  bool skipped = true;
  std::string error = "stale";

  newJob(0);
  EXPECT_TRUE(planner->prepareDestination(item, skipped, error));
  EXPECT_TRUE(skipped);
  EXPECT_FALSE(item.resolved);
  EXPECT_EQ(counters.skippedFiles.load(), 1u);
  EXPECT_EQ(output.text(), "{\"type\":\"item\",\"status\":\"skipped\",\"source\":\"src\","
                         "\"destination\":\"" +
                             jsonEscape(toUtf8(item.destinationPath)) +
                             "\",\"size\":7,\"error\":\"\"}\n");

  newJob(9);  // any value past 1 renames
  EXPECT_TRUE(planner->prepareDestination(item, skipped, error));
  EXPECT_FALSE(skipped);
  EXPECT_TRUE(item.resolved);
  EXPECT_EQ(item.destinationPath, u16(at("taken (1).txt")));
  // Resolved items are not decided again.
  const uint64_t probes = platform.probes.load();
  EXPECT_TRUE(planner->prepareDestination(item, skipped, error));
  EXPECT_EQ(platform.probes, probes);
  EXPECT_EQ(item.destinationPath, u16(at("taken (1).txt")));

  fs::create_directories(at("folder"));
  PlannedFile blocked;
  blocked.destinationPath = u16(at("folder"));
  newJob(1);
  EXPECT_FALSE(planner->prepareDestination(blocked, skipped, error));
  EXPECT_FALSE(skipped);
  EXPECT_EQ(error, kFolderAtTarget);
  EXPECT_FALSE(blocked.resolved);
  EXPECT_EQ(blocked.destinationPath, u16(at("folder")));
  EXPECT_EQ(counters.skippedFiles.load(), 1u);
}

TEST_F(DestinationPlanning, StagingPathSitsBesideTheDestination) {
  newJob(0);
  PlannedFile item;
  item.destinationPath = u"E:\\b\\x.bin";
  EXPECT_EQ(planner->stagingPathFor(item, 0), u"E:\\b\\x.bin.qv-native-partial-4242-0");
  item.destinationPath = u"/out/a (1).txt";
  EXPECT_EQ(planner->stagingPathFor(item, 4294967295u),
            u"/out/a (1).txt.qv-native-partial-4242-4294967295");
}

TEST_F(DestinationPlanning, ConcurrentDecisionsNeverShareADestination) {
  newJob(2);
  constexpr int kThreads = 8;
  constexpr int kEach = 25;
  std::vector<std::vector<std::u16string>> answers(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        answers[t].push_back(decide(at("hot.txt"), ConflictPolicy::kRename).path);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::u16string> distinct;
  for (const auto& list : answers) distinct.insert(list.begin(), list.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kEach));
  EXPECT_EQ(distinct.count(u16(at("hot.txt"))), 1u);
  EXPECT_EQ(distinct.count(u16(at("hot (199).txt"))), 1u);
}

}  // namespace
}  // namespace qv
