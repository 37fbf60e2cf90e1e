#include "copy/read_ahead_queue.h"

#include <algorithm>
#include <chrono>

namespace qv {
namespace {

constexpr auto kWaitSlice = std::chrono::milliseconds(50);

// Storage is handed out in steps of one page; sizes above the largest class
// are allocated exactly and freed after use, never pooled.
constexpr size_t kClassStep = 4096;
constexpr size_t kLargestPooled = size_t{1} << 20;
constexpr size_t kClassCount = kLargestPooled / kClassStep;

size_t classOf(size_t capacity) { return capacity / kClassStep - 1; }

}  // namespace

ReadAheadQueue::ReadAheadQueue(const ControlState& control, uint64_t countLimit,
                               uint64_t byteLimit)
    : control_(control),
      countLimit_(std::max<uint64_t>(countLimit, 1)),
      byteLimit_(std::max<uint64_t>(byteLimit, 1)),
      pool_(kClassCount) {}

size_t ReadAheadQueue::classCapacity(size_t size) {
  if (size > kLargestPooled) return size;
  return std::max<size_t>((size + kClassStep - 1) / kClassStep, 1) * kClassStep;
}

void ReadAheadQueue::prepare(ReadAheadBuffer& buffer, size_t size) {
  buffer.size = 0;
  if (size == 0) return;
  const size_t wanted = classCapacity(size);
  // A held storage that fits without wasting more than its own size is kept.
  if (buffer.storage && buffer.capacity >= wanted && buffer.capacity / 2 <= wanted) return;
  if (wanted <= kLargestPooled) {
    std::lock_guard<std::mutex> lock(mutex_);
    recycleLocked(buffer);
    // The first pooled storage at least as large, up to twice the size.
    const size_t last = std::min(classOf(wanted) * 2 + 1, kClassCount - 1);
    for (size_t c = classOf(wanted); c <= last; ++c) {
      if (pool_[c].empty()) continue;
      buffer.storage = std::move(pool_[c].back());
      pool_[c].pop_back();
      buffer.capacity = (c + 1) * kClassStep;
      pooledBytes_ -= buffer.capacity;
      return;
    }
  }
  buffer.storage.reset();
  buffer.storage = std::make_unique_for_overwrite<char[]>(wanted);
  buffer.capacity = wanted;
}

bool ReadAheadQueue::add(ReadAheadBuffer& buffer) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!control_.cancelled()) {
    const bool roomForOne = buffers_.size() < countLimit_;
    const bool roomForBytes =
        buffers_.empty() || queuedBytes_ + buffer.size <= byteLimit_;
    if (roomForOne && roomForBytes) break;
    ++fullWaiters_;
    notFull_.wait_for(lock, kWaitSlice);
    --fullWaiters_;
  }
  if (control_.cancelled()) return false;
  queuedBytes_ += buffer.size;
  const size_t capacity = buffer.capacity;
  buffers_.push_back(std::move(buffer));
  buffer = ReadAheadBuffer{};
  if (capacity > 0 && capacity <= kLargestPooled && capacity % kClassStep == 0) {
    std::vector<std::unique_ptr<char[]>>& same = pool_[classOf(capacity)];
    if (!same.empty()) {
      buffer.storage = std::move(same.back());
      buffer.capacity = capacity;
      same.pop_back();
      pooledBytes_ -= capacity;
    }
  }
  notEmpty_.notify_one();
  return true;
}

bool ReadAheadQueue::tryTake(ReadAheadBuffer& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  recycleLocked(out);
  if (buffers_.empty()) return false;
  takeFrontLocked(out);
  return true;
}

bool ReadAheadQueue::take(ReadAheadBuffer& out) {
  std::unique_lock<std::mutex> lock(mutex_);
  recycleLocked(out);
  while (buffers_.empty() && !closed_ && !control_.cancelled()) {
    notEmpty_.wait_for(lock, kWaitSlice);
  }
  if (buffers_.empty()) return false;
  takeFrontLocked(out);
  return true;
}

void ReadAheadQueue::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  closed_ = true;
  notEmpty_.notify_all();
  notFull_.notify_all();
}

void ReadAheadQueue::takeFrontLocked(ReadAheadBuffer& out) {
  out = std::move(buffers_.front());
  buffers_.pop_front();
  queuedBytes_ -= std::min<uint64_t>(queuedBytes_, out.size);
  // Readers blocked on a full queue are woken together once it has drained
  // to half, not one per buffer taken: when readers outpace writers, a wake
  // per take costs two futex calls per file and keeps every thread bouncing
  // on the mutex. The bounded wait still lets a reader in within 50 ms
  // whenever there is room before that.
  if (fullWaiters_ > 0 && (buffers_.empty() || (buffers_.size() <= countLimit_ / 2 &&
                                                queuedBytes_ <= byteLimit_ / 2))) {
    notFull_.notify_all();
  }
}

void ReadAheadQueue::recycleLocked(ReadAheadBuffer& out) {
  std::unique_ptr<char[]> storage = std::move(out.storage);
  const size_t capacity = out.capacity;
  out.capacity = 0;
  out.size = 0;
  // Pooled storage stays within a quarter of the byte limit, so the pool
  // never holds as much as the queue may.
  if (!storage || capacity > kLargestPooled || capacity % kClassStep != 0 ||
      pooledBytes_ + capacity > byteLimit_ / 4) {
    return;  // freed here
  }
  pool_[classOf(capacity)].push_back(std::move(storage));
  pooledBytes_ += capacity;
}

}  // namespace qv
