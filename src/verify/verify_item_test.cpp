// The per-item check on real files: which message each kind of difference
// gets, which bytes the sampled mode reads, and what cancel and pause do.
#include "verify/verify_item.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "frame/failure_texts.h"
#include "support/fault_platform.h"
#include "support/worker_run.h"

namespace qv {
namespace {

using namespace test;

const char kMissing[] = "The source or destination is missing.";
const char kLength[] = "Verification found a file-length mismatch.";
const char kDifferent[] = "Verification found different file data.";
const char kUnsupported[] = "Unsupported verification mode.";

// A source and its copy in a scratch folder, with the item that names them.
struct FilePair {
  ScratchDir dir;
  PlannedFile item;

  FilePair(const std::string& source, const std::string& copy) {
    writeBytes(dir.path() / "source", source);
    writeBytes(dir.path() / "copy", copy);
    item.sourcePath = u16(dir.path() / "source");
    item.destinationPath = u16(dir.path() / "copy");
    item.size = source.size();
  }
  explicit FilePair(const std::string& bytes) : FilePair(bytes, bytes) {}
};

// The message of the failure verifyItem raises, or "" when it passes.
std::string outcome(const PlannedFile& item, uint8_t mode, Platform& platform = systemPlatform(),
                    uint64_t bufferSize = 4096, ControlState* control = nullptr,
                    VerifyTarget target = VerifyTarget::Destination) {
  ControlState fresh;
  Verifier verifier(platform, control ? *control : fresh);
  try {
    verifyItem(verifier, item, mode, bufferSize, target);
    return "";
  } catch (const VerificationFailure& failure) {
    return failure.what();
  }
}

TEST(VerifyItem, EqualFilesPassEveryModeAtTheWindowBoundaries) {
  for (size_t size : {0, 65535, 65537, 131073, 300001}) {
    FilePair pair(patternBytes(size));
    for (uint8_t mode = 0; mode <= 4; ++mode) {
      EXPECT_EQ(outcome(pair.item, mode, systemPlatform(), 65536), "")
          << "size " << size << " mode " << int{mode};
    }
  }
}

TEST(VerifyItem, SampledModeReadsExactlyItsThreeWindows) {
  struct Case {
    size_t size;
    size_t changed;
    bool caught;
  };
  // 1 MiB + 1: the middle window starts at (size - 65536) / 2 = 491520.
  const size_t odd = (1 << 20) + 1;
  const Case cases[] = {
      {1 << 20, 300000, false}, {odd, 65535, true}, {odd, 65536, false}, {odd, 491519, false},
      {odd, 491520, true}, {odd, 491520 + 65535, true}, {odd, 491520 + 65536, false},
      {odd, odd - 65537, false}, {odd, odd - 65536, true},
      // Three windows at 131,073: only the middle one (from 32,768) covers
      // byte 65,536.
      {131073, 65536, true},
      // Between one and two windows the first and last overlap and cover all.
      {65537, 32768, true},
  };
  for (const Case& c : cases) {
    const std::string source = patternBytes(c.size);
    std::string copy = source;
    copy[c.changed] ^= 0x40;
    FilePair pair(source, copy);
    EXPECT_EQ(outcome(pair.item, kVerifySampledBytes), c.caught ? kDifferent : "")
        << "size " << c.size << " byte " << c.changed;
  }
}

TEST(VerifyItem, ExistenceAndLengthAreCheckedBeforeTheMode) {
  struct Case {
    const char* name;
    bool sourceExists;
    bool copyExists;
    size_t copySize;
    uint64_t recordedSize;
    std::vector<uint8_t> modes;
    const char* message;
  };
  const std::vector<uint8_t> every = {0, 1, 2, 3, 4, 9};
  const Case cases[] = {
      {"no copy", true, false, 10, 10, every, kMissing},
      {"no source", false, true, 10, 10, every, kMissing},
      {"copy shorter", true, true, 9, 10, every, kLength},
      {"both differ from the record", true, true, 10, 11, every, kLength},
      {"unknown mode", true, true, 10, 10, {5, 255}, kUnsupported},
  };
  for (const Case& c : cases) {
    FilePair pair(patternBytes(10), patternBytes(c.copySize));
    pair.item.size = c.recordedSize;
    if (!c.sourceExists) std::filesystem::remove(pair.dir.path() / "source");
    if (!c.copyExists) std::filesystem::remove(pair.dir.path() / "copy");
    for (uint8_t mode : c.modes) {
      EXPECT_EQ(outcome(pair.item, mode), c.message) << c.name << " mode " << int{mode};
    }
  }
}

TEST(VerifyItem, ChecksTheReadPathAndTheChosenTarget) {
  FilePair pair(patternBytes(5000));
  writeBytes(pair.dir.path() / "other", patternBytes(4999) + "x");
  PlannedFile item = pair.item;
  item.sourcePath = u16(pair.dir.path() / "absent");
  item.readPath = u16(pair.dir.path() / "source");
  item.stagingPath = u16(pair.dir.path() / "other");
  EXPECT_EQ(outcome(item, kVerifyFullBytes), "");
  EXPECT_EQ(outcome(item, kVerifyFullBytes, systemPlatform(), 4096, nullptr,
                    VerifyTarget::Staging), kDifferent);
}

// At any buffer size, 0 (one byte at a time) included.
TEST(VerifyItem, EachModeNamesItsMismatch) {
  std::string copy = patternBytes(5000);
  copy[2500] ^= 1;
  FilePair pair(patternBytes(5000), copy);
  for (uint64_t bufferSize : {0, 4096}) {
    EXPECT_EQ(outcome(pair.item, kVerifyFullBytes, systemPlatform(), bufferSize), kDifferent);
    EXPECT_EQ(outcome(pair.item, kVerifyCrc32, systemPlatform(), bufferSize),
              "CRC32 verification failed.");
    EXPECT_EQ(outcome(pair.item, kVerifySha256, systemPlatform(), bufferSize),
              "SHA-256 verification failed.");
  }
}

TEST(VerifyItem, ACopyThatShrinksAfterTheLengthCheckDiffers) {
  const std::string bytes = patternBytes(200000);
  for (uint8_t mode : {kVerifySampledBytes, kVerifyFullBytes}) {
    FilePair pair(bytes);
    FaultPlatform platform(systemPlatform());
    platform.addHook(Op::ReadFileInfo, When::After, [&](const std::u16string&) {
      std::filesystem::resize_file(pair.dir.path() / "copy", 150000);
    }, {pair.item.destinationPath});
    EXPECT_EQ(outcome(pair.item, mode, platform), kDifferent) << int{mode};
  }
}

TEST(VerifyItem, SystemFailuresCarryTheSystemText) {
  FilePair pair(patternBytes(1000));
  const SysError code = systemPlatform().pathNotFoundError();
  const std::string text = systemErrorText(systemPlatform(), code);
  for (uint8_t mode = 1; mode <= 4; ++mode) {
    FaultPlatform platform(systemPlatform());
    platform.failCalls(Op::OpenForRead, code, {pair.item.destinationPath});
    EXPECT_EQ(outcome(pair.item, mode, platform), "Unable to open file for verification: " + text)
        << int{mode};
    platform.clear();
    platform.failCalls(Op::Read, code, {pair.item.sourcePath});
    EXPECT_EQ(outcome(pair.item, mode, platform), "Verification read failed: " + text) << int{mode};
  }
}

// A platform whose SHA-256 computations fail while feeding, or else while finishing.
struct BrokenSha256 : Sha256 {
  explicit BrokenSha256(bool u) : inUpdate(u) {}
  bool update(const void*, size_t) override { return !inUpdate; }
  bool finish(uint8_t[32]) override { return inUpdate; }
  bool inUpdate;
};
struct BrokenHashPlatform : FaultPlatform {
  explicit BrokenHashPlatform(bool u) : FaultPlatform(systemPlatform()), inUpdate(u) {}
  std::unique_ptr<Sha256> createSha256(Sha256Failure& failure) override {
    failure = Sha256Failure::None;
    return std::make_unique<BrokenSha256>(inUpdate);
  }
  bool inUpdate;
};

TEST(VerifyItem, EachSha256StepHasItsMessage) {
  FilePair pair(patternBytes(1000));
  const std::pair<Sha256Failure, const char*> setups[] = {
      {Sha256Failure::OpenProvider, "Unable to initialize SHA-256."},
      {Sha256Failure::QueryObjectLength, "Unable to query SHA-256 state."},
      {Sha256Failure::CreateHash, "Unable to create SHA-256 state."},
  };
  for (const auto& [step, message] : setups) {
    FaultPlatform platform(systemPlatform());
    platform.failCalls(Op::CreateSha256, static_cast<SysError>(step), {{}, 0, 1});
    EXPECT_EQ(outcome(pair.item, kVerifySha256, platform), message);
  }
  BrokenHashPlatform update(true), finish(false);
  EXPECT_EQ(outcome(pair.item, kVerifySha256, update), "SHA-256 hashing failed.");
  EXPECT_EQ(outcome(pair.item, kVerifySha256, finish), "Unable to finish SHA-256.");
}

// A job cancelled before the check, or while the check waits at the pause
// gate, ends every reading mode.
TEST(VerifyItem, ACancelEndsEveryReadingMode) {
  FilePair pair(patternBytes(100000));
  ControlState cancelled;
  cancelled.cancel();
  EXPECT_EQ(outcome(pair.item, kVerifyNone, systemPlatform(), 4096, &cancelled), "");
  for (uint8_t mode = 1; mode <= 4; ++mode) {
    EXPECT_EQ(outcome(pair.item, mode, systemPlatform(), 4096, &cancelled), kCancelledMessage)
        << int{mode};
    ControlState control;
    control.pause();
    std::string result = "not finished";
    std::thread check([&] { result = outcome(pair.item, mode, systemPlatform(), 4096, &control); });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    control.cancel();
    check.join();
    EXPECT_EQ(result, kCancelledMessage) << int{mode};
  }
}

}  // namespace
}  // namespace qv
