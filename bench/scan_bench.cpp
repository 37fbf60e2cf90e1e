// Speed of the source scan on a real tree: the scan alone, run directly
// against the system platform with its events captured, so that neither the
// copy nor the event pipe is measured. bench/scan_bench.sh builds and runs
// it beside `find` on the same tree.
//
//   scan_bench <tree> [runs]
//
// Prints one line per run and the best rate: entries (files and folders
// planned) per second of wall time, and the processor time (user and system)
// of the best run, which a busy machine disturbs less.

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/text.h"
#include "frame/job_context.h"
#include "paths/source_scan.h"

namespace {

class CountingOutput : public qv::EventOutput {
 public:
  void write(std::string_view bytes) override { size += bytes.size(); }
  void flush() override {}
  size_t size = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: scan_bench <tree> [runs]\n");
    return 64;
  }
  std::u16string root;
  if (!qv::utf8ToUtf16Strict(argv[1], root)) {
    std::fprintf(stderr, "the tree's path is not UTF-8\n");
    return 64;
  }
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  double best = 1e30;
  double bestCpu = 1e30;
  size_t entries = 0;
  for (int run = 0; run < runs; ++run) {
    CountingOutput output;
    qv::EventStream events(output);
    qv::ControlState control;
    qv::ErrorList errors;
    qv::JobCounters counters;
    qv::WorkerRequest request;
    qv::JobPlan plan;
    request.sourceRoots = {root};
    request.destinationRoot = u"/nonexistent-destination";
    qv::JobContext job{qv::systemPlatform(), events, control, errors, counters, request, plan};

    const std::clock_t cpuStart = std::clock();
    const auto start = std::chrono::steady_clock::now();
    qv::scanSources(job);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    entries = plan.files.size() + plan.directories.size();
    best = std::min(best, seconds);
    bestCpu = std::min(bestCpu, cpu);
    std::printf("run %d: %zu files, %zu folders, %u failed, %.3f s (cpu %.3f s), %.0f entries/s\n",
                run + 1, plan.files.size(), plan.directories.size(),
                counters.failedFiles.load(), seconds, cpu, static_cast<double>(entries) / seconds);
  }
  std::printf("scan best: %zu entries in %.3f s = %.0f entries/s; "
              "cpu %.3f s = %.0f entries/cpu-s\n",
              entries, best, static_cast<double>(entries) / best, bestCpu,
              static_cast<double>(entries) / bestCpu);
  return 0;
}
