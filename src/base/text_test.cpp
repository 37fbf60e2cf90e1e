#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

TEST(TextTest, DecodesWellFormedUtf8) {
  struct Row {
    std::string in;
    std::u16string out;
  };
  const Row rows[] = {
      {"", u""},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"plain ascii path longer than eight bytes", u"plain ascii path longer than eight bytes"},
      {"\xC2\x80\xDF\xBF", u"\u0080\u07FF"},
      {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", u"\u0800\uD7FF\uE000\uFFFF"},
      {"\xEF\xBB\xBFx", u"\uFEFFx"},  // a byte-order mark is kept as a character
      {"\xF0\x90\x80\x80", u"\U00010000"},
      {"12345678\xF0\x9F\x98\x80" "9", u"12345678\U0001F6009"},
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
  };
  for (const Row& row : rows) {
    std::u16string out = u"stale";
    EXPECT_TRUE(utf8ToUtf16Strict(row.in, out)) << row.in;
    EXPECT_EQ(out, row.out) << row.in;
  }
}

TEST(TextTest, RefusesMalformedUtf8) {
  const char* const rows[] = {
      "\x80",                  // lone continuation byte
      "abcdefgh\xBF",          // continuation byte after the ASCII fast path
      "abc\xC3",               // two-byte lead at the end
      "\xE2\x82",              // three-byte sequence cut short
      "\xF0\x9F\x98",          // four-byte sequence cut short
      "\xC3\x41",              // lead followed by ASCII
      "\xE2\x28\xA1",          // bad first continuation
      "\xF0\x9F\x28\x80",      // bad later continuation
      "\xC0\x80", "\xC1\xBF",  // overlong two-byte forms
      "\xE0\x9F\xBF",          // overlong three-byte form
      "\xF0\x8F\xBF\xBF",      // overlong four-byte form
      "\xED\xA0\x80", "\xED\xBF\xBF",  // encoded surrogates
      "\xF4\x90\x80\x80",      // above U+10FFFF
      "\xF5\x80\x80\x80", "\xFE", "\xFF",
  };
  for (const char* row : rows) {
    std::u16string out = u"stale";
    EXPECT_FALSE(utf8ToUtf16Strict(row, out)) << row;
    EXPECT_TRUE(out.empty());
  }
}

}  // namespace
}  // namespace qv
