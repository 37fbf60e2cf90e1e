#include "frontend/request_json.h"

#include <array>
#include <limits>
#include <set>
#include <stdexcept>
#include <utility>

namespace qv::tools {
namespace {

constexpr std::array<const char*, 3> kConflictPolicies = {"skip", "overwrite", "rename"};
constexpr std::array<const char*, 5> kVerificationModes = {"none", "sampled", "crc32",
                                                           "sha256", "full"};
constexpr std::array<const char*, 7> kOptionBits = {
    "preserveTimestamps", "preserveAttributes", "fitWorkersToProcessors",
    "prePlanned",         "smallFileReadAhead", "directWrite",
    "suppressCompletedEvents"};

template <size_t N>
Json codeToJson(uint8_t code, const std::array<const char*, N>& names) {
  if (code < N) return names[code];
  return code;
}

template <size_t N>
std::optional<uint8_t> codeOf(std::string_view name, const std::array<const char*, N>& names) {
  for (size_t i = 0; i < N; ++i) {
    if (name == names[i]) return static_cast<uint8_t>(i);
  }
  return std::nullopt;
}

std::string hex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

[[noreturn]] void badValue(const std::string& key, const char* expected) {
  throw std::invalid_argument("\"" + key + "\" must be " + expected);
}

std::string unhex(const std::string& key, const std::string& text) {
  auto digit = [&key](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    badValue(key, "a string of hexadecimal digit pairs");
  };
  if (text.size() % 2 != 0) badValue(key, "a string of hexadecimal digit pairs");
  std::string out;
  for (size_t i = 0; i < text.size(); i += 2) {
    out += static_cast<char>(digit(text[i]) * 16 + digit(text[i + 1]));
  }
  return out;
}

// Reads the keys of one JSON object, refusing keys it does not know, so a
// misspelt key is an error rather than a silent default.
class ObjectReader {
 public:
  ObjectReader(const Json& object, std::string where) : object_(object), where_(std::move(where)) {
    if (!object.is_object()) badValue(where_, "an object");
  }

  const Json* find(const char* key) {
    known_.insert(key);
    auto it = object_.find(key);
    return it == object_.end() ? nullptr : &*it;
  }
  std::string name(const char* key) const { return where_.empty() ? key : where_ + "." + key; }

  template <typename T>
  void number(const char* key, T& out) {
    if (const Json* v = find(key)) {
      if (!v->is_number_unsigned() || v->get<uint64_t>() > std::numeric_limits<T>::max()) {
        badValue(name(key), "an unsigned number in range");
      }
      out = v->get<T>();
    }
  }
  void text(const char* key, std::string& out) {
    if (const Json* v = find(key)) {
      if (!v->is_string()) badValue(name(key), "a string");
      out = v->get<std::string>();
    }
  }
  template <size_t N>
  void code(const char* key, uint8_t& out, const std::array<const char*, N>& names) {
    const Json* v = find(key);
    if (v == nullptr) return;
    if (v->is_string()) {
      std::optional<uint8_t> c = codeOf(v->get<std::string>(), names);
      if (!c) badValue(name(key), "a known name or a number");
      out = *c;
      return;
    }
    number(key, out);
  }
  void checkAllKnown() const {
    for (auto it = object_.begin(); it != object_.end(); ++it) {
      if (known_.count(it.key()) == 0) {
        throw std::invalid_argument("unknown key \"" + name(it.key().c_str()) + "\"");
      }
    }
  }

