// The one narrow interface between the engine and the operating system.
//
// The engine never includes a system header: everything it asks of the
// system goes through a Platform. There is one real implementation per
// system (posix/, win32/); tests wrap it to inject faults.
//
// Conventions for every operation below:
// - A SysError is the system's own error code (Win32 last error, errno),
//   0 for success. Out-parameters are unspecified after a failure unless the
//   contract says otherwise.
// - Paths are UTF-16. The POSIX implementation maps them to the file
//   system's bytes losslessly (see text_mapping in posix/).
// - Every operation may be called from any thread at once unless its
//   contract says otherwise; handles are used by one thread at a time.
#ifndef QV_PLATFORM_PLATFORM_H_
#define QV_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/path_style.h"

namespace qv {

using SysError = uint32_t;

// A file time as the Windows file API holds it: 100 ns ticks since
// 1601-01-01 UTC. POSIX keeps the nanoseconds below one tick in
// `extraNanos`, so a copied time is exact on both systems.
struct FileTime {
  uint64_t ticks = 0;
  uint32_t extraNanos = 0;
};

// What the system says about one file or folder.
struct FileInfo {
  // The system's attribute word: Win32 file attributes, or the POSIX mode
  // bits (mode & 07777). Copied as it is when attributes are preserved.
  uint32_t attributes = 0;
  bool isDirectory = false;
  // A reparse point on Windows, a symbolic link on POSIX. Only reported by
  // the no-follow queries.
  bool isLink = false;
  // Windows only, with isLink: a reparse point that is neither a symbolic
  // link nor a junction (a cloud placeholder, a deduplicated file), which
  // the system opens as the file or folder it stands for. Only reported by
  // queryPath with LinkMode::NoFollow; always false on POSIX.
  bool isOtherReparsePoint = false;
  // POSIX only: neither a regular file, a folder nor a link (a FIFO, socket
  // or device), which the scan skips because reading it may never end.
  // Always false on Windows.
  bool isSpecial = false;
  FileTime creationTime;
  FileTime lastAccessTime;
  FileTime lastWriteTime;
  uint64_t size = 0;
  uint64_t volumeId = 0;
  uint64_t fileIndex = 0;
  uint32_t linkCount = 0;
};

enum class LinkMode { Follow, NoFollow };

// How a file is opened for reading.
enum class ReadPurpose {
  // A source read whole from start to end whose information is also taken
  // on the open file (read-ahead): read data and attributes.
  Sequential,
  // A file compared or hashed from start to end (verification): read data
  // only.
  Verification,
};

// An open file read from one thread.
class ReadableFile {
 public:
  virtual ~ReadableFile() = default;
  // Reads up to `size` bytes at the current position. `bytesRead` is 0 at
  // the end of the file. Short reads are possible only at the end.
  virtual SysError read(void* buffer, size_t size, size_t& bytesRead) = 0;
  // Moves the position to `offset` bytes from the start.
  virtual SysError seek(uint64_t offset) = 0;
  // The information of the open file, taken now.
  virtual SysError info(FileInfo& out) = 0;
};

// A newly created file written from one thread. The destructor closes it;
// call close() to learn whether the close failed.
class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Writes all `size` bytes or fails; `written` holds what reached the file.
  virtual SysError write(const void* data, size_t size, size_t& written) = 0;
  // Gives the file the creation, access and write times of `source`.
  virtual SysError setTimes(const FileInfo& source) = 0;
  // Sets the attribute word (as FileInfo::attributes holds it) of the open
  // file, as Platform::setAttributes does through a path.
  virtual SysError setAttributes(uint32_t attributes) = 0;
  virtual SysError close() = 0;
};

// A file or folder opened only to change its times.
class MetadataWriter {
 public:
  virtual ~MetadataWriter() = default;
  virtual SysError setTimes(const FileInfo& source) = 0;
};

