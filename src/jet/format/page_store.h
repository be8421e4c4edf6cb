// PageStore: the one interface through which the engine's structures read and
// write whole 4096-byte pages. The page file (a real file, an in-memory file
// for tests, a fault-injecting file) implements it; B-tree, table and catalog
// code use only this, so each can be tested over an in-memory store.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "base/status.h"

namespace velquin::jet {

inline constexpr std::size_t kPageSize = 4096;
using PageNumber = std::uint32_t;
using Page = std::array<std::uint8_t, kPageSize>;

class PageStore {
 public:
  virtual ~PageStore() = default;

  // Number of pages in the file (page 0 is the header page).
  virtual PageNumber PageCount() const = 0;

  // Reads page `n` into `out`. Corruption/IOError when `n` is out of range.
  virtual Status ReadPage(PageNumber n, Page& out) = 0;

  // Writes page `n`; `n` must be below PageCount().
  virtual Status WritePage(PageNumber n, const Page& page) = 0;

  // Returns a page number that is free for use: a page released earlier (as
  // recorded in the global usage map) or a new page at the end of the file,
  // zero-filled. The caller writes it before anything refers to it.
  virtual Result<PageNumber> AllocatePage() = 0;

  // Marks page `n` as free again in the global usage map.
  virtual Status ReleasePage(PageNumber n) = 0;
};

}  // namespace velquin::jet
