// Journal: the rollback journal beside a database file ([SAFE-5] in
// docs/jet4-format.md). Before a statement overwrites a page that the file
// held when the statement began, the page's original bytes are written here;
// the statement's end invalidates the journal, and a journal found valid
// (a writer stopped in mid-statement) is played back: every page restored,
// the file cut to its recorded length.
//
// Layout (little-endian):
//   header, 32 bytes:
//     0   8  magic "VqJournl"
//     8   8  length of the database file when the statement began, in bytes
//    16   4  number of page records that follow
//    20   4  FNV-1a checksum of bytes 0..19
//    24   8  zero
//   record i at 32 + i * 4100:
//     0   4  page number
//     4 4096 the page as it was when the statement began
// A header with another magic or a wrong checksum is no journal (an
// invalidated one has a zero magic). Records are written before the count
// that covers them.
#pragma once

#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "jet/format/file.h"
#include "jet/format/page_store.h"

namespace velquin::jet {

class Journal {
 public:
  explicit Journal(std::unique_ptr<File> file) : file_(std::move(file)) {}

  // What a valid journal holds: the file's length and its original pages.
  struct Saved {
    std::uint64_t file_length = 0;
    std::vector<std::pair<PageNumber, Page>> pages;
  };
  // Reads the journal as it is on disk; nullopt when it is not valid.
  Result<std::optional<Saved>> Read();

  // Starts a statement's journal: the file length, no records yet.
  Status Begin(std::uint64_t file_length);
  // Sets the file length for a journal whose first Add writes the header
  // together with its records.
  void Prepare(std::uint64_t file_length);
  bool begun() const { return begun_; }
  // Appends original pages, then counts them in the header.
  Status Add(const std::vector<std::pair<PageNumber, Page>>& originals);
  std::uint32_t records() const { return records_; }
  Status Sync() { return file_->Sync(); }
  // Invalidates the journal: the statement is committed or rolled back.
  Status End();
  // Invalidates a journal read from disk (after it was played back).
  Status Discard();

  File& file() { return *file_; }

 private:
  Status WriteHeader();
  void EncodeHeader(std::uint8_t* h) const;

  std::vector<std::uint8_t> buffer_;  // the records of one Add, kept between calls
  std::unique_ptr<File> file_;
  bool begun_ = false;
  std::uint64_t file_length_ = 0;
  std::uint32_t records_ = 0;
};

}  // namespace velquin::jet
