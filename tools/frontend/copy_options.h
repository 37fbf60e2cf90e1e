// The command line of the copy front end, turned into the request it sends
// and the way it shows the job.
#ifndef QV_TOOLS_FRONTEND_COPY_OPTIONS_H_
#define QV_TOOLS_FRONTEND_COPY_OPTIONS_H_

#include <string>
#include <vector>

#include "request_writer/request_writer.h"

namespace qv::tools {

enum class OutputMode { Normal, Json, Quiet };

struct CopyOptions {
  // Every field but the paths; the paths are filled in by the caller (a
  // verify-only job needs its list walked first).
  RequestFields request;
  std::vector<std::string> sources;
  std::string destination;
  bool verifyOnly = false;
  OutputMode output = OutputMode::Normal;
};

// Parses `args` (program name first). Returns the exit code to end with when
// the command line was for help or was wrong, after printing to the right
// stream; otherwise -1 with `options` filled.
int parseCopyOptions(const std::vector<std::string>& args, CopyOptions& options);

// A verification mode as --verify names it ("sha256"); empty for none.
std::string verificationModeName(uint8_t mode);

}  // namespace qv::tools

#endif  // QV_TOOLS_FRONTEND_COPY_OPTIONS_H_
