// Helpers for the tools' process tests: where the built tools are, and how
// to interrupt one the way Ctrl-C at a terminal would.
#ifndef QV_TESTS_TOOLS_TOOL_RUN_H_
#define QV_TESTS_TOOLS_TOOL_RUN_H_

#include <string>

namespace qv::test {

// The built tools, from QV_COPY_TOOL and QV_REQUEST_TOOL (set by ctest).
std::string copyToolPath();
std::string requestToolPath();

// Whether interruptProcess works on this system; the tests that need it are
// skipped where it does not.
bool canInterruptProcesses();
// Sends the process what Ctrl-C at a terminal sends it.
void interruptProcess(int pid);
// Kills the children of the process outright.
void killChildren(int pid);

}  // namespace qv::test

#endif  // QV_TESTS_TOOLS_TOOL_RUN_H_
