// Reads a request file back into the writer's record, for the request tool.
// The worker's own reader judges the file, so a broken one is refused with
// exactly the sentence the worker would send in its "fatal" event and a host
// developer sees the worker's verdict without running a job.
#ifndef QV_TOOLS_FRONTEND_REQUEST_PARSE_H_
#define QV_TOOLS_FRONTEND_REQUEST_PARSE_H_

#include <stdexcept>
#include <string>
#include <string_view>

#include "request_writer/request_writer.h"

namespace qv::tools {

// A refusal; what() is the worker's message.
class RequestRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct ParsedRequest {
  RequestFields fields;
  // Bytes after the last folder entry: the worker ignores them, but keeping
  // them lets a dumped file be rebuilt byte for byte.
  std::string trailing;
};

// Throws RequestRefused. The count fields of the record are left unset: the
// lists hold exactly the entries the file holds.
ParsedRequest parseRequestBytes(std::string_view bytes);

}  // namespace qv::tools

#endif  // QV_TOOLS_FRONTEND_REQUEST_PARSE_H_
