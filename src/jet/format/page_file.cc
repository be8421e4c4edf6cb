// The page file: see page_file.h and [PAGE-1], [UMAP-4] in docs/jet4-format.md.
#include "jet/format/page_file.h"

#include <algorithm>
#include <cstring>

#include "jet/format/data_page.h"

namespace velquin::jet {

Result<std::unique_ptr<PageFile>> PageFile::Create(std::unique_ptr<File> file,
                                                   const HeaderInfo& header) {
  if (file->Size() != 0) return Status::InvalidArgument("the file to create is not empty");
  std::unique_ptr<PageFile> pf(new PageFile(std::move(file), true));
  pf->header_ = header;
  Page p0 = EncodeHeaderPage(header);
  VELQUIN_RETURN_IF_ERROR(pf->file_->WriteAt(0, Bytes(p0)));
  pf->page_count_ = 2;
  // Page 1: the global map (pages 0 and 1 in use, the rest free) and a zero row.
  Page p1;
  DataPage dp(p1, kGlobalMapPage);
  dp.Init(1);  // Jet writes 1 in the owner field of this page
  pf->global_ = UsageMap::NewInline(0);
  PageAllocator no_alloc = []() -> Result<PageNumber> {
    return Status::InvalidArgument("no allocation while creating the global map");
  };
  for (PageNumber n = 2; n < (kUsageMapRowSize - 5) * 8; ++n) {
    VELQUIN_RETURN_IF_ERROR(pf->global_.Set(n, true, no_alloc));
  }
  VELQUIN_ASSIGN_OR_RETURN(auto row0, pf->global_.Save(*pf));
  std::vector<std::uint8_t> row1(kUsageMapRowSize, 0);
  dp.Add(Bytes(row0));
  dp.Add(Bytes(row1));
  VELQUIN_RETURN_IF_ERROR(pf->file_->WriteAt(kPageSize, Bytes(p1)));
  pf->global_loaded_ = true;
  return pf;
}

Result<std::unique_ptr<PageFile>> PageFile::Open(std::unique_ptr<File> file, bool writable) {
  std::uint64_t size = file->Size();
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
  std::unique_ptr<PageFile> pf(new PageFile(std::move(file), writable));
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
  if (n >= page_count_ || n == 0) {
    return Status::InvalidArgument("write to page " + std::to_string(n) + " outside the file");
  }
  return file_->WriteAt(static_cast<std::uint64_t>(n) * kPageSize, Bytes(page));
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
