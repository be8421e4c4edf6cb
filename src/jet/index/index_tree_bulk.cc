// IndexTree::BulkLoad: a whole index written in one pass from sorted
// entries, leaves filled densely and the node levels built from the bottom up
// (index_page.h has the page layout; index_tree.h the shape of the tree).
#include <span>
#include <string>
#include <vector>

#include "jet/index/index_tree.h"
#include "jet/index/index_tree_internal.h"

namespace velquin::jet {

using index_tree_internal::CheckEntry;
using index_tree_internal::CollectPages;

namespace {

class SpanSource : public IndexEntrySource {
 public:
  explicit SpanSource(std::span<const IndexEntry> entries) : entries_(entries) {}
  std::size_t size() const override { return entries_.size(); }
  void Get(std::size_t i, IndexEntry* out) const override { *out = entries_[i]; }

 private:
  std::span<const IndexEntry> entries_;
};

}  // namespace

Result<std::uint64_t> IndexTree::BulkLoad(std::span<const IndexEntry> sorted) {
  return BulkLoad(SpanSource(sorted));
}

Result<std::uint64_t> IndexTree::BulkLoad(const IndexEntrySource& sorted) {
  cache_->pages.clear();
  const std::size_t count = sorted.size();
  // First pass: everything that could refuse the load, before any write.
  std::uint64_t distinct = 0;
  {
    IndexEntry prev, cur;
    for (std::size_t i = 0; i < count; ++i) {
      sorted.Get(i, &cur);
      VELQUIN_RETURN_IF_ERROR(CheckEntry(cur));
      bool same_key = false;
      if (i > 0) {
        if (CompareEntries(prev, cur) >= 0) {
          return Status::InvalidArgument("bulk index load: entry " + std::to_string(i) +
                                         " is not greater than the one before it");
        }
        same_key = CompareKeys(prev.key, cur.key) == 0;
        if (same_key && options_.unique && !IsAllNullKey(cur.key, options_.column_count)) {
          return Status::Constraint("duplicate key in unique index (entries " +
                                    std::to_string(i - 1) + " and " + std::to_string(i) + ")");
        }
      }
      if (!same_key) ++distinct;
      std::swap(prev, cur);
    }
  }
  std::vector<PageNumber> old_pages;
  VELQUIN_RETURN_IF_ERROR(CollectPages(*store_, root_, old_pages));

  std::vector<PageNumber> allocated;
  auto give_back = [&]() {
    for (PageNumber n : allocated) (void)store_->ReleasePage(n);
  };
  auto allocate = [&]() -> Result<PageNumber> {
    auto n = store_->AllocatePage();
    if (!n.ok()) {
      give_back();
      return n.status();
    }
    allocated.push_back(*n);
    return *n;
  };
  auto write = [&](PageNumber n, IndexPage& page) -> Status {
    page.tdef_page = options_.tdef_page;
    auto encoded = EncodeIndexPage(page);
    if (!encoded.ok()) {
      give_back();
      return encoded.status().WithContext("bulk index load");
    }
    return store_->WritePage(n, *encoded);
  };

  // Second pass: leaves, filled densely and written as they fill (each one
  // knows its right neighbour's page before it is written). A single leaf
  // is the root itself.
  struct Child {
    IndexEntry max;
    PageNumber number = 0;
  };
  std::vector<Child> lower;  // every written leaf: its last entry and page
  {
    IndexPage leaf;
    leaf.leaf = true;
    PageNumber leaf_no = 0;  // allocated once a second leaf is needed
    std::size_t used = 0;
    // Entries of the leaf being filled: the first `filled` of leaf.entries.
    // Each leaf's entries take the places of the last one's, keys and all,
    // so no entry allocates once the first leaf is full.
    std::size_t filled = 0;
    IndexEntry cur;
    for (std::size_t i = 0; i < count; ++i) {
      sorted.Get(i, &cur);
      const std::size_t size = EntryBytes(cur, true);
      if (filled != 0 && used + size > kIndexEntryAreaSize) {
        if (leaf_no == 0) {
          VELQUIN_ASSIGN_OR_RETURN(leaf_no, allocate());
        }
        VELQUIN_ASSIGN_OR_RETURN(PageNumber next_no, allocate());
        leaf.next = next_no;
        leaf.entries.resize(filled);
        VELQUIN_RETURN_IF_ERROR(write(leaf_no, leaf));
        lower.push_back({leaf.entries.back(), leaf_no});
        filled = 0;
        leaf.prev = leaf_no;
        leaf.next = 0;
        leaf_no = next_no;
        used = 0;
      }
      if (filled < leaf.entries.size()) {
        leaf.entries[filled] = cur;
      } else {
        leaf.entries.push_back(cur);
      }
      ++filled;
      used += size;
    }
    leaf.entries.resize(filled);
    if (lower.empty()) {
      leaf.prev = leaf.next = 0;
      VELQUIN_RETURN_IF_ERROR(write(root_, leaf));
    } else {
      VELQUIN_RETURN_IF_ERROR(write(leaf_no, leaf));
      lower.push_back({leaf.entries.back(), leaf_no});
    }
  }

  // Node levels, built in memory (one entry per page below) from the bottom
  // up; the single page of the top level is the root.
  struct Node {
    IndexPage page;
    std::vector<std::size_t> child_index;  // into the level below
    PageNumber number = 0;
  };
  std::vector<std::vector<Node>> levels;
  while (lower.size() > 1) {
    std::vector<Node> upper;
    std::size_t i = 0;
    while (i < lower.size()) {
      Node node;
      node.page.leaf = false;
      std::size_t stored = 0;
      node.child_index.push_back(i++);
      while (i < lower.size() && stored + EntryBytes(lower[node.child_index.back()].max, false) <=
                                     kIndexEntryAreaSize) {
        stored += EntryBytes(lower[node.child_index.back()].max, false);
        node.child_index.push_back(i++);
      }
      upper.push_back(std::move(node));
    }
    std::vector<Child> next_lower;
    for (auto& node : upper) {
      if (upper.size() == 1) {
        node.number = root_;
      } else {
        VELQUIN_ASSIGN_OR_RETURN(node.number, allocate());
      }
      const auto& idx = node.child_index;
      for (std::size_t k = 0; k < idx.size(); ++k) {
        const Child& child = lower[idx[k]];
        if (k + 1 == idx.size() && idx.size() >= 2) {
          node.page.tail = child.number;
        } else {
          node.page.entries.push_back(child.max);
          node.page.children.push_back(child.number);
        }
        if (!levels.empty()) {  // node children link only within this parent
          auto& cp = levels.back()[idx[k]].page;
          cp.prev = k > 0 ? lower[idx[k - 1]].number : 0;
          cp.next = k + 1 < idx.size() ? lower[idx[k + 1]].number : 0;
        }
      }
      next_lower.push_back({lower[idx.back()].max, node.number});
    }
    levels.push_back(std::move(upper));
    lower = std::move(next_lower);
  }
  // Lower levels first, the root last.
  for (auto& level : levels) {
    for (auto& node : level) VELQUIN_RETURN_IF_ERROR(write(node.number, node.page));
  }
  if (options_.observer != nullptr) {
    for (PageNumber n : allocated) {
      VELQUIN_RETURN_IF_ERROR(options_.observer->OnIndexPageAllocated(n));
    }
  }
  for (PageNumber n : old_pages) {
    if (n == root_) continue;
    VELQUIN_RETURN_IF_ERROR(store_->ReleasePage(n));
    if (options_.observer != nullptr) {
      VELQUIN_RETURN_IF_ERROR(options_.observer->OnIndexPageReleased(n));
    }
  }
  return distinct;
}

}  // namespace velquin::jet