// Cancellable reader of the standard input's lines, for the control thread.
class LineReader {
 public:
  virtual ~LineReader() = default;
  // Blocks for the next line, without its line feed and with one carriage
  // return before the line feed dropped. A last line without a line feed is
  // still returned. False at end of input, on a read error, or once cancel()
  // has been called. Called by one thread only.
  virtual bool readLine(std::string& line) = 0;
  // Makes a pending or later readLine() return false promptly. Callable from
  // any thread, any number of times.
  virtual void cancel() = 0;
};

// One SHA-256 computation. Created per thread; messages on failure are the
// worker's own fixed sentences (raised by the engine, not here).
class Sha256 {
 public:
  virtual ~Sha256() = default;
  virtual bool update(const void* data, size_t size) = 0;
  virtual bool finish(uint8_t digest[32]) = 0;
};

// Which step of SHA-256 set-up failed; the engine words the message.
enum class Sha256Failure { None, OpenProvider, QueryObjectLength, CreateHash };

enum class ExistingTarget { Fail, Replace };

// Answer of a copy progress callback.
enum class CopyProgress { Continue, Cancel };

class Platform {
 public:
  virtual ~Platform() = default;

  // ---- text, process and machine ----

  // The path grammar of this system.
  virtual PathStyle pathStyle() const = 0;
  // The system's text for an error code, untrimmed, or empty when the system
  // has none.
  virtual std::u16string systemErrorMessage(SysError code) = 0;
  // The words put before a bare error number when the system has no text
  // ("Windows error ", "System error ").
  virtual std::string errorNumberLabel() const = 0;
  virtual uint32_t processId() = 0;
  // Logical processors this process may run on, at least 1.
  virtual uint32_t logicalProcessorCount() = 0;
  // Called once, first thing in the process. Makes standard output carry
  // UTF-8 (the console code page on Windows), and makes a write to a standard
  // stream whose reader has gone simply fail, so a host that closes its pipes
  // cannot end the job half done.
  virtual void prepareStandardStreams() = 0;
  // The reader of standard input's lines; called once per process.
  virtual std::unique_ptr<LineReader> openStandardInput() = 0;

  // ---- error predicates: the engine never compares raw numbers ----

  // File or path not found, bad network path, invalid name, not a folder:
  // "some part of the path does not exist".
  virtual bool isNotFoundFamily(SysError code) const = 0;
  virtual bool isAlreadyExists(SysError code) const = 0;
  virtual bool isAccessDenied(SysError code) const = 0;
  // The code reported for an operation on an empty path.
  virtual SysError pathNotFoundError() const = 0;
  // The code a write fails with when the disk is full (for fault injection).
  virtual SysError diskFullError() const = 0;

  // ---- whole-file reads ----

  // Reads the whole file. Fails with the open or read error.
  virtual SysError readWholeFile(const std::u16string& path,
                                 std::string& contents) = 0;

  // ---- metadata ----

  // Attributes, size and times of a path without opening it
  // (GetFileAttributesExW, lstat/stat). Not for a file's identity: on
  // Windows volumeId, fileIndex and linkCount are 0 unless a link was
  // followed; readFileInfo has them.
  virtual SysError queryPath(const std::u16string& path, LinkMode mode,
                             FileInfo& info) = 0;
  // Opens the path for attribute reading only (folders too, links
  // followed), reads its information and closes it.
  virtual SysError readFileInfo(const std::u16string& path, FileInfo& info) = 0;
  // Opens an existing file or folder only to set its times.
  virtual SysError openForMetadataWrite(const std::u16string& path,
                                        std::unique_ptr<MetadataWriter>& out) = 0;
  // Sets the attribute word (as FileInfo::attributes holds it).
  virtual SysError setAttributes(const std::u16string& path,
                                 uint32_t attributes) = 0;
  // The attribute word of an ordinary writable file.
  virtual uint32_t normalAttributes() const = 0;
  // The attribute word to apply when preserving `source`'s attributes, or
  // nothing when the system keeps none of them (directory and link bits
  // removed; Windows' 0 becomes "normal").
  virtual uint32_t attributesToPreserve(const FileInfo& source) const = 0;

