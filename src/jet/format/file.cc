#include "jet/format/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace velquin::jet {
namespace {

class PosixFile;

// The files of this process by inode. Record locks belong to the process:
// closing any descriptor of a file drops every lock the process holds on
// it, so when one of two opens of a file closes, the other takes its locks
// again at once.
struct OpenFiles {
  std::mutex mu;
  std::map<std::pair<dev_t, ino_t>, std::vector<PosixFile*>> by_inode;
};
OpenFiles& Registry() {
  static OpenFiles* files = new OpenFiles;  // never destroyed: files may close at exit
  return *files;
}

bool SetLock(int fd, std::uint64_t offset, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = 1;
  for (;;) {
    if (::fcntl(fd, F_SETLK, &fl) == 0) return true;
    if (errno != EINTR) return false;
  }
}

class PosixFile : public File {
 public:
  PosixFile(int fd, std::string path, std::uint64_t size, std::pair<dev_t, ino_t> inode)
      : fd_(fd), path_(std::move(path)), size_(size), inode_(inode) {
    std::lock_guard<std::mutex> lock(Registry().mu);
    Registry().by_inode[inode_].push_back(this);
  }
  ~PosixFile() override {
    std::lock_guard<std::mutex> lock(Registry().mu);
    auto& same = Registry().by_inode[inode_];
    same.erase(std::find(same.begin(), same.end(), this));
    ::close(fd_);
    // The close dropped the locks of the other opens of this file too.
    for (PosixFile* other : same) other->Relock();
    if (same.empty()) Registry().by_inode.erase(inode_);
  }

  std::uint64_t Size() const override { return size_; }

  Status ReadAt(std::uint64_t offset, MutableBytes out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      ssize_t n =
          ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Status::IOError(path_ + ": read failed: " + std::strerror(errno));
      }
      if (n == 0) return Status::IOError(path_ + ": unexpected end of file");
      done += static_cast<std::size_t>(n);
    }
    return Status::Ok();
  }

  Status WriteAt(std::uint64_t offset, Bytes data) override {
    if (lock_lost_) {
      return Status::Busy(path_ +
                          ": another program took the file's lock while it was open here; "
                          "nothing more is written to it");
    }
    std::size_t done = 0;
    while (done < data.size()) {
      ssize_t n =
          ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        // A full disk takes part of a write first: the file has grown by
        // that part, and a rollback must know it to cut it off again.
        if (offset + done > size_) size_ = offset + done;
        return Status::IOError(path_ + ": write failed: " + std::strerror(error));
      }
      done += static_cast<std::size_t>(n);
    }
    if (offset + data.size() > size_) size_ = offset + data.size();
    return Status::Ok();
  }

  Status Sync() override {
    if (::fdatasync(fd_) != 0) {
      return Status::IOError(path_ + ": sync failed: " + std::strerror(errno));
    }
    return Status::Ok();
  }

  Status Truncate(std::uint64_t size) override {
    if (size >= size_) return Status::Ok();
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      return Status::IOError(path_ + ": truncate failed: " + std::strerror(errno));
    }
    size_ = size;
    return Status::Ok();
  }

  std::string Name() const override { return path_; }

  Result<bool> TryLock(std::uint64_t offset, bool exclusive) override {
    std::lock_guard<std::mutex> lock(Registry().mu);
    if (SetLock(fd_, offset, static_cast<short>(exclusive ? F_WRLCK : F_RDLCK))) {
      held_[offset] = exclusive;
      return true;
    }
    if (errno == EAGAIN || errno == EACCES) return false;
    return Status::IOError(path_ + ": cannot lock: " + std::strerror(errno));
  }

  void Unlock(std::uint64_t offset) override {
    std::lock_guard<std::mutex> lock(Registry().mu);
    held_.erase(offset);
    // Unlocking a byte this process holds cannot fail; closing unlocks too.
    (void)SetLock(fd_, offset, F_UNLCK);
    // Another open of the file in this process may hold the same byte.
    for (PosixFile* other : Registry().by_inode[inode_]) {
      if (other != this) other->Relock();
    }
  }

 private:
  // Takes this open's locks again (the registry's mutex held). A lock that
  // another process took in the meantime cannot be had back: the file then
  // refuses every further write.
  void Relock() {
    for (const auto& [offset, exclusive] : held_) {
      if (!SetLock(fd_, offset, static_cast<short>(exclusive ? F_WRLCK : F_RDLCK))) {
        lock_lost_ = true;
      }
    }
  }

  int fd_;
  std::string path_;
  std::uint64_t size_;
  std::pair<dev_t, ino_t> inode_;
  std::map<std::uint64_t, bool> held_;  // locked byte -> exclusive
  std::atomic<bool> lock_lost_{false};
};

}  // namespace

