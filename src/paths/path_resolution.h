// Paths resolved against the file system, and folder chains created on it.
//
// Every error here is the platform's own code (0 for success), returned and
// never thrown; callers word it. "Not found" means the platform's
// isNotFoundFamily(): some part of the path does not exist.
#ifndef QV_PATHS_PATH_RESOLUTION_H_
#define QV_PATHS_PATH_RESOLUTION_H_

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace qv {

// The final path of an existing file or folder, links followed, in the
// platform's plain form (long-path prefixes of drive and share paths
// removed). An empty path resolves to itself. On failure `out` is empty.
SysError resolveFinalPath(Platform& platform, std::u16string_view path,
                          std::u16string& out);

// The longest existing leading part of `path` in its final form, with the
// missing rest appended lexically: `/exists/missing/more` gives the final
// form of `/exists` joined with `missing/more`. Fails (with `out` empty)
// only on an error that is not in the not-found family, met either on the
// whole path or while walking its existing part.
SysError resolveWeakly(Platform& platform, std::u16string_view path,
                       std::u16string& out);

// A source root as the scan uses it: the weak resolution of `path`, or its
// lexical normal form when that fails. The empty path stays empty. Never
// fails.
std::u16string resolveRoot(Platform& platform, std::u16string_view path);

// Creates every missing folder of `path` in turn (a folder already there
// counts as made; anything else already there is an error). Nothing of the
// root (drive, share, long-path prefix with its drive) is created.
// Success is decided by the last folder alone: once it exists the chain
// succeeds even if an earlier step failed. On failure the code reported is
// the latest error outside the not-found family met on the way, else the
// last folder's own error, so "access denied" on a parent is not hidden by
// the "path not found" it causes below. An empty path fails with the
// platform's pathNotFoundError(). `created` (when given) is set to whether
// the last folder was newly made by this call; a path with nothing after
// its root succeeds with created = false.
SysError ensureDirectoryChain(Platform& platform, std::u16string_view path,
                              bool* created = nullptr);

}  // namespace qv

#endif  // QV_PATHS_PATH_RESOLUTION_H_
