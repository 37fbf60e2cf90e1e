// The bounded queue between read-ahead readers and copy workers.
#ifndef QV_COPY_READ_AHEAD_QUEUE_H_
#define QV_COPY_READ_AHEAD_QUEUE_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "frame/control_state.h"
#include "platform/platform.h"

namespace qv {

// One small file held in memory between its reader and its writer. Moved,
// never copied.
struct ReadAheadBuffer {
  uint32_t itemIndex = 0;
  // The file's bytes are the first `size` bytes of `storage`, which may be
  // longer (storage is recycled between files).
  std::unique_ptr<char[]> storage;
  size_t capacity = 0;
  size_t size = 0;
  // The source's information, taken on the open file before it was read.
  FileInfo info;
};

// A bounded first-in first-out queue of buffers from readers to copy
// workers. It holds at most `countLimit` buffers and at most `byteLimit`
// bytes, except that an empty queue takes one buffer of any size. Every wait
// is bounded to 50 ms and re-tests the job's cancel flag, so a missed wake-up
// costs at most that long.
//
// The queue also recycles buffer storage: a worker hands back the storage
// of the buffer it has written when it takes the next one, and readers draw
// from that pool, so the pages of a steady stream of small files are touched
// once rather than allocated and faulted in per file. The pool holds at most
// `byteLimit` bytes of capacity.
class ReadAheadQueue {
 public:
  ReadAheadQueue(const ControlState& control, uint64_t countLimit, uint64_t byteLimit);

  ReadAheadQueue(const ReadAheadQueue&) = delete;
  ReadAheadQueue& operator=(const ReadAheadQueue&) = delete;

  // Gives `buffer` storage for `size` bytes, recycled when the pool has a
  // fitting one. Reader side.
  void prepare(ReadAheadBuffer& buffer, size_t size);

  // Blocks while the queue is full, then moves `buffer` in and leaves it
  // holding recycled storage for the reader's next file (or none), so that a
  // reader of similar files takes the lock once per file. Returns false,
  // leaving `buffer` as it was, only when the job was cancelled before there
  // was room.
  bool add(ReadAheadBuffer& buffer);

  // Moves the front buffer into `out` when there is one, without waiting.
  // Whatever storage `out` held goes back to the pool.
  bool tryTake(ReadAheadBuffer& out);

  // Like tryTake(), but waits while the queue is empty and neither closed
  // nor cancelled. False when the wait ended with nothing to take.
  bool take(ReadAheadBuffer& out);

  // No buffer will be added any more; wakes every waiter.
  void close();

 private:
  // Size class of a storage: capacities are powers of two from 4 KiB.
  static size_t classCapacity(size_t size);
  void takeFrontLocked(ReadAheadBuffer& out);
  void recycleLocked(ReadAheadBuffer& out);

  const ControlState& control_;
  const uint64_t countLimit_;
  const uint64_t byteLimit_;

  std::mutex mutex_;
  std::condition_variable notEmpty_;
  std::condition_variable notFull_;
  // Guarded by mutex_.
  std::deque<ReadAheadBuffer> buffers_;
  uint64_t queuedBytes_ = 0;
  bool closed_ = false;
  uint32_t fullWaiters_ = 0;  // readers waiting for room
  std::vector<std::vector<std::unique_ptr<char[]>>> pool_;  // by size class
  uint64_t pooledBytes_ = 0;
};

}  // namespace qv

#endif  // QV_COPY_READ_AHEAD_QUEUE_H_
