// PageFile: the PageStore over a File, with page 0 and the global usage map.
// Rules [PAGE-1], [PAGE-3], [UMAP-4] in docs/jet4-format.md.
//
// Page 1 is a data page with two 69-byte rows; row 0 is the global usage map,
// where a set bit means the page is FREE (the opposite of table maps), row 1
// is all zero. Pages are allocated from released pages first, then at the end
// of the file. The in-memory map is written back by Flush().
#pragma once

#include <memory>
#include <set>

#include "jet/format/file.h"
#include "jet/format/header.h"
#include "jet/format/page_store.h"
#include "jet/format/usage_map.h"

namespace velquin::jet {

inline constexpr PageNumber kGlobalMapPage = 1;

class PageFile : public PageStore {
 public:
  // Writes page 0 and page 1 of a new database into an empty file.
  static Result<std::unique_ptr<PageFile>> Create(std::unique_ptr<File> file,
                                                  const HeaderInfo& header);
  // Reads page 0. A writable file also loads the global usage map.
  static Result<std::unique_ptr<PageFile>> Open(std::unique_ptr<File> file, bool writable);

  PageNumber PageCount() const override { return page_count_; }
  Status ReadPage(PageNumber n, Page& out) override;
  Status WritePage(PageNumber n, const Page& page) override;
  Result<PageNumber> AllocatePage() override;
  Status ReleasePage(PageNumber n) override;

  // Writes the global usage map if it changed.
  Status Flush();
  Status Sync() { return file_->Sync(); }

  const HeaderInfo& header() const { return header_; }
  bool writable() const { return writable_; }
  // Pages the global map records as free (released and reusable).
  std::size_t FreePageCount() const { return free_.size(); }
  bool IsFree(PageNumber n) const { return free_.count(n) != 0; }

 private:
  PageFile(std::unique_ptr<File> file, bool writable)
      : file_(std::move(file)), writable_(writable) {}
  Status LoadGlobalMap();
  Status MarkUsed(PageNumber n);
  PageNumber AppendPage() { return page_count_++; }

  std::unique_ptr<File> file_;
  bool writable_;
  HeaderInfo header_;
  PageNumber page_count_ = 0;
  UsageMap global_;
  bool global_loaded_ = false;
  std::set<PageNumber> free_;
};

}  // namespace velquin::jet
