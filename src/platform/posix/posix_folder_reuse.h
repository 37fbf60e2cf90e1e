// Folder reuse on POSIX: while a thread has it on, a path is split into an
// open handle of its folder and its last component, for the *at() calls, so
// that a thread working through one folder walks the leading components once
// instead of on every call.
#ifndef QV_PLATFORM_POSIX_POSIX_FOLDER_REUSE_H_
#define QV_PLATFORM_POSIX_POSIX_FOLDER_REUSE_H_

#include <string>

namespace qv::posix {

// A path as the *at() calls take it. `name` points into the string it was
// made from, which must outlive it.
struct AtPath {
  int folder;
  const char* name;
};

void beginFolderReuseOnThisThread();
void endFolderReuseOnThisThread();

// The folder handle and last component of `native`, or AT_FDCWD and the
// whole path when reuse is off on this thread or the path does not split
// into a folder and a plain name. A folder that cannot be opened is not
// remembered and the whole path is used, so a call fails exactly as it
// would have without reuse. The handles of this thread's last two at()
// calls are always still open (a two-path call may take both).
AtPath at(const std::string& native);

}  // namespace qv::posix

#endif  // QV_PLATFORM_POSIX_POSIX_FOLDER_REUSE_H_
