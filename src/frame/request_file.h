#ifndef QV_FRAME_REQUEST_FILE_H_
#define QV_FRAME_REQUEST_FILE_H_

#include <string>

#include "platform/platform.h"
#include "request/request_reader.h"

namespace qv {

// Reads and decodes the request file at `path`. Raises std::runtime_error
// with the request's refusal messages; an unreadable file is "Unable to
// open the native worker request.".
LoadedRequest readRequest(Platform& platform, const std::u16string& path);

}  // namespace qv

#endif  // QV_FRAME_REQUEST_FILE_H_
