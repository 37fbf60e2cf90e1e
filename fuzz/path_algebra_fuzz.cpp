// Property checks of the path algebra in both styles, and of the packed form
// the planner stores destination keys in.
//
// Input: the first byte picks the style, the rest splits at NUL bytes into
// up to two paths. Bytes below 0x80 are those code units; bytes from 0x80
// stand for a few units that stress the algebra (non-ASCII letters with and
// without ASCII case partners, lone surrogates, a full-width solidus).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "paths/destination_planning.h"
#include "paths/path_algebra.h"

namespace {

using qv::PathStyle;

char16_t unitOf(uint8_t byte) {
  static const char16_t kWide[] = {0x00E9, 0x0130, 0x212A, 0xD800,
                                   0xDC00, 0xFF0F, 0x00C9, 0x4E2D};
  return byte < 0x80 ? static_cast<char16_t>(byte) : kWide[byte & 7];
}

void printUnits(const char* label, std::u16string_view text) {
  std::fprintf(stderr, "  %s = \"", label);
  for (char16_t c : text) {
    if (c >= 0x20 && c < 0x7F) {
      std::fputc(static_cast<int>(c), stderr);
    } else {
      std::fprintf(stderr, "\\u%04x", static_cast<unsigned>(c));
    }
  }
  std::fprintf(stderr, "\"\n");
}

[[noreturn]] void fail(const char* property, PathStyle style,
                       std::u16string_view a, std::u16string_view b,
                       std::u16string_view got, std::u16string_view want) {
  std::fprintf(stderr, "property failed (%s style): %s\n",
               style == PathStyle::Windows ? "Windows" : "POSIX", property);
  printUnits("a", a);
  printUnits("b", b);
  printUnits("got", got);
  printUnits("want", want);
  std::abort();
}

bool isRelativeName(PathStyle style, std::u16string_view p) {
  return qv::rootName(style, p).empty() && !qv::hasRootDirectory(style, p);
}

// True when some name of `p` is `..` or, in the Windows style, begins with a
// drive designator (which would read as a root name once joined).
bool hasClimbOrDriveName(PathStyle style, std::u16string_view p) {
  for (qv::PathElementCursor c(style, p); !c.atEnd(); c.advance()) {
    const qv::PathElement& e = c.element();
    if (e.kind != qv::PathElementKind::Name) continue;
    if (e.text == u"..") return true;
    if (style == PathStyle::Windows && qv::startsWithDriveDesignator(e.text)) {
      return true;
    }
  }
  return false;
}

void checkOne(PathStyle style, std::u16string_view p) {
  const std::u16string once = qv::lexicallyNormal(style, p);
  const std::u16string twice = qv::lexicallyNormal(style, once);
  if (twice != once) fail("normal(normal(p)) == normal(p)", style, p, {}, twice, once);
  const std::u16string key = qv::destinationKey(style, p);
  const std::u16string normalKey = qv::destinationKey(style, once);
  if (key != normalKey) fail("key(p) == key(normal(p))", style, p, {}, key, normalKey);
  // Windows keys fold ASCII letters and nothing else; POSIX keys fold nothing.
  std::u16string upper(p);
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  const std::u16string foldedKey =
      style == PathStyle::Windows ? qv::destinationKey(style, upper) : once;
  if (key != foldedKey) fail("key(p) == key(upper(p)) (POSIX: normal(p))", style, p, {}, key, foldedKey);

  // The file name ends the path and the parent begins it; stem and extension
  // split the file name (on Windows, the name before its stream suffix).
  const std::u16string name = qv::fileName(style, p);
  if (p.substr(p.size() - std::min(p.size(), name.size())) != name) {
    fail("fileName(p) ends p", style, p, {}, name, p);
  }
  const std::u16string parent = qv::parentPath(style, p);
  if (p.substr(0, parent.size()) != parent) fail("parentPath(p) begins p", style, p, {}, parent, p);
  const std::u16string split = qv::stem(style, p) + qv::extension(style, p);
  const std::u16string whole =
      style == PathStyle::Windows ? name.substr(0, name.find(u':')) : name;
  if (split != whole) fail("stem(p) + extension(p) == fileName(p)", style, p, {}, split, whole);
}

// Windows text can spell a root name across the join: a base that is only
// a root directory gains one when the join writes `\\x` (a server name) or
// `\??\` (the prefix) at its start. That is the grammar, not a fault.
bool joinSpelledRootName(PathStyle style, std::u16string_view base,
                         std::u16string_view joined) {
  if (style != PathStyle::Windows || !qv::rootName(style, base).empty()) {
    return false;
  }
  const auto sep = [&](size_t i) {
    return i < joined.size() && qv::isSeparator(style, joined[i]);
  };
  return (sep(0) && sep(1)) ||
         (sep(0) && joined.size() >= 4 && joined[1] == u'?' && joined[2] == u'?' && sep(3));
}

void checkPair(PathStyle style, std::u16string_view base,
               std::u16string_view name) {
  // Reserved keys are stored packed: two keys may share a packed form only
  // when they are equal (units that share a byte, lone surrogates included).
  const std::u16string baseKey = qv::destinationKey(style, base);
  const std::u16string nameKey = qv::destinationKey(style, name);
  if ((qv::ReservedDestinations::pack(baseKey) == qv::ReservedDestinations::pack(nameKey)) !=
      (baseKey == nameKey)) {
    fail("pack(key(a)) == pack(key(b)) exactly when key(a) == key(b)", style, base, name,
         baseKey, nameKey);
  }

  const std::u16string joinedName = qv::joinPath(style, base, name);
  if (isRelativeName(style, name) &&
      !joinSpelledRootName(style, base, joinedName)) {
    const std::u16string& joined = joinedName;
    const std::u16string baseRoot = qv::rootName(style, base);
    if (qv::rootName(style, joined) != baseRoot) {
      fail("rootName(join(base, name)) == rootName(base)", style, base, name,
           qv::rootName(style, joined), baseRoot);
    }
    if (qv::hasRootDirectory(style, base) && !qv::hasRootDirectory(style, joined)) {
      fail("join(base, name) keeps base's root directory", style, base, name,
           joined, base);
    }
  }

  // A relative tail in normal form without `..` comes back out of the root
  // it was joined under.
  const std::u16string tail = qv::lexicallyNormal(style, name);
  if (tail.empty() || tail == u"." || !isRelativeName(style, tail) ||
      hasClimbOrDriveName(style, tail) || hasClimbOrDriveName(style, base)) {
    return;
  }
  const std::u16string joined = qv::joinPath(style, base, tail);
  if (joinSpelledRootName(style, base, joined)) return;
  const std::u16string back = qv::relativeUnder(style, joined, base);
  if (back != tail) {
    fail("relativeUnder(join(root, tail), root) == tail", style, base, tail,
         back, tail);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const PathStyle style = (data[0] & 1) ? PathStyle::Windows : PathStyle::Posix;
  std::u16string parts[2];
  int part = 0;
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == 0) {
      if (++part == 2) break;
      continue;
    }
    parts[part].push_back(unitOf(data[i]));
  }
  checkOne(style, parts[0]);
  checkOne(style, parts[1]);
  checkPair(style, parts[0], parts[1]);
  return 0;
}
