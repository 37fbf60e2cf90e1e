#include <windows.h>

#include <stdexcept>

#include "child_process/child_process.h"

namespace qv::tools {

struct ChildProcess::Handles {
  ~Handles() {
    for (HANDLE h : {input, output, error, process}) {
      if (h != nullptr) CloseHandle(h);
    }
  }
  HANDLE process = nullptr;
  HANDLE input = nullptr;
  HANDLE output = nullptr;
  HANDLE error = nullptr;
  int pid = 0;
  unsigned killedExitCode = 137;
};

namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                    nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// Quotes one argument so that the child's CommandLineToArgvW reads it back.
void appendQuoted(std::wstring& line, const std::wstring& arg) {
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

// Creates a pipe whose end `ours` stays with us; only the other end is
// inheritable, so a child started meanwhile cannot keep our end open.
bool makePipe(HANDLE& ours, HANDLE& theirs, bool weRead) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  if (!(weRead ? CreatePipe(&ours, &theirs, &inherit, 0)
               : CreatePipe(&theirs, &ours, &inherit, 0))) {
    return false;
  }
  SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);
  return true;
}

size_t readSome(HANDLE pipe, char* buffer, size_t size) {
  DWORD got = 0;
  if (pipe == nullptr || !ReadFile(pipe, buffer, static_cast<DWORD>(size), &got, nullptr)) {
    return 0;
  }
  return got;
}

}  // namespace

ChildProcess::ChildProcess(const std::filesystem::path& program,
                           const std::vector<std::string>& args, const ChildOptions& options)
    : h_(std::make_unique<Handles>()) {
  h_->killedExitCode = options.killedExitCode;
  HANDLE inRead = nullptr, outWrite = nullptr, errWrite = nullptr;
  const bool piped = makePipe(h_->input, inRead, false) && makePipe(h_->output, outWrite, true) &&
                     (!options.pipeError || makePipe(h_->error, errWrite, true));
  if (h_->error != nullptr && options.errorReaderGone) {
    CloseHandle(h_->error);
    h_->error = nullptr;
  }
  const std::wstring exe = program.wstring();
  std::wstring line;
  appendQuoted(line, exe);
  for (const std::string& a : args) {
    line += L' ';
    appendQuoted(line, widen(a));
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = inRead;
  startup.hStdOutput = outWrite;
  startup.hStdError = options.pipeError ? errWrite : GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info{};
  // A new process group does not receive the console's Ctrl-C.
  const DWORD flags = options.ownProcessGroup ? CREATE_NEW_PROCESS_GROUP : 0;
  const BOOL ok = piped && CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, flags,
                                          nullptr, nullptr, &startup, &info);
  const DWORD error = GetLastError();
  for (HANDLE h : {inRead, outWrite, errWrite}) {
    if (h != nullptr) CloseHandle(h);
  }
  if (!ok) {
    throw std::runtime_error((piped ? "Unable to start " + program.string()
                                    : std::string("Unable to create pipes")) +
                             " (error " + std::to_string(error) + ")");
  }
  CloseHandle(info.hThread);
  h_->process = info.hProcess;
  h_->pid = static_cast<int>(info.dwProcessId);
}

ChildProcess::~ChildProcess() {
  if (!wait(std::chrono::milliseconds(0))) {
    kill();
    wait();
  }
}

size_t ChildProcess::readOutput(char* buffer, size_t size) {
  return readSome(h_->output, buffer, size);
}

size_t ChildProcess::readError(char* buffer, size_t size) {
  return readSome(h_->error, buffer, size);
}

bool ChildProcess::writeInput(std::string_view data) {
  while (!data.empty()) {
    DWORD written = 0;
    if (!WriteFile(h_->input, data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) {
      return false;
    }
    data.remove_prefix(written);
  }
  return true;
}

void ChildProcess::closeInput() {
  if (h_->input != nullptr) CloseHandle(h_->input);
  h_->input = nullptr;
}

void ChildProcess::closeOutput() {
  if (h_->output != nullptr) CloseHandle(h_->output);
  h_->output = nullptr;
}

void ChildProcess::kill() { TerminateProcess(h_->process, h_->killedExitCode); }

std::optional<int> ChildProcess::wait(std::optional<std::chrono::milliseconds> timeout) {
  const DWORD ms = timeout ? static_cast<DWORD>(timeout->count()) : INFINITE;
  if (WaitForSingleObject(h_->process, ms) != WAIT_OBJECT_0) return std::nullopt;
  DWORD code = 1;
  GetExitCodeProcess(h_->process, &code);
  return static_cast<int>(code);
}

int ChildProcess::pid() const { return h_->pid; }

}  // namespace qv::tools
