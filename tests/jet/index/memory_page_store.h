// An in-memory PageStore for the index tests: pages in a vector, released
// pages reused first, with counters to check what an operation wrote.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "jet/format/page_store.h"

namespace velquin::jet::testing {

class MemoryPageStore : public PageStore {
 public:
  // Page 0 stands for the header page and is never handed out.
  MemoryPageStore() : pages_(1) {}

  PageNumber PageCount() const override { return static_cast<PageNumber>(pages_.size()); }

  Status ReadPage(PageNumber n, Page& out) override {
    if (n >= pages_.size()) return Status::IOError("read past the end: page " + std::to_string(n));
    out = pages_[n];
    return Status::Ok();
  }

  Status WritePage(PageNumber n, const Page& page) override {
    if (n >= pages_.size()) return Status::IOError("write past the end: page " + std::to_string(n));
    if (free_.count(n)) return Status::IOError("write to a free page " + std::to_string(n));
    pages_[n] = page;
    ++writes_;
    return Status::Ok();
  }

  Result<PageNumber> AllocatePage() override {
    if (!free_.empty()) {
      const PageNumber n = *free_.begin();
      free_.erase(free_.begin());
      pages_[n] = Page{};
      return n;
    }
    pages_.emplace_back();
    return static_cast<PageNumber>(pages_.size() - 1);
  }

  Status ReleasePage(PageNumber n) override {
    if (n == 0 || n >= pages_.size()) return Status::InvalidArgument("release of a bad page");
    if (!free_.insert(n).second) {
      return Status::InvalidArgument("page " + std::to_string(n) + " released twice");
    }
    return Status::Ok();
  }

  std::size_t InUse() const { return pages_.size() - 1 - free_.size(); }
  std::size_t writes() const { return writes_; }
  std::vector<Page>& pages() { return pages_; }
  const std::set<PageNumber>& free_pages() const { return free_; }

 private:
  std::vector<Page> pages_;
  std::set<PageNumber> free_;
  std::size_t writes_ = 0;
};

}  // namespace velquin::jet::testing
