// Lexical path algebra, written once over a path style.
//
// A path splits into three consecutive parts: a root name (Windows only:
// `C:`, `\\server`, the `\\?`, `\\.` and `\??` prefixes), a root directory
// (the separator run right after the root name, counted as one) and the
// relative part (names separated by separator runs, possibly ending with a
// separator). Nothing here touches the file system and nothing can fail.
//
// Windows style: `\` and `/` separate, `\` is written wherever a separator is
// inserted, a name's stream suffix (from its first `:`) is ignored by `stem`
// and `extension`, and destination keys fold ASCII letters.
// POSIX style: there are no root names, only `/` separates (a backslash and a
// colon are ordinary characters of a name), `/` is inserted, and destination
// keys keep case, because Linux file systems are case-sensitive.
//
// Root names and names always compare exactly, code unit by code unit.

#ifndef QV_PATHS_PATH_ALGEBRA_H_
#define QV_PATHS_PATH_ALGEBRA_H_

#include <cstddef>
#include <string>
#include <string_view>

#include "base/path_style.h"

namespace qv {

std::u16string rootName(PathStyle style, std::u16string_view path);
bool hasRootDirectory(PathStyle style, std::u16string_view path);
// Everything after the root name and the whole separator run that follows it.
std::u16string relativePart(PathStyle style, std::u16string_view path);

// The units after the last separator of the relative part; empty when the
// path ends with a separator or has no relative part.
std::u16string fileName(PathStyle style, std::u16string_view path);
// The path without its last name and the separators before that name, never
// shorter than root name plus root directory. A path without a relative part
// is its own parent; `a\b\` gives `a\b`.
std::u16string parentPath(PathStyle style, std::u16string_view path);
// `fileName` split at its last `.` that is not its first unit: `a.b.c` gives
// `a.b` + `.c`, `name.` gives `name` + `.`, `.profile`, `.` and `..` have no
// extension. In the Windows style the name is first cut at its first `:`.
std::u16string stem(PathStyle style, std::u16string_view path);
std::u16string extension(PathStyle style, std::u16string_view path);

// Windows: a drive path is absolute only with a separator after `C:`; any
// other path is absolute exactly when it has a root name (`\x` is not).
// POSIX: the path begins with `/`.
bool isAbsolute(PathStyle style, std::u16string_view path);

// `tail` interpreted relative to `base`. An absolute tail, or one whose root
// name differs from base's, replaces base; a tail with a root directory keeps
// only base's root name. Otherwise one separator goes between them unless
// base is empty, a bare drive (`C:` + `x` gives `C:x`) or already ends with
// one. An empty tail thus gives base with a trailing separator.
std::u16string joinPath(PathStyle style, std::u16string_view base,
                        std::u16string_view tail);

// Separator runs become one preferred separator (also inside the root name),
// `.` names go, a `..` cancels the name before it, and a `..` that cannot
// cancel anything stays on a relative path but vanishes under a root
// directory. A trailing separator is kept except after a final `..`.
// The empty path stays empty; anything else that normalises to nothing is `.`.
std::u16string lexicallyNormal(PathStyle style, std::u16string_view path);

// The path that leads from `base` to `path` without consulting the file
// system: `.` for equal paths, empty when there is no such path (different
// root names or absoluteness, a base with a root directory under a path
// without one, a drive designator inside either relative part, or a base
// that climbs out through `..`).
std::u16string lexicallyRelative(PathStyle style, std::u16string_view path,
                                 std::u16string_view base);

// `lexicallyRelative(entry, root)`, except that in the Windows style a
// `\\?\` prefix in front of a drive designator is looked through when both
// paths carry it. One prefixed and one plain path give an empty result.
std::u16string relativeUnder(PathStyle style, std::u16string_view entry,
                             std::u16string_view root);

// The key under which a destination is reserved: the normal form, with ASCII
// `A`-`Z` lowered in the Windows style (no other unit changes). Two spellings
// of one destination get the same key.
std::u16string destinationKey(PathStyle style, std::u16string_view path);

// One element of a path, as walked by PathElementCursor.
enum class PathElementKind {
  RootName,
  RootDirectory,      // text is the first separator of the run
  Name,               // never empty
  TrailingSeparator,  // the empty element after a final separator
};

struct PathElement {
  PathElementKind kind;
  std::u16string_view text;  // points into the walked path
};

// Walks a path's elements in order without allocating: the root name (if
// any), the root directory (if any), each name of the relative part, and one
// empty element when the relative part ends with a separator. The path must
// outlive the cursor.
class PathElementCursor {
 public:
  PathElementCursor(PathStyle style, std::u16string_view path);

  bool atEnd() const { return at_end_; }
  // Valid only while !atEnd().
  const PathElement& element() const { return current_; }
  void advance();

 private:
  void takeName();

  PathStyle style_;
  std::u16string_view path_;
  std::size_t next_ = 0;  // where the element after current_ starts
  bool trailing_pending_ = false;
  bool at_end_ = false;
  PathElement current_{PathElementKind::Name, {}};
};

}  // namespace qv

#endif  // QV_PATHS_PATH_ALGEBRA_H_
