#include "tools/tool_run.h"

namespace qv::test {

// A console Ctrl-C cannot be aimed at one process started with pipes (and
// under Wine there is no console): the interrupt tests run on Linux only.
bool canInterruptProcesses() { return false; }

void interruptProcess(int) {}
void killChildren(int) {}

}  // namespace qv::test
