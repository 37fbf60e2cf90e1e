// The live line must fit the terminal whatever the numbers and names, since
// a line that wraps leaves debris behind at every redraw.
#include <gtest/gtest.h>

#include "frontend/status_line.h"
#include "frontend/verify_list.h"

namespace qv::tools {
namespace {

// That the line and an elided name fit every width, and never cut a UTF-8
// character, the status line's fuzz target checks; here their shape.
TEST(StatusLine, ShowsAPauseAndKeepsTheFileNameEnd) {
  const ProgressState paused{"copy", true, "/f", 3, 1, 2, 1};
  EXPECT_NE(formatStatusLine(paused, 0, 80).find("Paused"), std::string::npos);
  ProgressState usual{"copy", false, "/home/ana/photos/2020/summer/IMG_0001.jpg",
                      uint64_t{2600} << 20, uint64_t{1200} << 20, 3002, 1203};
  const std::string line = formatStatusLine(usual, 85 << 20, 80);
  EXPECT_EQ(line.rfind("copy  46% [##----] 1.2/2.5 GiB 1203/3002 files 85.0 MiB/s ETA 0:16 ", 0), 0u)
      << line;
  EXPECT_EQ(line.substr(line.size() - 5), "1.jpg") << line;
  // An elided name keeps its start and mostly its end.
  std::string name = "/d/" + std::string(60, 'y');
  for (int i = 0; i < 40; ++i) name += "\xC3\xA9";  // e-acute, two bytes each
  const std::string cut = elideMiddle(name, 30);
  EXPECT_EQ(displayColumns(cut), 30u);
  EXPECT_EQ(cut.rfind("/d/yyyyyy...", 0), 0u) << cut;
  // Wide characters take two columns each; one that would straddle the cut
  // gives its column to a dot.
  std::string wide = "/d/";
  for (int i = 0; i < 30; ++i) wide += "\xE6\x96\x87";  // U+6587, two columns
  const std::string wideCut = elideMiddle(wide, 31);  // 9 + 3 + 19 columns
  EXPECT_EQ(displayColumns(wideCut), 31u);
  EXPECT_EQ(wideCut, wide.substr(0, 3 + 3 * 3) + "...." + wide.substr(wide.size() - 3 * 9))
      << wideCut;
}

TEST(StatusLine, NumbersReadAsAPersonExpects) {
  const std::vector<std::pair<uint64_t, std::string>> sizes = {
      {0, "0 B"}, {1023, "1023 B"}, {1024, "1.0 KiB"}, {1536, "1.5 KiB"},
      {uint64_t{5} << 30, "5.0 GiB"}, {uint64_t{3} << 50, "3.0 PiB"}};
  for (const auto& [bytes, shown] : sizes) EXPECT_EQ(humanBytes(bytes), shown);
  const std::vector<std::pair<double, std::string>> times = {
      {0, "0:00"}, {59.6, "1:00"}, {754, "12:34"}, {3723, "1:02:03"}};
  for (const auto& [seconds, shown] : times) EXPECT_EQ(humanDuration(seconds), shown);

  // The rate follows the last seconds, not the average since the start.
  RateMeter meter;
  meter.add(0, 0);
  meter.add(1, 100 << 20);
  for (int t = 2; t <= 10; ++t) meter.add(t, 100 << 20);  // stalled
  EXPECT_EQ(meter.bytesPerSecond(), 0);
  meter.add(11, 110 << 20);
  EXPECT_NEAR(meter.bytesPerSecond(), (10 << 20) / 3.0, 1);
}

// The first ten errors are listed whole; past that, the rest is counted.
TEST(StatusLine, SummaryListsCountsErrorsAndWhatWasVerified) {
  JobTotals t{300, 200, 3, 1, 1, 1, true, {"/s/a -> /d/a: Copy failed: No space", "Warning: x"}, {}};
  EXPECT_EQ(formatSummary(t, false, 2.0),
            "Cancelled.\n"
            "Files: 1 copied, 1 skipped, 1 failed (of 3)\n"
            "Bytes: 200 of 300 (200 B)\n"
            "Time: 2.0 s, average 100 B/s\n"
            "Errors:\n"
            "  /s/a -> /d/a: Copy failed: No space\n"
            "  Warning: x\n");
  t.errors.clear();
  for (int i = 1; i <= 10; ++i) t.errors.push_back("e" + std::to_string(i));
  EXPECT_EQ(formatSummary(t, false, 2.0).find("more"), std::string::npos);
  t.errors.push_back("e11");
  t.errors.push_back("e12");
  const std::string capped = formatSummary(t, false, 2.0);
  EXPECT_NE(capped.find("  e10\n  ... and 2 more; --json shows all\n"), std::string::npos) << capped;
  EXPECT_EQ(capped.find("e11"), std::string::npos);

  t = {300, 300, 3, 2, 0, 1, false, {}, {"sha256", 1, 3, 1}};
  EXPECT_NE(formatSummary(t, false, 1.0).find("\nVerification: sha256, 3 files checked, 1 failed "
                                              "after up to 1 re-copy each\n"), std::string::npos);
  t.verification.reCopies = 0;
  EXPECT_NE(formatSummary(t, false, 1.0).find(", 1 failed, no re-copies\n"), std::string::npos);
  // A verify-only job copies nothing again.
  EXPECT_NE(formatSummary(t, true, 1.0).find("\nVerification: sha256, 3 files checked, 1 failed\n"),
            std::string::npos);
  t.verification.method.clear();
  EXPECT_EQ(formatSummary(t, false, 1.0).find("Verification"), std::string::npos);
}

TEST(VerifyList, RootsWithoutANameGetTheWorkersFolderName) {
  struct Case {
    const char* root;
    const char* name;
  };
  const bool windows = std::filesystem::path::preferred_separator == L'\\';
  const std::vector<Case> cases =
      windows ? std::vector<Case>{{"C:\\src\\photos", "photos"}, {"C:\\", "C"},
                                  {"\\\\server\\share\\", "share"}, {"\\", "root"}}
              : std::vector<Case>{{"/src/photos", "photos"}, {"/", "root"}};
  for (const Case& c : cases) EXPECT_EQ(destinationNameOf(c.root), c.name) << c.root;
}

}  // namespace
}  // namespace qv::tools
