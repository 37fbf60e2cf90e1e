// The ready-made list of a verify-only job: every file under a source,
// paired with where a copy job of the worker would have put it.
#ifndef QV_TOOLS_FRONTEND_VERIFY_LIST_H_
#define QV_TOOLS_FRONTEND_VERIFY_LIST_H_

#include <filesystem>
#include <string>
#include <vector>

#include "request_writer/request_writer.h"

namespace qv::tools {

std::string utf8Of(const std::filesystem::path& path);
std::filesystem::path pathOfUtf8(const std::string& text);

// The folder name a source root takes under the destination root: its own
// name; for a root without one (`/`, `C:\`) the drive letter without the
// colon, else "root". `root` is already resolved (absolute, no trailing
// separator but on a bare root).
std::string destinationNameOf(const std::filesystem::path& root);

// Walks `source` as the worker's scan does: the root resolved through links,
// a file root mapped straight into `destination`, a folder root under its
// name, links inside never followed and nothing but regular files listed.
// Throws std::runtime_error when the source does not exist.
std::vector<FileEntryFields> listForVerification(const std::filesystem::path& source,
                                                 const std::filesystem::path& destination);

}  // namespace qv::tools

#endif  // QV_TOOLS_FRONTEND_VERIFY_LIST_H_
