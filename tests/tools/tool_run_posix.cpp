#include <signal.h>

#include <fstream>
#include <string>

#include "tools/tool_run.h"

namespace qv::test {

bool canInterruptProcesses() { return true; }

void interruptProcess(int pid) { kill(pid, SIGINT); }

void killChildren(int pid) {
  const std::string id = std::to_string(pid);
  std::ifstream children("/proc/" + id + "/task/" + id + "/children");
  for (int child = 0; children >> child;) kill(child, SIGKILL);
}

}  // namespace qv::test
