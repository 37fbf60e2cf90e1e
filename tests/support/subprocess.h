// Runs the built worker (or any program) with pipes on its three standard
// streams, for process tests. Output is collected by reader threads, so a
// test can wait for a line, write a command, and read everything at the end.
#ifndef QV_TESTS_SUPPORT_SUBPROCESS_H_
#define QV_TESTS_SUPPORT_SUBPROCESS_H_

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "child_process/child_process.h"

namespace qv::test {

// A host that stops listening: the worker's later writes there fail.
struct HangUp {
  // Closes our end of standard output once this holds for the output so far.
  // It is tried before every read, so one that always holds closes it at once.
  std::function<bool(const std::string&)> outputWhen;
  // Standard error's reading end is closed before the child starts.
  bool errorAtStart = false;
};

class Subprocess {
 public:
  Subprocess(const std::string& program, const std::vector<std::string>& args,
             HangUp hangUp = {});
  ~Subprocess();

  void write(std::string_view data) { child_.writeInput(data); }
  void closeInput() { child_.closeInput(); }
  // Waits until `ready(stdout so far)` holds; false when the output ended or
  // the timeout passed first.
  bool waitForOutput(const std::function<bool(const std::string&)>& ready,
                     std::chrono::milliseconds timeout);
  // Waits for the exit and for both streams to end; kills the child and
  // returns -1 on timeout.
  int wait(std::chrono::milliseconds timeout = std::chrono::minutes(5));
  int pid() const { return child_.pid(); }

  std::string out() const;
  std::string err() const;

 private:
  void pump(int stream);

  tools::ChildProcess child_;
  const HangUp hangUp_;
  mutable std::mutex mutex_;  // guards out_, err_, openStreams_
  std::condition_variable changed_;
  std::string out_;
  std::string err_;
  int openStreams_ = 2;
  std::thread outReader_;
  std::thread errReader_;
};

// A waitForOutput condition: `needle` is somewhere in the output so far.
inline std::function<bool(const std::string&)> outputHas(std::string needle) {
  return [needle](const std::string& out) { return out.find(needle) != std::string::npos; };
}

struct ProcessResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// Runs to the end. With `input` given, writes it and then closes standard
// input; with closeInput false, keeps standard input open until the exit.
ProcessResult runToEnd(const std::string& program, const std::vector<std::string>& args,
                       std::string_view input = {}, bool closeInput = true);

// A built program from the environment variable ctest sets for it
// (QV_WORKER, QV_COPY_TOOL, QV_REQUEST_TOOL).
std::string builtProgram(const char* variable);
inline std::string workerPath() { return builtProgram("QV_WORKER"); }

// The line ending the worker's events carry on this system's standard output.
std::string_view eventLineEnd();

}  // namespace qv::test

#endif  // QV_TESTS_SUPPORT_SUBPROCESS_H_
