#include "frame/event_text.h"

#include <gtest/gtest.h>

// The exact bytes chosen; that any input comes out as one JSON string, and
// that toUtf8 round-trips any UTF-16, is the JSON-escape fuzz target's.
namespace qv {
namespace {

TEST(JsonEscape, EscapesEveryControlByteAndNothingAbove) {
  struct Case {
    std::string in;
    std::string out;
  } cases[] = {
      {"\"", "\\\""},          {"\\", "\\\\"},         {"\b", "\\b"},
      {"\f", "\\f"},           {"\n", "\\n"},          {"\r", "\\r"},
      {"\t", "\\t"},           {"\x0B", "\\u000b"},    {"\x1F", "\\u001f"},
      {std::string(1, '\0'), "\\u0000"},            {"/", "/"},
      {"\x7F", "\x7F"},
      {"\xFF\x80", "\xFF\x80"},  // invalid UTF-8 passes through unchecked
  };
  for (const Case& c : cases) EXPECT_EQ(jsonEscape(c.in), c.out) << c.in;
}

TEST(ToUtf8, ConvertsValidTextAndEmptiesInvalid) {
  EXPECT_EQ(toUtf8(u"\u00e9\U0001F600"), "\xC3\xA9\xF0\x9F\x98\x80");
  const char16_t loneHigh[] = {u'a', 0xD800, u'b', 0};
  EXPECT_EQ(toUtf8(loneHigh), "");
}

}  // namespace
}  // namespace qv
