#include "paths/path_algebra.h"

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

namespace qv {
namespace {

constexpr PathStyle W = PathStyle::Windows;
constexpr PathStyle P = PathStyle::Posix;

// Readable trace text for a UTF-16 path: ASCII as is, anything else \uXXXX.
std::string show(std::u16string_view s) {
  std::string out;
  for (char16_t c : s) {
    if (c >= 0x20 && c < 0x7f) {
      out.push_back(static_cast<char>(c));
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}

std::string trace(PathStyle style, std::u16string_view a,
                  std::u16string_view b = {}) {
  return std::string(style == W ? "windows " : "posix ") + "[" + show(a) +
         "] [" + show(b) + "]";
}

// Row shapes shared by the tables below.
struct PathRow {
  PathStyle style;
  const char16_t* path;
  const char16_t* want;
};
struct PathPairRow {  // a path, a second path or part, the answer
  PathStyle style;
  const char16_t* path;
  const char16_t* other;
  const char16_t* want;
};
struct TwoPartsRow {  // a path and the two parts it splits into
  PathStyle style;
  const char16_t* path;
  const char16_t* first;
  const char16_t* second;
};

TEST(PathAlgebraTest, SplitsRootNameRootDirectoryAndRelativePart) {
  struct Case {
    PathStyle style;
    const char16_t* path;
    const char16_t* root;
    bool rootDirectory;
    const char16_t* relative;
    bool absolute;
  };
  const Case cases[] = {
      {W, uR"(C:\x)", u"C:", true, u"x", true},
      {W, u"c:x", u"c:", false, u"x", false},
      {W, u"C:", u"C:", false, u"", false},
      {W, uR"(C:\\\x)", u"C:", true, u"x", true},
      {W, uR"(1:\x)", u"", false, uR"(1:\x)", false},
      {W, uR"(\\?\C:\data)", uR"(\\?)", true, uR"(C:\data)", true},
      {W, u"//?/C:/data", u"//?", true, u"C:/data", true},
      {W, uR"(\\.\x)", uR"(\\.)", true, u"x", true},
      {W, uR"(\??\x)", uR"(\??)", true, u"x", true},
      // Too short for the prefix form, and `?` is no separator.
      {W, uR"(\??)", u"", true, u"??", false},
      // Too short for the prefix form, so it reads as a server name.
      {W, uR"(\\?)", uR"(\\?)", false, u"", true},
      {W, uR"(\\server\share\x)", uR"(\\server)", true, uR"(share\x)", true},
      {W, uR"(\\server)", uR"(\\server)", false, u"", true},
      {W, uR"(\\\x)", u"", true, u"x", false},
      {W, uR"(\\)", u"", true, u"", false},
      {W, uR"(\x)", u"", true, u"x", false},
      {W, uR"(x\y)", u"", false, uR"(x\y)", false},
      {W, u"", u"", false, u"", false},
      {P, u"/x", u"", true, u"x", true},
      {P, u"//x", u"", true, u"x", true},
      {P, u"C:/x", u"", false, u"C:/x", false},
      {P, uR"(\\server\share)", u"", false, uR"(\\server\share)", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path));
    EXPECT_EQ(rootName(c.style, c.path), c.root);
    EXPECT_EQ(hasRootDirectory(c.style, c.path), c.rootDirectory);
    EXPECT_EQ(relativePart(c.style, c.path), c.relative);
    EXPECT_EQ(isAbsolute(c.style, c.path), c.absolute);
  }
}

TEST(PathAlgebraTest, FileNameAndParentPath) {
  const TwoPartsRow cases[] = {
      {W, uR"(C:\a\b)", u"b", uR"(C:\a)"},
      {W, uR"(C:\a)", u"a", uR"(C:\)"},
      {W, uR"(C:\\a)", u"a", uR"(C:\\)"},
      {W, uR"(C:\)", u"", uR"(C:\)"},
      {W, u"C:x", u"x", u"C:"},
      {W, uR"(a\b\)", u"", uR"(a\b)"},
      {W, u"a/b//", u"", u"a/b"},
      {W, u"a", u"a", u""},
      {W, uR"(\\server\share)", u"share", uR"(\\server\)"},
      {W, uR"(\\server)", u"", uR"(\\server)"},
      {W, uR"(\\?\C:\data)", u"data", uR"(\\?\C:)"},
      {P, u"/a/b", u"b", u"/a"},
      {P, u"/a", u"a", u"/"},
      {P, u"/", u"", u"/"},
      {P, uR"(a\b)", uR"(a\b)", u""},
      {P, u"dir/a:b", u"a:b", u"dir"},
  };
  for (const TwoPartsRow& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path));
    EXPECT_EQ(fileName(c.style, c.path), c.first);
    EXPECT_EQ(parentPath(c.style, c.path), c.second);
  }
}

TEST(PathAlgebraTest, StemAndExtension) {
  const TwoPartsRow cases[] = {
      {W, u"x.tar.gz", u"x.tar", u".gz"},
      {W, uR"(C:\d.d\a.b.c)", u"a.b", u".c"},
      {W, u".profile", u".profile", u""},
      {W, u"name.", u"name", u"."},
      {W, u".", u".", u""},
      {W, u"..", u"..", u""},
      {W, u"..x", u".", u".x"},
      {W, u"noext", u"noext", u""},
      {W, u"a.txt:stream:$DATA", u"a", u".txt"},
      {W, uR"(x\ab:c.txt)", u"ab", u""},
      {W, u"a:b.txt", u"b", u".txt"},  // `a:` is a drive here
      {W, uR"(dir.d\)", u"", u""},
      {P, u"a:b.txt", u"a:b", u".txt"},
      {P, u"a.txt:s", u"a", u".txt:s"},
      {P, uR"(a\b.c)", uR"(a\b)", u".c"},
      {P, u"d.x/f", u"f", u""},
  };
  for (const TwoPartsRow& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path));
    EXPECT_EQ(stem(c.style, c.path), c.first);
    EXPECT_EQ(extension(c.style, c.path), c.second);
  }
}

