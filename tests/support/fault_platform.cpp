#include "support/fault_platform.h"

#include <utility>

namespace qv::test {
namespace {

class FaultReadableFile final : public ReadableFile {
 public:
  FaultReadableFile(FaultPlatform& owner, std::u16string path,
                    std::unique_ptr<ReadableFile> inner)
      : owner_(owner), path_(std::move(path)), inner_(std::move(inner)) {}

  SysError read(void* buffer, size_t size, size_t& bytesRead) override {
    bytesRead = 0;
    return owner_.run(Op::Read, path_,
                      [&] { return inner_->read(buffer, size, bytesRead); });
  }
  SysError seek(uint64_t offset) override { return inner_->seek(offset); }
  SysError info(FileInfo& out) override { return inner_->info(out); }

 private:
  FaultPlatform& owner_;
  const std::u16string path_;
  std::unique_ptr<ReadableFile> inner_;
};

class FaultWritableFile final : public WritableFile {
 public:
  FaultWritableFile(FaultPlatform& owner, std::u16string path,
                    std::unique_ptr<WritableFile> inner)
      : owner_(owner), path_(std::move(path)), inner_(std::move(inner)) {}

  SysError write(const void* data, size_t size, size_t& written) override {
    written = 0;
    return owner_.run(Op::Write, path_,
                      [&] { return inner_->write(data, size, written); });
  }
  SysError setTimes(const FileInfo& source) override {
    return owner_.run(Op::FileSetTimes, path_,
                      [&] { return inner_->setTimes(source); });
  }
  SysError setAttributes(uint32_t attributes) override {
    return owner_.run(Op::FileSetAttributes, path_,
                      [&] { return inner_->setAttributes(attributes); });
  }
  SysError close() override {
    return owner_.run(Op::CloseFile, path_, [&] { return inner_->close(); });
  }

 private:
  FaultPlatform& owner_;
  const std::u16string path_;
  std::unique_ptr<WritableFile> inner_;
};

class FaultMetadataWriter final : public MetadataWriter {
 public:
  FaultMetadataWriter(FaultPlatform& owner, std::u16string path,
                      std::unique_ptr<MetadataWriter> inner)
      : owner_(owner), path_(std::move(path)), inner_(std::move(inner)) {}

  SysError setTimes(const FileInfo& source) override {
    return owner_.run(Op::MetadataSetTimes, path_,
                      [&] { return inner_->setTimes(source); });
  }

 private:
  FaultPlatform& owner_;
  const std::u16string path_;
  std::unique_ptr<MetadataWriter> inner_;
};

}  // namespace

void FaultPlatform::addRule(Op op, Action action, Rule rule) {
  rule.op = op;
  rule.action = action;
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.push_back(std::move(rule));
}

void FaultPlatform::failCalls(Op op, SysError code, CallMatch match) {
  Rule rule;
  rule.code = code;
  rule.match = std::move(match);
  addRule(op, Action::Fail, std::move(rule));
}

void FaultPlatform::failNthWrite(uint64_t n) {
  CallMatch match;
  match.skip = n > 0 ? n - 1 : 0;
  match.times = 1;
  failCalls(Op::Write, inner_.diskFullError(), std::move(match));
}

void FaultPlatform::failLargeCopyAfter(uint64_t afterBytes, SysError code,
                                       CallMatch match) {
  Rule rule;
  rule.code = code;
  rule.afterBytes = afterBytes;
  rule.match = std::move(match);
  addRule(Op::CopyLargeFile, Action::StopLargeCopy, std::move(rule));
}

void FaultPlatform::failSha256(Sha256Failure step, CallMatch match) {
  Rule rule;
  rule.code = static_cast<SysError>(step);
  rule.match = std::move(match);
  addRule(Op::CreateSha256, Action::FailSha256, std::move(rule));
}

void FaultPlatform::addHook(Op op, When when, Hook hook, CallMatch match) {
  Rule rule;
  rule.hook = std::move(hook);
  rule.match = std::move(match);
  addRule(op, when == When::Before ? Action::HookBefore : Action::HookAfter,
          std::move(rule));
}

void FaultPlatform::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  rules_.clear();
}

uint64_t FaultPlatform::calls(Op op) const {
  return counts_[static_cast<size_t>(op)].load();
}

FaultPlatform::Plan FaultPlatform::planCall(Op op, const std::u16string& path,
                                            const std::u16string& secondPath) {
  counts_[static_cast<size_t>(op)].fetch_add(1);
  Plan plan;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Rule& rule : rules_) {
    if (rule.op != op) continue;
    const std::u16string& want = rule.match.path;
    if (!want.empty() && want != path && want != secondPath) continue;
    if (rule.skipped < rule.match.skip) {
      ++rule.skipped;
      continue;
    }
    if (rule.used >= rule.match.times) continue;
    // The first fault that matches decides; later ones keep their turn.
    const bool isFault = rule.action == Action::Fail ||
                         rule.action == Action::StopLargeCopy ||
                         rule.action == Action::FailSha256;
    if (isFault && (plan.fail || plan.stopLargeCopy)) continue;
    if (rule.match.times != kEveryCall) ++rule.used;
    switch (rule.action) {
      case Action::Fail:
      case Action::FailSha256:
        plan.fail = true;
        plan.code = rule.code;
        break;
      case Action::StopLargeCopy:
        plan.stopLargeCopy = true;
        plan.code = rule.code;
        plan.stopAfterBytes = rule.afterBytes;
        break;
      case Action::HookBefore:
        plan.before.push_back(rule.hook);
        break;
      case Action::HookAfter:
        plan.after.push_back(rule.hook);
        break;
    }
  }
  return plan;
}

