// A Platform that forwards every call to another one and can make chosen
// calls fail, run code around them, and count them. Tests use it to reach the
// engine's failure paths: a disk that fills up at the Nth write, a rename
// that is refused, a source that changes between two calls.
//
// Faults and hooks may be added while other threads use the platform; every
// member is safe to call from any thread. Hooks run on the calling thread,
// outside the wrapper's lock, so a hook may call the wrapper itself. The
// files and writers it hands out refer to it and must not outlive it.
#ifndef QV_TESTS_SUPPORT_FAULT_PLATFORM_H_
#define QV_TESTS_SUPPORT_FAULT_PLATFORM_H_

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace qv::test {

// The operations the wrapper counts, fails and hooks. Read, Write,
// FileSetTimes, FileSetAttributes and CloseFile are calls on the files the
// wrapper hands out; MetadataSetTimes is the call on a metadata writer.
enum class Op {
  ReadWholeFile, QueryPath, ReadFileInfo, OpenForMetadataWrite, MetadataSetTimes,
  SetAttributes, OpenForRead, Read, CreateStagingFile, Write, FileSetTimes,
  FileSetAttributes, CloseFile, RemoveFile, RenameFile, CreateDirectory, ListDirectory,
  FinalPath, CopySmallFile, CopyLargeFile, CreateSha256, Count_
};

enum class When { Before, After };

constexpr uint32_t kEveryCall = UINT32_MAX;

// Which calls of an operation a fault or hook acts on.
struct CallMatch {
  // Empty: every path. Otherwise the call's path must equal it exactly; for
  // a rename or a copy either of its two paths may. Calls on an open file
  // carry the path it was opened with.
  std::u16string path;
  // Matching calls let through before the first one acted on.
  uint64_t skip = 0;
  // Matching calls acted on after the skipped ones.
  uint32_t times = kEveryCall;
};

class FaultPlatform : public Platform {
 public:
  using Hook = std::function<void(const std::u16string& path)>;

  explicit FaultPlatform(Platform& inner) : inner_(inner) {}

  Platform& inner() { return inner_; }

  // Matching calls fail with `code` without reaching the wrapped platform
  // (a failed write reports 0 bytes written). For CreateSha256 the code is
  // the Sha256Failure step that fails.
  void failCalls(Op op, SysError code, CallMatch match = {}) {
    addRule({op, Action::Fail, code, std::move(match)});
  }
  // Matching large copies run for real, reporting their progress to the
  // caller, until a report's total is above 0 and at least `afterBytes`;
  // the wrapper then answers cancel itself and the copy fails with `code`,
  // leaving whatever the wrapped copier leaves of a stopped copy. A copy that
  // ends before that fails with `code` as well.
  void failLargeCopyAfter(uint64_t afterBytes, SysError code, CallMatch match = {}) {
    addRule({Op::CopyLargeFile, Action::StopLargeCopy, code, std::move(match), afterBytes});
  }
  // Runs `hook` with the call's (first) path before or after matching calls,
  // failed ones included.
  void addHook(Op op, When when, Hook hook, CallMatch match = {}) {
    const Action action = when == When::Before ? Action::HookBefore : Action::HookAfter;
    addRule({op, action, 0, std::move(match), 0, std::move(hook)});
  }
  // Drops every fault and hook; the counts stay.
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.clear();
  }

  // Calls of `op` so far, failed ones included.
  uint64_t calls(Op op) const { return counts_[static_cast<size_t>(op)].load(); }

  // Counts a call of `op` on `path` (and `second`), runs its hooks around it
  // and either fails it or runs `forward`. Used by the wrapped files too.
  SysError run(Op op, const std::u16string& path, const std::function<SysError()>& forward,
               const std::u16string& second = {});

  // ---- Platform, forwarded ----
  PathStyle pathStyle() const override { return inner_.pathStyle(); }
  std::u16string systemErrorMessage(SysError code) override {
    return inner_.systemErrorMessage(code);
  }
  std::string errorNumberLabel() const override { return inner_.errorNumberLabel(); }
  uint32_t processId() override { return inner_.processId(); }
  uint32_t logicalProcessorCount() override { return inner_.logicalProcessorCount(); }
  void prepareStandardStreams() override { inner_.prepareStandardStreams(); }
  std::unique_ptr<LineReader> openStandardInput() override { return inner_.openStandardInput(); }
  bool isNotFoundFamily(SysError code) const override { return inner_.isNotFoundFamily(code); }
  bool isAlreadyExists(SysError code) const override { return inner_.isAlreadyExists(code); }
  bool isAccessDenied(SysError code) const override { return inner_.isAccessDenied(code); }
  SysError pathNotFoundError() const override { return inner_.pathNotFoundError(); }
  SysError diskFullError() const override { return inner_.diskFullError(); }
  uint32_t normalAttributes() const override { return inner_.normalAttributes(); }
  uint32_t attributesToPreserve(const FileInfo& source) const override {
    return inner_.attributesToPreserve(source);
  }
  void beginFolderReuse() override { inner_.beginFolderReuse(); }
  void endFolderReuse() override { inner_.endFolderReuse(); }

  // ---- Platform, with faults ----
  SysError readWholeFile(const std::u16string& path, std::string& contents) override {
    return run(Op::ReadWholeFile, path, [&] { return inner_.readWholeFile(path, contents); });
  }
  SysError queryPath(const std::u16string& path, LinkMode mode, FileInfo& info) override {
    return run(Op::QueryPath, path, [&] { return inner_.queryPath(path, mode, info); });
  }
  SysError readFileInfo(const std::u16string& path, FileInfo& info) override {
    return run(Op::ReadFileInfo, path, [&] { return inner_.readFileInfo(path, info); });
  }
  SysError openForMetadataWrite(const std::u16string& path,
                                std::unique_ptr<MetadataWriter>& out) override;
  SysError setAttributes(const std::u16string& path, uint32_t attributes) override {
    return run(Op::SetAttributes, path, [&] { return inner_.setAttributes(path, attributes); });
  }
  SysError openForRead(const std::u16string& path, ReadPurpose purpose,
                       std::unique_ptr<ReadableFile>& out) override;
  SysError createStagingFile(const std::u16string& path,
                             std::unique_ptr<WritableFile>& out) override;
  SysError removeFile(const std::u16string& path) override {
    return run(Op::RemoveFile, path, [&] { return inner_.removeFile(path); });
  }
  SysError renameFile(const std::u16string& from, const std::u16string& to,
                      ExistingTarget existing) override {
    return run(Op::RenameFile, from, [&] { return inner_.renameFile(from, to, existing); }, to);
  }
  SysError createDirectory(const std::u16string& path) override {
    return run(Op::CreateDirectory, path, [&] { return inner_.createDirectory(path); });
  }
  SysError listDirectory(const std::u16string& path,
                         const std::function<bool(const DirectoryEntry&)>& visit) override {
    return run(Op::ListDirectory, path, [&] { return inner_.listDirectory(path, visit); });
  }
  SysError finalPath(const std::u16string& path, std::u16string& out) override {
    return run(Op::FinalPath, path, [&] { return inner_.finalPath(path, out); });
  }
  SysError copySmallFile(const std::u16string& source, const std::u16string& target,
                         ExistingTarget existing) override {
    return run(Op::CopySmallFile, source,
               [&] { return inner_.copySmallFile(source, target, existing); }, target);
  }
  SysError copyLargeFile(
      const std::u16string& source, const std::u16string& target, ExistingTarget existing,
      const std::function<CopyProgress(uint64_t totalTransferred)>& progress) override;
  std::unique_ptr<Sha256> createSha256(Sha256Failure& failure) override;

 private:
  enum class Action { Fail, StopLargeCopy, HookBefore, HookAfter };
  struct Rule {
    Op op;
    Action action;
    SysError code;
    CallMatch match;
    uint64_t afterBytes = 0;
    Hook hook{};
    uint64_t skipped = 0;
    uint32_t used = 0;
  };
  // What the rules say about one call, which it counts: a copy of the fault
  // that decides it, if any, and the hooks to run around it.
  struct Plan {
    std::optional<Rule> fault;
    std::vector<Hook> before;
    std::vector<Hook> after;
  };
  void addRule(Rule rule) {
    std::lock_guard<std::mutex> lock(mutex_);
    rules_.push_back(std::move(rule));
  }
  Plan planCall(Op op, const std::u16string& path, const std::u16string& second);

  Platform& inner_;
  std::array<std::atomic<uint64_t>, static_cast<size_t>(Op::Count_)> counts_{};

  mutable std::mutex mutex_;
  // Guarded by mutex_.
  std::vector<Rule> rules_;
};

}  // namespace qv::test

#endif  // QV_TESTS_SUPPORT_FAULT_PLATFORM_H_
