// Feeds arbitrary bytes to the request reader. A refusal must be one of the
// reader's runtime_error sentences; anything else that escapes (bad_alloc
// from a hostile count included) is a fault. A request that loads must be
// exactly what the request writer produces from the loaded values, so the
// reader can neither drop, reorder nor invent a field, and any strict
// prefix of what it loaded (a cut inside a length prefix, a number or a
// multi-byte character alike) must be refused as a short read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "frame/event_text.h"
#include "request/request.h"
#include "request/request_reader.h"
#include "request_writer/request_writer.h"

namespace {

bool isKnownRefusal(const char* what) {
  static const char* const kSentences[] = {
      qv::kRequestEndedUnexpectedly,  qv::kRequestInvalidSignature,
      qv::kRequestVersionMismatch,    qv::kRequestStringTooLarge,
      qv::kRequestStringNotUtf8,      qv::kRequestTooManySourceRoots,
      qv::kRequestTooManyFiles,       qv::kRequestTooManyDirectories,
  };
  for (const char* sentence : kSentences) {
    if (std::strcmp(what, sentence) == 0) return true;
  }
  return false;
}

// The UTF-8 a loaded string came from; a string the reader accepted as
// UTF-8 must convert back without loss.
std::string back(const std::u16string& text) {
  std::string out = qv::toUtf8(text);
  if (out.empty() && !text.empty()) std::abort();
  return out;
}

qv::tools::RequestFields fieldsOf(const qv::LoadedRequest& loaded) {
  const qv::WorkerRequest& r = loaded.request;
  qv::tools::RequestFields f;
  f.verifyOnly = r.verifyOnly;
  f.conflictPolicy = r.conflictPolicy;
  f.verificationMode = r.verificationMode;
  f.workerCount = r.workerCount;
  f.minimumWorkerCount = r.minimumWorkerCount;
  f.verifyWorkerCount = r.verifyWorkerCount;
  f.bufferSize = r.bufferSize;
  f.retryCount = r.retryCount;
  f.optionFlags = r.optionFlags;
  f.smallFileThreshold = r.smallFileThreshold;
  f.readAheadQueueFiles = r.readAheadQueueFiles;
  f.memoryBudgetMiB = r.memoryBudgetMiB;
  f.destinationRoot = back(r.destinationRoot);
  for (const auto& root : r.sourceRoots) f.sourceRoots.push_back(back(root));
  for (const auto& file : loaded.plan.files) {
    f.files.push_back({back(file.sourcePath), back(file.readPath),
                       back(file.destinationPath), file.size,
                       file.lastWriteTime});
  }
  for (const auto& dir : loaded.plan.directories) {
    f.directories.push_back({back(dir.sourcePath), back(dir.readPath),
                             back(dir.destinationPath)});
  }
  return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  qv::LoadedRequest request;
  try {
    request = qv::parseRequest(bytes);
  } catch (const std::runtime_error& e) {
    if (!isKnownRefusal(e.what())) std::abort();
    return 0;
  }
  qv::tools::RequestFields fields = fieldsOf(request);
  // The reserved byte is read and ignored; take it from the input.
  if (size > 15) fields.reserved = data[15];
  const std::string expected = qv::tools::writeRequest(fields);
  if (expected.size() > size || bytes.substr(0, expected.size()) != expected) {
    std::abort();
  }
  // One cut per input, at an offset its bytes choose: fuzzing spreads the
  // cuts over every offset without a quadratic sweep of each input.
  const size_t cut = std::hash<std::string_view>{}(bytes) % expected.size();
  try {
    qv::parseRequest(bytes.substr(0, cut));
  } catch (const std::runtime_error& e) {
    if (std::strcmp(e.what(), qv::kRequestEndedUnexpectedly) == 0) return 0;
  }
  std::abort();
}
