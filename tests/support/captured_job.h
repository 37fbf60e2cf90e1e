// A job context whose events are kept in memory, for unit tests that run
// engine steps without a worker process.
#ifndef QV_SUPPORT_CAPTURED_JOB_H_
#define QV_SUPPORT_CAPTURED_JOB_H_

#include <chrono>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "frame/job_context.h"
#include "platform/platform.h"

namespace qv::test {

// Safe to read while engine threads write.
class CapturedOutput : public EventOutput {
 public:
  void write(std::string_view bytes) override {
    std::lock_guard<std::mutex> lock(mutex_);
    text_.append(bytes);
  }
  void flush() override {}

  std::string text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
  // Event lines whose text begins with `prefix`, without line feeds.
  std::vector<std::string> lines(std::string_view prefix = {}) const {
    const std::string all = text();
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end = all.find('\n'); end != std::string::npos;
         start = end + 1, end = all.find('\n', start)) {
      std::string line = all.substr(start, end - start);
      if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(std::move(line));
    }
    return out;
  }
  std::vector<std::string> items() const { return lines("{\"type\":\"item\""); }
  // Waits (up to 10 s, for slow emulated runs) until `count` lines are in.
  void waitForLines(size_t count) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (lines().size() < count && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

 private:
  mutable std::mutex mutex_;  // guards text_
  std::string text_;
};

// Only a reference to `platform` is kept, so a fixture may pass one of its
// own members that is constructed after this base.
struct CapturedJob {
  explicit CapturedJob(Platform& platform = systemPlatform())
      : job{platform, events, control, errors, counters, request, plan} {}

  CapturedOutput output;
  EventStream events{output};
  ControlState control;
  ErrorList errors;
  JobCounters counters;
  WorkerRequest request;
  JobPlan plan;
  JobContext job;
};

}  // namespace qv::test

#endif  // QV_SUPPORT_CAPTURED_JOB_H_
