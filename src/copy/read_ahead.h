// The small-file read-ahead pipeline: reader threads read whole small files
// into memory while copy workers write earlier ones into staging files.
#ifndef QV_COPY_READ_AHEAD_H_
#define QV_COPY_READ_AHEAD_H_

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "copy/copy_context.h"
#include "copy/read_ahead_queue.h"

namespace qv {

enum class ReadAheadResult {
  kRead,      // the buffer holds the whole file
  kSkipped,   // the conflict decision skipped the item (already reported)
  kFallBack,  // not read ahead: the system copier takes the file
};

// Reads item `itemIndex` whole into `buffer`, after its conflict decision,
// checking that it is still the planned file (size, last-write time) and
// that it did not change while it was read. On kFallBack `error` says why;
// the message is not reported, since the copier's attempt reports its own.
ReadAheadResult readAheadFile(CopyContext& copy, ReadAheadQueue& queue,
                              uint32_t itemIndex, ReadAheadBuffer& buffer,
                              std::string& error);

// Thread body of a reader: claims positions of `smallFiles` through
// `nextPosition` until the list or the job ends; a file that cannot be read
// ahead is copied through the system copier on this thread. The last reader
// to leave closes the queue.
void readAheadReader(CopyContext& copy, ReadAheadQueue& queue,
                     std::atomic<uint32_t>& nextPosition,
                     const std::vector<uint32_t>& smallFiles,
                     std::atomic<uint32_t>& remainingReaders);

// Writes a buffer into a new staging file with the source's times, checks
// the source once more, and then gives the staging file the source's
// attributes (last, so a read-only file is complete before it becomes
// read-only). Always staged, even under direct writes. False with the
// message in `error`; the staging file is then gone.
bool writeStagedFromBuffer(CopyContext& copy, const ReadAheadBuffer& buffer,
                           std::string& error);

// The copy worker's step for one buffer: the staged write, up to retryCount
// system copies when it fails, then finishItem().
void writeBufferedItem(CopyContext& copy, const ReadAheadBuffer& buffer);

}  // namespace qv

#endif  // QV_COPY_READ_AHEAD_H_
