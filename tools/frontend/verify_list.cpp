#include "frontend/verify_list.h"

#include <stdexcept>
#include <system_error>

namespace qv::tools {

std::string utf8Of(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

std::filesystem::path pathOfUtf8(const std::string& text) {
  return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

std::string destinationNameOf(const std::filesystem::path& root) {
  std::filesystem::path name = root.filename();
  if (!name.empty()) return utf8Of(name);
  // A share root such as \\server\share\ keeps its last name.
  for (const auto& part : root.relative_path()) {
    if (!part.empty()) name = part;
  }
  if (!name.empty()) return utf8Of(name);
  const std::string drive = utf8Of(root.root_name());
  if (drive.size() == 2 && drive[1] == ':') return drive.substr(0, 1);
  return "root";
}

std::vector<FileEntryFields> listForVerification(const std::filesystem::path& source,
                                                 const std::filesystem::path& destination) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path root = fs::canonical(source, error);
  if (error) {
    throw std::runtime_error("Source path was not found: " + utf8Of(source));
  }
  std::vector<FileEntryFields> files;
  auto add = [&files](const fs::path& from, const fs::path& to, uint64_t size) {
    // The source is read through the path reported; the time is left
    // unrecorded, as a verification does not compare it.
    files.push_back({utf8Of(from), "", utf8Of(to), size, 0});
  };
  if (!fs::is_directory(root)) {
    add(root, destination / root.filename(), fs::file_size(root));
    return files;
  }
  const fs::path folder = destination / pathOfUtf8(destinationNameOf(root));
  fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error);
  for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
    const fs::directory_entry& entry = *it;
    if (entry.is_symlink(error)) {
      it.disable_recursion_pending();
      continue;
    }
    if (!entry.is_regular_file(error)) continue;
    add(entry.path(), folder / entry.path().lexically_relative(root), entry.file_size(error));
  }
  return files;
}

}  // namespace qv::tools
