#include "frame/event_text.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(JsonEscape, EscapesEveryControlByteAndNothingAbove) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"\"", "\\\""},          {"\\", "\\\\"},         {"\b", "\\b"},
      {"\f", "\\f"},           {"\n", "\\n"},          {"\r", "\\r"},
      {"\t", "\\t"},           {"\x01", "\\u0001"},    {"\x0B", "\\u000b"},
      {"\x1F", "\\u001f"},     {std::string(1, '\0'), "\\u0000"},
      {"/", "/"},              {"\x7F", "\x7F"},       {"\xC3\xA9", "\xC3\xA9"},
      {"\xFF\x80", "\xFF\x80"},  // invalid UTF-8 passes through unchecked
      {"C:\\a\t\"b\"", "C:\\\\a\\t\\\"b\\\""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(jsonEscape(c.in), c.out) << c.in;
}

TEST(ToUtf8, ConvertsValidTextAndEmptiesInvalid) {
  EXPECT_EQ(toUtf8(u""), "");
  EXPECT_EQ(toUtf8(u"abc"), "abc");
  EXPECT_EQ(toUtf8(u"\u00e9"), "\xC3\xA9");
  EXPECT_EQ(toUtf8(u"\u20ac"), "\xE2\x82\xAC");
  EXPECT_EQ(toUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(toUtf8(u"\u007f\u0080\u07ff\u0800\uffff"),
            "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF");
  const char16_t loneHigh[] = {u'a', 0xD800, u'b', 0};
  const char16_t loneLow[] = {u'a', 0xDC80, 0};
  const char16_t highAtEnd[] = {u'a', 0xDBFF, 0};
  EXPECT_EQ(toUtf8(loneHigh), "");
  EXPECT_EQ(toUtf8(loneLow), "");
  EXPECT_EQ(toUtf8(highAtEnd), "");
}

}  // namespace
}  // namespace qv