SysError FaultPlatform::readWholeFile(const std::u16string& path,
                                      std::string& contents) {
  return run(Op::ReadWholeFile, path,
             [&] { return inner_.readWholeFile(path, contents); });
}

SysError FaultPlatform::queryPath(const std::u16string& path, LinkMode mode,
                                  FileInfo& info) {
  return run(Op::QueryPath, path, [&] { return inner_.queryPath(path, mode, info); });
}

SysError FaultPlatform::readFileInfo(const std::u16string& path, FileInfo& info) {
  return run(Op::ReadFileInfo, path, [&] { return inner_.readFileInfo(path, info); });
}

SysError FaultPlatform::openForMetadataWrite(const std::u16string& path,
                                             std::unique_ptr<MetadataWriter>& out) {
  out.reset();
  return run(Op::OpenForMetadataWrite, path, [&] {
    std::unique_ptr<MetadataWriter> writer;
    SysError err = inner_.openForMetadataWrite(path, writer);
    if (err == 0) out = std::make_unique<FaultMetadataWriter>(*this, path, std::move(writer));
    return err;
  });
}

SysError FaultPlatform::setAttributes(const std::u16string& path, uint32_t attributes) {
  return run(Op::SetAttributes, path,
             [&] { return inner_.setAttributes(path, attributes); });
}

SysError FaultPlatform::openForRead(const std::u16string& path, ReadPurpose purpose,
                                    std::unique_ptr<ReadableFile>& out) {
  out.reset();
  return run(Op::OpenForRead, path, [&] {
    std::unique_ptr<ReadableFile> file;
    SysError err = inner_.openForRead(path, purpose, file);
    if (err == 0) out = std::make_unique<FaultReadableFile>(*this, path, std::move(file));
    return err;
  });
}

SysError FaultPlatform::createStagingFile(const std::u16string& path,
                                          std::unique_ptr<WritableFile>& out) {
  out.reset();
  return run(Op::CreateStagingFile, path, [&] {
    std::unique_ptr<WritableFile> file;
    SysError err = inner_.createStagingFile(path, file);
    if (err == 0) out = std::make_unique<FaultWritableFile>(*this, path, std::move(file));
    return err;
  });
}

SysError FaultPlatform::removeFile(const std::u16string& path) {
  return run(Op::RemoveFile, path, [&] { return inner_.removeFile(path); });
}

SysError FaultPlatform::renameFile(const std::u16string& from, const std::u16string& to,
                                   ExistingTarget existing) {
  Plan plan = planCall(Op::RenameFile, from, to);
  for (const Hook& hook : plan.before) hook(from);
  SysError result = plan.fail ? plan.code : inner_.renameFile(from, to, existing);
  for (const Hook& hook : plan.after) hook(from);
  return result;
}

SysError FaultPlatform::createDirectory(const std::u16string& path) {
  return run(Op::CreateDirectory, path, [&] { return inner_.createDirectory(path); });
}

SysError FaultPlatform::listDirectory(
    const std::u16string& path,
    const std::function<bool(const DirectoryEntry&)>& visit) {
  return run(Op::ListDirectory, path, [&] { return inner_.listDirectory(path, visit); });
}

SysError FaultPlatform::finalPath(const std::u16string& path, std::u16string& out) {
  return run(Op::FinalPath, path, [&] { return inner_.finalPath(path, out); });
}

SysError FaultPlatform::copySmallFile(const std::u16string& source,
                                      const std::u16string& target,
                                      ExistingTarget existing) {
  Plan plan = planCall(Op::CopySmallFile, source, target);
  for (const Hook& hook : plan.before) hook(source);
  SysError result =
      plan.fail ? plan.code : inner_.copySmallFile(source, target, existing);
  for (const Hook& hook : plan.after) hook(source);
  return result;
}

SysError FaultPlatform::copyLargeFile(
    const std::u16string& source, const std::u16string& target,
    ExistingTarget existing,
    const std::function<CopyProgress(uint64_t totalTransferred)>& progress) {
  Plan plan = planCall(Op::CopyLargeFile, source, target);
  for (const Hook& hook : plan.before) hook(source);
  SysError result = 0;
  if (plan.fail) {
    result = plan.code;
  } else if (plan.stopLargeCopy) {
    bool stopped = false;
    result = inner_.copyLargeFile(
        source, target, existing, [&](uint64_t total) {
          if (progress && progress(total) == CopyProgress::Cancel) {
            return CopyProgress::Cancel;
          }
          if (total >= plan.stopAfterBytes && total > 0) {
            stopped = true;
            return CopyProgress::Cancel;
          }
          return CopyProgress::Continue;
        });
    if (stopped || result == 0) result = plan.code;
  } else {
    result = inner_.copyLargeFile(source, target, existing, progress);
  }
  for (const Hook& hook : plan.after) hook(source);
  return result;
}

void FaultPlatform::beginFolderReuse() { inner_.beginFolderReuse(); }
void FaultPlatform::endFolderReuse() { inner_.endFolderReuse(); }

std::unique_ptr<Sha256> FaultPlatform::createSha256(Sha256Failure& failure) {
  Plan plan = planCall(Op::CreateSha256, {});
  for (const Hook& hook : plan.before) hook({});
  std::unique_ptr<Sha256> result;
  if (plan.fail) {
    failure = static_cast<Sha256Failure>(plan.code);
  } else {
    result = inner_.createSha256(failure);
  }
  for (const Hook& hook : plan.after) hook({});
  return result;
}

}  // namespace qv::test
