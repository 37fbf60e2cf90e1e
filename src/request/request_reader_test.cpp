#include "request/request_reader.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "request_writer/request_writer.h"

// Cut points and hostile counts are swept by fuzz/request_reader_fuzz.cpp;
// here, every refusal sentence once, byte for byte, and the order of checks.
namespace qv {
namespace {

using tools::RequestFields;
using tools::writeRequest;

// Written out rather than taken from the header, so a typo there shows.
const std::string kSignature = "The native worker request has an invalid signature.";
const std::string kVersion = "The app and native worker protocol versions do not match.";
const std::string kEnded = "The native worker request ended unexpectedly.";
const std::string kTooLarge = "A native worker request string is too large.";
const std::string kNotUtf8 = "A native worker request path is not valid UTF-8.";
const std::string kRoots = "The native worker request has too many source roots.";
const std::string kFiles = "The native worker request has too many files.";
const std::string kDirectories = "The native worker request has too many directories.";

// The message `bytes` is refused with, or "" when the request loads.
std::string refusalOf(const std::string& bytes) {
  try {
    parseRequest(bytes);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

// Every field set to a value no other field holds; integers with distinct
// bytes so that a swapped or misordered read shows.
RequestFields fullRequest() {
  return {.verifyOnly = 2, .conflictPolicy = 7, .verificationMode = 9, .reserved = 0xAB,
          .workerCount = 0x01020304, .minimumWorkerCount = 0x05060708,
          .verifyWorkerCount = 0x090A0B0C, .bufferSize = 0x0D0E0F10, .retryCount = 0x11121314,
          .optionFlags = 0x80000029, .smallFileThreshold = 0x15161718,
          .readAheadQueueFiles = 0x191A1B1C, .memoryBudgetMiB = 0x1D1E1F20,
          .destinationRoot = "D:\\Ziel\xC3\xA9",
          .sourceRoots = {"C:\\a", "", "/r\xF0\x9F\x98\x80"},
          .files = {{"C:\\a\\x.txt", "\\\\?\\C:\\x", "d\xE2\x82\xAC", 0x1122334455667788,
                     0x8877665544332211}},
          .directories = {{"C:\\a\\sub", "\\\\?\\C:\\a\\sub", "D:\\sub"}}};
}

template <typename Change>
std::string withFields(Change change, RequestFields f = fullRequest()) {
  change(f);
  return writeRequest(f);
}

TEST(RequestReaderTest, RoundTripsEveryFieldAndIgnoresTrailingBytes) {
  const LoadedRequest loaded =
      parseRequest(writeRequest(fullRequest()) + std::string("\xFF\x80\0QVCWREQ1", 11));
  const WorkerRequest& r = loaded.request;
  const PlannedFile& f = loaded.plan.files.at(0);
  const PlannedDirectory& d = loaded.plan.directories.at(0);
  EXPECT_EQ(
      (std::vector<uint64_t>{r.verifyOnly, r.conflictPolicy, r.verificationMode, r.workerCount,
                             r.minimumWorkerCount, r.verifyWorkerCount, r.bufferSize, r.retryCount,
                             r.optionFlags, r.smallFileThreshold, r.readAheadQueueFiles,
                             r.memoryBudgetMiB, f.size, f.lastWriteTime}),
      (std::vector<uint64_t>{2, 7, 9, 0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10, 0x11121314,
                             0x80000029, 0x15161718, 0x191A1B1C, 0x1D1E1F20, 0x1122334455667788,
                             0x8877665544332211}));
  EXPECT_TRUE(hasOption(r, kPreserveTimestamps) && hasOption(r, kPrePlanned) &&
              hasOption(r, kDirectWrite) && !hasOption(r, kSmallFileReadAhead));
  EXPECT_EQ(r.destinationRoot, u"D:\\Ziel\u00E9");
  EXPECT_EQ(r.sourceRoots, (std::vector<std::u16string>{u"C:\\a", u"", u"/r\U0001F600"}));
  EXPECT_EQ((std::vector<std::u16string>{f.sourcePath, f.readPath, f.destinationPath, d.sourcePath,
                                         d.readPath, d.destinationPath}),
            (std::vector<std::u16string>{u"C:\\a\\x.txt", u"\\\\?\\C:\\x", u"d\u20AC",
                                         u"C:\\a\\sub", u"\\\\?\\C:\\a\\sub", u"D:\\sub"}));
}

TEST(RequestReaderTest, RefusesWithTheFirstProblemInFileOrder) {
  // A head that ends with the destination root's length prefix, set to
  // `length`, with none of the string's bytes after it.
  const auto endingWithRootLength = [](uint32_t length) {
    tools::RequestOffsets at;
    const std::string full = writeRequest(RequestFields{}, &at);
    std::string bytes = tools::truncateAt(full, at.destinationRoot + 4);
    tools::patchU32(bytes, at.destinationRoot, length);
    return bytes;
  };
  std::string versionOnly = writeRequest(RequestFields{}).substr(0, 12);
  tools::patchU32(versionOnly, 8, 2);
  const struct {
    const char* name;
    std::string bytes;
    const std::string& message;
  } rows[] = {
      {"signature before version",
       withFields([](auto& f) { f.signature = "qvcwreq1"; f.protocolVersion = 2; }), kSignature},
      {"older version before a short body", versionOnly, kVersion},
      {"string length 16777217", endingWithRootLength(16777217), kTooLarge},
      {"string length 16777216 passes, its bytes are missing", endingWithRootLength(16777216),
       kEnded},
      {"invalid UTF-8 before too many roots",
       withFields([](auto& f) { f.destinationRoot = "\xC0\xAF"; f.sourceRootCount = 1000001; }),
       kNotUtf8},
      {"1000001 source roots",
       withFields([](auto& f) { f.sourceRoots.clear(); f.sourceRootCount = 1000001; }), kRoots},
      {"100000001 files",
       withFields([](auto& f) { f.files.clear(); f.fileCount = 100000001; }), kFiles},
      {"100000001 directories",
       withFields([](auto& f) { f.directories.clear(); f.directoryCount = 100000001; }),
       kDirectories},
      // A count at its limit passes; the missing entries are a short read,
      // not a multi-gigabyte reservation.
      {"100000000 files, none present",
       withFields([](auto& f) { f.fileCount = 100000000; }, RequestFields{}), kEnded},
  };
  for (const auto& row : rows) EXPECT_EQ(refusalOf(row.bytes), row.message) << row.name;
}

}  // namespace
}  // namespace qv
