#include <windows.h>

#include <stdexcept>

#include "support/subprocess.h"

namespace qv::test {
namespace {

std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

// CTest hands Unix paths to the test binary under Wine; Wine shows the Unix
// root as drive Z:.
std::wstring windowsPath(const std::string& path) {
  std::wstring wide = widen(path);
  if (!wide.empty() && wide[0] == L'/') {
    for (wchar_t& c : wide) {
      if (c == L'/') c = L'\\';
    }
    wide = L"Z:" + wide;
  }
  return wide;
}

// Quotes one argument by the rules CommandLineToArgvW reads back.
void appendQuoted(std::wstring& line, const std::wstring& arg) {
  line += L'"';
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    if (c == L'"') line.append(backslashes * 2 + 1, L'\\');
    else line.append(backslashes, L'\\');
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, L'\\');
  line += L'"';
}

class Win32Child : public ChildProcess {
 public:
  Win32Child(const std::string& program, const std::vector<std::string>& args) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead, outWrite, errWrite;
    if (!CreatePipe(&inRead, &input_, &inherit, 0) ||
        !CreatePipe(&pipes_[1], &outWrite, &inherit, 0) ||
        !CreatePipe(&pipes_[2], &errWrite, &inherit, 0)) {
      throw std::runtime_error("CreatePipe failed");
    }
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(pipes_[1], HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(pipes_[2], HANDLE_FLAG_INHERIT, 0);
    std::wstring exe = windowsPath(program);
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
    startup.hStdError = errWrite;
    PROCESS_INFORMATION info{};
    BOOL ok = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                             nullptr, &startup, &info);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    CloseHandle(errWrite);
    if (!ok) throw std::runtime_error("CreateProcessW failed for " + program);
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    pid_ = static_cast<int>(info.dwProcessId);
  }
  ~Win32Child() override {
    closeInput();
    if (waitForExit(std::chrono::milliseconds(0)) < 0) {
      kill();
      waitForExit(std::chrono::seconds(10));
    }
    CloseHandle(pipes_[1]);
    CloseHandle(pipes_[2]);
    CloseHandle(process_);
  }
  size_t read(int stream, char* buffer, size_t size) override {
    DWORD got = 0;
    if (!ReadFile(pipes_[stream], buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
  }
  bool writeInput(std::string_view data) override {
    while (!data.empty()) {
      DWORD written = 0;
      if (!WriteFile(input_, data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) {
        return false;
      }
      data.remove_prefix(written);
    }
    return true;
  }
  void closeInput() override {
    if (input_ != nullptr) CloseHandle(input_);
    input_ = nullptr;
  }
  int waitForExit(std::chrono::milliseconds timeout) override {
    if (WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
      return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
  }
  void kill() override { TerminateProcess(process_, 137); }
  int pid() const override { return pid_; }

 private:
  HANDLE process_ = nullptr;
  HANDLE input_ = nullptr;
  HANDLE pipes_[3] = {nullptr, nullptr, nullptr};
  int pid_ = 0;
};

}  // namespace

std::unique_ptr<ChildProcess> startChild(const std::string& program,
                                         const std::vector<std::string>& args) {
  return std::make_unique<Win32Child>(program, args);
}

std::string_view eventLineEnd() { return "\r\n"; }

}  // namespace qv::test
