// Exact examples of the name mapping; the fuzz target checks the round trips
// and the refusals on every input.
#include "platform/posix/posix_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace qv::posix {
namespace {

TEST(PosixText, NamesMapUpAndBackLosslessly) {
  struct Mapping {
    const char* what;
    std::string bytes;
    std::u16string text;
  };
  const Mapping cases[] = {
      {"utf-8", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"\u00E9\u20AC\U0001F600"},
      {"latin-1 byte", "caf\xE9", u"caf\xDCE9"},
      {"truncated sequence before ascii", "\xE2\x82!", u"\xDCE2\xDC82!"},
      {"encoded surrogate", "\xED\xB3\x80", u"\xDCED\xDCB3\xDC80"},
  };
  for (const Mapping& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(fromNativeName(c.bytes), c.text);
    std::string down;
    ASSERT_EQ(toNativePath(c.text, down), 0u);
    EXPECT_EQ(down, c.bytes);
  }
}

TEST(PosixText, TextNoNameCanHoldIsRefused) {
  const std::u16string refused[] = {
      u"\xD800z",                  // high surrogate before a character
      std::u16string(u"a\xDC7F"),  // low surrogate below the escape range
      std::u16string(u"a\0b", 3),  // would end the name early
  };
  for (const std::u16string& text : refused) {
    std::string down = "stale";
    EXPECT_EQ(toNativePath(text, down), static_cast<SysError>(EILSEQ));
    EXPECT_TRUE(down.empty());
  }
}

}  // namespace
}  // namespace qv::posix
