#include "paths/path_resolution.h"

#include "paths/path_algebra.h"

namespace qv {

SysError resolveFinalPath(Platform& platform, std::u16string_view path,
                          std::u16string& out) {
  out.clear();
  if (path.empty()) return 0;
  const SysError err = platform.finalPath(std::u16string(path), out);
  if (err != 0) out.clear();
  return err;
}

SysError resolveWeakly(Platform& platform, std::u16string_view path,
                       std::u16string& out) {
  SysError err = resolveFinalPath(platform, path, out);
  if (err == 0) return 0;
  if (!platform.isNotFoundFamily(err)) return err;

  // Some part is missing: rebuild the path name by name, resolving each
  // leading part until the first one that does not exist; the rest is only
  // joined, since nothing under a missing folder can exist.
  const PathStyle style = platform.pathStyle();
  const std::u16string normal = lexicallyNormal(style, path);
  std::u16string result;
  bool resolving = true;
  std::u16string resolved;
  for (PathElementCursor cursor(style, normal); !cursor.atEnd(); cursor.advance()) {
    const PathElement& element = cursor.element();
    switch (element.kind) {
      case PathElementKind::RootName:
      case PathElementKind::RootDirectory:
        result += element.text;
        continue;
      case PathElementKind::Name:
      case PathElementKind::TrailingSeparator:
        result = joinPath(style, result, element.text);
        break;
    }
    if (!resolving) continue;
    err = resolveFinalPath(platform, result, resolved);
    if (err == 0) {
      result = std::move(resolved);
    } else if (platform.isNotFoundFamily(err)) {
      resolving = false;
    } else {
      return err;
    }
  }
  out = std::move(result);
  return 0;
}

std::u16string resolveRoot(Platform& platform, std::u16string_view path) {
  if (path.empty()) return std::u16string();
  std::u16string out;
  if (resolveWeakly(platform, path, out) == 0) return out;
  return lexicallyNormal(platform.pathStyle(), path);
}

SysError ensureDirectoryChain(Platform& platform, std::u16string_view path,
                              bool* created) {
  if (created != nullptr) *created = false;
  if (path.empty()) return platform.pathNotFoundError();

  // The fixed prefix (the root and, for a long-path prefix, its drive) is
  // never created: it cannot be made, and asking would only add errors.
  const PathStyle style = platform.pathStyle();
  const size_t rootLength = rootName(style, path).size();
  size_t pos = rootLength;
  while (pos < path.size() && isSeparator(style, path[pos])) ++pos;
  if (rootLength > 0) {
    const std::u16string_view rest = path.substr(pos);
    if (rest.size() >= 3 && startsWithDriveDesignator(rest) && isSeparator(style, rest[2])) {
      pos += 2;
    }
  }

  SysError lastError = 0;
  SysError setAside = 0;
  bool lastCreated = false;
  bool sawName = false;
  std::u16string built;
  while (true) {
    size_t nameStart = pos;
    while (nameStart < path.size() && isSeparator(style, path[nameStart])) ++nameStart;
    if (nameStart == path.size()) break;
    size_t nameEnd = nameStart;
    while (nameEnd < path.size() && !isSeparator(style, path[nameEnd])) ++nameEnd;
    pos = nameEnd;
    sawName = true;

    built.assign(path.substr(0, nameEnd));
    SysError err = platform.createDirectory(built);
    lastCreated = err == 0;
    if (err != 0 && platform.isAlreadyExists(err)) {
      FileInfo info;
      if (platform.queryPath(built, LinkMode::Follow, info) == 0 && info.isDirectory) err = 0;
    }
    // A "not found" below a failed parent is a consequence, not the cause:
    // keep the latest other error to report instead.
    if (err != 0 && !platform.isNotFoundFamily(err)) setAside = err;
    lastError = err;
  }

  if (!sawName || lastError == 0) {
    if (created != nullptr) *created = sawName && lastCreated;
    return 0;
  }
  return setAside != 0 ? setAside : lastError;
}

}  // namespace qv
