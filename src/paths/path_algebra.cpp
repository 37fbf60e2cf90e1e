#include "paths/path_algebra.h"

namespace qv {

namespace {

constexpr std::u16string_view kDot = u".";
constexpr std::u16string_view kDotDot = u"..";

// Windows root-name forms, tried in order: drive, device or long-path prefix,
// server name. `\??\` has a root name only through the prefix form.
std::size_t rootNameLength(PathStyle style, std::u16string_view p) {
  if (style == PathStyle::Posix) return 0;
  const std::size_t n = p.size();
  if (n < 2) return 0;
  if (startsWithDriveDesignator(p)) return 2;
  if (!isSeparator(style, p[0])) return 0;
  // Device and long-path prefixes: `\\?\`, `\\.\`, `\??\`.
  if (n >= 4 && isSeparator(style, p[3]) &&
      (n == 4 || !isSeparator(style, p[4])) &&
      ((isSeparator(style, p[1]) && (p[2] == u'?' || p[2] == u'.')) ||
       (p[1] == u'?' && p[2] == u'?'))) {
    return 3;
  }
  // Server names: `\\server`.
  if (n >= 3 && isSeparator(style, p[1]) && !isSeparator(style, p[2])) {
    std::size_t i = 3;
    while (i < n && !isSeparator(style, p[i])) ++i;
    return i;
  }
  return 0;
}

std::size_t skipSeparators(PathStyle style, std::u16string_view p,
                           std::size_t i) {
  while (i < p.size() && isSeparator(style, p[i])) ++i;
  return i;
}

std::size_t relativeStart(PathStyle style, std::u16string_view p) {
  return skipSeparators(style, p, rootNameLength(style, p));
}

std::u16string_view fileNameView(PathStyle style, std::u16string_view p) {
  const std::size_t rel = relativeStart(style, p);
  std::size_t i = p.size();
  while (i > rel && !isSeparator(style, p[i - 1])) --i;
  return p.substr(i);
}

// The name that stem and extension split: on Windows the part from the first
// `:` on names an alternate stream and is no part of the name.
std::u16string_view splittableName(PathStyle style, std::u16string_view p) {
  std::u16string_view name = fileNameView(style, p);
  if (style == PathStyle::Windows) {
    name = name.substr(0, name.find(u':'));
  }
  return name;
}

std::size_t extensionStart(std::u16string_view name) {
  if (name == kDot || name == kDotDot) return name.size();
  const std::size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos || dot == 0) return name.size();
  return dot;
}

// Such a name would read as a root name once joined or split off, so no
// lexical relation through it is trusted.
bool relativePartHasDriveName(PathStyle style, std::u16string_view p) {
  if (style != PathStyle::Windows) return false;
  const std::size_t n = p.size();
  const std::size_t rel = relativeStart(style, p);
  for (std::size_t i = rel; i < n; ++i) {
    const bool nameStart = !isSeparator(style, p[i]) &&
                           (i == rel || isSeparator(style, p[i - 1]));
    if (nameStart && startsWithDriveDesignator(p.substr(i))) return true;
  }
  return false;
}

// joinPath in place. `tail` must not point into `base`.
void appendPath(PathStyle style, std::u16string& base,
                std::u16string_view tail) {
  if (isAbsolute(style, tail)) {
    base.assign(tail);
    return;
  }
  const std::size_t tailRoot = rootNameLength(style, tail);
  const std::size_t baseRoot = rootNameLength(style, base);
  if (tailRoot != 0 &&
      tail.substr(0, tailRoot) != std::u16string_view(base).substr(0, baseRoot)) {
    base.assign(tail);
    return;
  }
  if (tailRoot < tail.size() && isSeparator(style, tail[tailRoot])) {
    base.resize(baseRoot);
  } else if (baseRoot == base.size()) {
    // A bare drive stays drive-relative (`C:x`); a bare server name or
    // device prefix needs its separator.
    if (baseRoot >= 3) base.push_back(preferredSeparator(style));
  } else if (!isSeparator(style, base.back())) {
    base.push_back(preferredSeparator(style));
  }
  base.append(tail.substr(tailRoot));
}

bool sameElement(const PathElement& a, const PathElement& b) {
  if (a.kind != b.kind) return false;
  // `/` and `\` are the same root directory.
  return a.kind == PathElementKind::RootDirectory || a.text == b.text;
}

}  // namespace

std::u16string rootName(PathStyle style, std::u16string_view path) {
  return std::u16string(path.substr(0, rootNameLength(style, path)));
}

