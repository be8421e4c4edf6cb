// PageFile: the PageStore over a File, with page 0 and the global usage map.
// Rules [PAGE-1], [PAGE-3], [UMAP-4] in docs/jet4-format.md.
//
// Page 1 is a data page with two 69-byte rows; row 0 is the global usage map,
// where a set bit means the page is FREE (the opposite of table maps), row 1
// is all zero. Pages are allocated from released pages first, then at the end
// of the file. The in-memory map is written back by Flush().
//
// Statements ([SAFE-5]): every write between two Commit() calls is one
// statement. Pages the file held when the statement began are kept in memory
// when written and reach the file only at Commit, after their original bytes
// are in the journal (the journal is synced first when the commit is
// durable); pages appended during the statement go to the file without
// being journaled, gathered into runs of consecutive pages (one write a run,
// at most kRunPages pages; a run is written before the commit, and reads see
// it). Rollback() (or the next opener, after a kill) puts
// the originals back and cuts the file to its length at the statement's
// start. A writer holds kWriterLockByte exclusively while open; readers
// take kReadLockByte shared while they open, and a writer takes it
// exclusively while it overwrites committed pages, so a reader starts from
// the last committed state
// ([SAFE-6]).
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "jet/format/file.h"
#include "jet/format/header.h"
#include "jet/format/journal.h"
#include "jet/format/page_store.h"
#include "jet/format/usage_map.h"

namespace velquin::jet {

inline constexpr PageNumber kGlobalMapPage = 1;

class PageFile : public PageStore {
 public:
  // Writes page 0 and page 1 of a new database into an empty file.
  // `journal` is the rollback journal's file (in memory when null).
  static Result<std::unique_ptr<PageFile>> Create(std::unique_ptr<File> file,
                                                  const HeaderInfo& header,
                                                  std::unique_ptr<File> journal = nullptr);
  // Reads page 0. A writable file is locked against other writers, a valid
  // journal is played back into it and the global usage map is loaded. A
  // read-only one reads the pages a valid journal holds from the journal.
  static Result<std::unique_ptr<PageFile>> Open(std::unique_ptr<File> file, bool writable,
                                                std::unique_ptr<File> journal = nullptr);
  ~PageFile() override;

  PageNumber PageCount() const override { return page_count_; }
  Status ReadPage(PageNumber n, Page& out) override;
  Status WritePage(PageNumber n, const Page& page) override;
  Result<PageNumber> AllocatePage() override;
  Status ReleasePage(PageNumber n) override;

  // Writes the global usage map if it changed.
  Status Flush();
  Status Sync() {
    VELQUIN_RETURN_IF_ERROR(WriteRun());
    return file_->Sync();
  }

  // True while a statement has written something not yet committed.
  bool InStatement() const { return in_statement_; }
  // Ends the statement: flushes the global map, journals the originals of
  // the committed pages it changed, writes them and invalidates the journal.
  // `durable` syncs the journal before the overwrite and the file after.
  Status Commit(bool durable);
  // Undoes the statement: the file as it was at its start, the global map
  // reloaded. After a failed rollback every write is refused (the journal
  // stays valid for the next opener).
  Status Rollback();
  // The journal's path, removed when a writer closes cleanly.
  void SetJournalPath(std::string path) { journal_path_ = std::move(path); }

  const HeaderInfo& header() const { return header_; }
  bool writable() const { return writable_; }
  // Pages the global map records as free (released and reusable).
  std::size_t FreePageCount() const { return free_.size(); }
  bool IsFree(PageNumber n) const { return free_.count(n) != 0; }

 private:
  PageFile(std::unique_ptr<File> file, bool writable, std::unique_ptr<File> journal);
  Status LoadGlobalMap();
  Status WriteFirstPages();
  Status Lock();
  Status Recover();
  void Begin();
  Status WriteThrough(PageNumber n, const Page& page);
  // Writes the gathered run of pages, if any.
  Status WriteRun();
  // Where the page's bytes are in the gathered run; SIZE_MAX when not there.
  std::size_t RunOffset(PageNumber n) const {
    return run_pages_ != 0 && n >= run_first_ && n - run_first_ < run_pages_
               ? static_cast<std::size_t>(n - run_first_) * kPageSize
               : SIZE_MAX;
  }
  Status JournalDirty(bool durable);
  Status TakeReadLock(bool exclusive);
  Status MarkUsed(PageNumber n);
  PageNumber AppendPage() { return page_count_++; }

  std::unique_ptr<File> file_;
  bool writable_;
  HeaderInfo header_;
  PageNumber page_count_ = 0;
  UsageMap global_;
  bool global_loaded_ = false;
  std::set<PageNumber> free_;

  Journal journal_;
  std::string journal_path_;
  Status failed_ = Status::Ok();  // set when a rollback could not finish
  bool in_statement_ = false;
  std::uint64_t start_size_ = 0;  // bytes in the file when the statement began
  PageNumber start_pages_ = 0;    // page_count_ then
  // Committed pages written during the statement, not yet in the file.
  std::unordered_map<PageNumber, Page> dirty_;
  // Committed pages whose originals are in the journal already (written
  // through after a spill).
  std::set<PageNumber> journaled_;
  // Committed bytes of pages written by recent commits: the originals of
  // the next statement that changes them again (a single-row insert changes
  // the same few pages each time), read without a system call.
  std::unordered_map<PageNumber, Page> clean_;
  // A reader's view of a valid journal: the committed bytes of its pages.
  std::unordered_map<PageNumber, Page> committed_;
  // The originals a commit journals, kept between statements so that a
  // single-row insert allocates no pages for them.
  std::vector<std::pair<PageNumber, Page>> originals_;
  // Pages written through during the statement and not yet in the file:
  // run_pages_ consecutive pages from run_first_, back to back in run_.
  static constexpr std::size_t kRunPages = 64;
  std::vector<std::uint8_t> run_;
  PageNumber run_first_ = 0;
  std::size_t run_pages_ = 0;
};

}  // namespace velquin::jet
