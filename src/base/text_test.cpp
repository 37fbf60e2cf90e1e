// A few exact decodings; the fuzz target checks every input against an
// independent decoder.
#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

TEST(TextTest, DecodesWellFormedUtf8AndRefusesTheRest) {
  struct Row {
    std::string in;
    std::u16string out;
  };
  const Row accepted[] = {
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"\xC2\x80\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80", u"\u0080\u0800\uD7FF\uE000"},
      {"\xEF\xBB\xBFx", u"\uFEFFx"},  // a byte-order mark is kept as a character
      {"12345678\xF0\x9F\x98\x80" "9", u"12345678\U0001F6009"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
  };
  for (const Row& row : accepted) {
    std::u16string out = u"stale";
    EXPECT_TRUE(utf8ToUtf16Strict(row.in, out)) << row.in;
    EXPECT_EQ(out, row.out) << row.in;
  }
  const char* const refused[] = {
      "abcdefgh\xBF",      // continuation byte after the ASCII fast path
      "abc\xC3",           // lead byte at the end
      "\xF0\x9F\x28\x80",  // bad later continuation
      "\xC1\xBF", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF",  // overlong forms
      "\xED\xA0\x80",      // encoded surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
  };
  for (const char* row : refused) {
    std::u16string out = u"stale";
    EXPECT_FALSE(utf8ToUtf16Strict(row, out)) << row;
    EXPECT_TRUE(out.empty());
  }
}

}  // namespace
}  // namespace qv
