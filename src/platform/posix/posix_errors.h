// errno as the platform's error code: texts and the named predicates.
#ifndef QV_PLATFORM_POSIX_POSIX_ERRORS_H_
#define QV_PLATFORM_POSIX_POSIX_ERRORS_H_

#include <string>

#include "platform/platform.h"

namespace qv::posix {

// The C library's text for `code` (strerror_r), or empty for a code it does
// not know.
std::u16string errorMessage(SysError code);

// "Some part of the path does not exist": ENOENT, ENOTDIR (a file where a
// folder was expected: Windows' path-not-found and not-a-folder),
// ENAMETOOLONG (Windows reports too long a name or path as an invalid name
// or a path not found) and EILSEQ (a name no file system name can hold, our
// mapping's counterpart of Windows' invalid name).
bool isNotFoundFamily(SysError code);
bool isAlreadyExists(SysError code);
// EACCES and EPERM: both mean the system refused the caller.
bool isAccessDenied(SysError code);

}  // namespace qv::posix

#endif  // QV_PLATFORM_POSIX_POSIX_ERRORS_H_
