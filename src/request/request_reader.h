// Decoding the binary request file the host writes for one job.
//
// The file is a flat sequence of little-endian integers and length-prefixed
// UTF-8 strings: signature "QVCWREQ1", protocol version 3, the job's numbers,
// the destination root, then counted lists of source roots, file entries and
// directory entries. Bytes after the last directory entry are ignored.

#ifndef QV_REQUEST_REQUEST_READER_H_
#define QV_REQUEST_REQUEST_READER_H_

#include <string_view>

#include "request/job_plan.h"
#include "request/request.h"

namespace qv {

// Every refusal of a request is a std::runtime_error carrying exactly one of
// these sentences; the host matches them as they stand.
//
// The file cannot be opened (for the caller that reads the file).
inline constexpr char kRequestUnableToOpen[] =
    "Unable to open the native worker request.";
// A field needs more bytes than are left. A read that fails after the file
// was opened amounts to the same thing: the reader sees fewer bytes.
inline constexpr char kRequestEndedUnexpectedly[] =
    "The native worker request ended unexpectedly.";
inline constexpr char kRequestInvalidSignature[] =
    "The native worker request has an invalid signature.";
inline constexpr char kRequestVersionMismatch[] =
    "The app and native worker protocol versions do not match.";
inline constexpr char kRequestStringTooLarge[] =
    "A native worker request string is too large.";
// Said of every string in the file, whether or not it holds a path.
inline constexpr char kRequestStringNotUtf8[] =
    "A native worker request path is not valid UTF-8.";
inline constexpr char kRequestTooManySourceRoots[] =
    "The native worker request has too many source roots.";
inline constexpr char kRequestTooManyFiles[] =
    "The native worker request has too many files.";
inline constexpr char kRequestTooManyDirectories[] =
    "The native worker request has too many directories.";

// Decodes the whole image of a request file. Checks run in file order and the
// first problem met decides the message. Counts above their limits are refused
// before anything is reserved, and no list reserves more entries than the
// remaining bytes could hold, so a hostile count ends as a short read rather
// than a huge allocation. Lists the file really holds but memory cannot throw
// std::bad_alloc. Values are not otherwise validated: zero counts and sizes,
// unknown policy or mode codes and empty paths all load.
//
// The file entries and directory entries the host listed seed the plan.
struct LoadedRequest {
  WorkerRequest request;
  JobPlan plan;
};
LoadedRequest parseRequest(std::string_view bytes);

}  // namespace qv

#endif  // QV_REQUEST_REQUEST_READER_H_
