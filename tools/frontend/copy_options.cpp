#include "frontend/copy_options.h"

#include <map>

#include <CLI/CLI.hpp>


namespace qv::tools {
namespace {

const std::map<std::string, int> kConflictNames = {{"skip", 0}, {"overwrite", 1}, {"rename", 2}};
const std::map<std::string, int> kVerifyNames = {
    {"none", 0}, {"sampled", 1}, {"crc32", 2}, {"sha256", 3}, {"full", 4}};
const char kConflictChoices[] = "skip|overwrite|rename";
const char kVerifyChoices[] = "none|sampled|crc32|sha256|full";

// Takes one of `names` and hands on its number. CLI11's own transformer would
// show the whole map of names to numbers in the help and in its errors.
CLI::Validator namedChoice(const std::map<std::string, int>& names, const std::string& shown) {
  return CLI::Validator(
      [&names, shown](std::string& value) {
        const auto found = names.find(value);
        if (found == names.end()) return value + " is not one of " + shown;
        value = std::to_string(found->second);
        return std::string();
      },
      "");
}

}  // namespace

std::string verificationModeName(uint8_t mode) {
  for (const auto& [name, number] : kVerifyNames) {
    if (number == mode && number != 0) return name;
  }
  return {};
}

int parseCopyOptions(const std::vector<std::string>& args, CopyOptions& options) {
  RequestFields& r = options.request;
  CLI::App app{
      "Copies files and folders with the Quorvel native worker, showing its progress.\n"
      "SOURCE... DESTINATION: each folder is copied into DESTINATION under its own name,\n"
      "each file lands directly in DESTINATION."};
  app.name("quorvel-copy");

  std::vector<std::string> paths;
  app.add_option("paths", paths, "SOURCE... DESTINATION")->required()->expected(2, -1);

  // The defaults give a fast, safe copy: read-ahead on, a taken destination
  // gets a new name, no verification unless asked.
  int conflict = 2;
  int verify = -1;
  bool preserve = false, preserveTimes = false, preserveAttributes = false;
  bool fitThreads = false, direct = false, quietItems = false;
  bool readAhead = true;
  bool json = false, quiet = false;

  app.add_option("--threads", r.workerCount, "copy threads (default 8, at most 128)");
  app.add_option("--min-threads", r.minimumWorkerCount, "lower bound on every thread count (default 1)");
  app.add_option("--verify-threads", r.verifyWorkerCount, "verification threads (default: --threads)");
  app.add_flag("--fit-threads", fitThreads, "cap thread counts by the number of processors");
  app.add_option("--verify", verify, "check each copy (default none; sha256 with --verify-only)")
      ->transform(namedChoice(kVerifyNames, kVerifyChoices))
      ->option_text(kVerifyChoices);
  app.add_option("--on-conflict", conflict, "when a destination exists (default rename)")
      ->transform(namedChoice(kConflictNames, kConflictChoices))
      ->option_text(kConflictChoices);
  app.add_flag("-p,--preserve", preserve, "keep times and attributes (permission bits on Linux)");
  app.add_flag("--preserve-times", preserveTimes, "keep times only");
  app.add_flag("--preserve-attributes", preserveAttributes, "keep attributes only");
  app.add_flag("--read-ahead,!--no-read-ahead", readAhead, "read small files ahead into memory (default on)");
  app.add_option("--small-file-limit", r.smallFileThreshold, "largest file in bytes read ahead (default 262144)");
  app.add_option("--queue-files", r.readAheadQueueFiles, "most files held in memory by read-ahead (default 128)");
  app.add_option("--memory", r.memoryBudgetMiB, "memory for read-ahead in MiB (default 256)");
  app.add_option("--buffer", r.bufferSize, "verification read buffer in bytes (default 4194304)");
  app.add_option("--retries", r.retryCount, "extra attempts after a failed copy or check (default 1)");
  app.add_flag("--direct", direct, "write straight onto the destination, no staging file");
  app.add_flag("--no-completed-events", quietItems, "ask the worker not to report each completed file");
  app.add_flag("--verify-only", options.verifyOnly, "check an existing copy: SOURCE DESTINATION, nothing is copied");
  app.add_flag("--json", json, "print the worker's events as they come, nothing else");
  app.add_flag("-q,--quiet", quiet, "print only the summary and errors");

  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
    if (options.verifyOnly && paths.size() != 2) {
      throw CLI::ValidationError("--verify-only takes exactly one SOURCE and one DESTINATION");
    }
    if (options.verifyOnly && verify == 0) {
      throw CLI::ValidationError("--verify-only needs a verification mode other than none");
    }
    if (json && quiet) throw CLI::ValidationError("--json and --quiet exclude each other");
  } catch (const CLI::ParseError& e) {
    // A wrong command line ends like the worker's own: exit code 64.
    return app.exit(e) == 0 ? 0 : 64;
  }

  options.destination = paths.back();
  paths.pop_back();
  options.sources = paths;
  r.verifyOnly = options.verifyOnly ? 1 : 0;
  r.conflictPolicy = static_cast<uint8_t>(conflict);
  r.verificationMode = static_cast<uint8_t>(verify >= 0 ? verify : options.verifyOnly ? 3 : 0);
  r.optionFlags = 0;
  if (preserve || preserveTimes) r.optionFlags |= kPreserveTimestamps;
  if (preserve || preserveAttributes) r.optionFlags |= kPreserveAttributes;
  if (fitThreads) r.optionFlags |= kFitWorkersToProcessors;
  if (readAhead) r.optionFlags |= kSmallFileReadAhead;
  if (direct) r.optionFlags |= kDirectWrite;
  if (quietItems) r.optionFlags |= kSuppressCompletedEvents;
  options.output = json ? OutputMode::Json : quiet ? OutputMode::Quiet : OutputMode::Normal;
  return -1;
}

}  // namespace qv::tools
