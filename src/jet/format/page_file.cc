// The page file: see page_file.h and [PAGE-1], [UMAP-4], [SAFE-5] in
// docs/jet4-format.md.
#include "jet/format/page_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "jet/format/data_page.h"

namespace velquin::jet {
namespace {

// Committed pages a statement keeps in memory before it journals and writes
// them early (32 MB).
constexpr std::size_t kSpillPages = 8192;
// Committed pages kept for the next statement's originals (16 MB).
constexpr std::size_t kCleanPages = 4096;
// How long a reader waits for a commit to end, and a writer for readers.
constexpr auto kLockWait = std::chrono::seconds(30);

}  // namespace

PageFile::PageFile(std::unique_ptr<File> file, bool writable, std::unique_ptr<File> journal)
    : file_(std::move(file)),
      writable_(writable),
      journal_(journal ? std::move(journal) : std::make_unique<MemoryFile>()) {}

PageFile::~PageFile() {
  // Pages appended and not yet written go to the file as if written through
  // (a statement left open is undone by the next opener either way).
  (void)WriteRun();
  // A clean writer leaves no journal behind; one in mid-statement leaves it
  // valid for the next opener.
  if (writable_ && !journal_path_.empty() && !in_statement_ && failed_.ok()) {
    (void)RemoveFile(journal_path_);  // a stale, invalid journal is harmless
  }
}

Status PageFile::Lock() {
  if (writable_) {
    VELQUIN_ASSIGN_OR_RETURN(bool got, file_->TryLock(kWriterLockByte, true));
    if (!got) {
      return Status::Busy(file_->Name() + ": the file is open for writing in another program");
    }
    return Status::Ok();
  }
  return TakeReadLock(false);
}

// Readers hold the read lock shared for as long as they are open; a writer
// holds it exclusively only while it overwrites committed pages.
Status PageFile::TakeReadLock(bool exclusive) {
  const auto until = std::chrono::steady_clock::now() + kLockWait;
  for (;;) {
    VELQUIN_ASSIGN_OR_RETURN(bool got, file_->TryLock(kReadLockByte, exclusive));
    if (got) return Status::Ok();
    if (std::chrono::steady_clock::now() >= until) {
      return Status::Busy(file_->Name() + (exclusive
                                               ? ": the file is being read by another program"
                                               : ": the file is being written by another program"));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

// Plays back a valid journal (a writer stopped in mid-statement): the pages
// it holds are put back and the file is cut to its length then.
Status PageFile::Recover() {
  VELQUIN_ASSIGN_OR_RETURN(auto saved, journal_.Read());
  if (!saved) return Status::Ok();
  VELQUIN_RETURN_IF_ERROR(TakeReadLock(true));
  Status st = Status::Ok();
  for (const auto& [n, page] : saved->pages) {
    if (static_cast<std::uint64_t>(n) * kPageSize >= saved->file_length) continue;
    st = file_->WriteAt(static_cast<std::uint64_t>(n) * kPageSize, Bytes(page));
    if (!st.ok()) break;
  }
  if (st.ok()) st = file_->Truncate(saved->file_length);
  if (st.ok()) st = file_->Sync();
  if (st.ok()) st = journal_.Discard();
  if (st.ok()) st = journal_.Sync();
  file_->Unlock(kReadLockByte);
  return st.WithContext(file_->Name() + ": restoring the last committed state");
}

Result<std::unique_ptr<PageFile>> PageFile::Create(std::unique_ptr<File> file,
                                                   const HeaderInfo& header,
                                                   std::unique_ptr<File> journal) {
  if (file->Size() != 0) return Status::InvalidArgument("the file to create is not empty");
  std::unique_ptr<PageFile> pf(new PageFile(std::move(file), true, std::move(journal)));
  VELQUIN_RETURN_IF_ERROR(pf->Lock());
  pf->header_ = header;
  // The whole creation is one statement: undone, it leaves an empty file.
  pf->Begin();
  VELQUIN_RETURN_IF_ERROR(pf->journal_.Begin(0));
  Status st = pf->WriteFirstPages();
  if (!st.ok()) {
    // Undone, the creation leaves an empty file; a failed undo is kept by
    // the page file and the first error is the one to report.
    (void)pf->Rollback();
    return st;
  }
  return pf;
}

Status PageFile::WriteFirstPages() {
  Page p0 = EncodeHeaderPage(header_);
  VELQUIN_RETURN_IF_ERROR(file_->WriteAt(0, Bytes(p0)));
  page_count_ = 2;
  // Page 1: the global map (pages 0 and 1 in use, the rest free) and a zero row.
  Page p1;
  DataPage dp(p1, kGlobalMapPage);
  dp.Init(1);  // Jet writes 1 in the owner field of this page
  global_ = UsageMap::NewInline(0);
  PageAllocator no_alloc = []() -> Result<PageNumber> {
    return Status::InvalidArgument("no allocation while creating the global map");
  };
  for (PageNumber n = 2; n < (kUsageMapRowSize - 5) * 8; ++n) {
    VELQUIN_RETURN_IF_ERROR(global_.Set(n, true, no_alloc));
  }
  VELQUIN_ASSIGN_OR_RETURN(auto row0, global_.Save(*this));
  std::vector<std::uint8_t> row1(kUsageMapRowSize, 0);
  dp.Add(Bytes(row0));
  dp.Add(Bytes(row1));
  VELQUIN_RETURN_IF_ERROR(file_->WriteAt(kPageSize, Bytes(p1)));
  global_loaded_ = true;
  return Status::Ok();
}

Result<std::unique_ptr<PageFile>> PageFile::Open(std::unique_ptr<File> file, bool writable,
                                                 std::unique_ptr<File> journal) {
  std::unique_ptr<PageFile> pf(new PageFile(std::move(file), writable, std::move(journal)));
  VELQUIN_RETURN_IF_ERROR(pf->Lock());
  std::uint64_t size = pf->file_->Size();
  if (writable) {
    VELQUIN_RETURN_IF_ERROR(pf->Recover());
    size = pf->file_->Size();
  } else {
    // A reader sees the last committed state: what a valid journal holds
    // instead of the pages a statement under way (or killed) overwrote.
    VELQUIN_ASSIGN_OR_RETURN(auto saved, pf->journal_.Read());
    if (saved) {
      size = std::min(size, saved->file_length);
      for (auto& [n, page] : saved->pages) pf->committed_.emplace(n, page);
    }
    // The lock kept the opening out of a commit's overwrite; held longer it
    // would make writers wait for readers.
    pf->file_->Unlock(kReadLockByte);
  }
  if (size < kPageSize) {
    return PageCorruption(0, "file length",
                          "file of " + std::to_string(size) + " bytes is shorter than one page");
  }
  if (writable && size % kPageSize != 0) {
    return PageCorruption(static_cast<PageNumber>(size / kPageSize), "file length",
                          "file length " + std::to_string(size) +
                              " is not a whole number of pages (truncated last page)");
  }
  if (size / kPageSize > 0x7FFFFFFFull) return Status::Corruption("file length: file too large");
  pf->page_count_ = static_cast<PageNumber>(size / kPageSize);
  Page p0;
  VELQUIN_RETURN_IF_ERROR(pf->file_->ReadAt(0, MutableBytes(p0)));
  VELQUIN_ASSIGN_OR_RETURN(pf->header_, DecodeHeaderPage(p0));
  if (pf->header_.db_key != 0) {
    return Status::NotSupported("the database is encrypted (page 0, field database key)");
  }
  if (writable) VELQUIN_RETURN_IF_ERROR(pf->LoadGlobalMap());
  return pf;
}

Status PageFile::LoadGlobalMap() {
  if (page_count_ < 2) return PageCorruption(1, "global usage map", "page 1 is missing");
  Page p1;
  VELQUIN_RETURN_IF_ERROR(ReadPage(kGlobalMapPage, p1));
  DataPage dp(p1, kGlobalMapPage);
  VELQUIN_RETURN_IF_ERROR(dp.Validate());
  VELQUIN_ASSIGN_OR_RETURN(RowSlot s, dp.Slot(0));
  VELQUIN_ASSIGN_OR_RETURN(global_, UsageMap::Decode(*this, {kGlobalMapPage, 0}, dp.RowBytes(s)));
  global_loaded_ = true;
  // Pages already in the file that the map does not call free are in use.
  global_.set_fill_floor(page_count_);
  for (PageNumber n : global_.Pages(page_count_)) {
    if (n >= 2) free_.insert(n);
  }
  // Pages an inline map cannot describe are in use: make the map describe
  // them (it becomes a reference map) before anyone treats them as free.
  if (!global_.is_reference()) {
    std::uint64_t end = global_.InlineEnd();
    for (std::uint64_t n = std::max<std::uint64_t>(end, 2); n < page_count_; ++n) {
      VELQUIN_RETURN_IF_ERROR(MarkUsed(static_cast<PageNumber>(n)));
    }
  }
  return Status::Ok();
}

Status PageFile::ReadPage(PageNumber n, Page& out) {
  if (n >= page_count_) {
    return PageCorruption(
        n, "page number",
        "page past the end of the file (" + std::to_string(page_count_) + " pages)");
  }
  if (!dirty_.empty()) {
    auto it = dirty_.find(n);
    if (it != dirty_.end()) {
      out = it->second;
      return Status::Ok();
    }
  }
  if (!clean_.empty()) {
    auto it = clean_.find(n);
    if (it != clean_.end()) {
      out = it->second;
      return Status::Ok();
    }
  }
  if (!committed_.empty()) {
    auto it = committed_.find(n);
    if (it != committed_.end()) {
      out = it->second;
      return Status::Ok();
    }
  }
  if (const std::size_t at = RunOffset(n); at != SIZE_MAX) {
    std::memcpy(out.data(), run_.data() + at, kPageSize);
    return Status::Ok();
  }
  std::uint64_t off = static_cast<std::uint64_t>(n) * kPageSize;
  if (off + kPageSize > file_->Size()) {
    if (off >= file_->Size()) {
      // Allocated but not yet written: reads as zeros.
      out.fill(0);
      return Status::Ok();
    }
    return PageCorruption(n, "page", "truncated page at the end of the file");
  }
  return file_->ReadAt(off, MutableBytes(out));
}

Status PageFile::WritePage(PageNumber n, const Page& page) {
  if (!writable_) return Status::InvalidArgument("the database is open read-only");
  if (!failed_.ok()) return failed_;
  if (n >= page_count_ || n == 0) {
    return Status::InvalidArgument("write to page " + std::to_string(n) + " outside the file");
  }
  Begin();
  // A committed page waits in memory until the statement commits.
  if (static_cast<std::uint64_t>(n) < start_size_ / kPageSize && !journaled_.count(n)) {
    dirty_[n] = page;
    if (dirty_.size() < kSpillPages) return Status::Ok();
    // Too many to keep: journal them now and write them early.
    VELQUIN_RETURN_IF_ERROR(JournalDirty(true));
    VELQUIN_RETURN_IF_ERROR(TakeReadLock(true));
    for (const auto& [p, bytes] : dirty_) {
      Status st = file_->WriteAt(static_cast<std::uint64_t>(p) * kPageSize, Bytes(bytes));
      if (!st.ok()) {
        file_->Unlock(kReadLockByte);
        return st;
      }
      journaled_.insert(p);
      clean_.erase(p);
    }
    file_->Unlock(kReadLockByte);
    dirty_.clear();
    return Status::Ok();
  }
  return WriteThrough(n, page);
}

void PageFile::Begin() {
  if (in_statement_) return;
  in_statement_ = true;
  start_size_ = file_->Size();
  start_pages_ = page_count_;
}

// Pages appended during the statement (and committed pages already
// journaled) go to the file at once; the journal is begun first so that the
// file's length at the statement's start is on record.
Status PageFile::WriteThrough(PageNumber n, const Page& page) {
  if (!journal_.begun()) VELQUIN_RETURN_IF_ERROR(journal_.Begin(start_size_));
  clean_.erase(n);
  // A bulk load appends page after page: they go to the file a run at a
  // time instead of one system call each.
  if (const std::size_t at = RunOffset(n); at != SIZE_MAX) {
    std::memcpy(run_.data() + at, page.data(), kPageSize);
    return Status::Ok();
  }
  if (run_pages_ == 0 || n != run_first_ + run_pages_ || run_pages_ == kRunPages) {
    VELQUIN_RETURN_IF_ERROR(WriteRun());
    run_first_ = n;
  }
  run_.resize((run_pages_ + 1) * kPageSize);
  std::memcpy(run_.data() + run_pages_ * kPageSize, page.data(), kPageSize);
  ++run_pages_;
  return Status::Ok();
}

Status PageFile::WriteRun() {
  if (run_pages_ == 0) return Status::Ok();
  const std::size_t pages = run_pages_;
  run_pages_ = 0;
  return file_->WriteAt(static_cast<std::uint64_t>(run_first_) * kPageSize,
                        Bytes(run_.data(), pages * kPageSize));
}

// Writes the originals of the dirty pages not journaled yet.
Status PageFile::JournalDirty(bool durable) {
  std::vector<std::pair<PageNumber, Page>>& originals = originals_;
  originals.clear();  // keeps its pages' memory for the next commit
  for (const auto& entry : dirty_) {
    PageNumber n = entry.first;
    if (journaled_.count(n)) continue;
    originals.emplace_back();
    originals.back().first = n;
    auto known = clean_.find(n);
    if (known != clean_.end()) {
      originals.back().second = known->second;
      continue;
    }
    VELQUIN_RETURN_IF_ERROR(file_->ReadAt(static_cast<std::uint64_t>(n) * kPageSize,
                                          MutableBytes(originals.back().second)));
  }
  if (originals.empty()) return Status::Ok();
  if (!journal_.begun()) journal_.Prepare(start_size_);
  VELQUIN_RETURN_IF_ERROR(journal_.Add(originals));
  if (durable) VELQUIN_RETURN_IF_ERROR(journal_.Sync());
  return Status::Ok();
}

Status PageFile::Commit(bool durable) {
  if (!failed_.ok()) return failed_;
  VELQUIN_RETURN_IF_ERROR(Flush());
  // Flush may have gathered pages of the map itself.
  VELQUIN_RETURN_IF_ERROR(WriteRun());
  if (!in_statement_) {
    return durable && writable_ ? file_->Sync() : Status::Ok();
  }
  VELQUIN_RETURN_IF_ERROR(JournalDirty(durable));
  if (!dirty_.empty()) {
    VELQUIN_RETURN_IF_ERROR(TakeReadLock(true));
    for (const auto& [n, page] : dirty_) {
      Status st = file_->WriteAt(static_cast<std::uint64_t>(n) * kPageSize, Bytes(page));
      if (!st.ok()) {
        file_->Unlock(kReadLockByte);
        return st;
      }
      journaled_.insert(n);
    }
    file_->Unlock(kReadLockByte);
    if (clean_.size() + dirty_.size() > kCleanPages) clean_.clear();
    // The written pages move to the clean ones, nodes and all (no copy, no
    // allocation for a page met before).
    while (!dirty_.empty()) {
      auto node = dirty_.extract(dirty_.begin());
      auto known = clean_.find(node.key());
      if (known != clean_.end()) {
        known->second = node.mapped();
      } else {
        clean_.insert(std::move(node));
      }
    }
  }
  // Pages allocated but never written still belong to the file.
  if (file_->Size() < static_cast<std::uint64_t>(page_count_) * kPageSize) {
    Page zero{};
    VELQUIN_RETURN_IF_ERROR(
        file_->WriteAt(static_cast<std::uint64_t>(page_count_ - 1) * kPageSize, Bytes(zero)));
  }
  if (durable) VELQUIN_RETURN_IF_ERROR(file_->Sync());
  // The statement is committed from here on.
  VELQUIN_RETURN_IF_ERROR(journal_.End());
  in_statement_ = false;
  journaled_.clear();
  return Status::Ok();
}

Status PageFile::Rollback() {
  if (!in_statement_) return Status::Ok();
  run_pages_ = 0;  // appended pages go with the file's end; the others come from the journal
  dirty_.clear();
  clean_.clear();
  Status st = Status::Ok();
  if (!journaled_.empty()) {
    // Committed pages that were overwritten come back from the journal.
    auto saved = journal_.Read();
    st = saved.status();
    if (st.ok() && !*saved) st = Status::Corruption(file_->Name() + ": the journal is gone");
    if (st.ok()) st = TakeReadLock(true);
    if (st.ok()) {
      for (const auto& [n, page] : (*saved)->pages) {
        st = file_->WriteAt(static_cast<std::uint64_t>(n) * kPageSize, Bytes(page));
        if (!st.ok()) break;
      }
      file_->Unlock(kReadLockByte);
    }
  }
  if (st.ok()) st = file_->Truncate(start_size_);
  if (st.ok()) st = journal_.End();
  if (!st.ok()) {
    failed_ =
        st.WithContext("the statement could not be undone; the next opener restores the file");
    return failed_;
  }
  in_statement_ = false;
  journaled_.clear();
  page_count_ = start_pages_;
  free_.clear();
  global_loaded_ = false;
  st = LoadGlobalMap();
  if (!st.ok()) failed_ = st;
  return st;
}

Status PageFile::MarkUsed(PageNumber n) {
  std::vector<PageNumber> appended;
  PageAllocator alloc = [&]() -> Result<PageNumber> {
    PageNumber pn = AppendPage();
    appended.push_back(pn);
    return pn;
  };
  VELQUIN_RETURN_IF_ERROR(global_.Set(n, false, alloc, /*fill_new_with_ones=*/true));
  // Bitmap pages appended for the map itself are in use too.
  for (std::size_t i = 0; i < appended.size(); ++i) {
    VELQUIN_RETURN_IF_ERROR(global_.Set(appended[i], false, alloc, true));
  }
  return Status::Ok();
}

Result<PageNumber> PageFile::AllocatePage() {
  if (!writable_ || !global_loaded_) return Status::InvalidArgument("the database is read-only");
  if (!failed_.ok()) return failed_;
  Begin();
  PageNumber n;
  if (!free_.empty()) {
    n = *free_.begin();
    free_.erase(free_.begin());
    Page zero{};
    VELQUIN_RETURN_IF_ERROR(WritePage(n, zero));
  } else {
    if (page_count_ >= 0x7FFFF) {  // 2 GiB of 4 KiB pages
      return Status::NotSupported("the database has reached the 2 GB size limit");
    }
    n = AppendPage();
  }
  VELQUIN_RETURN_IF_ERROR(MarkUsed(n));
  return n;
}

Status PageFile::ReleasePage(PageNumber n) {
  if (!writable_ || !global_loaded_) return Status::InvalidArgument("the database is read-only");
  if (n < 2 || n >= page_count_) {
    return Status::InvalidArgument("release of page " + std::to_string(n) + " outside the file");
  }
  if (!failed_.ok()) return failed_;
  Begin();
  std::vector<PageNumber> appended;
  PageAllocator alloc = [&]() -> Result<PageNumber> {
    PageNumber pn = AppendPage();
    appended.push_back(pn);
    return pn;
  };
  VELQUIN_RETURN_IF_ERROR(global_.Set(n, true, alloc, true));
  free_.insert(n);
  // Bitmap pages the map needed for this are in use.
  for (std::size_t i = 0; i < appended.size(); ++i) {
    VELQUIN_RETURN_IF_ERROR(global_.Set(appended[i], false, alloc, true));
  }
  return Status::Ok();
}

Status PageFile::Flush() {
  VELQUIN_RETURN_IF_ERROR(WriteRun());
  if (!writable_ || !global_loaded_ || !global_.dirty()) return Status::Ok();
  Page p1;
  VELQUIN_RETURN_IF_ERROR(ReadPage(kGlobalMapPage, p1));
  DataPage dp(p1, kGlobalMapPage);
  VELQUIN_ASSIGN_OR_RETURN(RowSlot s, dp.Slot(0));
  VELQUIN_ASSIGN_OR_RETURN(auto row, global_.Save(*this));
  if (row.size() != s.size()) return PageCorruption(1, "global usage map", "row size changed");
  std::memcpy(p1.data() + s.start, row.data(), row.size());
  return WritePage(kGlobalMapPage, p1);
}

}  // namespace velquin::jet
