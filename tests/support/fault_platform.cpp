#include "support/fault_platform.h"

#include <utility>

namespace qv::test {
namespace {

// A file or writer handed out by the wrapper: its calls go through the
// wrapper's rules under the path it was opened with.
template <typename Interface>
class Wrapped : public Interface {
 public:
  Wrapped(FaultPlatform& owner, std::u16string path, std::unique_ptr<Interface> inner)
      : owner_(owner), path_(std::move(path)), inner_(std::move(inner)) {}

 protected:
  SysError on(Op op, const std::function<SysError()>& forward) {
    return owner_.run(op, path_, forward);
  }

  FaultPlatform& owner_;
  const std::u16string path_;
  std::unique_ptr<Interface> inner_;
};

class FaultReadableFile final : public Wrapped<ReadableFile> {
 public:
  using Wrapped::Wrapped;
  SysError read(void* buffer, size_t size, size_t& bytesRead) override {
    bytesRead = 0;
    return on(Op::Read, [&] { return inner_->read(buffer, size, bytesRead); });
  }
  SysError seek(uint64_t offset) override { return inner_->seek(offset); }
  SysError info(FileInfo& out) override { return inner_->info(out); }
};

class FaultWritableFile final : public Wrapped<WritableFile> {
 public:
  using Wrapped::Wrapped;
  SysError write(const void* data, size_t size, size_t& written) override {
    written = 0;
    return on(Op::Write, [&] { return inner_->write(data, size, written); });
  }
  SysError setTimes(const FileInfo& source) override {
    return on(Op::FileSetTimes, [&] { return inner_->setTimes(source); });
  }
  SysError setAttributes(uint32_t attributes) override {
    return on(Op::FileSetAttributes, [&] { return inner_->setAttributes(attributes); });
  }
  SysError close() override { return on(Op::CloseFile, [&] { return inner_->close(); }); }
};

class FaultMetadataWriter final : public Wrapped<MetadataWriter> {
 public:
  using Wrapped::Wrapped;
  SysError setTimes(const FileInfo& source) override {
    return on(Op::MetadataSetTimes, [&] { return inner_->setTimes(source); });
  }
};

// An open through the rules; what the wrapped platform opens is handed out
// wrapped.
template <typename Wrapper, typename Interface, typename Open>
SysError openWrapped(FaultPlatform& owner, Op op, const std::u16string& path,
                     std::unique_ptr<Interface>& out, Open open) {
  out.reset();
  return owner.run(op, path, [&] {
    std::unique_ptr<Interface> inner;
    const SysError err = open(inner);
    if (err == 0) out = std::make_unique<Wrapper>(owner, path, std::move(inner));
    return err;
  });
}

}  // namespace

FaultPlatform::Plan FaultPlatform::planCall(Op op, const std::u16string& path,
                                            const std::u16string& second) {
  counts_[static_cast<size_t>(op)].fetch_add(1);
  Plan plan;
  std::lock_guard<std::mutex> lock(mutex_);
  for (Rule& rule : rules_) {
    const std::u16string& want = rule.match.path;
    if (rule.op != op || (!want.empty() && want != path && want != second)) continue;
    if (rule.skipped < rule.match.skip) {
      ++rule.skipped;
      continue;
    }
    if (rule.used >= rule.match.times) continue;
    // The first fault that matches decides; later ones keep their turn.
    const bool isFault = rule.action == Action::Fail || rule.action == Action::StopLargeCopy;
    if (isFault && plan.fault) continue;
    if (rule.match.times != kEveryCall) ++rule.used;
    if (rule.action == Action::HookBefore) plan.before.push_back(rule.hook);
    if (rule.action == Action::HookAfter) plan.after.push_back(rule.hook);
    if (isFault) plan.fault = rule;
  }
  return plan;
}

SysError FaultPlatform::run(Op op, const std::u16string& path,
                            const std::function<SysError()>& forward,
                            const std::u16string& second) {
  const Plan plan = planCall(op, path, second);
  for (const Hook& hook : plan.before) hook(path);
  const SysError result = plan.fault ? plan.fault->code : forward();
  for (const Hook& hook : plan.after) hook(path);
  return result;
}

SysError FaultPlatform::openForMetadataWrite(const std::u16string& path,
                                             std::unique_ptr<MetadataWriter>& out) {
  auto open = [&](auto& file) { return inner_.openForMetadataWrite(path, file); };
  return openWrapped<FaultMetadataWriter>(*this, Op::OpenForMetadataWrite, path, out, open);
}

SysError FaultPlatform::openForRead(const std::u16string& path, ReadPurpose purpose,
                                    std::unique_ptr<ReadableFile>& out) {
  auto open = [&](auto& file) { return inner_.openForRead(path, purpose, file); };
  return openWrapped<FaultReadableFile>(*this, Op::OpenForRead, path, out, open);
}

SysError FaultPlatform::createStagingFile(const std::u16string& path,
                                          std::unique_ptr<WritableFile>& out) {
  auto open = [&](auto& file) { return inner_.createStagingFile(path, file); };
  return openWrapped<FaultWritableFile>(*this, Op::CreateStagingFile, path, out, open);
}

SysError FaultPlatform::copyLargeFile(
    const std::u16string& source, const std::u16string& target, ExistingTarget existing,
    const std::function<CopyProgress(uint64_t totalTransferred)>& progress) {
  const Plan plan = planCall(Op::CopyLargeFile, source, target);
  for (const Hook& hook : plan.before) hook(source);
  SysError result = plan.fault ? plan.fault->code : 0;
  if (!plan.fault) {
    result = inner_.copyLargeFile(source, target, existing, progress);
  } else if (plan.fault->action == Action::StopLargeCopy) {
    bool stopped = false;
    const SysError err = inner_.copyLargeFile(source, target, existing, [&](uint64_t total) {
      if (progress && progress(total) == CopyProgress::Cancel) return CopyProgress::Cancel;
      stopped = total >= plan.fault->afterBytes && total > 0;
      return stopped ? CopyProgress::Cancel : CopyProgress::Continue;
    });
    if (!stopped && err != 0) result = err;
  }
  for (const Hook& hook : plan.after) hook(source);
  return result;
}

std::unique_ptr<Sha256> FaultPlatform::createSha256(Sha256Failure& failure) {
  std::unique_ptr<Sha256> result;
  const SysError failedStep = run(Op::CreateSha256, {}, [&] {
    result = inner_.createSha256(failure);
    return SysError{0};
  });
  if (failedStep != 0) failure = static_cast<Sha256Failure>(failedStep);
  return result;
}

}  // namespace qv::test
