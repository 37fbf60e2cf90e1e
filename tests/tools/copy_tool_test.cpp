// quorvel-copy against the worker it drives: the same copy, the same
// counts, the same events, and what only the tool does: its options, its own
// texts and exit codes, and Ctrl-C.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#endif

#include <chrono>
#include <fstream>
#include <regex>
#include <thread>

#include "support/worker_run.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

std::string copyTool() { return builtProgram("QV_COPY_TOOL"); }

// A small tree: nested folders, an empty file, a file above the read-ahead
// threshold and a non-ASCII name.
void makeTree(const fs::path& root) {
  fs::create_directories(root / "empty folder");
  writeBytes(root / "a.txt", "hello");
  writeBytes(root / "empty.bin", "");
  makeFile(root / "sub" / "big.bin", 3 << 20, 7);
  makeFile(root / "sub" / "deeper" / fs::u8path("caf\xC3\xA9.txt"), 1000, 3);
}

// Completed, skipped, failed and total files, from the summary's line.
using Counts = std::vector<std::string>;

Counts countsOfSummary(const std::string& out) {
  std::smatch m;
  static const std::regex line(
      R"(Files: (\d+) (?:copied|verified), (\d+) skipped, (\d+) failed \(of (\d+)\))");
  if (!std::regex_search(out, m, line)) return {"no summary"};
  return {m[1], m[2], m[3], m[4]};
}

// Every line of --json must be one whole event with the worker's line
// ending; progress lines vary with time and are left out.
std::vector<std::string> stableEvents(const std::string& out) {
  std::vector<std::string> lines;
  for (const std::string& line : eventLines(out)) {
    EXPECT_EQ(line.rfind("{\"type\":", 0), 0u) << line;
    EXPECT_EQ(line.back(), '}') << line;
    if (line.rfind("{\"type\":\"progress\",", 0) != 0) lines.push_back(line);
  }
  return lines;
}

// The tool and the worker given the same request by hand make the same tree,
// and --json passes the worker's own events through byte for byte; without
// it, the summary counts the files and the check.
TEST(CopyTool, CopiesLikeTheWorkerAndReportsItsCounts) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    uint8_t conflict, verify;
    uint32_t flags;         // what the worker is given directly
    bool destinationTaken;  // a.txt already sits at the destination
  };
  const uint32_t ra = tools::kSmallFileReadAhead;
  const Case cases[] = {
      {"sha256, preserve", {"--verify", "sha256", "-p"}, 2, 3,
       ra | tools::kPreserveTimestamps | tools::kPreserveAttributes, false},
      {"skip a taken destination", {"--json", "--on-conflict", "skip", "--no-read-ahead"}, 0, 0, 0,
       true},
      {"rename a taken destination", {"--json"}, 2, 0, ra, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    makeTree(dir.path() / "src");
    // Both write to the same folder, one after the other, so that their
    // events name the same destinations.
    const fs::path dst = dir.path() / "dst";
    auto prepare = [&] {
      fs::create_directories(dst / "src");
      if (c.destinationTaken) writeBytes(dst / "src" / "a.txt", "old");
    };
    prepare();
    std::vector<std::string> args = c.options;
    args.insert(args.end(), {"--threads", "1", dir.text("src"), utf8(dst)});
    const ProcessResult tool = runToEnd(copyTool(), args);
    fs::rename(dst, dir.path() / "viaTool");
    prepare();
    tools::RequestFields direct = copyRequest(dir.path() / "src", dst, c.flags, c.verify);
    direct.conflictPolicy = c.conflict;
    direct.workerCount = 1;
    const ProcessResult worker = runWorkerOn(dir, tools::writeRequest(direct));

    EXPECT_EQ(tool.exitCode, worker.exitCode) << tool.err;
    EXPECT_EQ(tool.err, "");
    expectSameTree(dst, dir.path() / "viaTool");
    if (c.options.front() != "--json") {
      EXPECT_EQ(countsOfSummary(tool.out), (Counts{"4", "0", "0", "4"})) << tool.out;
      EXPECT_NE(tool.out.find("Verification: sha256, 4 files checked, 0 failed"), std::string::npos)
          << tool.out;
      continue;
    }
    const std::vector<std::string> events = stableEvents(tool.out);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), kHelloLine);
    EXPECT_EQ(events, stableEvents(worker.out));
  }
}

