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
  // One line per copied file: the texts are reused by the thread, so a
  // line costs no allocation once they have grown to the longest path.
  thread_local std::string line;
  thread_local std::string utf8;
  line.clear();
  line += "{\"type\":\"item\",\"status\":\"";
  line += status;
  line += "\",\"source\":\"";
  utf8.clear();
  appendUtf8(utf8, item.sourcePath);
  appendJsonEscaped(line, utf8);
  line += "\",\"destination\":\"";
  utf8.clear();
  appendUtf8(utf8, item.destinationPath);
  appendJsonEscaped(line, utf8);
  line += "\",\"size\":";
  appendNumber(line, item.size);
  line += ",\"error\":\"";
  appendJsonEscaped(line, message);
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
