#include "request/request_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "request_writer/request_writer.h"

namespace qv {
namespace {

using tools::patchU32;
using tools::RequestFields;
using tools::RequestOffsets;
using tools::truncateAt;
using tools::writeRequest;

// Written out rather than taken from the header, so a typo there shows.
const std::string kEnded = "The native worker request ended unexpectedly.";
const std::string kSignature = "The native worker request has an invalid signature.";
const std::string kVersion = "The app and native worker protocol versions do not match.";
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
  RequestFields f;
  f.verifyOnly = 2;
  f.conflictPolicy = 7;
  f.verificationMode = 9;
  f.reserved = 0xAB;
  f.workerCount = 0x01020304;
  f.minimumWorkerCount = 0x05060708;
  f.verifyWorkerCount = 0x090A0B0C;
  f.bufferSize = 0x0D0E0F10;
  f.retryCount = 0x11121314;
  f.optionFlags = 0x80000029;
  f.smallFileThreshold = 0x15161718;
  f.readAheadQueueFiles = 0x191A1B1C;
  f.memoryBudgetMiB = 0x1D1E1F20;
  f.destinationRoot = "D:\\Ziel\xC3\xA9";
  f.sourceRoots = {"C:\\a", "", "/r\xF0\x9F\x98\x80"};
  f.files = {{"C:\\a\\x.txt", "", "D:\\x.txt", 0x1122334455667788, 0x8877665544332211},
             {"s2", "\\\\?\\C:\\s2", "d\xE2\x82\xAC", 0, 1}};
  f.directories = {{"", "", "D:\\empty"}, {"C:\\a\\sub", "\\\\?\\C:\\a\\sub", "D:\\sub"}};
  return f;
}

using Change = std::function<void(RequestFields&)>;

std::string withFields(const Change& change, RequestFields f = fullRequest()) {
  change(f);
  return writeRequest(f);
}

// Only zero counts follow the changed count, so nothing but a short read can
// stop the parse after the count check.
std::string emptyWith(const Change& change) {
  return withFields(change, RequestFields{});
}

// A valid head that ends with the destination root's length prefix, set to
// `length` with none of the string's bytes after it.
std::string endingWithRootLength(uint32_t length) {
  RequestOffsets at;
  const std::string full = writeRequest(RequestFields{}, &at);
  std::string bytes = truncateAt(full, at.destinationRoot + 4);
  patchU32(bytes, at.destinationRoot, length);
  return bytes;
}

TEST(RequestReaderTest, RoundTripsEveryField) {
  const LoadedRequest loaded = parseRequest(writeRequest(fullRequest()));
  const WorkerRequest& r = loaded.request;
  const JobPlan& plan = loaded.plan;
  EXPECT_EQ(r.verifyOnly, 2);
  EXPECT_EQ(r.conflictPolicy, 7);
  EXPECT_EQ(r.verificationMode, 9);
  EXPECT_EQ(r.workerCount, 0x01020304u);
  EXPECT_EQ(r.minimumWorkerCount, 0x05060708u);
  EXPECT_EQ(r.verifyWorkerCount, 0x090A0B0Cu);
  EXPECT_EQ(r.bufferSize, 0x0D0E0F10u);
  EXPECT_EQ(r.retryCount, 0x11121314u);
  EXPECT_EQ(r.optionFlags, 0x80000029u);
  EXPECT_TRUE(hasOption(r, kPreserveTimestamps) && hasOption(r, kPrePlanned) &&
              hasOption(r, kDirectWrite) && !hasOption(r, kSmallFileReadAhead));
  EXPECT_EQ(r.smallFileThreshold, 0x15161718u);
  EXPECT_EQ(r.readAheadQueueFiles, 0x191A1B1Cu);
  EXPECT_EQ(r.memoryBudgetMiB, 0x1D1E1F20u);
  EXPECT_EQ(r.destinationRoot, u"D:\\Ziel\u00E9");
  EXPECT_EQ(r.sourceRoots, (std::vector<std::u16string>{u"C:\\a", u"", u"/r\U0001F600"}));

  ASSERT_EQ(plan.files.size(), 2u);
  EXPECT_EQ(plan.files[0].sourcePath, u"C:\\a\\x.txt");
  EXPECT_EQ(plan.files[0].readPath, u"");
  EXPECT_EQ(plan.files[0].destinationPath, u"D:\\x.txt");
  EXPECT_EQ(plan.files[0].size, 0x1122334455667788u);
  EXPECT_EQ(plan.files[0].lastWriteTime, 0x8877665544332211u);
  EXPECT_EQ(plan.files[1].sourcePath, u"s2");
  EXPECT_EQ(plan.files[1].readPath, u"\\\\?\\C:\\s2");
  EXPECT_EQ(plan.files[1].destinationPath, u"d\u20AC");
  EXPECT_EQ(plan.files[1].size, 0u);
  EXPECT_EQ(plan.files[1].lastWriteTime, 1u);
  for (const PlannedFile& file : plan.files) {
    EXPECT_TRUE(file.stagingPath.empty());
    EXPECT_FALSE(file.resolved || file.copied || file.committed);
  }

  ASSERT_EQ(plan.directories.size(), 2u);
  EXPECT_EQ(plan.directories[0].sourcePath, u"");
  EXPECT_EQ(plan.directories[0].readPath, u"");
  EXPECT_EQ(plan.directories[0].destinationPath, u"D:\\empty");
  EXPECT_EQ(plan.directories[1].sourcePath, u"C:\\a\\sub");
  EXPECT_EQ(plan.directories[1].readPath, u"\\\\?\\C:\\a\\sub");
  EXPECT_EQ(plan.directories[1].destinationPath, u"D:\\sub");
}

TEST(RequestReaderTest, IgnoresBytesAfterTheLastDirectory) {
  const JobPlan plan =
      parseRequest(writeRequest(fullRequest()) + std::string("\xFF\x80\0QVCWREQ1", 11)).plan;
  ASSERT_EQ(plan.directories.size(), 2u);
  EXPECT_EQ(plan.directories[1].destinationPath, u"D:\\sub");

  const LoadedRequest empty = parseRequest(writeRequest(RequestFields{}) + "trailing");
  EXPECT_TRUE(empty.request.sourceRoots.empty() && empty.plan.files.empty() &&
              empty.plan.directories.empty());
}

TEST(RequestReaderTest, AcceptsValuesAtTheirLimits) {
  RequestFields longString;
  longString.destinationRoot.assign(16777216, 'a');
  EXPECT_EQ(parseRequest(writeRequest(longString)).request.destinationRoot.size(), 16777216u);

  RequestFields manyRoots;
  manyRoots.sourceRoots.assign(1000000, "");
  EXPECT_EQ(parseRequest(writeRequest(manyRoots)).request.sourceRoots.size(), 1000000u);
}

// A cut anywhere in a valid request, even inside a length prefix, a number
// or a multi-byte character, is a short read.
TEST(RequestReaderTest, EveryStrictPrefixEndsUnexpectedly) {
  const std::string bytes = writeRequest(fullRequest());
  for (size_t length = 0; length < bytes.size(); ++length) {
    EXPECT_EQ(refusalOf(bytes.substr(0, length)), kEnded) << "cut at " << length;
  }
  EXPECT_EQ(refusalOf(bytes), "");
}

TEST(RequestReaderTest, RefusesWithTheFirstProblemInFileOrder) {
  struct Row {
    const char* name;
    std::function<std::string()> bytes;
    const std::string& message;
  };
  const std::string header = writeRequest(RequestFields{}).substr(0, 12);
  const Row rows[] = {
      {"other signature", [] { return withFields([](auto& f) { f.signature = "QVCWREQ2"; }); }, kSignature},
      {"lower-case signature", [] { return withFields([](auto& f) { f.signature = "qvcwreq1"; }); }, kSignature},
      {"signature before version",
       [] { return withFields([](auto& f) { f.signature = "XXXXXXXX"; f.protocolVersion = 2; }); }, kSignature},
      {"version 2", [] { return withFields([](auto& f) { f.protocolVersion = 2; }); }, kVersion},
      {"version 4", [] { return withFields([](auto& f) { f.protocolVersion = 4; }); }, kVersion},
      {"version 3 big-endian",
       [] { return withFields([](auto& f) { f.protocolVersion = 0x03000000; }); }, kVersion},
      {"version before short body", [&] { std::string b = header; patchU32(b, 8, 2); return b; }, kVersion},
      {"string length 16777217", [] { return endingWithRootLength(16777217); }, kTooLarge},
      {"string length 0xFFFFFFFF", [] { return endingWithRootLength(0xFFFFFFFF); }, kTooLarge},
      {"string length 16777216 with no bytes", [] { return endingWithRootLength(16777216); }, kEnded},
      {"lone continuation byte",
       [] { return withFields([](auto& f) { f.sourceRoots[1] = "\x80"; }); }, kNotUtf8},
      {"lead byte at the end of a string",
       [] { return withFields([](auto& f) { f.files[1].readPath = "abc\xC3"; }); }, kNotUtf8},
      {"encoded surrogate",
       [] { return withFields([](auto& f) { f.directories[1].destinationPath = "\xED\xA0\x80"; }); }, kNotUtf8},
      {"overlong slash",
       [] { return withFields([](auto& f) { f.destinationRoot = "\xC0\xAF"; }); }, kNotUtf8},
      {"invalid UTF-8 before too many roots",
       [] { return withFields([](auto& f) { f.destinationRoot = "\xFF"; f.sourceRootCount = 1000001; }); },
       kNotUtf8},
      {"1000001 source roots",
       [] { return withFields([](auto& f) { f.sourceRoots.clear(); f.sourceRootCount = 1000001; }); }, kRoots},
      {"100000001 files",
       [] { return withFields([](auto& f) { f.files.clear(); f.fileCount = 100000001; }); }, kFiles},
      {"0xFFFFFFFF files",
       [] { return withFields([](auto& f) { f.files.clear(); f.fileCount = 0xFFFFFFFF; }); }, kFiles},
      {"100000001 directories",
       [] { return withFields([](auto& f) { f.directories.clear(); f.directoryCount = 100000001; }); },
       kDirectories},
      // Counts at their limits pass the count check; the missing entries are
      // a short read, not a multi-gigabyte reservation.
      {"1000000 roots, none present",
       [] { return emptyWith([](auto& f) { f.sourceRootCount = 1000000; }); }, kEnded},
      {"100000000 files, none present",
       [] { return emptyWith([](auto& f) { f.fileCount = 100000000; }); }, kEnded},
      {"100000000 directories, none present",
       [] { return emptyWith([](auto& f) { f.directoryCount = 100000000; }); }, kEnded},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(refusalOf(row.bytes()), row.message) << row.name;
  }
}

}  // namespace
}  // namespace qv
