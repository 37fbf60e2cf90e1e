// Checks of the Windows platform that the shared contract test cannot make:
// the exact forms of final paths, the text-mode line reader on a real pipe,
// and the Windows meaning of attribute words and error codes.
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/win32_text.h"

namespace qv::win32 {
namespace {

Platform& platform() { return systemPlatform(); }

// Wine answers some calls differently from Windows; the tests say where.
bool runningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A fresh folder under the temporary folder, removed with its contents.
class TempFolder {
 public:
  TempFolder() {
    DWORD size = GetTempPathW(0, nullptr);
    std::wstring folder(size, L'\0');
    folder.resize(GetTempPathW(size, folder.data()));
    static std::atomic<unsigned> counter{0};
    folder += L"qv-win32-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
              std::to_wstring(counter++);
    path_ = fromWide(folder.data(), folder.size());
    EXPECT_EQ(platform().createDirectory(path_), 0u);
  }
  ~TempFolder() { removeTree(path_); }

  const std::u16string& path() const { return path_; }
  std::u16string operator/(const std::u16string& name) const {
    return path_ + u"\\" + name;
  }

 private:
  static void removeTree(const std::u16string& folder) {
    platform().listDirectory(folder, [&](const Platform::DirectoryEntry& entry) {
      std::u16string child = folder + u"\\" + entry.name;
      SetFileAttributesW(wide(child), FILE_ATTRIBUTE_NORMAL);
      if (entry.kind == Platform::DirectoryEntry::Kind::Directory) {
        removeTree(child);
      } else {
        DeleteFileW(wide(child));
      }
      return true;
    });
    RemoveDirectoryW(wide(folder));
  }

  std::u16string path_;
};

void writeFile(const std::u16string& path, const std::string& data) {
  std::unique_ptr<WritableFile> file;
  ASSERT_EQ(platform().createStagingFile(path, file), 0u);
  size_t written = 0;
  ASSERT_EQ(file->write(data.data(), data.size(), written), 0u);
  ASSERT_EQ(file->close(), 0u);
}

TEST(Win32FinalPath, DropsTheLongPrefixOfADrivePath) {
  TempFolder temp;
  std::u16string plain;
  ASSERT_EQ(platform().finalPath(temp.path(), plain), 0u);
  ASSERT_GE(plain.size(), 3u);
  EXPECT_EQ(plain[1], u':');
  EXPECT_EQ(plain[2], u'\\');

  std::u16string prefixed;
  ASSERT_EQ(platform().finalPath(u"\\\\?\\" + plain, prefixed), 0u);
  EXPECT_EQ(prefixed, plain);
}

TEST(Win32FinalPath, GrowsItsBufferForPathsPast260Units) {
  TempFolder temp;
  std::u16string resolvedRoot;
  ASSERT_EQ(platform().finalPath(temp.path(), resolvedRoot), 0u);
  // Long paths need the prefix to be created on every Windows version.
  std::u16string deep = u"\\\\?\\" + resolvedRoot;
  std::u16string expected = resolvedRoot;
  const std::u16string name(60, u'n');
  for (int i = 0; i < 6; ++i) {
    deep += u"\\" + name;
    expected += u"\\" + name;
    ASSERT_EQ(platform().createDirectory(deep), 0u);
  }
  ASSERT_GT(expected.size(), 300u);
  std::u16string resolved;
  SysError error = platform().finalPath(deep, resolved);
  if (runningUnderWine()) {
    // Wine 8 answers ERROR_MORE_DATA for any final path past 260 units,
    // whatever the buffer.
    EXPECT_EQ(error, static_cast<SysError>(ERROR_MORE_DATA));
  } else {
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(resolved, expected);
  }
  for (int i = 0; i < 6; ++i) {
    RemoveDirectoryW(wide(deep));
    deep.resize(deep.size() - name.size() - 1);
  }
}

TEST(Win32Directory, ListsADrivePathWithOrWithoutTrailingSeparator) {
  TempFolder temp;
  writeFile(temp / u"a.txt", "a");
  ASSERT_EQ(platform().createDirectory(temp / u"sub"), 0u);
  for (const std::u16string& path : {temp.path(), temp.path() + u"\\"}) {
    int files = 0, folders = 0;
    ASSERT_EQ(platform().listDirectory(path,
                                       [&](const Platform::DirectoryEntry& e) {
                                         using Kind = Platform::DirectoryEntry::Kind;
                                         files += e.kind == Kind::File && e.name == u"a.txt";
                                         folders += e.kind == Kind::Directory && e.name == u"sub";
                                         return true;
                                       }),
              0u);
    EXPECT_EQ(files, 1);
    EXPECT_EQ(folders, 1);
  }
}

TEST(Win32Attributes, PreservedWordDropsFolderAndReparseBits) {
  struct Case {
    uint32_t source;
    uint32_t preserved;
  } cases[] = {
      {0x0, FILE_ATTRIBUTE_NORMAL},
      {FILE_ATTRIBUTE_DIRECTORY, FILE_ATTRIBUTE_NORMAL},
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, FILE_ATTRIBUTE_NORMAL},
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY, FILE_ATTRIBUTE_READONLY},
      {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN,
       FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN},
  };
  for (const Case& c : cases) {
    FileInfo info;
    info.attributes = c.source;
    EXPECT_EQ(platform().attributesToPreserve(info), c.preserved) << c.source;
  }
}

