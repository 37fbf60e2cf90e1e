#include <windows.h>

#include <stdexcept>

#include "frontend/worker_process.h"

namespace qv::tools {
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

class Win32Worker : public WorkerProcess {
 public:
  Win32Worker(const std::filesystem::path& program, const std::vector<std::string>& args) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE inRead = nullptr, outWrite = nullptr;
    if (!CreatePipe(&inRead, &input_, &inherit, 0) ||
        !CreatePipe(&output_, &outWrite, &inherit, 0)) {
      throw std::runtime_error("Unable to create the worker's pipes.");
    }
    // Only the child's ends may be inherited.
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
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
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    // A new process group does not receive the console's Ctrl-C: the front
    // end turns that into a "cancel" line instead.
    const BOOL ok = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE,
                                   CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup, &info);
    const DWORD error = GetLastError();
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (!ok) {
      CloseHandle(input_);
      CloseHandle(output_);
      throw std::runtime_error("Unable to start " + program.string() + " (error " +
                               std::to_string(error) + ")");
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
  }
  ~Win32Worker() override {
    CloseHandle(input_);
    CloseHandle(output_);
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
      kill();
      WaitForSingleObject(process_, INFINITE);
    }
    CloseHandle(process_);
  }

  bool sendLine(std::string_view line) override {
    std::string data(line);
    data += '\n';
    std::string_view rest = data;
    while (!rest.empty()) {
      DWORD written = 0;
      if (!WriteFile(input_, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr)) {
        return false;
      }
      rest.remove_prefix(written);
    }
    return true;
  }

  void kill() override { TerminateProcess(process_, 1); }

  int wait() override {
    WaitForSingleObject(process_, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process_, &code);
    return static_cast<int>(code);
  }

 protected:
  size_t readOutput(char* buffer, size_t size) override {
    DWORD got = 0;
    if (!ReadFile(output_, buffer, static_cast<DWORD>(size), &got, nullptr)) return 0;
    return got;
  }

 private:
  HANDLE process_ = nullptr;
  HANDLE input_ = nullptr;
  HANDLE output_ = nullptr;
};

}  // namespace

std::unique_ptr<WorkerProcess> startWorker(const std::filesystem::path& program,
                                           const std::vector<std::string>& args) {
  return std::make_unique<Win32Worker>(program, args);
}

}  // namespace qv::tools
