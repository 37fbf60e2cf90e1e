// Entry point: checks the command line and runs one job.
//
// Usage: Quorvel.NativeWorker --request <request-file>
#include <cstdio>
#include <string>

#include "frame/event_stream.h"
#include "job/job_run.h"
#include "platform/platform.h"

namespace {

int workerMain(const std::u16string* args, int count) {
  qv::Platform& platform = qv::systemPlatform();
  platform.prepareStandardStreams();
  if (count != 3 || args[1] != u"--request") {
    // The only text the worker ever writes to standard error.
    std::fputs("Usage: Quorvel.NativeWorker.exe --request <request-file>\n", stderr);
    return 64;
  }
  qv::EventStream events(qv::standardOutput());
  return qv::runWorker(platform, events, args[2]);
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::u16string args[3];
  for (int i = 0; i < argc && i < 3; ++i) {
    args[i] = std::u16string(reinterpret_cast<const char16_t*>(argv[i]));
  }
  return workerMain(args, argc);
}
#else
#include "platform/posix/posix_text.h"

int main(int argc, char** argv) {
  std::u16string args[3];
  for (int i = 0; i < argc && i < 3; ++i) args[i] = qv::fileSystemToUtf16(argv[i]);
  return workerMain(args, argc);
}
#endif
