#include "copy/read_ahead.h"

#include <chrono>
#include <thread>

#include "copy/copy_test_fixture.h"
#include "copy/read_ahead_queue.h"
#include "copy/system_copy.h"

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
  const struct {
    const char* name;
    uint64_t countLimit;
    uint64_t byteLimit;
    size_t firstSize;  // 0: no first buffer
    size_t secondSize;
    bool secondWaits;
  } cases[] = {
      {"count limit reached", 1, 1000000, 10, 10, true},
      {"byte limit reached", 8, 100, 60, 60, true},
      {"both fit", 8, 120, 60, 60, false},
      {"an empty queue takes any size", 8, 10, 0, 5000, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ControlState control;
    ReadAheadQueue queue(control, c.countLimit, c.byteLimit);
    ReadAheadBuffer first = bufferOf(queue, 1, c.firstSize);
    EXPECT_TRUE(c.firstSize == 0 || queue.add(first));
    std::atomic<bool> added{false};
    std::thread adder([&] {
      ReadAheadBuffer second = bufferOf(queue, 2, c.secondSize);
      EXPECT_TRUE(queue.add(second));
      added.store(true);
    });
    // Longer than one wait slice: a waiting add re-tested and kept waiting.
    if (c.secondWaits) std::this_thread::sleep_for(std::chrono::milliseconds(80));
    if (!c.secondWaits) adder.join();
    EXPECT_EQ(added.load(), !c.secondWaits);
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
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ReadAheadBuffer buffer = bufferOf(queue, 7, 3);
    queue.add(buffer);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.close();
  });
  ReadAheadBuffer out;
  ASSERT_TRUE(queue.take(out));
  EXPECT_EQ(out.itemIndex, 7u);
  EXPECT_FALSE(queue.take(out));
  producer.join();
}

// A file read ahead is written from memory; a write that fails goes to the
// copier only when retries are left. A file that is no longer the planned
// one, or cannot be read, is left to the copier at once.
TEST(ReadAhead, EachFileIsWrittenFromMemoryOrLeftToTheCopier) {
  // The source grows just before the writer checks it once more.
  const auto changeAtRecheck = [](CopyHarness& h) {
    h.platform.addHook(
        Op::ReadFileInfo, When::Before,
        [&h](const std::u16string&) { appendTo(h.at("src/f"), "later"); }, {{}, 0, 1});
    return SysError{0};
  };
  const auto refuse = [](Op op, uint32_t option) {
    return [=](CopyHarness& h) {
      h.request.optionFlags |= option;
      h.platform.failCalls(op, h.diskFull());
      return h.diskFull();
    };
  };
  const auto withRetry = [](std::function<SysError(CopyHarness&)> arrange) {
    return [=](CopyHarness& h) {
      h.request.retryCount = 1;
      return arrange(h);
    };
  };
  const auto diskFullWrite = [](CopyHarness& h) {
    h.platform.failNthWrite(1);
    return h.diskFull();
  };
  const auto arrange = [](std::function<void(CopyHarness&)> change) {
    return [=](CopyHarness& h) {
      change(h);
      return SysError{0};
    };
  };
  const std::string failed = "copier calls 0, copied 0, completed 0, failed 1";
  const std::string changed = "The source changed after read-ahead.";
  const std::string copierFailed = "copier calls 1, copied 0, completed 0, failed 1";
  const std::string copierCompleted = "copier calls 1, copied 1, completed 1, failed 0";
  const std::string copierSawTheChange = "The source changed while it was being copied.";
  expectItemCases(
      {
          {"written from memory", arrange([](CopyHarness&) {}), "",
           "copier calls 0, copied 1, completed 1, failed 0"},
          {"disk full during the write", diskFullWrite, "Destination write failed: ", failed},
          {"disk full, then the copier completes", withRetry(diskFullWrite), "",
           copierCompleted},
          {"staging file cannot be created", refuse(Op::CreateStagingFile, 0),
           "Unable to create the destination stage: ", failed},
          {"times cannot be set", refuse(Op::FileSetTimes, kPreserveTimestamps),
           "Unable to preserve file timestamps: ", failed},
          {"attributes cannot be set", refuse(Op::FileSetAttributes, kPreserveAttributes),
           "Unable to preserve file attributes: ", failed},
          {"source changed after it was read", changeAtRecheck, changed, failed},
          // The planned identity no longer matches, so the copier's check fails too.
          {"source changed, then the copier's check fails", withRetry(changeAtRecheck),
           copierSawTheChange, copierFailed},
          {"source changed and attributes refused: the change is what counts",
           [&](CopyHarness& h) {
             refuse(Op::FileSetAttributes, kPreserveAttributes)(h);
             return changeAtRecheck(h);
           },
           changed, failed},
          {"changed after the scan", arrange([](CopyHarness& h) { appendTo(h.at("src/f"), "x"); }),
           copierSawTheChange, copierFailed},
          {"grown past the threshold",
           arrange([](CopyHarness& h) { h.request.smallFileThreshold = 4; }), "",
           copierCompleted},
          {"changed while read", arrange([](CopyHarness& h) {
             h.platform.addHook(Op::Read, When::After,
                                [&h](const std::u16string&) { appendTo(h.at("src/f"), "x"); });
           }),
           copierSawTheChange, copierFailed},
          {"unreadable", arrange([](CopyHarness& h) { h.platform.failCalls(Op::Read, h.diskFull()); }),
           "", copierCompleted},
          {"cancelled", arrange([](CopyHarness& h) { h.control.cancel(); }), kSilent,
           "copier calls 0, copied 0, completed 0, failed 0"},
      },
      // As a reader and a copy worker do it.
      [](CopyHarness& h, uint32_t index) {
        ReadAheadQueue queue(h.control, 4, 1 << 20);
        ReadAheadBuffer buffer;
        std::string error;
        const ReadAheadResult result = readAheadFile(h.copy, queue, index, buffer, error);
        if (result == ReadAheadResult::kRead) {
          writeBufferedItem(h.copy, buffer);
        } else if (!h.control.cancelled()) {
          copyItem(h.copy, index);
        }
      });
}

TEST(ReadAhead, ReaderHandsUnreadableFilesToTheCopierAndClosesTheQueue) {
  CopyHarness h;
  const uint32_t good = h.planFile("src/a", "aaa", "dst/a");
  const uint32_t bad = h.planFile("src/b", "bbb", "dst/b");
  h.platform.failCalls(Op::OpenForRead, h.diskFull(), {u16(h.at("src/b"))});
  ReadAheadQueue queue(h.control, 4, 1 << 20);
  std::atomic<uint32_t> next{0};
  std::atomic<uint32_t> remaining{1};
  readAheadReader(h.copy, queue, next, {good, bad}, remaining);
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
