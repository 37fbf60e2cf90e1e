// quorvel-copy against the worker it drives: the same copy, the same
// counts, the same events, and a clean cancel.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <thread>

#include "support/worker_run.h"
#include "tools/tool_run.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

// A small tree: nested folders, an empty file, a file above the read-ahead
// threshold and a non-ASCII name.
void makeTree(const fs::path& root) {
  fs::create_directories(root / "sub" / "deeper");
  fs::create_directories(root / "empty folder");
  writeBytes(root / "a.txt", "hello");
  writeBytes(root / "empty.bin", "");
  writeBytes(root / "sub" / "big.bin", patternBytes(3 << 20, 7));
  writeBytes(root / "sub" / "deeper" / fs::u8path("caf\xC3\xA9.txt"), patternBytes(1000, 3));
}

struct Counts {
  uint64_t completed = 0, skipped = 0, failed = 0, total = 0;
  bool operator==(const Counts&) const = default;
};

Counts countsOfSummary(const std::string& out) {
  std::smatch m;
  static const std::regex line(R"(Files: (\d+) (?:copied|verified), (\d+) skipped, (\d+) failed \(of (\d+)\))");
  if (!std::regex_search(out, m, line)) return {~0ull, 0, 0, 0};
  return {std::stoull(m[1]), std::stoull(m[2]), std::stoull(m[3]), std::stoull(m[4])};
}

Counts countsOfComplete(std::string out) {
  out.erase(0, out.rfind("{\"type\":\"complete\""));
  std::smatch m;
  static const std::regex event(
      R"("totalFiles":(\d+),"completedFiles":(\d+),"skippedFiles":(\d+),"failedFiles":(\d+))");
  if (!std::regex_search(out, m, event)) return {~0ull - 1, 0, 0, 0};
  return {std::stoull(m[2]), std::stoull(m[3]), std::stoull(m[4]), std::stoull(m[1])};
}

void expectSameFile(const fs::path& a, const fs::path& b) {
  EXPECT_EQ(readBytes(a), readBytes(b)) << utf8(a) << " vs " << utf8(b);
}

bool hasStagingFile(const fs::path& folder) { return !stagingFilesUnder(folder).empty(); }

