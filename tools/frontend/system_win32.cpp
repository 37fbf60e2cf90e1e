#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <stdexcept>

#include "frontend/system.h"

namespace qv::tools {
namespace {

std::atomic<int> interrupts{0};

BOOL WINAPI onControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  interrupts.fetch_add(1);
  return TRUE;
}

std::string narrow(const wchar_t* text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.pop_back();  // the terminator
  return out;
}

bool isConsole(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

}  // namespace

std::vector<std::string> commandLineUtf8(int, char**) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(narrow(wide[i]));
  LocalFree(wide);
  return args;
}

void prepareConsoleOutput() {
  SetConsoleOutputCP(CP_UTF8);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  }
}

std::filesystem::path executableDirectory() {
  std::wstring path(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n);
  return std::filesystem::path(path).parent_path();
}

std::string workerFileName() { return "Quorvel.NativeWorker.exe"; }

bool standardOutputIsTerminal() { return isConsole(STD_OUTPUT_HANDLE); }
bool standardInputIsTerminal() { return isConsole(STD_INPUT_HANDLE); }

int terminalWidth() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

std::filesystem::path writePrivateTempFile(const std::string& bytes) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path();
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path path =
        folder / ("quorvel-request-" + std::to_string(GetCurrentProcessId()) + "-" +
                  std::to_string(GetTickCount64() + attempt) + ".bin");
    // CREATE_NEW never opens a file someone else put there first; the file
    // inherits the user's temporary folder's access rights.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      break;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr);
    CloseHandle(file);
    if (ok && written == bytes.size()) return path;
    DeleteFileW(path.c_str());
    break;
  }
  throw std::runtime_error("Unable to write the request to the temporary folder.");
}

void catchInterrupts() { SetConsoleCtrlHandler(onControl, TRUE); }

int interruptCount() { return interrupts.load(); }

struct KeyReader::State {
  HANDLE input = nullptr;
  DWORD savedMode = 0;
};

KeyReader::KeyReader() : state_(new State) {
  state_->input = GetStdHandle(STD_INPUT_HANDLE);
  if (GetConsoleMode(state_->input, &state_->savedMode)) {
    // Keys arrive one by one without echo; Ctrl-C stays a signal.
    SetConsoleMode(state_->input, ENABLE_PROCESSED_INPUT);
  }
}

KeyReader::~KeyReader() {
  SetConsoleMode(state_->input, state_->savedMode);
  delete state_;
}

char KeyReader::poll(std::chrono::milliseconds timeout) {
  if (WaitForSingleObject(state_->input, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    return 0;
  }
  INPUT_RECORD record{};
  DWORD got = 0;
  if (!ReadConsoleInputW(state_->input, &record, 1, &got) || got == 0) return 0;
  if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return 0;
  const wchar_t c = record.Event.KeyEvent.uChar.UnicodeChar;
  return c < 128 ? static_cast<char>(c) : 0;
}

}  // namespace qv::tools