TEST(CopyTool, MistakesEndWithTheirOwnTextAndExitCode) {
  const ProcessResult help = runToEnd(copyTool(), {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--verify none|sampled|crc32|sha256|full"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("--on-conflict skip|overwrite|rename"), std::string::npos);
  EXPECT_EQ(help.out.find("INT:"), std::string::npos);

  // A file where the destination folder should be is said once, like cp,
  // before the worker starts.
  ScratchDir dir;
  writeBytes(dir.path() / "file", "x");
  const ProcessResult file = runToEnd(copyTool(), {dir.text(""), dir.text("file")});
  EXPECT_EQ(file.exitCode, 64);
  EXPECT_EQ(file.out, "");
  EXPECT_EQ(file.err, "quorvel-copy: destination '" + dir.text("file") + "' is not a folder" +
                          std::string(eventLineEnd()));
  EXPECT_EQ(readBytes(dir.path() / "file"), "x");

  // A usage text nobody reads still ends with 64.
  Subprocess unread(copyTool(), {"--verify", "bogus", "a", "b"},
                    {.outputWhen = {}, .errorAtStart = true});
  EXPECT_EQ(unread.wait(), 64);

  // The worker's fatal error is passed on.
  const ProcessResult missing = runToEnd(copyTool(), {dir.text("absent"), dir.text("dst")});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("Source path was not found: "), std::string::npos) << missing.err;
}

TEST(CopyTool, ClosedOutputCancelsTheJob) {
  ScratchDir dir;
  constexpr int kFiles = 1000;
  for (int i = 0; i < kFiles; ++i) makeFile(dir.path() / "src" / std::to_string(i), 16384, i + 1);
  Subprocess tool(copyTool(), {"--json", "--threads", "1", dir.text("src"), dir.text("dst")},
                  {.outputWhen = outputHas("\"phase\":\"copy\"")});
  EXPECT_EQ(tool.wait(std::chrono::seconds(60)), 1);
  EXPECT_NE(tool.err().find("the job was cancelled"), std::string::npos) << tool.err();
  // The worker stopped early. (What a cancelled job leaves, the process
  // tests pin.)
  EXPECT_LT(entriesUnder(dir.path() / "dst" / "src").size(), size_t{kFiles});
}

TEST(CopyTool, VerifyOnlyChecksTheCopyWhereTheWorkerPutIt) {
  ScratchDir dir;
  makeTree(dir.path() / "src");
  fs::create_directories(dir.path() / "dst");
  ASSERT_EQ(runToEnd(copyTool(), {dir.text("src"), dir.text("dst")}).exitCode, 0);
  // A changed copy fails the check, and a file given as the source maps
  // straight into the destination.
  struct Case {
    std::vector<std::string> args;
    int exitCode;
    Counts counts;
  };
  const Case cases[] = {
      {{"--verify-only", dir.text("src"), dir.text("dst")}, 0, {"4", "0", "0", "4"}},
      {{"--verify-only", "--verify", "full", dir.text("src"), dir.text("dst")}, 2, {"3", "0", "1", "4"}},
      {{"--verify-only", dir.text("src/sub/big.bin"), dir.text("dst/src/sub")}, 0, {"1", "0", "0", "1"}},
  };
  for (const Case& c : cases) {
    if (c.exitCode == 2) writeBytes(dir.path() / "dst" / "src" / "a.txt", "HELLO");
    const ProcessResult run = runToEnd(copyTool(), c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
    EXPECT_EQ(countsOfSummary(run.out), c.counts) << run.out;
    EXPECT_TRUE(c.exitCode != 2 || run.out.find("a.txt") != std::string::npos) << run.out;
  }
}

#ifndef _WIN32
// Kills the tool's children (the worker) outright.
void killChildren(int pid) {
  const std::string id = std::to_string(pid);
  std::ifstream children("/proc/" + id + "/task/" + id + "/children");
  for (int child = 0; children >> child;) kill(child, SIGKILL);
}

// A console Ctrl-C cannot be aimed at one process started with pipes (and
// under Wine there is no console): Linux only.
TEST(CopyTool, CtrlCCancelsAndAWorkerThatDiesIsReported) {
  // Big enough that the copy and its check take a good fraction of a second.
  ScratchDir dir;
  makeFile(dir.path() / "src" / "large.bin", size_t{256} << 20, 5);
  struct Case {
    bool killWorker;       // instead of a Ctrl-C: exit 1, not 0
    const char* expected;  // in standard output, or in standard error for exit 1
  };
  const Case cases[] = {
      {false, "Cancelled.\nFiles: 0 copied"},
      {true, "the worker ended without a \"complete\" or \"fatal\" event"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    const fs::path dst = dir.path() / ("dst" + std::to_string(&c - cases));
    Subprocess tool(copyTool(), {"--verify", "sha256", dir.text("src"), utf8(dst)});
    // Interrupt once the staging file exists: the copy is under way.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (stagingFilesUnder(dst).empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_FALSE(stagingFilesUnder(dst).empty()) << "the copy never started";
    if (c.killWorker) killChildren(tool.pid());
    else kill(tool.pid(), SIGINT);
    EXPECT_EQ(tool.wait(std::chrono::seconds(30)), c.killWorker ? 1 : 0);
    EXPECT_NE((c.killWorker ? tool.err() : tool.out()).find(c.expected), std::string::npos)
        << tool.out() << tool.err();
  }
}
#endif

}  // namespace
}  // namespace qv::test