bool hasRootDirectory(PathStyle style, std::u16string_view path) {
  const std::size_t root = rootNameLength(style, path);
  return root < path.size() && isSeparator(style, path[root]);
}

std::u16string relativePart(PathStyle style, std::u16string_view path) {
  return std::u16string(path.substr(relativeStart(style, path)));
}

std::u16string fileName(PathStyle style, std::u16string_view path) {
  return std::u16string(fileNameView(style, path));
}

std::u16string parentPath(PathStyle style, std::u16string_view path) {
  const std::size_t rel = relativeStart(style, path);
  if (rel == path.size()) return std::u16string(path);
  std::size_t end = path.size();
  while (end > rel && !isSeparator(style, path[end - 1])) --end;
  while (end > rel && isSeparator(style, path[end - 1])) --end;
  return std::u16string(path.substr(0, end));
}

std::u16string stem(PathStyle style, std::u16string_view path) {
  const std::u16string_view name = splittableName(style, path);
  return std::u16string(name.substr(0, extensionStart(name)));
}

std::u16string extension(PathStyle style, std::u16string_view path) {
  const std::u16string_view name = splittableName(style, path);
  return std::u16string(name.substr(extensionStart(name)));
}

bool isAbsolute(PathStyle style, std::u16string_view path) {
  if (style == PathStyle::Posix) return !path.empty() && path[0] == u'/';
  const std::size_t root = rootNameLength(style, path);
  if (root == 2) return path.size() > 2 && isSeparator(style, path[2]);
  return root != 0;
}

std::u16string joinPath(PathStyle style, std::u16string_view base,
                        std::u16string_view tail) {
  std::u16string out;
  out.reserve(base.size() + 1 + tail.size());
  out.assign(base);
  appendPath(style, out, tail);
  return out;
}

std::u16string lexicallyNormal(PathStyle style, std::u16string_view path) {
  if (path.empty()) return {};
  const char16_t sep = preferredSeparator(style);
  const std::size_t n = path.size();
  const std::size_t root = rootNameLength(style, path);

  // The output doubles as the stack of kept names: each kept name is followed
  // by its separator mark whenever another name came after it, so the name
  // a `..` cancels is the one between the last two separators written.
  std::u16string out;
  out.reserve(n);
  for (std::size_t i = 0; i < root; ++i) {
    out.push_back(isSeparator(style, path[i]) ? sep : path[i]);
  }
  std::size_t i = root;
  const bool rootDirectory = i < n && isSeparator(style, path[i]);
  if (rootDirectory) {
    out.push_back(sep);
    i = skipSeparators(style, path, i);
  }
  const std::size_t namesStart = out.size();

  while (i < n) {
    std::size_t end = i;
    while (end < n && !isSeparator(style, path[end])) ++end;
    const std::u16string_view name = path.substr(i, end - i);
    const bool separatorFollows = end < n;
    i = skipSeparators(style, path, end);

    if (name == kDot) continue;
    if (name == kDotDot) {
      if (out.size() > namesStart) {
        std::size_t start = out.size() - 1;
        while (start > namesStart && out[start - 1] != sep) --start;
        const std::u16string_view last(out.data() + start,
                                       out.size() - 1 - start);
        if (last != kDotDot) {
          out.resize(start);
          continue;
        }
      }
      // Above the root directory there is nothing to climb to.
      if (rootDirectory) continue;
    }
    out.append(name);
    if (separatorFollows) out.push_back(sep);
  }

  // A final `..\` loses its separator; other trailing separators stay.
  const std::size_t size = out.size();
  if (size >= namesStart + 3 && out[size - 1] == sep && out[size - 2] == u'.' &&
      out[size - 3] == u'.' &&
      (size - 3 == namesStart || out[size - 4] == sep)) {
    out.pop_back();
  }
  // A first name like `C:x` that was behind `.` or a cancelled name would
  // now read as a drive; `.\` keeps it a name.
  if (root == 0 && !rootDirectory && style == PathStyle::Windows &&
      startsWithDriveDesignator(out)) {
    out.insert(0, u".\\");
  }
  if (out.empty()) out.assign(kDot);
  return out;
}

