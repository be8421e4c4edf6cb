// File: the byte-level interface under the page file.
//
// Three implementations: a real file (POSIX), an in-memory file for tests and
// a fault-injecting file that fails, or silently stops persisting, from the
// N-th write on (to test error paths and interrupted writers).
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
};

enum class OpenMode { kReadOnly, kReadWrite, kCreate };

// Opens a real file. kCreate fails when the file exists (never overwrites).
Result<std::unique_ptr<File>> OpenPosixFile(const std::string& path, OpenMode mode);

// A file held in memory; shares its bytes with whoever holds `data`.
class MemoryFile : public File {
 public:
  MemoryFile() : data_(std::make_shared<std::vector<std::uint8_t>>()) {}
  explicit MemoryFile(std::shared_ptr<std::vector<std::uint8_t>> data) : data_(std::move(data)) {}
  std::uint64_t Size() const override { return data_->size(); }
  Status ReadAt(std::uint64_t offset, MutableBytes out) override;
  Status WriteAt(std::uint64_t offset, Bytes data) override;
  Status Sync() override { return Status::Ok(); }
  const std::shared_ptr<std::vector<std::uint8_t>>& data() const { return data_; }

 private:
  std::shared_ptr<std::vector<std::uint8_t>> data_;
};

// Wraps another file; from write number `fail_at` (0-based) on, writes either
// fail with IOError (kFail) or are dropped while reporting success (kDrop,
// which models a process killed at that point: nothing later reaches disk).
class FaultFile : public File {
 public:
  enum class Mode { kFail, kDrop };
  FaultFile(std::unique_ptr<File> base, std::uint64_t fail_at, Mode mode)
      : base_(std::move(base)), fail_at_(fail_at), mode_(mode) {}
  std::uint64_t Size() const override { return base_->Size(); }
  Status ReadAt(std::uint64_t offset, MutableBytes out) override {
    return base_->ReadAt(offset, out);
  }
  Status WriteAt(std::uint64_t offset, Bytes data) override;
  Status Sync() override { return base_->Sync(); }
  std::uint64_t writes() const { return writes_; }

 private:
  std::unique_ptr<File> base_;
  std::uint64_t fail_at_;
  Mode mode_;
  std::uint64_t writes_ = 0;
};

}  // namespace velquin::jet