TEST(CopyTool, CopiesLikeTheWorkerAndReportsItsCounts) {
  struct Case {
    const char* name;
    std::vector<std::string> options;
    tools::RequestFields request;  // what the worker is given directly
    bool destinationTaken;         // a.txt already sits at the destination
  };
  auto request = [](uint8_t conflict, uint8_t verify, uint32_t flags) {
    tools::RequestFields r;
    r.conflictPolicy = conflict;
    r.verificationMode = verify;
    r.optionFlags = flags;
    return r;
  };
  const std::vector<Case> cases = {
      {"defaults", {}, request(2, 0, tools::kSmallFileReadAhead), false},
      {"sha256, preserve", {"--verify", "sha256", "-p"},
       request(2, 3, tools::kSmallFileReadAhead | tools::kPreserveTimestamps | tools::kPreserveAttributes),
       false},
      {"skip a taken destination", {"--on-conflict", "skip", "--no-read-ahead"}, request(0, 0, 0), true},
      {"rename a taken destination", {"--threads", "2"}, request(2, 0, tools::kSmallFileReadAhead), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    makeTree(dir.path() / "src");
    for (const char* target : {"viaTool", "viaWorker"}) {
      fs::create_directories(dir.path() / target / "src");
      if (c.destinationTaken) writeBytes(dir.path() / target / "src" / "a.txt", "old");
    }

    std::vector<std::string> args = c.options;
    args.push_back(dir.text("src"));
    args.push_back(dir.text("viaTool"));
    const ProcessResult tool = runToEnd(copyToolPath(), args);

    tools::RequestFields direct = c.request;
    direct.sourceRoots = {dir.text("src")};
    direct.destinationRoot = dir.text("viaWorker");
    const ProcessResult worker = runWorkerOn(dir, tools::writeRequest(direct));

    EXPECT_EQ(tool.exitCode, worker.exitCode) << tool.err;
    EXPECT_EQ(countsOfSummary(tool.out), countsOfComplete(worker.out)) << tool.out;
    EXPECT_EQ(tool.err, "");
    const fs::path copy = dir.path() / "viaTool" / "src";
    expectSameFile(dir.path() / "src" / "sub" / "big.bin", copy / "sub" / "big.bin");
    expectSameFile(dir.path() / "src" / "empty.bin", copy / "empty.bin");
    expectSameFile(dir.path() / "src" / "sub" / "deeper" / fs::u8path("caf\xC3\xA9.txt"),
                   copy / "sub" / "deeper" / fs::u8path("caf\xC3\xA9.txt"));
    EXPECT_TRUE(fs::is_directory(copy / "empty folder"));
    // The taken name keeps what it held unless the copy may replace it.
    EXPECT_EQ(readBytes(copy / "a.txt"), c.destinationTaken ? "old" : "hello");
    const bool verified = tool.out.find("Verification: sha256, 4 files checked, 0 failed") !=
                          std::string::npos;
    EXPECT_EQ(verified, c.request.verificationMode != 0) << tool.out;
  }
}

TEST(CopyTool, CommandLineMistakesEndBeforeTheWorkerStarts) {
  const ProcessResult help = runToEnd(copyToolPath(), {"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("--verify none|sampled|crc32|sha256|full"), std::string::npos) << help.out;
  EXPECT_NE(help.out.find("--on-conflict skip|overwrite|rename"), std::string::npos);
  EXPECT_EQ(help.out.find("INT:"), std::string::npos);

  // A file where the destination folder should be is said once, like cp.
  ScratchDir dir;
  makeTree(dir.path() / "src");
  writeBytes(dir.path() / "file", "x");
  const ProcessResult file = runToEnd(copyToolPath(), {dir.text("src"), dir.text("file")});
  EXPECT_EQ(file.exitCode, 64);
  EXPECT_EQ(file.out, "");
  EXPECT_EQ(file.err, "quorvel-copy: destination '" + dir.text("file") + "' is not a folder" +
                          std::string(eventLineEnd()));
  EXPECT_EQ(readBytes(dir.path() / "file"), "x");

  // A usage text nobody reads still ends with 64.
  Subprocess unread(copyToolPath(), {"--verify", "bogus", "a", "b"},
                    {.outputWhen = {}, .errorAtStart = true});
  EXPECT_EQ(unread.wait(), 64);
}

TEST(CopyTool, ClosedOutputCancelsTheJob) {
  ScratchDir dir;
  constexpr int kFiles = 1000;
  for (int i = 0; i < kFiles; ++i) {
    makeFile(dir.path() / "src" / (std::to_string(i) + ".bin"), 16384, i + 1);
  }
  const auto copyStarted = [](const std::string& out) {
    return out.find("\"phase\":\"copy\"") != std::string::npos;
  };
  Subprocess tool(copyToolPath(), {"--json", "--threads", "1", dir.text("src"), dir.text("dst")},
                  {.outputWhen = copyStarted});
  EXPECT_EQ(tool.wait(std::chrono::seconds(60)), 1);
  EXPECT_NE(tool.err().find("the job was cancelled"), std::string::npos) << tool.err();
  // The worker stopped early and removed its staging files.
  EXPECT_FALSE(hasStagingFile(dir.path() / "dst"));
  EXPECT_LT(entriesUnder(dir.path() / "dst" / "src").size(), size_t{kFiles});
}

TEST(CopyTool, VerifyOnlyChecksTheCopyWhereTheWorkerPutIt) {
  ScratchDir dir;
  makeTree(dir.path() / "src");
  fs::create_directories(dir.path() / "dst");
  ASSERT_EQ(runToEnd(copyToolPath(), {dir.text("src"), dir.text("dst")}).exitCode, 0);

  ProcessResult good = runToEnd(copyToolPath(), {"--verify-only", dir.text("src"), dir.text("dst")});
  EXPECT_EQ(good.exitCode, 0) << good.out << good.err;
  EXPECT_EQ(countsOfSummary(good.out), (Counts{4, 0, 0, 4})) << good.out;

  // A changed copy fails the check, and a file given as the source maps
  // straight into the destination.
  writeBytes(dir.path() / "dst" / "src" / "a.txt", "HELLO");
  ProcessResult bad = runToEnd(copyToolPath(), {"--verify-only", "--verify", "full",
                                                dir.text("src"), dir.text("dst")});
  EXPECT_EQ(bad.exitCode, 2);
  EXPECT_EQ(countsOfSummary(bad.out), (Counts{3, 0, 1, 4})) << bad.out;
  EXPECT_NE(bad.out.find("a.txt"), std::string::npos);

  ProcessResult file = runToEnd(copyToolPath(), {"--verify-only", dir.text("src/sub/big.bin"),
                                                 dir.text("dst/src/sub")});
  EXPECT_EQ(file.exitCode, 0) << file.out;
  EXPECT_EQ(countsOfSummary(file.out), (Counts{1, 0, 0, 1})) << file.out;
}

// Item order varies between runs with several threads, progress lines
// with time; everything else must be the worker's own bytes.
std::vector<std::string> stableLines(const std::string& out) {
  std::vector<std::string> lines;
  for (const std::string& line : eventLines(out)) {
    if (line.rfind("{\"type\":\"progress\",", 0) != 0) lines.push_back(line);
  }
  return lines;
}

TEST(CopyTool, JsonPassesTheWorkersEventsThrough) {
  ScratchDir dir;
  makeTree(dir.path() / "src");
  const ProcessResult tool = runToEnd(copyToolPath(), {"--json", "--threads", "1", "--on-conflict",
                                                       "skip", dir.text("src"), dir.text("dst")});
  tools::RequestFields direct;
  direct.workerCount = 1;
  direct.optionFlags = tools::kSmallFileReadAhead;
  direct.sourceRoots = {dir.text("src")};
  direct.destinationRoot = dir.text("dst");
  fs::remove_all(dir.path() / "dst");
  const ProcessResult worker = runWorkerOn(dir, tools::writeRequest(direct));

  EXPECT_EQ(tool.exitCode, worker.exitCode);
  EXPECT_EQ(tool.err, "");
  EXPECT_EQ(stableLines(tool.out), stableLines(worker.out));
  // Every line, progress included, is one whole event with the worker's
  // line ending, and nothing else is printed.
  ASSERT_FALSE(tool.out.empty());
  EXPECT_EQ(eventLines(tool.out).front(), kHelloLine);
  for (const std::string& line : eventLines(tool.out)) {
    EXPECT_EQ(line.rfind("{\"type\":", 0), 0u) << line;
    EXPECT_EQ(line.back(), '}') << line;
  }
}

TEST(CopyTool, MissingSourceIsTheWorkersFatalError) {
  ScratchDir dir;
  const ProcessResult tool = runToEnd(copyToolPath(), {dir.text("absent"), dir.text("dst")});
  EXPECT_EQ(tool.exitCode, 1);
  EXPECT_NE(tool.err.find("Source path was not found: "), std::string::npos) << tool.err;
}

TEST(CopyTool, CtrlCCancelsAndAWorkerThatDiesIsReported) {
  if (!canInterruptProcesses()) GTEST_SKIP() << "no Ctrl-C for a piped process here";
  // Big enough that the copy and its check take a good fraction of a second.
  ScratchDir dir;
  fs::create_directories(dir.path() / "src");
  writeBytes(dir.path() / "src" / "large.bin", patternBytes(size_t{256} << 20, 5));
  struct Case {
    bool killWorker;  // instead of a Ctrl-C
    std::vector<std::string> mode;
    int exitCode;
    const char* expected;  // in standard output, or in standard error for exit 1
  };
  const std::vector<Case> cases = {
      {false, {}, 0, "Cancelled.\nFiles: 0 copied"},
      {false, {"--json"}, 0, "\"cancelled\":true,"},
      {true, {}, 1, "the worker ended without a \"complete\" or \"fatal\" event"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    const fs::path dst = dir.path() / ("dst" + std::to_string(&c - cases.data()));
    std::vector<std::string> args = c.mode;
    for (const char* a : {"--verify", "sha256"}) args.push_back(a);
    args.push_back(dir.text("src"));
    args.push_back(utf8(dst));
    Subprocess tool(copyToolPath(), args);
    // Interrupt once the staging file exists: the copy is under way.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!hasStagingFile(dst) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(hasStagingFile(dst)) << "the copy never started";
    if (c.killWorker) killChildren(tool.pid());
    else interruptProcess(tool.pid());
    EXPECT_EQ(tool.wait(std::chrono::seconds(30)), c.exitCode);
    const std::string& text = c.exitCode == 1 ? tool.err() : tool.out();
    EXPECT_NE(text.find(c.expected), std::string::npos) << text;
    if (!c.killWorker) {
      EXPECT_FALSE(hasStagingFile(dst));
      EXPECT_FALSE(fs::exists(dst / "src" / "large.bin"));
    }
  }
}

}  // namespace
}  // namespace qv::test