std::u16string lexicallyRelative(PathStyle style, std::u16string_view path,
                                 std::u16string_view base) {
  const std::size_t pathRoot = rootNameLength(style, path);
  const std::size_t baseRoot = rootNameLength(style, base);
  if (path.substr(0, pathRoot) != base.substr(0, baseRoot) ||
      isAbsolute(style, path) != isAbsolute(style, base) ||
      (!hasRootDirectory(style, path) && hasRootDirectory(style, base)) ||
      relativePartHasDriveName(style, path) ||
      relativePartHasDriveName(style, base)) {
    return {};
  }

  PathElementCursor p(style, path);
  PathElementCursor b(style, base);
  while (!p.atEnd() && !b.atEnd() && sameElement(p.element(), b.element())) {
    p.advance();
    b.advance();
  }
  // A server or device root name is absolute on its own, so `\\srv` and
  // `\\srv\` are one place: the root directory after it is no step down, and
  // a result that kept it would be rooted rather than relative.
  if (baseRoot != 0 && !p.atEnd() &&
      p.element().kind == PathElementKind::RootDirectory) {
    p.advance();
  }
  if (p.atEnd() && b.atEnd()) return std::u16string(kDot);

  long ups = 0;
  for (; !b.atEnd(); b.advance()) {
    const PathElement& e = b.element();
    if (e.kind != PathElementKind::Name || e.text == kDot) continue;
    ups += e.text == kDotDot ? -1 : 1;
  }
  if (ups < 0) return {};
  if (ups == 0 && (p.atEnd() || p.element().text.empty())) {
    return std::u16string(kDot);
  }

  std::u16string out;
  out.reserve(3 * static_cast<std::size_t>(ups) + path.size());
  for (long k = 0; k < ups; ++k) appendPath(style, out, kDotDot);
  for (; !p.atEnd(); p.advance()) appendPath(style, out, p.element().text);
  return out;
}

std::u16string relativeUnder(PathStyle style, std::u16string_view entry,
                             std::u16string_view root) {
  // Only a Windows long-path prefix is looked through; on POSIX those units
  // are an ordinary name.
  if (style == PathStyle::Windows) {
    constexpr std::u16string_view kLongPrefix = u"\\\\?\\";
    const auto prefixedDrive = [&](std::u16string_view p) {
      return p.size() >= 6 && p.substr(0, 4) == kLongPrefix &&
             startsWithDriveDesignator(p.substr(4));
    };
    if (prefixedDrive(entry) && prefixedDrive(root)) {
      return lexicallyRelative(style, entry.substr(4), root.substr(4));
    }
  }
  return lexicallyRelative(style, entry, root);
}

std::u16string destinationKey(PathStyle style, std::u16string_view path) {
  std::u16string key = lexicallyNormal(style, path);
  if (style == PathStyle::Windows) {
    // Only ASCII letters fold, as the C runtime's towlower does in its default
    // locale; a wider fold would make two destinations that the reservation
    // rules keep apart (`Ä` and `ä`) share one key.
    for (char16_t& c : key) {
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    }
  }
  return key;
}

PathElementCursor::PathElementCursor(PathStyle style, std::u16string_view path)
    : style_(style), path_(path) {
  const std::size_t root = rootNameLength(style, path);
  if (root != 0) {
    current_ = {PathElementKind::RootName, path.substr(0, root)};
    next_ = root;
  } else if (!path.empty() && isSeparator(style, path[0])) {
    current_ = {PathElementKind::RootDirectory, path.substr(0, 1)};
    next_ = skipSeparators(style, path, 0);
  } else {
    next_ = 0;
    takeName();
  }
}

void PathElementCursor::advance() {
  switch (current_.kind) {
    case PathElementKind::RootName:
      if (next_ < path_.size() && isSeparator(style_, path_[next_])) {
        current_ = {PathElementKind::RootDirectory, path_.substr(next_, 1)};
        next_ = skipSeparators(style_, path_, next_);
        return;
      }
      takeName();
      return;
    case PathElementKind::RootDirectory:
    case PathElementKind::Name:
      takeName();
      return;
    case PathElementKind::TrailingSeparator:
      at_end_ = true;
      return;
  }
}

// Called with next_ at the start of a name or at the end of the path.
void PathElementCursor::takeName() {
  const std::size_t n = path_.size();
  if (next_ == n) {
    if (trailing_pending_) {
      trailing_pending_ = false;
      current_ = {PathElementKind::TrailingSeparator, path_.substr(n)};
    } else {
      at_end_ = true;
    }
    return;
  }
  std::size_t end = next_;
  while (end < n && !isSeparator(style_, path_[end])) ++end;
  current_ = {PathElementKind::Name, path_.substr(next_, end - next_)};
  next_ = skipSeparators(style_, path_, end);
  trailing_pending_ = end < n && next_ == n;
}

}  // namespace qv
