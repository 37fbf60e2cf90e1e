// The live status line and the elided file name must fit the columns they
// are given, whatever the numbers and the name: a line that wraps leaves
// debris at every redraw. Names are well-formed UTF-8 without control
// characters (the worker's events carry nothing else), and a name cut short
// is never cut inside a character.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "frontend/status_line.h"
#include "utf8_reference.h"

namespace {

uint64_t take64(const uint8_t*& data, size_t& size) {
  uint64_t v = 0;
  const size_t n = size < 8 ? size : 8;
  std::memcpy(&v, data, n);
  data += n;
  size -= n;
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const size_t width = 20 + data[0];
  const size_t columns = 4 + data[1] % 120;
  static const char* const kPhases[] = {"scan", "copy", "verify"};
  qv::tools::ProgressState state;
  state.phase = kPhases[data[2] % 3];
  state.paused = data[2] & 0x80;
  const uint8_t shift = data[3] % 63;  // small and huge numbers alike
  data += 4;
  size -= 4;
  state.totalBytes = take64(data, size) >> shift;
  state.processedBytes = take64(data, size) >> shift;
  state.totalFiles = take64(data, size) >> shift;
  state.completedFiles = take64(data, size) >> shift;
  // A rate comes from a few seconds' bytes: far below 2^63 per second.
  const double rate = static_cast<double>(take64(data, size) >> (shift + 1));
  const std::string_view name(reinterpret_cast<const char*>(data), size);
  if (!isValidUtf8(name)) return 0;
  for (const char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return 0;
  }
  state.currentFile = name;

  const std::string line = qv::tools::formatStatusLine(state, rate, width);
  if (qv::tools::displayColumns(line) > width - 1 || !isValidUtf8(line) ||
      line.find('\n') != std::string::npos || (width >= 80 && line.rfind(state.phase, 0) != 0)) {
    std::abort();
  }
  const std::string cut = qv::tools::elideMiddle(name, columns);
  if (qv::tools::displayColumns(cut) > columns || !isValidUtf8(cut)) std::abort();
  return 0;
}
