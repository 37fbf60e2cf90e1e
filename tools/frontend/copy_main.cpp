// quorvel-copy: runs one job of the worker installed beside it and shows it
// to a person (or, with --json, passes its events on to a program).
#include <atomic>
#include <chrono>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <thread>

#include "frontend/copy_options.h"
#include "frontend/job_display.h"
#include "frontend/system.h"
#include "frontend/verify_list.h"
#include "frontend/worker_process.h"

namespace qv::tools {
namespace {

constexpr auto kControlTick = std::chrono::milliseconds(50);

// The request file holds the job's paths: it is removed however the job ends.
class TempFile {
 public:
  explicit TempFile(std::filesystem::path path) : path_(std::move(path)) {}
  ~TempFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

void fillPaths(CopyOptions& o) {
  // Absolute paths, so the request means the same whatever folder the worker
  // runs in.
  const std::filesystem::path destination = std::filesystem::absolute(pathOfUtf8(o.destination));
  o.request.destinationRoot = utf8Of(destination);
  if (o.verifyOnly) {
    o.request.files = listForVerification(std::filesystem::absolute(pathOfUtf8(o.sources[0])),
                                          destination);
    return;
  }
  for (const std::string& s : o.sources) {
    o.request.sourceRoots.push_back(utf8Of(std::filesystem::absolute(pathOfUtf8(s))));
  }
}

// Turns Ctrl-C and the keys p and r into the worker's control lines until
// `done` is set. The first Ctrl-C asks for a cancel, which lets the worker
// remove its staging files; the second ends it outright.
void controlLoop(WorkerProcess& worker, bool keyboard, const std::atomic<bool>& done) {
  std::optional<KeyReader> keys;
  if (keyboard) keys.emplace();
  int handled = 0;
  while (!done.load()) {
    char key = 0;
    if (keys) key = keys->poll(kControlTick);
    else std::this_thread::sleep_for(kControlTick);
    const int interrupts = interruptCount();
    if (interrupts > handled) {
      if (handled == 0) worker.sendLine("cancel");
      if (interrupts >= 2) worker.kill();
      handled = interrupts;
    }
    if (key == 'p' || key == 'P') worker.sendLine("pause");
    if (key == 'r' || key == 'R') worker.sendLine("resume");
  }
}

// Every SOURCE goes into DESTINATION, so a DESTINATION that exists must be a
// folder: a file there would fail every item of the job one by one.
bool destinationCanBeAFolder(const std::string& destination) {
  std::error_code error;
  const auto status = std::filesystem::status(pathOfUtf8(destination), error);
  // Anything the check cannot see is left to the worker to report.
  return !std::filesystem::exists(status) || std::filesystem::is_directory(status);
}

int run(int argc, char** argv) {
  prepareConsoleOutput();
  CopyOptions options;
  const int usage = parseCopyOptions(commandLineUtf8(argc, argv), options);
  if (usage >= 0) return usage;
  if (!destinationCanBeAFolder(options.destination)) {
    std::cerr << "quorvel-copy: destination '" << options.destination << "' is not a folder\n";
    return 64;
  }

  std::unique_ptr<TempFile> request;
  std::unique_ptr<WorkerProcess> worker;
  try {
    fillPaths(options);
    request = std::make_unique<TempFile>(writePrivateTempFile(writeRequest(options.request)));
    catchInterrupts();
    worker = startWorker(executableDirectory() / workerFileName(),
                         {"--request", utf8Of(request->path())});
  } catch (const std::exception& e) {
    std::cerr << "quorvel-copy: " << e.what() << '\n';
    return 1;
  }

  const bool terminal = standardOutputIsTerminal();
  const bool keyboard =
      terminal && standardInputIsTerminal() && options.output != OutputMode::Json;
  std::function<int()> width;
  if (terminal && options.output == OutputMode::Normal) width = terminalWidth;
  JobDisplay display(options.output, options.request, width, std::cout, std::cerr);

  std::atomic<bool> done{false};
  std::thread control(controlLoop, std::ref(*worker), keyboard, std::cref(done));
  std::string line;
  bool outputLost = false;
  while (worker->readLine(line)) {
    display.onLine(line);
    if (!outputLost && display.outputFailed()) {
      // Nobody reads what we print any more (a closed pipe, `| head`): stop
      // the job as Ctrl-C does, so the worker removes its staging files, and
      // keep reading its events until it ends.
      outputLost = true;
      worker->sendLine("cancel");
    }
  }
  // The worker's output has ended: it has exited or is about to. Stop the
  // control thread before reaping it, so a late Ctrl-C cannot reach a
  // process id that has been reused.
  done.store(true);
  control.join();
  const int code = display.finish(worker->wait());
  if (!display.outputFailed()) return code;
  // Like any tool whose output failed, end with 1, whatever the job did.
  std::cerr << "quorvel-copy: unable to write to standard output"
            << (outputLost ? "; the job was cancelled\n" : "\n");
  return 1;
}

}  // namespace
}  // namespace qv::tools

int main(int argc, char** argv) { return qv::tools::run(argc, argv); }
