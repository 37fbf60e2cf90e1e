#include "platform/posix/posix_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace qv::posix {
namespace {

struct Mapping {
  const char* what;
  std::string bytes;
  std::u16string text;
};

// Bytes from disk and the UTF-16 they map to; each goes back down unchanged.
TEST(PosixText, NamesMapUpAndBackLosslessly) {
  const Mapping cases[] = {
      {"ascii", "plain.txt", u"plain.txt"},
      {"two-byte", "\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
      {"three-byte", "\xE2\x82\xAC", u"\u20AC"},
      {"four-byte", "\xF0\x9F\x98\x80", u"\U0001F600"},
      {"latin-1 byte", "caf\xE9", u"caf\xDCE9"},
      {"stray continuation", "a\x80z", u"a\xDC80z"},
      {"truncated sequence at the end", "x\xE2\x82", u"x\xDCE2\xDC82"},
      {"truncated sequence before ascii", "\xE2\x82!", u"\xDCE2\xDC82!"},
      {"overlong slash", "\xC0\xAF", u"\xDCC0\xDCAF"},
      {"overlong three-byte", "\xE0\x80\xAF", u"\xDCE0\xDC80\xDCAF"},
      {"encoded surrogate", "\xED\xB3\x80", u"\xDCED\xDCB3\xDC80"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},
      {"0xFF", "\xFF", u"\xDCFF"},
  };
  for (const Mapping& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(fromNativeName(c.bytes), c.text);
    std::string down;
    ASSERT_EQ(toNativePath(c.text, down), 0u);
    EXPECT_EQ(down, c.bytes);
  }
}

TEST(PosixText, EveryByteStringSurvivesTheRoundTrip) {
  // All two-byte strings: every lead byte against every follower.
  for (int a = 1; a < 256; ++a) {
    for (int b = 1; b < 256; ++b) {
      const std::string bytes{static_cast<char>(a), static_cast<char>(b)};
      std::string down;
      ASSERT_EQ(toNativePath(fromNativeName(bytes), down), 0u) << a << " " << b;
      ASSERT_EQ(down, bytes) << a << " " << b;
    }
  }
}

TEST(PosixText, TextNoNameCanHoldIsRefused) {
  const std::u16string refused[] = {
      u"a\xD800",          // high surrogate at the end
      u"\xD800z",          // high surrogate before a character
      std::u16string(u"a\xDC7F"),  // low surrogate below the escape range
      u"a\xDD00",          // low surrogate above it
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