TEST(PathAlgebraTest, JoinPath) {
  const PathPairRow cases[] = {
      {W, uR"(D:\out)", uR"(a\b.txt)", uR"(D:\out\a\b.txt)"},
      {W, uR"(D:\out\)", u"a", uR"(D:\out\a)"},
      {W, uR"(D:\out)", u"", uR"(D:\out\)"},
      {W, uR"(D:\out)", uR"(\x)", uR"(D:\x)"},
      {W, uR"(D:\out)", u"E:x", u"E:x"},
      {W, uR"(D:\out)", u"D:x", uR"(D:\out\x)"},
      {W, uR"(D:\out)", u"d:x", u"d:x"},
      {W, uR"(D:\out)", uR"(\\srv\s)", uR"(\\srv\s)"},
      {W, u"C:", u"x", u"C:x"},
      {W, uR"(C:\)", u"x", uR"(C:\x)"},
      {W, uR"(\\server)", u"share", uR"(\\server\share)"},
      {W, uR"(\\?)", u"x", uR"(\\?\x)"},
      {W, u"", u"x", u"x"},
      {P, u"/out", u"a/b", u"/out/a/b"},
      {P, u"/out", u"", u"/out/"},
      {P, u"/out", u"/x", u"/x"},
      {P, uR"(out\)", u"x", uR"(out\/x)"},
      {P, u"C:", u"x", u"C:/x"},
      {P, u"", u"x", u"x"},
  };
  for (const PathPairRow& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path, c.other));
    EXPECT_EQ(joinPath(c.style, c.path, c.other), c.want);
  }
}

