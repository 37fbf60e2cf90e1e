// What the two tools need from the operating system, kept out of their main
// logic: the command line as UTF-8, where the tool itself sits, the terminal,
// Ctrl-C, the keyboard and a private temporary file. One implementation per
// system: system_posix.cpp and system_win32.cpp.
#ifndef QV_TOOLS_FRONTEND_SYSTEM_H_
#define QV_TOOLS_FRONTEND_SYSTEM_H_

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace qv::tools {

// The arguments as UTF-8, program name first (Windows hands main() the ANSI
// code page, so the wide command line is read instead).
std::vector<std::string> commandLineUtf8(int argc, char** argv);

// Makes standard output carry UTF-8 and terminal escape sequences where the
// system needs to be told so, and makes a write to a closed pipe fail
// instead of ending the process (the caller notices the failed stream).
void prepareConsoleOutput();

// The folder of the running program, where the worker is installed beside it.
std::filesystem::path executableDirectory();

// The worker's file name on this system.
std::string workerFileName();

bool standardOutputIsTerminal();
bool standardInputIsTerminal();
// Columns of the terminal on standard output; 0 when unknown.
int terminalWidth();

// Writes `bytes` to a new file under the temporary folder that only this
// user may read. Throws std::runtime_error.
std::filesystem::path writePrivateTempFile(const std::string& bytes);

// Counts Ctrl-C presses from now on instead of ending the process.
void catchInterrupts();
int interruptCount();

// Single key presses from the terminal on standard input, without waiting for
// a line feed and without echo, while it lives. Ctrl-C still interrupts.
class KeyReader {
 public:
  KeyReader();
  ~KeyReader();
  KeyReader(const KeyReader&) = delete;
  KeyReader& operator=(const KeyReader&) = delete;
  // The next key typed within `timeout`, or 0.
  char poll(std::chrono::milliseconds timeout);

 private:
  struct State;
  State* state_;
};

}  // namespace qv::tools

#endif  // QV_TOOLS_FRONTEND_SYSTEM_H_
