// IndexTree: one physical index as a B-tree of index pages over a PageStore.
//
// Shape of the tree (docs/jet4-format.md [IDX-35]..[IDX-39]):
// - The root page number never changes (the table definition records it);
//   a new index is one empty leaf. When the root fills up, its entries move to
//   a new page below it and the root becomes a node.
// - A node lists its children by their last (greatest) entry, in order. The
//   rightmost child has no entry: it is only the page's "child tail"
//   (offset 20). A node with a single child stores it as an entry, no tail.
// - Leaves are chained left to right with prev/next over the whole level;
//   node pages are chained only with siblings under the same parent.
// - Entries are unique as (key, row); a unique index also refuses a second
//   entry whose key bytes equal an existing one, unless every key column is
//   NULL.
// Pages are read and written whole through PageStore; an operation checks
// everything it can (uniqueness, sizes, page encodings) before its first
// write, writes new pages before the pages that will point at them and
// changed pages from the root down (so every entry stays reachable from the
// root through a split), and releases pages only after nothing points at
// them any more. One operation is still several page writes: making a group
// of writes atomic is the page file's business.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

#include "base/status.h"
#include "jet/format/page_store.h"
#include "jet/index/index_key.h"
#include "jet/index/index_page.h"

namespace velquin::jet {

// Told about every page the tree takes or gives back, so the owner can keep
// the index's usage map right.
class IndexPageObserver {
 public:
  virtual ~IndexPageObserver() = default;
  virtual Status OnIndexPageAllocated(PageNumber page) = 0;
  virtual Status OnIndexPageReleased(PageNumber page) = 0;
};

struct IndexTreeOptions {
  PageNumber tdef_page = 0;      // written into every page header
  bool unique = false;           // physical index flag 0x01
  std::size_t column_count = 1;  // to recognise all-NULL keys (exempt from uniqueness)
  IndexPageObserver* observer = nullptr;
};

// [IDX-14] True when `key` is the key of a row whose index columns are all NULL: one
// NULL flag byte (00 or FF) per column and nothing else.
bool IsAllNullKey(std::span<const std::uint8_t> key, std::size_t column_count);

// The entry for one row of a table: the key of its index column values
// (see EncodeKey) and where the row is.
Result<IndexEntry> MakeIndexEntry(std::span<const KeyColumn> columns,
                                  std::span<const KeyValue> values, RowId row);

// Iteration over the leaf entries in key order, forward or backward.
class IndexCursor {
 public:
  IndexCursor() = default;
  bool Valid() const { return store_ != nullptr && pos_ < leaf_.entries.size(); }
  const IndexEntry& entry() const { return leaf_.entries[pos_]; }
  PageNumber leaf_page() const { return page_; }
  // Moves to the next entry (possibly on the next leaf). Corruption when the
  // leaf chain is broken or loops.
  Status Next();
  // Moves to the entry before (possibly on the previous leaf); before the
  // first entry the cursor is no longer Valid(). Corruption when the leaf
  // chain is broken or loops.
  Status Prev();

 private:
  friend class IndexTree;
  Status SkipEmpty();
  PageStore* store_ = nullptr;
  PageNumber page_ = 0;
  IndexPage leaf_;
  std::size_t pos_ = 0;
  std::uint64_t hops_ = 0;
};

// Entries by position, for IndexTree::BulkLoad.
class IndexEntrySource {
 public:
  virtual ~IndexEntrySource() = default;
  virtual std::size_t size() const = 0;
  // Entry `i` into `out` (whose key storage may be reused).
  virtual void Get(std::size_t i, IndexEntry* out) const = 0;
};

struct IndexTreeStats {
  std::uint64_t entries = 0;
  std::uint64_t distinct_keys = 0;
  std::uint32_t leaf_pages = 0;
  std::uint32_t node_pages = 0;
  std::uint32_t depth = 0;  // 1 = the root is a leaf
};

// Decoded pages an IndexTree keeps between operations. The tree assumes it
// is the only writer of its pages while it is in use.
struct IndexPageCache {
  std::unordered_map<PageNumber, IndexPage> pages;
};

class IndexTree {
 public:
  // Allocates an empty root leaf for a new index.
  static Result<IndexTree> Create(PageStore& store, const IndexTreeOptions& options);
  // Opens the index whose root page is `root`.
  IndexTree(PageStore& store, PageNumber root, const IndexTreeOptions& options)
      : store_(&store),
        root_(root),
        options_(options),
        cache_(std::make_shared<IndexPageCache>()) {}

  PageNumber root() const { return root_; }
  const IndexTreeOptions& options() const { return options_; }

  // Adds one entry. Constraint (and nothing written) when the index is
  // unique and another entry has the same key bytes; InvalidArgument when
  // the same (key, row) is already there or the key is too long.
  // `*new_key` (optional) tells whether no other entry had this key, for the
  // table's unique-entry count.
  Status Insert(const IndexEntry& entry, bool* new_key = nullptr);

  // What Insert would refuse, checked without writing anything: lets a
  // table check every index of a row before changing any of them.
  Status CheckInsert(const IndexEntry& entry);

  // Removes one entry; NotFound when it is not there. `*last_of_key`
  // (optional) tells whether no other entry with this key remains.
  Status Remove(const IndexEntry& entry, bool* last_of_key = nullptr);

  // Replaces the whole content with `sorted` (strictly ascending by
  // CompareEntries), filling pages densely: the way to index a table that
  // already holds rows. Returns the number of distinct keys. Constraint
  // (nothing written) on a duplicate key in a unique index.
  Result<std::uint64_t> BulkLoad(std::span<const IndexEntry> sorted);
  // The same from entries handed out by position (read twice: a checking
  // pass, then the writing pass). Leaves are written as they fill, so only
  // one leaf and the node levels are held in memory [IDX-40].
  Result<std::uint64_t> BulkLoad(const IndexEntrySource& sorted);

  // First entry whose key is >= `key` (entries of equal key in row order).
  Result<IndexCursor> Seek(std::span<const std::uint8_t> key);
  Result<IndexCursor> Begin() { return Seek({}); }
  // Just past the last entry (not Valid()): Prev() gives the last one.
  Result<IndexCursor> End();
  // Whether some entry has exactly this key.
  Result<bool> ContainsKey(std::span<const std::uint8_t> key);
  // Every entry in key order.
  Result<std::vector<IndexEntry>> ReadAll();

  // Walks the whole tree and checks its shape: entry order within and across
  // pages, node entries equal to their child's last entry, the tail rule,
  // sibling links, equal leaf depth. Corruption naming the page otherwise.
  Result<IndexTreeStats> Verify();

  // Releases every page of the tree, the root included.
  Status Free();

  // Forgets the decoded pages kept between operations; call it when the
  // index pages were written by anything else than this tree (or its copies).
  void DropCachedPages() { cache_->pages.clear(); }

 private:
  PageStore* store_;
  PageNumber root_;
  IndexTreeOptions options_;
  std::shared_ptr<IndexPageCache> cache_;  // shared by copies of this tree
};

}  // namespace velquin::jet