TEST(PathAlgebraTest, LexicallyNormal) {
  const PathRow cases[] = {
      {W, u"", u""},
      {W, u".", u"."},
      {W, u"C:/x//y/./z/../w", uR"(C:\x\y\w)"},
      {W, uR"(a\..)", u"."},
      {W, uR"(a\..\)", u"."},
      {W, uR"(\..\x)", uR"(\x)"},
      {W, uR"(..\a\..\..\b)", uR"(..\..\b)"},
      {W, uR"(..\)", u".."},
      {W, uR"(a\..\..\)", u".."},
      {W, uR"(a\.\)", uR"(a\)"},
      {W, uR"(a\.)", uR"(a\)"},
      {W, uR"(a\b\)", uR"(a\b\)"},
      {W, u"./a/./b/.", uR"(a\b\)"},
      {W, uR"(a\...\..)", uR"(a\)"},
      {W, uR"(C:\..)", uR"(C:\)"},
      {W, uR"(C:..\x\..)", u"C:.."},
      {W, uR"(C:a\..)", u"C:"},
      {W, u"\\\\server/share/../x", uR"(\\server\x)"},
      {W, u"//?/C:/data/", uR"(\\?\C:\data\)"},
      {W, uR"(\\\x)", uR"(\x)"},
      {W, uR"(\\)", uR"(\)"},
      // A name that would read as a drive once in front keeps a `.` before it.
      {W, uR"(.\C:..\)", uR"(.\C:..\)"},
      {W, uR"(a\..\C:x)", uR"(.\C:x)"},
      {P, u"/..", u"/"},
      {P, u"//x", u"/x"},
      {P, u"a/../..", u".."},
      {P, uR"(a\..)", uR"(a\..)"},
      {P, u"C:/x/../y", u"C:/y"},
      {P, u"./", u"."},
      {P, u"/a/./b/", u"/a/b/"},
  };
  for (const PathRow& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path));
    const std::u16string once = lexicallyNormal(c.style, c.path);
    EXPECT_EQ(once, c.want);
    EXPECT_EQ(lexicallyNormal(c.style, once), once) << "not idempotent";
  }
}

TEST(PathAlgebraTest, LexicallyRelative) {
  const PathPairRow cases[] = {
      {W, uR"(C:\a\b)", uR"(C:\a\b)", u"."},
      {W, uR"(C:\a)", uR"(C:\a\b)", u".."},
      {W, uR"(C:\a)", uR"(D:\a)", u""},
      {W, uR"(C:\a\b\c)", uR"(C:\a)", uR"(b\c)"},
      {W, uR"(C:\a\x)", uR"(C:\a\b\c)", uR"(..\..\x)"},
      {W, uR"(C:\a\b\)", uR"(C:\a\b)", u"."},
      {W, uR"(C:\a\b)", uR"(C:\a\b\)", u"."},
      {W, uR"(C:\a\b\c\)", uR"(C:\a)", uR"(b\c\)"},
      {W, u"C:/a/b", uR"(C:\a)", u"b"},
      {W, uR"(C:\Src\a)", uR"(C:\src)", uR"(..\Src\a)"},
      {W, uR"(c:\a)", uR"(C:\a)", u""},
      {W, u"C:a", uR"(C:\a)", u""},
      {W, u"a", uR"(\a)", u""},
      {W, uR"(\\?\C:\a\b)", uR"(\\?\C:\a)", u""},
      {W, uR"(x\C:)", u"x", u""},
      {W, uR"(a\b)", uR"(a\.\c\..)", u"b"},
      {W, u"a", uR"(a\..\..)", u""},
      {W, uR"(a\b)", u"c", uR"(..\a\b)"},
      {W, uR"(\\server\share\x)", uR"(\\server\share)", u"x"},
      // A bare server name is absolute without a root directory.
      {W, uR"(\\server\share\x)", uR"(\\server)", uR"(share\x)"},
      {W, uR"(\\server\)", uR"(\\server)", u"."},
      {W, uR"(\\.\pipe\p)", uR"(\\.)", uR"(pipe\p)"},
      {P, u"/a/b", u"/a", u"b"},
      {P, u"/a", u"/a/b", u".."},
      {P, u"a", u"/a", u""},
      {P, u"/a/C:x", u"/a", u"C:x"},
      {P, uR"(a\b)", u"a", uR"(../a\b)"},
  };
  for (const PathPairRow& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path, c.other));
    EXPECT_EQ(lexicallyRelative(c.style, c.path, c.other), c.want);
  }
}

