#include "frame/failure_texts.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(TrimTrailingLineBreaks, RemovesOnlyBreaksAndBlanksAtTheEnd) {
  EXPECT_EQ(trimTrailingLineBreaks(u"x \r\n \n"), u"x");
  EXPECT_EQ(trimTrailingLineBreaks(u" \tkeep\t"), u" \tkeep\t");
  EXPECT_EQ(trimTrailingLineBreaks(u"\r\n"), u"");
}

TEST(SystemErrorText, UsesTheSystemTextOrTheNumber) {
  Platform& platform = systemPlatform();
  // A code with no system text: the label and the plain decimal code.
  const SysError unknown = 0x20001234;
  std::string text = systemErrorText(platform, unknown);
  if (platform.systemErrorMessage(unknown).empty()) {
    EXPECT_EQ(text, platform.errorNumberLabel() + "536875572");
  }
  // A known code: the system's sentence, without a line break at the end.
  std::string known = systemErrorText(platform, platform.pathNotFoundError());
  ASSERT_FALSE(known.empty());
  EXPECT_EQ(std::string(" \r\n").find(known.back()), std::string::npos) << known;
}

TEST(ErrorList, JoinsEscapedLinesWithAnEscapedLineFeed) {
  ErrorList errors;
  EXPECT_EQ(errors.escapedForEvent(), "");
  errors.recordFailure(u"C:\\a\\b.txt", u"D:\\x\\b.txt", "Copy failed: Disk full.");
  errors.recordWarning(u"s", u"d", "Unable to preserve directory timestamps: x");
  EXPECT_EQ(errors.escapedForEvent(),
            "C:\\\\a\\\\b.txt -> D:\\\\x\\\\b.txt: Copy failed: Disk full.\\n"
            "Warning: s -> d: Unable to preserve directory timestamps: x");
}

}  // namespace
}  // namespace qv
