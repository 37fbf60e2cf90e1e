#include "job/job_run.h"

#include <exception>
#include <memory>
#include <thread>

#include "copy/copy_phase.h"
#include "copy/staging_cleanup.h"
#include "frame/event_text.h"
#include "frame/job_context.h"
#include "frame/request_file.h"
#include "verify/verify_phase.h"

namespace qv {
namespace {

// The control thread is detached and may outlive runJob, so it shares
// ownership of what it touches.
struct ControlChannel {
  std::shared_ptr<ControlState> control = std::make_shared<ControlState>();
  std::shared_ptr<LineReader> input;
  std::thread thread;

  void start(Platform& platform) {
    input = std::shared_ptr<LineReader>(platform.openStandardInput());
    thread = std::thread([control = control, input = input] {
      // A line too long to hold in memory ends the channel like a failed
      // read: the job goes on without control rather than the process
      // ending from an exception no one catches.
      try {
        readControlChannel(*control, *input);
      } catch (const std::exception&) {
      }
    });
  }
  // Ends the pending read so the process can end with standard input still
  // open; the thread then finishes on its own.
  void stop() {
    input->cancel();
    if (thread.joinable()) thread.detach();
  }
};

std::string completeEvent(const JobCounters& counters, bool cancelled,
                          const std::string& errors) {
  std::string line = "{\"type\":\"complete\",\"totalBytes\":";
  appendNumber(line, counters.totalBytes.load());
  line += ",\"copiedBytes\":";
  appendNumber(line, counters.copiedBytes.load());
  line += ",\"totalFiles\":";
  appendNumber(line, counters.totalFiles.load());
  line += ",\"completedFiles\":";
  appendNumber(line, counters.completedFiles.load());
  line += ",\"skippedFiles\":";
  appendNumber(line, counters.skippedFiles.load());
  line += ",\"failedFiles\":";
  appendNumber(line, counters.failedFiles.load());
  line += cancelled ? ",\"cancelled\":true" : ",\"cancelled\":false";
  line += ",\"errors\":\"";
  line += errors;  // already escaped entry by entry
  line += "\"}";
  return line;
}

}  // namespace

int runJob(Platform& platform, EventStream& events, const std::u16string& requestPath) {
  events.emitLine(helloEvent());
  LoadedRequest loaded = readRequest(platform, requestPath);
  const WorkerRequest& request = loaded.request;
  JobCounters counters;
  ErrorList errors;
  ControlChannel channel;
  channel.start(platform);
  ControlState& control = *channel.control;
  JobContext job{platform, events, control, errors, counters, request, loaded.plan};

  try {
    if (isVerifyOnly(request)) {
      runVerifyPhase(job);
    } else {
      runCopyPhase(job);
    }
    const bool wasCancelled = control.cancelled();
    removePartialFiles(job);
    control.cancel();
    channel.stop();
    events.emitLine(completeEvent(counters, wasCancelled, errors.escapedForEvent()));
    return counters.failedFiles.load() > 0 ? 2 : 0;
  } catch (...) {
    control.cancel();
    removePartialFiles(job);
    channel.stop();
    throw;
  }
}

int runWorker(Platform& platform, EventStream& events, const std::u16string& requestPath) {
  try {
    return runJob(platform, events, requestPath);
  } catch (const std::exception& failure) {
    events.emitLine(fatalEvent(failure.what()));
    return 1;
  }
}

}  // namespace qv
