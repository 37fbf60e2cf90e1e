#include "paths/path_algebra.h"

#include <string>
#include <string_view>

#include <gtest/gtest.h>

// Fixed examples of each operation. Properties over any input (normalising
// is idempotent, keys follow the normal form, stem + extension rebuild the
// file name, join and relativeUnder undo each other) are the path algebra
// fuzz target's. The element cursor is checked through its users: the
// relative forms here, weak resolution and the scan's root folder names.
namespace qv {
namespace {

constexpr PathStyle W = PathStyle::Windows;
constexpr PathStyle P = PathStyle::Posix;

std::string trace(PathStyle style, const char16_t* a, const char16_t* b = u"") {
  return (style == W ? "windows " : "posix ") + testing::PrintToString(a) + " " +
         testing::PrintToString(b);
}

struct Row {  // a path, a second path or answer, and an answer
  PathStyle style;
  const char16_t* path;
  const char16_t* other;
  const char16_t* want = nullptr;  // unused by one-answer tables
};

TEST(PathAlgebraTest, SplitsAPathIntoItsParts) {
  struct Case {
    PathStyle style;
    const char16_t* path;
    const char16_t* root;
    bool rootDirectory;
    const char16_t* relative;
    bool absolute;
    const char16_t* fileName;
    const char16_t* parent;
  };
  const Case cases[] = {
      {W, uR"(C:\a\b)", u"C:", true, uR"(a\b)", true, u"b", uR"(C:\a)"},
      {W, uR"(C:\)", u"C:", true, u"", true, u"", uR"(C:\)"},
      {W, u"c:x", u"c:", false, u"x", false, u"x", u"c:"},
      {W, uR"(1:\x)", u"", false, uR"(1:\x)", false, u"x", u"1:"},
      {W, uR"(\\?\C:\data)", uR"(\\?)", true, uR"(C:\data)", true, u"data", uR"(\\?\C:)"},
      {W, uR"(\??\x)", uR"(\??)", true, u"x", true, u"x", uR"(\??\)"},
      // Too short for the prefix form, and `?` is no separator.
      {W, uR"(\??)", u"", true, u"??", false, u"??", uR"(\)"},
      // Too short for the prefix form, so it reads as a server name.
      {W, uR"(\\?)", uR"(\\?)", false, u"", true, u"", uR"(\\?)"},
      {W, uR"(\\server\share)", uR"(\\server)", true, u"share", true, u"share", uR"(\\server\)"},
      {W, uR"(\\\x)", u"", true, u"x", false, u"x", uR"(\\\)"},
      {W, u"a/b//", u"", false, u"a/b//", false, u"", u"a/b"},
      {W, u"", u"", false, u"", false, u"", u""},
      {P, u"//x", u"", true, u"x", true, u"x", u"//"},
      {P, u"C:/x", u"", false, u"C:/x", false, u"x", u"C:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path));
    EXPECT_EQ(rootName(c.style, c.path), c.root);
    EXPECT_EQ(hasRootDirectory(c.style, c.path), c.rootDirectory);
    EXPECT_EQ(relativePart(c.style, c.path), c.relative);
    EXPECT_EQ(isAbsolute(c.style, c.path), c.absolute);
    EXPECT_EQ(fileName(c.style, c.path), c.fileName);
    EXPECT_EQ(parentPath(c.style, c.path), c.parent);
  }
}

TEST(PathAlgebraTest, StemAndExtension) {
  const Row cases[] = {
      {W, uR"(C:\d.d\a.b.c)", u"a.b", u".c"},
      {W, u".profile", u".profile", u""},
      {W, u"name.", u"name", u"."},
      {W, u"..", u"..", u""},
      {W, u"..x", u".", u".x"},
      {W, u"a.txt:stream:$DATA", u"a", u".txt"},
      {W, u"a:b.txt", u"b", u".txt"},  // `a:` is a drive here
      {W, uR"(dir.d\)", u"", u""},
      {P, u"a.txt:s", u"a", u".txt:s"},
  };
  for (const Row& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path));
    EXPECT_EQ(stem(c.style, c.path), c.other);
    EXPECT_EQ(extension(c.style, c.path), c.want);
  }
}

TEST(PathAlgebraTest, JoinPath) {
  const Row cases[] = {
      {W, uR"(D:\out)", uR"(a\b.txt)", uR"(D:\out\a\b.txt)"},
      {W, uR"(D:\out\)", u"a", uR"(D:\out\a)"},
      {W, uR"(D:\out)", u"", uR"(D:\out\)"},
      {W, uR"(D:\out)", uR"(\x)", uR"(D:\x)"},
      {W, uR"(D:\out)", u"E:x", u"E:x"},
      {W, uR"(D:\out)", u"D:x", uR"(D:\out\x)"},
      {W, uR"(D:\out)", u"d:x", u"d:x"},
      {W, uR"(D:\out)", uR"(\\srv\s)", uR"(\\srv\s)"},
      {W, u"C:", u"x", u"C:x"},
      {W, uR"(\\server)", u"share", uR"(\\server\share)"},
      {P, uR"(out\)", u"x", uR"(out\/x)"},
  };
  for (const Row& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path, c.other));
    EXPECT_EQ(joinPath(c.style, c.path, c.other), c.want);
  }
}