TEST(Win32Errors, PredicatesKnowTheWindowsCodes) {
  for (SysError code : {2u, 3u, 53u, 64u, 123u, 161u, 267u}) {
    EXPECT_TRUE(platform().isNotFoundFamily(code)) << code;
  }
  for (SysError code : {0u, 5u, 80u, 183u}) {
    EXPECT_FALSE(platform().isNotFoundFamily(code)) << code;
  }
  EXPECT_TRUE(platform().isAlreadyExists(80));
  EXPECT_TRUE(platform().isAlreadyExists(183));
  EXPECT_FALSE(platform().isAlreadyExists(5));
  EXPECT_TRUE(platform().isAccessDenied(5));
  EXPECT_EQ(platform().pathNotFoundError(), 3u);
  EXPECT_EQ(platform().errorNumberLabel(), "Windows error ");
  EXPECT_FALSE(platform().systemErrorMessage(2).empty());
  EXPECT_TRUE(platform().systemErrorMessage(0x20001234).empty());
}

// Progress, order and cancel of the large copy are checked by the shared
// contract test; what is left is an exception thrown by the callback.
TEST(Win32Copier, ExceptionFromTheProgressCallbackReachesTheCaller) {
  TempFolder temp;
  writeFile(temp / u"source", std::string(3 * 1024 * 1024 + 7, 'x'));
  bool thrown = false;
  try {
    platform().copyLargeFile(temp / u"source", temp / u"thrown", ExistingTarget::Replace,
                             [](uint64_t) -> CopyProgress {
                               throw std::runtime_error("callback");
                             });
  } catch (const std::runtime_error&) {
    thrown = true;
  }
  // Wine 8's copier never calls the progress routine.
  if (!thrown && runningUnderWine()) GTEST_SKIP() << "the system copier reports no progress";
  EXPECT_TRUE(thrown);
}

std::string sha256Hex(const std::string& message) {
  Sha256Failure failure = Sha256Failure::CreateHash;
  std::unique_ptr<Sha256> hash = platform().createSha256(failure);
  if (hash == nullptr || failure != Sha256Failure::None) return "no hash";
  uint8_t digest[32];
  if (!hash->update(message.data(), message.size()) || !hash->finish(digest)) {
    return "failed";
  }
  // A finished hash takes nothing more.
  if (hash->update("x", 1) || hash->finish(digest)) return "reused";
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

TEST(Win32Sha256, ThreadsKeepTheirOwnProviderAndCloseIt) {
  const std::string empty =
      "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
  const std::string abc =
      "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
  std::vector<std::string> results(8 * 3);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < 8; ++t) {
    threads.emplace_back([&results, t] {
      results[t * 3] = sha256Hex("");
      results[t * 3 + 1] = sha256Hex("abc");
      results[t * 3 + 2] = sha256Hex(std::string(1000000, 'a'));
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t t = 0; t < 8; ++t) {
    EXPECT_EQ(results[t * 3], empty);
    EXPECT_EQ(results[t * 3 + 1], abc);
    EXPECT_EQ(results[t * 3 + 2],
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  }
}

// Puts a pipe in place of standard input for one test.
class PipedInput {
 public:
  PipedInput() {
    saved_ = GetStdHandle(STD_INPUT_HANDLE);
    CreatePipe(&read_, &write_, nullptr, 0);
    SetStdHandle(STD_INPUT_HANDLE, read_);
  }
  ~PipedInput() {
    SetStdHandle(STD_INPUT_HANDLE, saved_);
    closeWriter();
    CloseHandle(read_);
  }
  void send(const std::string& text) {
    DWORD written = 0;
    WriteFile(write_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  }
  void closeWriter() {
    if (write_ != nullptr) CloseHandle(write_);
    write_ = nullptr;
  }

 private:
  HANDLE saved_ = nullptr;
  HANDLE read_ = nullptr;
  HANDLE write_ = nullptr;
};

TEST(Win32LineReader, DropsOneCarriageReturnBeforeEachLineFeed) {
  PipedInput input;
  std::unique_ptr<LineReader> reader = platform().openStandardInput();
  input.send("cancel\r\npause\nx\ry\r\r\n\n");
  input.send("last");
  input.closeWriter();
  const char* expected[] = {"cancel", "pause", "x\ry\r", "", "last"};
  std::string line;
  for (const char* want : expected) {
    ASSERT_TRUE(reader->readLine(line));
    EXPECT_EQ(line, want);
  }
  EXPECT_FALSE(reader->readLine(line));
}

TEST(Win32LineReader, LineSplitAcrossWritesArrivesWhole) {
  PipedInput input;
  std::unique_ptr<LineReader> reader = platform().openStandardInput();
  std::string line;
  std::thread writer([&] {
    input.send("res");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    input.send("ume\r");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    input.send("\n");
  });
  ASSERT_TRUE(reader->readLine(line));
  EXPECT_EQ(line, "resume");
  writer.join();
}

TEST(Win32LineReader, CancelEndsAPendingReadWithTheInputStillOpen) {
  PipedInput input;
  std::unique_ptr<LineReader> reader = platform().openStandardInput();
  std::atomic<bool> returned{false};
  bool result = true;
  std::thread control([&] {
    std::string line;
    result = reader->readLine(line);
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned);
  reader->cancel();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!returned && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(returned) << "the read was not cancelled";
  control.join();
  EXPECT_FALSE(result);
  std::string line;
  input.send("pause\n");
  EXPECT_FALSE(reader->readLine(line));
  reader->cancel();
}

TEST(Win32LineReader, CancelRacingTheReadStillEndsIt) {
  PipedInput input;
  for (int i = 0; i < 100; ++i) {
    std::unique_ptr<LineReader> reader = platform().openStandardInput();
    std::thread control([&] {
      std::string line;
      while (reader->readLine(line)) {
      }
    });
    if (i % 2 == 0) std::this_thread::yield();
    reader->cancel();
    control.join();  // hangs if a cancel was lost
  }
}

}  // namespace
}  // namespace qv::win32
