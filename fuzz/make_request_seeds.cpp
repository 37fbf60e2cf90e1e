// Writes the request reader's seed corpus: valid requests of several shapes
// and broken ones (bad signature and version, truncations at field starts,
// oversized lengths and counts, invalid UTF-8), one file each.
//
//   make_request_seeds <folder>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "request_writer/request_writer.h"

namespace {

using qv::tools::RequestFields;
using qv::tools::RequestOffsets;

struct Seed {
  std::string name;
  std::string bytes;
};

RequestFields fullJob() {
  RequestFields f;
  f.conflictPolicy = 2;
  f.verificationMode = 1;
  f.optionFlags = 0x3F;
  f.destinationRoot = "/dst";
  f.sourceRoots = {"/src/a", "/src/b"};
  f.files = {{"/src/a/x.txt", "", "/dst/a/x.txt", 12, 133000000000000000ull},
             {"/src/b/\xC3\xA9t\xC3\xA9.bin", "/read/b", "/dst/b/\xC3\xA9t\xC3\xA9.bin",
              1u << 24, 0},
             {"C:\\src\\\xF0\x9F\x98\x80", "", "D:\\dst\\\xF0\x9F\x98\x80", 0, 1}};
  f.directories = {{"/src/a", "", "/dst/a"}, {"", "", "/dst/empty"}};
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <folder>\n", argv[0]);
    return 2;
  }
  std::vector<Seed> seeds;
  auto add = [&seeds](std::string name, std::string bytes) {
    seeds.push_back({std::move(name), std::move(bytes)});
  };

  add("empty-job", qv::tools::writeRequest(RequestFields{}));
  RequestOffsets at;
  const std::string full = qv::tools::writeRequest(fullJob(), &at);
  add("full-job", full);
  add("trailing-bytes", full + "tail");

  RequestFields verify = fullJob();
  verify.verifyOnly = 1;
  verify.conflictPolicy = 0;
  add("verify-only", qv::tools::writeRequest(verify));

  RequestFields bad = fullJob();
  bad.signature = "QVCWREQ2";
  add("bad-signature", qv::tools::writeRequest(bad));
  bad = fullJob();
  bad.protocolVersion = 2;
  add("bad-version", qv::tools::writeRequest(bad));
  bad = fullJob();
  bad.destinationRoot = "/dst/\xC0\xAF";  // overlong '/'
  add("overlong-utf8", qv::tools::writeRequest(bad));
  bad = fullJob();
  bad.files[0].destinationPath = "/dst/\xED\xA0\x80";  // encoded surrogate
  add("surrogate-utf8", qv::tools::writeRequest(bad));
  bad = fullJob();
  bad.sourceRoots[1] = "/src/\xFF";
  add("stray-byte", qv::tools::writeRequest(bad));
  bad = fullJob();
  bad.sourceRootCount = 1000001;
  add("too-many-roots", qv::tools::writeRequest(bad));
  bad = fullJob();
  bad.fileCount = 100000001;
  add("too-many-files", qv::tools::writeRequest(bad));
  bad = fullJob();
  bad.fileCount = 99999999;
  add("count-beyond-bytes", qv::tools::writeRequest(bad));
  bad = fullJob();
  bad.directoryCount = 100000001;
  add("too-many-directories", qv::tools::writeRequest(bad));
  // Counts at their limits with no entries after them: a short read that
  // must not reserve room for the count first.
  RequestFields atLimit;
  atLimit.sourceRootCount = 1000000;
  add("roots-at-limit", qv::tools::writeRequest(atLimit));
  atLimit = RequestFields{};
  atLimit.fileCount = 100000000;
  add("files-at-limit", qv::tools::writeRequest(atLimit));
  atLimit = RequestFields{};
  atLimit.directoryCount = 100000000;
  add("directories-at-limit", qv::tools::writeRequest(atLimit));

  std::string longString = full;
  qv::tools::patchU32(longString, at.destinationRoot, 16777217);
  add("string-too-large", longString);
  std::string shortString = full;
  qv::tools::patchU32(shortString, at.files[1].readPath, 16777216);
  add("string-beyond-bytes", shortString);

  const size_t cuts[] = {0, 4, at.protocolVersion + 2, at.workerCount,
                         at.destinationRoot + 2, at.sourceRoots[1] + 5,
                         at.fileCount, at.files[0].size + 3,
                         at.files[2].lastWriteTime, at.directories[1].readPath,
                         at.end - 1};
  for (size_t cut : cuts) {
    add("truncated-" + std::to_string(cut), qv::tools::truncateAt(full, cut));
  }

  for (const Seed& seed : seeds) {
    const std::string path = std::string(argv[1]) + "/" + seed.name;
    std::ofstream out(path, std::ios::binary);
    out.write(seed.bytes.data(), static_cast<std::streamsize>(seed.bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
