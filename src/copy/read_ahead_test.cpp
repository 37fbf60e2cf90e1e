#include "copy/read_ahead.h"

#include <chrono>
#include <thread>

#include "copy/copy_test_fixture.h"
#include "copy/read_ahead_queue.h"
#include "copy/system_copy.h"

namespace qv::test {
namespace {

ReadAheadBuffer bufferOf(ReadAheadQueue& queue, uint32_t index, size_t size) {
  ReadAheadBuffer buffer;
  queue.prepare(buffer, size);
  buffer.itemIndex = index;
  buffer.size = size;
  return buffer;
}

// The queue is what bounds read-ahead memory: an add waits while either
// limit is reached (an empty queue takes any size, or a large file would
// never pass) until a take makes room or the job is cancelled. The cancel
// sends no wake-up, so only the bounded wait notices it.
TEST(ReadAheadQueue, AnAddWaitsAtEitherLimitUntilATakeOrACancel) {
  const struct {
    const char* name;
    uint64_t countLimit;
    uint64_t byteLimit;
    size_t firstSize;  // 0: no first buffer
    size_t secondSize;
    bool secondWaits;
    bool cancel;
  } cases[] = {
      {"count limit reached", 1, 1000000, 10, 10, true, false},
      {"byte limit reached", 8, 100, 60, 60, true, false},
      {"byte limit reached, then a cancel", 8, 100, 60, 60, true, true},
      {"both fit", 8, 120, 60, 60, false, false},
      {"an empty queue takes any size", 8, 10, 0, 5000, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ControlState control;
    ReadAheadQueue queue(control, c.countLimit, c.byteLimit);
    ReadAheadBuffer first = bufferOf(queue, 1, c.firstSize);
    EXPECT_TRUE(c.firstSize == 0 || queue.add(first));
    std::atomic<int> added{-1};
    std::thread adder([&] {
      ReadAheadBuffer second = bufferOf(queue, 2, c.secondSize);
      added.store(queue.add(second));
    });
    if (c.secondWaits) {
      // Longer than one wait slice: a waiting add re-tested and kept waiting.
      std::this_thread::sleep_for(std::chrono::milliseconds(80));
      EXPECT_EQ(added.load(), -1);
      if (c.cancel) control.cancel();
      ReadAheadBuffer out;
      EXPECT_TRUE(queue.tryTake(out));  // room for the add, which a cancel still ends
    }
    adder.join();
    EXPECT_EQ(added.load(), c.cancel ? 0 : 1);
  }
}

// A file read ahead is written from memory; a write that fails goes to the
// copier only when retries are left. A file that is no longer the planned
// one, or cannot be read, is left to the copier at once.
TEST(ReadAhead, EachFileIsWrittenFromMemoryOrLeftToTheCopier) {
  // The source grows just before the writer checks it once more.
  const Arrange changeAtRecheck = changing([](CopyHarness& h) {
    h.platform.addHook(
        Op::ReadFileInfo, When::Before,
        [&h](const std::u16string&) { appendTo(h.at("src/f"), "later"); }, {{}, 0, 1});
  });
  const auto withRetry = [](Arrange arrange) {
    return [=](CopyHarness& h) {
      h.request.retryCount = 1;
      return arrange(h);
    };
  };
  const Arrange diskFullWrite = [](CopyHarness& h) {
    h.platform.failCalls(Op::Write, h.diskFull(), {{}, 0, 1});
    return h.diskFull();
  };
  const std::string failed = "copier calls 0, copied 0, completed 0, failed 1";
  const std::string changed = "The source changed after read-ahead.";
  const std::string copierFailed = "copier calls 1, copied 0, completed 0, failed 1";
  const std::string copierCompleted = "copier calls 1, copied 1, completed 1, failed 0";
  const std::string copierSawTheChange = "The source changed while it was being copied.";
  expectItemCases(
      {
          {"written from memory", changing([](CopyHarness&) {}), "",
           "copier calls 0, copied 1, completed 1, failed 0"},
          {"disk full during the write", diskFullWrite, "Destination write failed: ", failed},
          {"disk full, then the copier completes", withRetry(diskFullWrite), "",
           copierCompleted},
          {"staging file cannot be created", refusing(Op::CreateStagingFile),
           "Unable to create the destination stage: ", failed},
          {"times cannot be set", refusing(Op::FileSetTimes, kPreserveTimestamps),
           "Unable to preserve file timestamps: ", failed},
          {"attributes cannot be set", refusing(Op::FileSetAttributes, kPreserveAttributes),
           "Unable to preserve file attributes: ", failed},
          {"source changed after it was read", changeAtRecheck, changed, failed},
          // The planned identity no longer matches, so the copier's check fails too.
          {"source changed, then the copier's check fails", withRetry(changeAtRecheck),
           copierSawTheChange, copierFailed},
          {"source changed and attributes refused: the change is what counts",
           [&](CopyHarness& h) {
             refusing(Op::FileSetAttributes, kPreserveAttributes)(h);
             return changeAtRecheck(h);
           },
           changed, failed},
          {"changed after the scan", changing([](CopyHarness& h) { appendTo(h.at("src/f"), "x"); }),
           copierSawTheChange, copierFailed},
          {"grown past the threshold",
           changing([](CopyHarness& h) { h.request.smallFileThreshold = 4; }), "",
           copierCompleted},
          {"changed while read", changing([](CopyHarness& h) {
             h.platform.addHook(Op::Read, When::After,
                                [&h](const std::u16string&) { appendTo(h.at("src/f"), "x"); });
           }),
           copierSawTheChange, copierFailed},
          {"unreadable", refusing(Op::Read), "", copierCompleted},
          {"cancelled", changing([](CopyHarness& h) { h.control.cancel(); }), kSilent,
           "copier calls 0, copied 0, completed 0, failed 0"},
      },
      // A reader hands a file it read to the queue, or to the copier itself,
      // and the last reader closes the queue, which ends the copy worker.
      [](CopyHarness& h, uint32_t index) {
        ReadAheadQueue queue(h.control, 4, 1 << 20);
        std::atomic<uint32_t> next{0};
        std::atomic<uint32_t> readers{1};
        readAheadReader(h.copy, queue, next, {index}, readers);
        ReadAheadBuffer buffer;
        while (queue.take(buffer)) writeBufferedItem(h.copy, buffer);
      });
}

}  // namespace
}  // namespace qv::test
