#include "frame/event_stream.h"

#include <cstdio>

#include "frame/event_text.h"
#include "request/job_plan.h"

namespace qv {
namespace {

class StandardOutput : public EventOutput {
 public:
  StandardOutput() {
    // Item lines are batched: a large buffer keeps a job of many small files
    // from paying one write per line.
    std::setvbuf(stdout, nullptr, _IOFBF, 1 << 16);
  }
  void write(std::string_view bytes) override {
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
  }
  void flush() override { std::fflush(stdout); }
};

constexpr std::string_view kItemPrefix = "{\"type\":\"item\"";

}  // namespace

EventOutput& standardOutput() {
  static StandardOutput output;
  return output;
}

void EventStream::emitLine(std::string_view line) {
  std::lock_guard<std::mutex> lock(outputMutex_);
  output_.write(line);
  output_.write("\n");
  if (line.substr(0, kItemPrefix.size()) != kItemPrefix) output_.flush();
}

void EventStream::emitItemEvent(std::string_view status, const PlannedFile& item,
                                std::string_view message) {
  std::string line;
  line.reserve(128 + 2 * item.sourcePath.size() + 2 * item.destinationPath.size() +
               message.size());
  line += "{\"type\":\"item\",\"status\":\"";
  line += status;
  line += "\",\"source\":\"";
  line += jsonEscape(toUtf8(item.sourcePath));
  line += "\",\"destination\":\"";
  line += jsonEscape(toUtf8(item.destinationPath));
  line += "\",\"size\":";
  appendNumber(line, item.size);
  line += ",\"error\":\"";
  line += jsonEscape(message);
  line += "\"}";
  emitLine(line);
}

std::string helloEvent() {
  return "{\"type\":\"hello\",\"protocol\":3,\"workerVersion\":\"1.3.1\"}";
}

std::string fatalEvent(std::string_view message) {
  return "{\"type\":\"fatal\",\"message\":\"" + jsonEscape(message) + "\"}";
}

}  // namespace qv
