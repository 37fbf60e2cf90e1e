// Checks of the Windows platform that the shared contract test cannot make:
// the exact forms of final paths, the Windows meaning of attribute words and
// error codes, and an exception thrown through the system copier.
#include "platform/win32/win32_platform.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>

#include "platform/win32/win32_text.h"
#include "support/worker_run.h"

namespace qv::win32 {
namespace {

Platform& platform() { return systemPlatform(); }

// Wine answers some calls differently from Windows; the tests say where.
bool runningUnderWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

TEST(Win32FinalPath, DropsTheLongPrefixAndGrowsItsBufferPast260Units) {
  test::ScratchDir temp;
  std::u16string plain;
  ASSERT_EQ(platform().finalPath(temp.path().u16string(), plain), 0u);
  ASSERT_GE(plain.size(), 3u);
  EXPECT_EQ(plain.substr(1, 2), u":\\");
  std::u16string prefixed;
  ASSERT_EQ(platform().finalPath(u"\\\\?\\" + plain, prefixed), 0u);
  EXPECT_EQ(prefixed, plain);

  // Long paths need the prefix to be created on every Windows version.
  std::u16string deep = u"\\\\?\\" + plain;
  const std::u16string name(60, u'n');
  for (int i = 0; i < 6; ++i) {
    deep += u"\\" + name;
    ASSERT_EQ(platform().createDirectory(deep), 0u);
  }
  std::u16string resolved;
  const SysError error = platform().finalPath(deep, resolved);
  if (runningUnderWine()) {
    // Wine 8 answers ERROR_MORE_DATA for any final path past 260 units,
    // whatever the buffer.
    EXPECT_EQ(error, static_cast<SysError>(ERROR_MORE_DATA));
  } else {
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(resolved, deep.substr(4));
  }
  for (int i = 0; i < 6; ++i) {
    RemoveDirectoryW(wide(deep));
    deep.resize(deep.size() - name.size() - 1);
  }
}

TEST(Win32Attributes, PreservedWordDropsFolderAndReparseBits) {
  const std::pair<uint32_t, uint32_t> cases[] = {
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, FILE_ATTRIBUTE_NORMAL},
      {FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN,
       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN},
  };
  for (const auto& [source, preserved] : cases) {
    FileInfo info;
    info.attributes = source;
    EXPECT_EQ(platform().attributesToPreserve(info), preserved) << source;
  }
}

// Codes no call in the shared contract test meets.
TEST(Win32Errors, PredicatesKnowTheWindowsCodes) {
  for (SysError code : {53u, 64u, 123u, 161u, 267u}) {
    EXPECT_TRUE(platform().isNotFoundFamily(code)) << code;
  }
  EXPECT_FALSE(platform().isNotFoundFamily(5));
  EXPECT_TRUE(platform().isAlreadyExists(80));
  EXPECT_TRUE(platform().isAccessDenied(5));
  EXPECT_EQ(platform().errorNumberLabel(), "Windows error ");
  EXPECT_TRUE(platform().systemErrorMessage(0x20001234).empty());
}

// Progress, order and cancel of the large copy are checked by the shared
// contract test; what is left is an exception thrown by the callback.
TEST(Win32Copier, ExceptionFromTheProgressCallbackReachesTheCaller) {
  test::ScratchDir temp;
  test::writeBytes(temp.path() / "source", std::string(3 * 1024 * 1024 + 7, 'x'));
  bool thrown = false;
  try {
    platform().copyLargeFile((temp.path() / "source").u16string(),
                             (temp.path() / "thrown").u16string(), ExistingTarget::Replace,
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

}  // namespace
}  // namespace qv::win32
