// File: the byte-level interface under the page file.
//
// Three implementations: a real file (POSIX), an in-memory file for tests and
// a fault-injecting file that fails, or silently stops persisting, from the
// N-th write on, or runs out of space after N bytes of growth (to test error
// paths, full disks and interrupted writers).
//
// Locks are the operating system's record locks (fcntl F_SETLK) on single
// bytes past any offset a Jet file can reach: they belong to the process and
// go with it when it ends or is killed, so no stale lock is ever left.
// Opens within one process do not exclude each other. See [SAFE-6].
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/format/bytes.h"

namespace velquin::jet {

class File {
 public:
  virtual ~File() = default;
  virtual std::uint64_t Size() const = 0;
  // Reads exactly `out.size()` bytes at `offset`; IOError on a short read.
  virtual Status ReadAt(std::uint64_t offset, MutableBytes out) = 0;
  // Writes all of `data` at `offset`, growing the file as needed.
  virtual Status WriteAt(std::uint64_t offset, Bytes data) = 0;
  virtual Status Sync() = 0;
  // Cuts the file to `size` bytes (never grows it).
  virtual Status Truncate(std::uint64_t size) = 0;
  // What error messages call the file (its path for a real file).
  virtual std::string Name() const { return "the database"; }
  // Takes a shared or exclusive lock on the byte at `offset`; false (not an
  // error) when another open file holds a conflicting lock. Files that are
  // not real files have nobody to share with and always succeed.
  virtual Result<bool> TryLock(std::uint64_t offset, bool exclusive) {
    (void)offset;
    (void)exclusive;
    return true;
  }
  virtual void Unlock(std::uint64_t offset) { (void)offset; }
};

// The lock bytes: a writer holds kWriterLockByte exclusively for as long as it
// has the file open; readers hold kReadLockByte shared while they open it,
// and a writer holds it exclusively only while it overwrites committed pages.
inline constexpr std::uint64_t kWriterLockByte = 0x100000000ull;
inline constexpr std::uint64_t kReadLockByte = 0x100000001ull;

// kOpenOrCreate: read-write, created when missing (journal files).
enum class OpenMode { kReadOnly, kReadWrite, kCreate, kOpenOrCreate };

// Opens a real file. kCreate fails when the file exists (never overwrites).
Result<std::unique_ptr<File>> OpenPosixFile(const std::string& path, OpenMode mode);
// Deletes a real file; a missing file is not an error.
Status RemoveFile(const std::string& path);

// A file held in memory; shares its bytes with whoever holds `data`.
class MemoryFile : public File {
 public:
  MemoryFile() : data_(std::make_shared<std::vector<std::uint8_t>>()) {}
  explicit MemoryFile(std::shared_ptr<std::vector<std::uint8_t>> data) : data_(std::move(data)) {}
  std::uint64_t Size() const override { return data_->size(); }
  Status ReadAt(std::uint64_t offset, MutableBytes out) override;
  Status WriteAt(std::uint64_t offset, Bytes data) override;
  Status Sync() override { return Status::Ok(); }
  Status Truncate(std::uint64_t size) override {
    if (size < data_->size()) data_->resize(size);
    return Status::Ok();
  }
  const std::shared_ptr<std::vector<std::uint8_t>>& data() const { return data_; }

 private:
  std::shared_ptr<std::vector<std::uint8_t>> data_;
};

// Free space shared by the files of one (simulated) filesystem.
struct DiskSpace {
  std::uint64_t free_bytes = 0;
};

// Wraps another file; from write number `fail_at` (0-based) on, writes either
// fail with IOError (kFail) or are dropped while reporting success (kDrop,
// which models a process killed at that point: nothing later reaches disk).
// The third constructor models a full disk instead: writes that grow the
// file take the growth from `space` and fail ("No space left on device")
// once it is used up; overwrites in place always succeed, and truncation
// gives the space back.
class FaultFile : public File {
 public:
  enum class Mode { kFail, kDrop, kFull };
  FaultFile(std::unique_ptr<File> base, std::uint64_t fail_at, Mode mode)
      : base_(std::move(base)), fail_at_(fail_at), mode_(mode) {}
  FaultFile(std::unique_ptr<File> base, std::shared_ptr<DiskSpace> space)
      : base_(std::move(base)), fail_at_(0), mode_(Mode::kFull), space_(std::move(space)) {}
  std::uint64_t Size() const override { return base_->Size(); }
  Status ReadAt(std::uint64_t offset, MutableBytes out) override {
    return base_->ReadAt(offset, out);
  }
  Status WriteAt(std::uint64_t offset, Bytes data) override;
  Status Sync() override { return base_->Sync(); }
  Status Truncate(std::uint64_t size) override;
  std::string Name() const override { return base_->Name(); }
  Result<bool> TryLock(std::uint64_t offset, bool exclusive) override {
    return base_->TryLock(offset, exclusive);
  }
  void Unlock(std::uint64_t offset) override { base_->Unlock(offset); }
  std::uint64_t writes() const { return writes_; }

 private:
  std::unique_ptr<File> base_;
  std::uint64_t fail_at_;
  Mode mode_;
  std::shared_ptr<DiskSpace> space_;
  std::uint64_t writes_ = 0;
};

}  // namespace velquin::jet