 private:
  const Json& object_;
  std::string where_;
  std::set<std::string> known_;
};

const Json& arrayAt(ObjectReader& in, const char* key) {
  static const Json empty = Json::array();
  const Json* v = in.find(key);
  if (v == nullptr) return empty;
  if (!v->is_array()) badValue(in.name(key), "an array");
  return *v;
}

}  // namespace

std::optional<uint8_t> conflictPolicyCode(std::string_view name) {
  return codeOf(name, kConflictPolicies);
}

std::optional<uint8_t> verificationModeCode(std::string_view name) {
  return codeOf(name, kVerificationModes);
}

Json requestToJson(const ParsedRequest& request) {
  const RequestFields& f = request.fields;
  Json j;
  j["protocolVersion"] = f.protocolVersion;
  // A verify-only byte other than 0 or 1 means the same as 1 but must be
  // kept to rebuild the same bytes.
  if (f.verifyOnly <= 1) j["verifyOnly"] = f.verifyOnly == 1;
  else j["verifyOnly"] = f.verifyOnly;
  j["conflictPolicy"] = codeToJson(f.conflictPolicy, kConflictPolicies);
  j["verificationMode"] = codeToJson(f.verificationMode, kVerificationModes);
  j["reserved"] = f.reserved;
  j["workerCount"] = f.workerCount;
  j["minimumWorkerCount"] = f.minimumWorkerCount;
  j["verifyWorkerCount"] = f.verifyWorkerCount;
  j["bufferSize"] = f.bufferSize;
  j["retryCount"] = f.retryCount;
  Json bits = Json::array();
  for (uint32_t bit = 0; bit < 32; ++bit) {
    const uint32_t value = 1u << bit;
    if ((f.optionFlags & value) == 0) continue;
    if (bit < kOptionBits.size()) bits.push_back(kOptionBits[bit]);
    else bits.push_back(value);  // ignored by the worker, kept for the bytes
  }
  j["optionFlags"] = bits;
  j["smallFileThreshold"] = f.smallFileThreshold;
  j["readAheadQueueFiles"] = f.readAheadQueueFiles;
  j["memoryBudgetMiB"] = f.memoryBudgetMiB;
  j["destinationRoot"] = f.destinationRoot;
  j["sourceRoots"] = f.sourceRoots;
  j["files"] = Json::array();
  for (const FileEntryFields& file : f.files) {
    j["files"].push_back({{"sourcePath", file.sourcePath},
                          {"readPath", file.readPath},
                          {"destinationPath", file.destinationPath},
                          {"size", file.size},
                          {"lastWriteTime", file.lastWriteTime}});
  }
  j["directories"] = Json::array();
  for (const DirectoryEntryFields& d : f.directories) {
    j["directories"].push_back({{"sourcePath", d.sourcePath},
                                {"readPath", d.readPath},
                                {"destinationPath", d.destinationPath}});
  }
  if (!request.trailing.empty()) j["trailingBytes"] = hex(request.trailing);
  return j;
}

ParsedRequest requestFromJson(const Json& json) {
  ParsedRequest request;
  RequestFields& f = request.fields;
  ObjectReader in(json, "");
  in.text("signature", f.signature);
  in.number("protocolVersion", f.protocolVersion);
  if (const Json* v = in.find("verifyOnly")) {
    if (v->is_boolean()) f.verifyOnly = v->get<bool>() ? 1 : 0;
    else in.number("verifyOnly", f.verifyOnly);
  }
  in.code("conflictPolicy", f.conflictPolicy, kConflictPolicies);
  in.code("verificationMode", f.verificationMode, kVerificationModes);
  in.number("reserved", f.reserved);
  in.number("workerCount", f.workerCount);
  in.number("minimumWorkerCount", f.minimumWorkerCount);
  in.number("verifyWorkerCount", f.verifyWorkerCount);
  in.number("bufferSize", f.bufferSize);
  in.number("retryCount", f.retryCount);
  if (const Json* v = in.find("optionFlags")) {
    if (v->is_number()) {
      in.number("optionFlags", f.optionFlags);
    } else {
      f.optionFlags = 0;
      for (const Json& bit : arrayAt(in, "optionFlags")) {
        if (bit.is_string()) {
          std::optional<uint8_t> index = codeOf(bit.get<std::string>(), kOptionBits);
          if (!index) badValue("optionFlags", "a list of option names or bit values");
          f.optionFlags |= 1u << *index;
        } else if (bit.is_number_unsigned() && bit.get<uint64_t>() <= 0xFFFFFFFFu) {
          f.optionFlags |= bit.get<uint32_t>();
        } else {
          badValue("optionFlags", "a list of option names or bit values");
        }
      }
    }
  }
  in.number("smallFileThreshold", f.smallFileThreshold);
  in.number("readAheadQueueFiles", f.readAheadQueueFiles);
  in.number("memoryBudgetMiB", f.memoryBudgetMiB);
  in.text("destinationRoot", f.destinationRoot);
  for (const Json& root : arrayAt(in, "sourceRoots")) {
    if (!root.is_string()) badValue("sourceRoots", "a list of strings");
    f.sourceRoots.push_back(root.get<std::string>());
  }
  for (const Json& entry : arrayAt(in, "files")) {
    ObjectReader e(entry, "files[]");
    FileEntryFields& file = f.files.emplace_back();
    e.text("sourcePath", file.sourcePath);
    e.text("readPath", file.readPath);
    e.text("destinationPath", file.destinationPath);
    e.number("size", file.size);
    e.number("lastWriteTime", file.lastWriteTime);
    e.checkAllKnown();
  }
  for (const Json& entry : arrayAt(in, "directories")) {
    ObjectReader e(entry, "directories[]");
    DirectoryEntryFields& d = f.directories.emplace_back();
    e.text("sourcePath", d.sourcePath);
    e.text("readPath", d.readPath);
    e.text("destinationPath", d.destinationPath);
    e.checkAllKnown();
  }
  std::string trailing;
  in.text("trailingBytes", trailing);
  request.trailing = unhex("trailingBytes", trailing);
  in.checkAllKnown();
  return request;
}

}  // namespace qv::tools
