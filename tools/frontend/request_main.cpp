// quorvel-request: shows a request file as JSON, and builds one from JSON,
// for host developers who write or debug requests.
#include <fstream>
#include <iostream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "frontend/request_json.h"
#include "frontend/request_parse.h"
#include "frontend/system.h"
#include "frontend/verify_list.h"
#include "request/request_reader.h"

namespace qv::tools {
namespace {

bool readFile(const std::string& path, std::string& bytes) {
  std::ifstream in(pathOfUtf8(path), std::ios::binary);
  if (!in) return false;
  std::ostringstream content;
  content << in.rdbuf();
  bytes = std::move(content).str();
  return !in.bad();
}

int dump(const std::string& path) {
  std::string bytes;
  if (!readFile(path, bytes)) {
    std::cerr << kRequestUnableToOpen << '\n';
    return 1;
  }
  try {
    std::cout << requestToJson(parseRequestBytes(bytes)).dump(2) << '\n';
  } catch (const RequestRefused& e) {
    // The worker's own sentence, alone on the line, so tools can compare it.
    std::cerr << e.what() << '\n';
    return 1;
  }
  return 0;
}

int build(const std::string& jsonPath, const std::string& outPath) {
  std::string text;
  if (!readFile(jsonPath, text)) {
    std::cerr << "quorvel-request: unable to read " << jsonPath << '\n';
    return 1;
  }
  std::string bytes;
  try {
    const ParsedRequest request = requestFromJson(Json::parse(text));
    bytes = writeRequest(request.fields) + request.trailing;
  } catch (const std::exception& e) {
    std::cerr << "quorvel-request: " << jsonPath << ": " << e.what() << '\n';
    return 1;
  }
  std::ofstream out(pathOfUtf8(outPath), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "quorvel-request: unable to write " << outPath << '\n';
    return 1;
  }
  return 0;
}

int run(int argc, char** argv) {
  prepareConsoleOutput();
  CLI::App app{"Shows a Quorvel worker request file as JSON, or builds one from JSON."};
  app.name("quorvel-request");
  app.require_subcommand(1);
  std::string file, json, out;
  CLI::App* dumpCommand = app.add_subcommand("dump", "print FILE as JSON; refuse it as the worker would");
  dumpCommand->add_option("FILE", file, "request file")->required();
  CLI::App* buildCommand = app.add_subcommand("build", "write the request FILE.json describes to OUT");
  buildCommand->add_option("FILE.json", json, "JSON request")->required();
  buildCommand->add_option("OUT", out, "request file to write")->required();

  const std::vector<std::string> args = commandLineUtf8(argc, argv);
  std::vector<const char*> argvUtf8;
  for (const std::string& a : args) argvUtf8.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argvUtf8.size()), argvUtf8.data());
  } catch (const CLI::ParseError& e) {
    // A wrong command line ends like the worker's own: exit code 64.
    return app.exit(e) == 0 ? 0 : 64;
  }
  return dumpCommand->parsed() ? dump(file) : build(json, out);
}

}  // namespace
}  // namespace qv::tools

int main(int argc, char** argv) { return qv::tools::run(argc, argv); }
