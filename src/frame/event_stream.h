// The single writer of event lines on standard output.
#ifndef QV_FRAME_EVENT_STREAM_H_
#define QV_FRAME_EVENT_STREAM_H_

#include <mutex>
#include <string>
#include <string_view>

namespace qv {

struct PlannedFile;

// Where event bytes go: standard output in the worker, a string in tests.
class EventOutput {
 public:
  virtual ~EventOutput() = default;
  // Failures are not reported: a host that closed its end does not stop the
  // job.
  virtual void write(std::string_view bytes) = 0;
  virtual void flush() = 0;
};

// Standard output through the C runtime (text mode on Windows, so each line
// feed reaches the host as CR LF).
EventOutput& standardOutput();

class EventStream {
 public:
  explicit EventStream(EventOutput& output) : output_(output) {}

  // Writes one event line and its line feed under the output lock. Item
  // lines stay buffered; every other line flushes, carrying any buffered
  // item lines with it.
  void emitLine(std::string_view line);

  // One "item" event; `status` is inserted without escaping.
  void emitItemEvent(std::string_view status, const PlannedFile& item,
                     std::string_view message);

 private:
  std::mutex outputMutex_;  // guards output_ for one whole line
  EventOutput& output_;
};

// The fixed first line of every job.
std::string helloEvent();
std::string fatalEvent(std::string_view message);

}  // namespace qv

#endif  // QV_FRAME_EVENT_STREAM_H_
