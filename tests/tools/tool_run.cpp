#include "tools/tool_run.h"

#include <cstdlib>
#include <stdexcept>

namespace qv::test {
namespace {

std::string fromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') {
    throw std::runtime_error(std::string(name) + " is not set: run the tools' tests through ctest");
  }
  return value;
}

}  // namespace

std::string copyToolPath() { return fromEnvironment("QV_COPY_TOOL"); }
std::string requestToolPath() { return fromEnvironment("QV_REQUEST_TOOL"); }

}  // namespace qv::test
