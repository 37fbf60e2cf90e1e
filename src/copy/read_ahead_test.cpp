#include "copy/read_ahead.h"

#include <chrono>
#include <functional>
#include <thread>

#include "copy/copy_test_fixture.h"
#include "copy/read_ahead_queue.h"

namespace qv::test {
namespace {

using Clock = std::chrono::steady_clock;

ReadAheadBuffer bufferOf(ReadAheadQueue& queue, uint32_t index, size_t size) {
  ReadAheadBuffer buffer;
  queue.prepare(buffer, size);
  buffer.itemIndex = index;
  buffer.size = size;
  return buffer;
}

TEST(ReadAheadQueue, HoldsBuffersFirstInFirstOutWithinBothLimits) {
  struct Case {
    const char* name;
    uint64_t countLimit;
    uint64_t byteLimit;
    size_t firstSize;
    size_t secondSize;
    bool secondWaits;
  };
  const std::vector<Case> cases = {
      {"count limit reached", 1, 1000000, 10, 10, true},
      {"byte limit reached", 8, 100, 60, 60, true},
      {"both fit", 8, 120, 60, 60, false},
      {"an empty queue takes any size", 8, 10, 0, 5000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ControlState control;
    ReadAheadQueue queue(control, c.countLimit, c.byteLimit);
    if (c.firstSize > 0) {
      ReadAheadBuffer first = bufferOf(queue, 1, c.firstSize);
      ASSERT_TRUE(queue.add(first));
    }
    std::atomic<bool> added{false};
    std::thread adder([&] {
      ReadAheadBuffer second = bufferOf(queue, 2, c.secondSize);
      EXPECT_TRUE(queue.add(second));
      added.store(true);
    });
    if (c.secondWaits) {
      // Longer than one wait slice: the add re-tested and kept waiting.
      std::this_thread::sleep_for(std::chrono::milliseconds(80));
      EXPECT_FALSE(added.load());
    } else {
      adder.join();
    }
    ReadAheadBuffer out;
    if (c.firstSize > 0) {
      ASSERT_TRUE(queue.tryTake(out));
      EXPECT_EQ(out.itemIndex, 1u);
    }
    if (adder.joinable()) adder.join();  // a take makes room
    ASSERT_TRUE(queue.tryTake(out));
    EXPECT_EQ(out.itemIndex, 2u);
    EXPECT_EQ(out.size, c.secondSize);
    EXPECT_FALSE(queue.tryTake(out));
  }
}

TEST(ReadAheadQueue, CancelReleasesABlockedReaderWithinItsWaitSlice) {
  ControlState control;
  ReadAheadQueue queue(control, 1, 1000);
  ReadAheadBuffer first = bufferOf(queue, 1, 10);
  ASSERT_TRUE(queue.add(first));
  Clock::time_point cancelledAt;
  std::thread adder([&] {
    ReadAheadBuffer second = bufferOf(queue, 2, 10);
    EXPECT_FALSE(queue.add(second));  // dropped
    EXPECT_EQ(second.itemIndex, 2u);
    // A few wait slices, not one: a loaded machine may run the thread late.
    EXPECT_LT(Clock::now() - cancelledAt, std::chrono::milliseconds(500));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  cancelledAt = Clock::now();
  control.cancel();  // no wake-up: only the bounded wait notices
  adder.join();
}

TEST(ReadAheadQueue, TakeWaitsUntilABufferArrivesOrTheQueueCloses) {
  ControlState control;
  ReadAheadQueue queue(control, 4, 1000);
  ReadAheadBuffer out;
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ReadAheadBuffer buffer = bufferOf(queue, 7, 3);
    queue.add(buffer);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.close();
  });
  ASSERT_TRUE(queue.take(out));
  EXPECT_EQ(out.itemIndex, 7u);
  EXPECT_FALSE(queue.take(out));
  producer.join();
}

// Reads item `index` ahead and writes it as a copy worker would.
std::string readAndWrite(CopyHarness& h, uint32_t index) {
  ReadAheadQueue queue(h.control, 4, 1 << 20);
  ReadAheadBuffer buffer;
  std::string error;
  EXPECT_EQ(readAheadFile(h.copy, queue, index, buffer, error), ReadAheadResult::kRead)
      << error;
  writeBufferedItem(h.copy, buffer);
  return error;
}

// The source grows just before the writer checks it once more.
void changeSourceAtItsRecheck(CopyHarness& h) {
  CallMatch once;
  once.times = 1;
  h.platform.addHook(
      Op::ReadFileInfo, When::Before,
      [&h](const std::u16string&) { appendTo(h.at("src/f"), "later"); }, once);
}

TEST(ReadAhead, StagedWriteFailuresFallBackToTheCopierOnlyWithRetries) {
  struct Case {
    const char* name;
    std::function<void(CopyHarness&)> arrange;
    std::string message;  // followed by the disk-full text when it ends in ": "
    // What the copier's fallback ends with; empty when it completes.
    std::string afterRetry;
  };
  const std::vector<Case> cases = {
      {"disk full during the write", [](CopyHarness& h) { h.platform.failNthWrite(1); },
       "Destination write failed: ", ""},
      {"staging file cannot be created",
       [](CopyHarness& h) { h.platform.failCalls(Op::CreateStagingFile, h.diskFull()); },
       "Unable to create the destination stage: ", ""},
      {"times cannot be set",
       [](CopyHarness& h) {
         h.request.optionFlags |= kPreserveTimestamps;
         h.platform.failCalls(Op::FileSetTimes, h.diskFull());
       },
       "Unable to preserve file timestamps: ", ""},
      {"attributes cannot be set",
       [](CopyHarness& h) {
         h.request.optionFlags |= kPreserveAttributes;
         h.platform.failCalls(Op::FileSetAttributes, h.diskFull());
       },
       "Unable to preserve file attributes: ", ""},
      {"source changed after it was read", changeSourceAtItsRecheck,
       "The source changed after read-ahead.",
       // The planned identity no longer matches, so the copier's check fails too.
       "The source changed while it was being copied."},
      {"source changed and attributes refused: the change is what counts",
       [](CopyHarness& h) {
         h.request.optionFlags |= kPreserveAttributes;
         h.platform.failCalls(Op::FileSetAttributes, h.diskFull());
         changeSourceAtItsRecheck(h);
       },
       "The source changed after read-ahead.",
       "The source changed while it was being copied."},
  };
  for (const Case& c : cases) {
    for (uint32_t retries : {0u, 1u}) {
      SCOPED_TRACE(std::string(c.name) + (retries ? " with a retry" : ""));
      CopyHarness h;
      h.request.retryCount = retries;
      const uint32_t index = h.planFile("src/f", "small file", "dst/f");
      c.arrange(h);
      readAndWrite(h, index);
      if (retries == 0) {
        const bool withText = c.message.back() == ' ';
        h.expectOnlyFailure(index, c.message + (withText ? h.text(h.diskFull()) : ""));
        EXPECT_EQ(h.platform.calls(Op::CopySmallFile), 0u);
      } else if (!c.afterRetry.empty()) {
        EXPECT_EQ(h.platform.calls(Op::CopySmallFile), 1u);
        h.expectOnlyFailure(index, c.afterRetry);
      } else {
        EXPECT_EQ(h.platform.calls(Op::CopySmallFile), 1u);
        EXPECT_EQ(h.counters.completedFiles.load(), 1u);
        EXPECT_EQ(readBytes(h.at("dst/f")), readBytes(h.at("src/f")));
        EXPECT_EQ(h.stagingFiles(), std::vector<std::string>{});
      }
    }
  }
}

TEST(ReadAhead, FilesThatAreNotThePlannedOnesAreLeftToTheCopier) {
  struct Case {
    const char* name;
    std::function<void(CopyHarness&)> arrange;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"changed after the scan", [](CopyHarness& h) { appendTo(h.at("src/f"), "x"); },
       "The source changed after it was scanned."},
      {"grown past the threshold",
       [](CopyHarness& h) { h.request.smallFileThreshold = 4; },
       "The source is no longer eligible for small-file read-ahead."},
      {"changed while read",
       [](CopyHarness& h) {
         h.platform.addHook(Op::Read, When::After,
                            [&h](const std::u16string&) { appendTo(h.at("src/f"), "x"); });
       },
       "The source changed during read-ahead."},
      {"unreadable",
       [](CopyHarness& h) { h.platform.failCalls(Op::Read, h.diskFull()); },
       "Source read-ahead failed: "},
      {"cancelled", [](CopyHarness& h) { h.control.cancel(); }, "Cancelled."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CopyHarness h;
    const uint32_t index = h.planFile("src/f", "0123456789", "dst/f");
    c.arrange(h);
    ReadAheadQueue queue(h.control, 4, 1 << 20);
    ReadAheadBuffer buffer;
    std::string error;
    EXPECT_EQ(readAheadFile(h.copy, queue, index, buffer, error), ReadAheadResult::kFallBack);
    EXPECT_EQ(error.substr(0, c.message.size()), c.message);
    EXPECT_EQ(h.output.items(), std::vector<std::string>{});
  }
}

TEST(ReadAhead, ReaderHandsUnreadableFilesToTheCopierAndClosesTheQueue) {
  CopyHarness h;
  const uint32_t good = h.planFile("src/a", "aaa", "dst/a");
  const uint32_t bad = h.planFile("src/b", "bbb", "dst/b");
  CallMatch onlyB;
  onlyB.path = u16(h.at("src/b"));
  h.platform.failCalls(Op::OpenForRead, h.diskFull(), onlyB);
  ReadAheadQueue queue(h.control, 4, 1 << 20);
  std::atomic<uint32_t> next{0};
  std::atomic<uint32_t> remaining{1};
  const std::vector<uint32_t> list = {good, bad};
  readAheadReader(h.copy, queue, next, list, remaining);
  EXPECT_EQ(remaining.load(), 0u);
  EXPECT_EQ(h.platform.calls(Op::CopySmallFile), 1u);
  EXPECT_EQ(readBytes(h.at("dst/b")), "bbb");
  ReadAheadBuffer buffer;
  ASSERT_TRUE(queue.take(buffer));
  EXPECT_EQ(buffer.itemIndex, good);
  EXPECT_FALSE(queue.take(buffer));  // closed by the last reader
}

}  // namespace
}  // namespace qv::test
