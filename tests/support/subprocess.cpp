#include "support/subprocess.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace qv::test {
namespace {

// CTest hands Unix paths to the test binary under Wine, which shows the Unix
// root as drive Z:.
std::filesystem::path programPath(std::string program) {
#ifdef _WIN32
  if (!program.empty() && program[0] == '/') {
    std::replace(program.begin(), program.end(), '/', '\\');
    program = "Z:" + program;
  }
#endif
  return std::filesystem::path(std::u8string(program.begin(), program.end()));
}

}  // namespace

Subprocess::Subprocess(const std::string& program, const std::vector<std::string>& args,
                       HangUp hangUp)
    : child_(programPath(program), args,
             {.pipeError = true, .errorReaderGone = hangUp.errorAtStart}),
      hangUp_(std::move(hangUp)) {
  outReader_ = std::thread([this] { pump(1); });
  errReader_ = std::thread([this] { pump(2); });
}

Subprocess::~Subprocess() {
  if (wait(std::chrono::seconds(30)) < 0) child_.kill();
  if (outReader_.joinable()) outReader_.join();
  if (errReader_.joinable()) errReader_.join();
}

void Subprocess::pump(int stream) {
  char buffer[65536];
  for (;;) {
    if (stream == 1 && hangUp_.outputWhen && hangUp_.outputWhen(out())) {
      // Closed by this thread, the only one reading it, so no read is
      // pending on it: the child's next write there fails at once.
      child_.closeOutput();
      std::lock_guard<std::mutex> lock(mutex_);
      --openStreams_;
      changed_.notify_all();
      return;
    }
    const size_t n = stream == 1 ? child_.readOutput(buffer, sizeof buffer)
                                 : child_.readError(buffer, sizeof buffer);
    std::lock_guard<std::mutex> lock(mutex_);
    if (n == 0) {
      --openStreams_;
      changed_.notify_all();
      return;
    }
    (stream == 1 ? out_ : err_).append(buffer, n);
    changed_.notify_all();
  }
}

bool Subprocess::waitForOutput(const std::function<bool(const std::string&)>& ready,
                               std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return ready(out_) || openStreams_ == 0; }) &&
         ready(out_);
}

int Subprocess::wait(std::chrono::milliseconds timeout) {
  const std::optional<int> code = child_.wait(timeout);
  if (!code) {
    child_.kill();
    child_.wait(std::chrono::seconds(10));
  }
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait_for(lock, std::chrono::seconds(10), [&] { return openStreams_ == 0; });
  return code.value_or(-1);
}

std::string Subprocess::out() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_;
}

std::string Subprocess::err() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return err_;
}

ProcessResult runToEnd(const std::string& program, const std::vector<std::string>& args,
                       std::string_view input, bool closeInput) {
  Subprocess process(program, args);
  if (!input.empty()) process.write(input);
  if (closeInput) process.closeInput();
  const int exitCode = process.wait();
  return {exitCode, process.out(), process.err()};
}

std::string builtProgram(const char* variable) {
  const char* path = std::getenv(variable);
  if (path == nullptr || *path == '\0') {
    throw std::runtime_error(std::string(variable) + " is not set: run the tests through ctest");
  }
  return path;
}

std::string_view eventLineEnd() {
#ifdef _WIN32
  return "\r\n";
#else
  return "\n";
#endif
}

}  // namespace qv::test