  // ---- files and folders ----

  virtual SysError openForRead(const std::u16string& path, ReadPurpose purpose,
                               std::unique_ptr<ReadableFile>& out) = 0;
  // Creates a new file exclusively (never opens an existing one, never
  // follows a link at the path).
  virtual SysError createStagingFile(const std::u16string& path,
                                     std::unique_ptr<WritableFile>& out) = 0;
  virtual SysError removeFile(const std::u16string& path) = 0;
  // Renames a file. With ExistingTarget::Fail an existing target is never
  // replaced, not even for a moment.
  virtual SysError renameFile(const std::u16string& from,
                              const std::u16string& to,
                              ExistingTarget existing) = 0;
  // Creates one folder; fails with an "already exists" code when anything
  // is at the path.
  virtual SysError createDirectory(const std::u16string& path) = 0;
  // Lists a folder's entries in the system's order, "." and ".." left out.
  // `visit` gets each name and whether the listing says it is a folder;
  // it answers false to stop.
  struct DirectoryEntry {
    std::u16string name;
    // From the listing alone: a folder (links are not folders here), a
    // regular file, a link, or something else (device, FIFO, socket).
    enum class Kind { Directory, File, Link, Other, Unknown } kind;
  };
  virtual SysError listDirectory(
      const std::u16string& path,
      const std::function<bool(const DirectoryEntry&)>& visit) = 0;
  // The final path of an existing file or folder, links followed.
  virtual SysError finalPath(const std::u16string& path,
                             std::u16string& out) = 0;

  // ---- the system copier ----

  // Copies a file of up to 16 MiB in one call that cannot be cancelled.
  // With ExistingTarget::Fail an existing target fails the copy. The copy
  // carries the source's attributes and last-write time as the system
  // copier does.
  virtual SysError copySmallFile(const std::u16string& source,
                                 const std::u16string& target,
                                 ExistingTarget existing) = 0;
  // Copies a file of any size, reporting the running byte total to
  // `progress` between chunks; a Cancel answer stops the copy and the call
  // then fails (the engine tells a cancel from its own flag). An empty
  // `progress` is not called; an exception from it stops the copy and
  // leaves this call. Some systems' copiers never report progress (Wine).
  virtual SysError copyLargeFile(
      const std::u16string& source, const std::u16string& target,
      ExistingTarget existing,
      const std::function<CopyProgress(uint64_t totalTransferred)>& progress) = 0;

  // ---- folder reuse ----

  // From beginFolderReuse() to the matching endFolderReuse() on the same
  // thread, that thread's per-file operations may resolve a path's folder
  // once and reuse the open folder for later paths in it, saving the walk of
  // every leading component. The trade: a folder renamed or replaced at the
  // same path meanwhile is not seen; the thread keeps acting in the folder
  // it first found (a removed folder refuses new entries either way). Meant
  // for threads that work through many files in a few folders and end: the
  // scan, the copy and verification threads. Pairs may nest; a system may
  // ignore both calls.
  virtual void beginFolderReuse() = 0;
  virtual void endFolderReuse() = 0;

  // ---- hashing ----

  // A SHA-256 computation. On failure returns null and names the failed
  // step.
  virtual std::unique_ptr<Sha256> createSha256(Sha256Failure& failure) = 0;
};

// Folder reuse for the life of one scope on the calling thread.
class FolderReuseScope {
 public:
  explicit FolderReuseScope(Platform& platform) : platform_(platform) {
    platform_.beginFolderReuse();
  }
  ~FolderReuseScope() { platform_.endFolderReuse(); }
  FolderReuseScope(const FolderReuseScope&) = delete;
  FolderReuseScope& operator=(const FolderReuseScope&) = delete;

 private:
  Platform& platform_;
};

// The real platform of this build. Lives for the whole process.
Platform& systemPlatform();

}  // namespace qv

#endif  // QV_PLATFORM_PLATFORM_H_