Result<std::unique_ptr<File>> OpenPosixFile(const std::string& path, OpenMode mode) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::kReadOnly:
      flags |= O_RDONLY;
      break;
    case OpenMode::kReadWrite:
      flags |= O_RDWR;
      break;
    case OpenMode::kCreate:
      flags |= O_RDWR | O_CREAT | O_EXCL;
      break;
    case OpenMode::kOpenOrCreate:
      flags |= O_RDWR | O_CREAT;
      break;
  }
  int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0) {
    if (errno == ENOENT) return Status::NotFound(path + ": no such file");
    return Status::IOError(path + ": cannot open: " + std::strerror(errno));
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return Status::IOError(path + ": cannot stat: " + std::strerror(errno));
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return Status::InvalidArgument(path + ": not a regular file");
  }
  return std::unique_ptr<File>(
      new PosixFile(fd, path, static_cast<std::uint64_t>(st.st_size), {st.st_dev, st.st_ino}));
}

Status RemoveFile(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    return Status::IOError(path + ": cannot delete: " + std::strerror(errno));
  }
  return Status::Ok();
}

Status MemoryFile::ReadAt(std::uint64_t offset, MutableBytes out) {
  if (!Fits(data_->size(), offset, out.size())) {
    return Status::IOError("memory file: read past the end");
  }
  std::memcpy(out.data(), data_->data() + offset, out.size());
  return Status::Ok();
}

Status MemoryFile::WriteAt(std::uint64_t offset, Bytes data) {
  if (offset + data.size() > data_->size()) data_->resize(offset + data.size());
  if (!data.empty()) std::memcpy(data_->data() + offset, data.data(), data.size());
  return Status::Ok();
}

Status FaultFile::WriteAt(std::uint64_t offset, Bytes data) {
  if (mode_ == Mode::kFull) {
    ++writes_;
    std::uint64_t end = offset + data.size();
    std::uint64_t growth = end > base_->Size() ? end - base_->Size() : 0;
    if (growth > space_->free_bytes) {
      // As a real disk does: the part that fits is written, then the write fails.
      const std::uint64_t short_by = growth - space_->free_bytes;
      const std::uint64_t fits = short_by < data.size() ? data.size() - short_by : 0;
      if (fits > 0) {
        VELQUIN_RETURN_IF_ERROR(base_->WriteAt(offset, data.subspan(0, fits)));
        space_->free_bytes = 0;
      }
      return Status::IOError(base_->Name() + ": write failed: No space left on device");
    }
    space_->free_bytes -= growth;
    return base_->WriteAt(offset, data);
  }
  std::uint64_t n = writes_++;
  if (n >= fail_at_) {
    if (mode_ == Mode::kFail) {
      return Status::IOError("injected write failure at write " + std::to_string(n));
    }
    return Status::Ok();
  }
  return base_->WriteAt(offset, data);
}

}  // namespace velquin::jet

namespace velquin::jet {

Status FaultFile::Truncate(std::uint64_t size) {
  std::uint64_t before = base_->Size();
  VELQUIN_RETURN_IF_ERROR(base_->Truncate(size));
  if (space_ && before > base_->Size()) space_->free_bytes += before - base_->Size();
  return Status::Ok();
}

}  // namespace velquin::jet