TEST(PathAlgebraTest, RelativeUnder) {
  const PathPairRow cases[] = {
      {W, uR"(\\?\C:\src\a\b.txt)", uR"(\\?\C:\src)", uR"(a\b.txt)"},
      {W, uR"(\\?\C:\src)", uR"(\\?\C:\src)", u"."},
      {W, uR"(C:\src\a\b.txt)", uR"(C:\src)", uR"(a\b.txt)"},
      {W, uR"(\\?\C:\a\b)", uR"(C:\a)", u""},
      {W, uR"(C:\a\b)", uR"(\\?\C:\a)", u""},
      // Only the backslash spelling of the prefix is looked through.
      {W, u"//?/C:/src/a", u"//?/C:/src", u""},
      {W, uR"(\\?\UNC\srv\s\a)", uR"(\\?\UNC\srv\s)", u"a"},
      {P, u"/src/a/b", u"/src", u"a/b"},
      // On POSIX the prefix is an ordinary name.
      {P, uR"(\\?\C:\src\a)", uR"(\\?\C:\src)", uR"(../\\?\C:\src\a)"},
  };
  for (const PathPairRow& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path, c.other));
    EXPECT_EQ(relativeUnder(c.style, c.path, c.other), c.want);
  }
}

TEST(PathAlgebraTest, DestinationKey) {
  const PathRow cases[] = {
      {W, uR"(D:\Out\)" u"\u00C4.TXT", uR"(d:\out\)" u"\u00C4.txt"},
      {W, u"C:/A/./B/../C", uR"(c:\a\c)"},
      {W, uR"(\\SRV\Share\)" u"\u00C9\u03A9\uFF21.Z",
       uR"(\\srv\share\)" u"\u00C9\u03A9\uFF21.z"},
      {W, uR"(D:\Out\)", uR"(d:\out\)"},
      {P, u"/Out/A.txt", u"/Out/A.txt"},
      {P, u"/Out//./x/../A:B.TXT", u"/Out/A:B.TXT"},
  };
  for (const PathRow& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path));
    EXPECT_EQ(destinationKey(c.style, c.path), c.want);
  }
}

TEST(PathAlgebraTest, ElementCursorWalksEveryElement) {
  struct Case {
    PathStyle style;
    const char16_t* path;
    std::vector<std::u16string> want;  // kinds are checked by position below
  };
  const Case cases[] = {
      {W, uR"(C:\a\\b\)", {u"C:", uR"(\)", u"a", u"b", u""}},
      {W, uR"(\\server/share)", {uR"(\\server)", u"/", u"share"}},
      {W, u"C:x", {u"C:", u"x"}},
      {W, u"a", {u"a"}},
      {W, u"", {}},
      {P, u"//x/", {u"/", u"x", u""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(trace(c.style, c.path));
    std::vector<std::u16string> got;
    std::vector<PathElementKind> kinds;
    for (PathElementCursor e(c.style, c.path); !e.atEnd(); e.advance()) {
      got.emplace_back(e.element().text);
      kinds.push_back(e.element().kind);
    }
    EXPECT_EQ(got, c.want);
    if (!kinds.empty() && got.back().empty()) {
      EXPECT_EQ(kinds.back(), PathElementKind::TrailingSeparator);
    }
  }
}

}  // namespace
}  // namespace qv