TEST(PathAlgebraTest, LexicallyNormal) {
  const Row cases[] = {
      {W, u"C:/x//y/./z/../w", uR"(C:\x\y\w)"},
      {W, uR"(a\..\)", u"."},
      {W, uR"(..\a\..\..\b)", uR"(..\..\b)"},
      {W, uR"(a\..\..\)", u".."},
      {W, u"./a/./b/.", uR"(a\b\)"},
      {W, uR"(a\...\..)", uR"(a\)"},
      {W, uR"(C:\..)", uR"(C:\)"},
      {W, uR"(C:..\x\..)", u"C:.."},
      {W, uR"(C:a\..)", u"C:"},
      {W, u"\\\\server/share/../x", uR"(\\server\x)"},
      // A name that would read as a drive once in front keeps a `.` before it.
      {W, uR"(.\C:..\)", uR"(.\C:..\)"},
      {P, u"/..", u"/"},
      {P, u"//x", u"/x"},
      {P, uR"(a\..)", uR"(a\..)"},
  };
  for (const Row& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path));
    EXPECT_EQ(lexicallyNormal(c.style, c.path), c.other);
  }
}

TEST(PathAlgebraTest, LexicallyRelativeAndRelativeUnder) {
  const Row relative[] = {
      {W, uR"(C:\a\b)", uR"(C:\a\b)", u"."},
      {W, uR"(C:\a)", uR"(D:\a)", u""},
      {W, uR"(C:\a\x)", uR"(C:\a\b\c)", uR"(..\..\x)"},
      {W, uR"(C:\a\b\c\)", uR"(C:\a)", uR"(b\c\)"},
      {W, uR"(C:\Src\a)", uR"(C:\src)", uR"(..\Src\a)"},
      {W, u"C:a", uR"(C:\a)", u""},
      {W, uR"(\\?\C:\a\b)", uR"(\\?\C:\a)", u""},
      {W, uR"(a\b)", uR"(a\.\c\..)", u"b"},
      // A bare server name is absolute without a root directory.
      {W, uR"(\\server\share\x)", uR"(\\server)", uR"(share\x)"},
      {P, u"/a/C:x", u"/a", u"C:x"},
      {P, uR"(a\b)", u"a", uR"(../a\b)"},
  };
  for (const Row& c : relative) {
    SCOPED_TRACE(trace(c.style, c.path, c.other));
    EXPECT_EQ(lexicallyRelative(c.style, c.path, c.other), c.want);
  }
  const Row under[] = {
      {W, uR"(\\?\C:\src\a\b.txt)", uR"(\\?\C:\src)", uR"(a\b.txt)"},
      {W, uR"(\\?\C:\a\b)", uR"(C:\a)", u""},
      // Only the backslash spelling of the prefix is looked through.
      {W, u"//?/C:/src/a", u"//?/C:/src", u""},
      {W, uR"(\\?\UNC\srv\s\a)", uR"(\\?\UNC\srv\s)", u"a"},
      // On POSIX the prefix is an ordinary name.
      {P, uR"(\\?\C:\src\a)", uR"(\\?\C:\src)", uR"(../\\?\C:\src\a)"},
  };
  for (const Row& c : under) {
    SCOPED_TRACE(trace(c.style, c.path, c.other));
    EXPECT_EQ(relativeUnder(c.style, c.path, c.other), c.want);
  }
}

TEST(PathAlgebraTest, DestinationKeyFoldsOnlyAsciiAndOnlyOnWindows) {
  EXPECT_EQ(destinationKey(W, uR"(D:\Out\)" u"\u00C4.TXT"), uR"(d:\out\)" u"\u00C4.txt");
  EXPECT_EQ(destinationKey(P, u"/Out//./x/../A:B.TXT"), u"/Out/A:B.TXT");
}

}  // namespace
}  // namespace qv
