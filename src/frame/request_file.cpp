#include "frame/request_file.h"

#include <stdexcept>

#include "request/request_reader.h"

namespace qv {

LoadedRequest readRequest(Platform& platform, const std::u16string& path) {
  std::string bytes;
  if (path.empty() || platform.readWholeFile(path, bytes) != 0) {
    throw std::runtime_error(kRequestUnableToOpen);
  }
  return parseRequest(bytes);
}

}  // namespace qv
