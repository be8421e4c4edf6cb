// IndexTree: B-tree operations over index pages (index_page.h has the page
// layout; index_tree.h the shape of the tree). The bulk load is in
// index_tree_bulk.cc.
#include "jet/index/index_tree.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "jet/index/index_tree_internal.h"

namespace velquin::jet {

using index_tree_internal::CheckEntry;
using index_tree_internal::CollectPages;
using index_tree_internal::Corrupt;
using index_tree_internal::kMaxDepth;
using index_tree_internal::ReadIndexPage;

namespace {

// Decoded pages kept between operations (about 4 KiB of entries each).
constexpr std::size_t kCachedPages = 512;

std::size_t LogicalCount(const IndexPage& p) { return p.entries.size() + (p.tail != 0 ? 1 : 0); }

PageNumber ChildAt(const IndexPage& p, std::size_t i) {
  return i < p.children.size() ? p.children[i] : p.tail;
}

}  // namespace

namespace index_tree_internal {

Status Corrupt(PageNumber n, const std::string& what) {
  return Status::Corruption("index page " + std::to_string(n) + ": " + what);
}

Result<IndexPage> ReadIndexPage(PageStore& store, PageNumber n) {
  if (n == 0 || n >= store.PageCount()) {
    return Corrupt(
        n, "page number outside the file (" + std::to_string(store.PageCount()) + " pages)");
  }
  Page raw;
  VELQUIN_RETURN_IF_ERROR(store.ReadPage(n, raw));
  return DecodeIndexPage(raw, n);
}

Status CheckEntry(const IndexEntry& e) {
  if (e.key.size() > kMaxIndexKeySize) {
    return Status::InvalidArgument("index key of " + std::to_string(e.key.size()) +
                                   " bytes is longer than the " + std::to_string(kMaxIndexKeySize) +
                                   " bytes an entry may take");
  }
  if (e.row.page > 0xFFFFFF) {
    return Status::InvalidArgument("row page " + std::to_string(e.row.page) +
                                   " does not fit an index entry (24 bits)");
  }
  return Status::Ok();
}

// Every page of the tree below and including `root`, in no particular
// order; Corruption on loops or bad pages.
Status CollectPages(PageStore& store, PageNumber root, std::vector<PageNumber>& out) {
  std::set<PageNumber> seen;
  std::vector<std::pair<PageNumber, std::size_t>> todo = {{root, 0}};
  while (!todo.empty()) {
    auto [n, depth] = todo.back();
    todo.pop_back();
    if (depth >= kMaxDepth) return Corrupt(n, "index deeper than 32 levels");
    if (!seen.insert(n).second) return Corrupt(n, "page is reached twice in the tree");
    VELQUIN_ASSIGN_OR_RETURN(IndexPage p, ReadIndexPage(store, n));
    out.push_back(n);
    if (!p.leaf) {
      for (PageNumber c : p.children) todo.emplace_back(c, depth + 1);
      if (p.tail != 0) todo.emplace_back(p.tail, depth + 1);
    }
  }
  return Status::Ok();
}

}  // namespace index_tree_internal

namespace {

struct Step {
  PageNumber page;
  std::size_t child;  // logical child taken at a node (entries.size() = tail)
};

// One tree operation: the pages it has read or changed, the pages it took
// and gave back, and the ordered write at the end.
class Op {
 public:
  // `pages` holds decoded pages as they are on disk; the operation changes
  // them in place and, unless it completes, drops what it changed.
  Op(PageStore& store, const IndexTreeOptions& options, PageNumber root, IndexPageCache& pages)
      : store_(store), options_(options), root_(root), pages_(pages.pages) {}

  ~Op() {
    if (!done_) {
      for (const auto& [n, depth] : dirty_) pages_.erase(n);
      for (PageNumber n : new_pages_) pages_.erase(n);
      for (PageNumber n : released_) pages_.erase(n);
    }
    // Pages taken by an operation that did not commit go back unused.
    if (!committed_) {
      for (PageNumber n : new_pages_) (void)store_.ReleasePage(n);
    }
    if (pages_.size() > kCachedPages) pages_.clear();
  }

  Result<IndexPage*> Get(PageNumber n) {
    auto it = pages_.find(n);
    if (it != pages_.end()) return &it->second;
    VELQUIN_ASSIGN_OR_RETURN(IndexPage page, ReadIndexPage(store_, n));
    return &pages_.emplace(n, std::move(page)).first->second;
  }

  void MarkDirty(PageNumber n, std::size_t depth) {
    auto [it, inserted] = dirty_.emplace(n, depth);
    if (!inserted) it->second = std::max(it->second, depth);
  }

  Result<PageNumber> Allocate(bool leaf, std::size_t depth) {
    VELQUIN_ASSIGN_OR_RETURN(PageNumber n, store_.AllocatePage());
    if (n == 0 || pages_.count(n) != 0) {
      return Status::IOError("page store handed out page " + std::to_string(n) +
                             " which is already in use");
    }
    new_pages_.push_back(n);
    IndexPage page;
    page.leaf = leaf;
    page.tdef_page = options_.tdef_page;
    pages_.emplace(n, std::move(page));
    MarkDirty(n, depth);
    return n;
  }

  void Release(PageNumber n) {
    dirty_.erase(n);
    released_.push_back(n);
  }

  bool Released(PageNumber n) const {
    return std::find(released_.begin(), released_.end(), n) != released_.end();
  }

  // Greatest entry below page `n`: the stored entry of its last child, or
  // its tail's greatest entry.
  Result<IndexEntry> SubtreeMax(PageNumber n) {
    for (std::size_t depth = 0; depth < kMaxDepth; ++depth) {
      VELQUIN_ASSIGN_OR_RETURN(IndexPage * p, Get(n));
      if (p->leaf) {
        if (p->entries.empty()) return Corrupt(n, "empty leaf below a node");
        return p->entries.back();
      }
      if (p->tail != 0) {
        n = p->tail;
        continue;
      }
      if (p->entries.empty()) return Corrupt(n, "node page without children");
      return p->entries.back();
    }
    return Corrupt(n, "index deeper than " + std::to_string(kMaxDepth) + " levels");
  }

  // Path from the root to the leaf where `target` belongs [IDX-38].
  Result<std::vector<Step>> Descend(const IndexEntry& target) {
    std::vector<Step> path;
    PageNumber n = root_;
    for (std::size_t depth = 0; depth < kMaxDepth; ++depth) {
      VELQUIN_ASSIGN_OR_RETURN(IndexPage * p, Get(n));
      if (p->leaf) {
        path.push_back({n, 0});
        return path;
      }
      if (LogicalCount(*p) == 0) return Corrupt(n, "node page without children");
      auto it = std::lower_bound(p->entries.begin(), p->entries.end(), target, EntryLess);
      std::size_t idx = static_cast<std::size_t>(it - p->entries.begin());
      if (idx == p->entries.size() && p->tail == 0) idx = p->entries.size() - 1;
      path.push_back({n, idx});
      n = ChildAt(*p, idx);
    }
    return Corrupt(root_, "index deeper than " + std::to_string(kMaxDepth) + " levels");
  }

  // Last entry of the leaf chain ending at `n` going left (skipping empty
  // leaves); nullopt when there is none.
  Result<std::optional<IndexEntry>> Neighbour(PageNumber n, bool leftwards) {
    std::uint64_t hops = 0;
    while (n != 0) {
      if (++hops > store_.PageCount()) return Corrupt(n, "leaf chain loops");
      VELQUIN_ASSIGN_OR_RETURN(IndexPage * p, Get(n));
      if (!p->leaf) return Corrupt(n, "leaf chain reaches a node page");
      if (!p->entries.empty()) {
        return std::optional<IndexEntry>(leftwards ? p->entries.back() : p->entries.front());
      }
      n = leftwards ? p->prev : p->next;
    }
    return std::optional<IndexEntry>();
  }

  // A changed greatest entry of the page at path[level] goes up while the
  // page is its parent's last child [IDX-36].
  Status PropagateMax(const std::vector<Step>& path, std::size_t level, const IndexEntry& max) {
    while (level > 0) {
      const Step& up = path[level - 1];
      VELQUIN_ASSIGN_OR_RETURN(IndexPage * parent, Get(up.page));
      if (up.child < parent->entries.size()) {
        parent->entries[up.child] = max;
        MarkDirty(up.page, level - 1);
      }
      if (up.child + 1 != LogicalCount(*parent)) break;
      --level;
    }
    return Status::Ok();
  }

  // Splits pages on the path that no longer fit, from the leaf up; a full
  // root moves its content to a new page below it [IDX-37].
  Status SplitPath(std::vector<Step>& path) {
    for (std::size_t l = path.size(); l-- > 0;) {
      PageNumber n = path[l].page;
      VELQUIN_ASSIGN_OR_RETURN(IndexPage * p, Get(n));
      while (!FitsOnPage(*p)) {
        if (l == 0) {
          VELQUIN_RETURN_IF_ERROR(NestRoot(path));
          l = 1;
          n = path[1].page;
          VELQUIN_ASSIGN_OR_RETURN(p, Get(n));
          continue;
        }
        VELQUIN_RETURN_IF_ERROR(SplitOnce(path, l));
        VELQUIN_ASSIGN_OR_RETURN(p, Get(n));
      }
    }
    return Status::Ok();
  }

  Status NestRoot(std::vector<Step>& path) {
    VELQUIN_ASSIGN_OR_RETURN(IndexPage * root, Get(root_));
    IndexEntry max;
    if (root->leaf || root->tail == 0) {
      if (root->entries.empty()) return Corrupt(root_, "cannot split an empty root");
      max = root->entries.back();
    } else {
      VELQUIN_ASSIGN_OR_RETURN(max, SubtreeMax(root->tail));
    }
    VELQUIN_ASSIGN_OR_RETURN(PageNumber c, Allocate(root->leaf, 1));
    VELQUIN_ASSIGN_OR_RETURN(root, Get(root_));  // map nodes are stable; refresh anyway
    VELQUIN_ASSIGN_OR_RETURN(IndexPage * child, Get(c));
    *child = *root;
    child->prev = 0;
    child->next = 0;
    IndexPage fresh;
    fresh.leaf = false;
    fresh.tdef_page = options_.tdef_page;
    fresh.entries.push_back(std::move(max));
    fresh.children.push_back(c);
    *root = std::move(fresh);
    MarkDirty(root_, 0);
    path.insert(path.begin() + 1, Step{c, path[0].child});
    path[0].child = 0;
    for (std::size_t i = 1; i < path.size(); ++i) MarkDirtyIfKnown(path[i].page, i);
    return Status::Ok();
  }

  void MarkDirtyIfKnown(PageNumber n, std::size_t depth) {
    auto it = dirty_.find(n);
    if (it != dirty_.end()) it->second = std::max(it->second, depth);
  }

  // Moves the first part of the entries of path[l] to a new page placed
  // before it.
  Status SplitOnce(std::vector<Step>& path, std::size_t l) {
    const PageNumber n = path[l].page;
    VELQUIN_ASSIGN_OR_RETURN(IndexPage * p, Get(n));
    const std::size_t count = p->entries.size();
    if (count < 2)
      return Status::InvalidArgument("index page " + std::to_string(n) +
                                     ": one entry does not fit a page");
    std::vector<std::size_t> sizes(count);
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) total += sizes[i] = EntryBytes(p->entries[i], p->leaf);
    // Balanced split point; the left part must fit on its own.
    std::size_t best = 1, best_cost = SIZE_MAX, left = 0;
    for (std::size_t k = 1; k < count; ++k) {
      left += sizes[k - 1];
      if (left > kIndexEntryAreaSize) break;
      const std::size_t cost = std::max(left, total - left);
      if (cost < best_cost) {
        best_cost = cost;
        best = k;
      }
    }
    const bool leaf = p->leaf;
    VELQUIN_ASSIGN_OR_RETURN(PageNumber ln, Allocate(leaf, l));
    VELQUIN_ASSIGN_OR_RETURN(p, Get(n));
    VELQUIN_ASSIGN_OR_RETURN(IndexPage * lp, Get(ln));
    lp->entries.assign(
        std::make_move_iterator(p->entries.begin()),
        std::make_move_iterator(p->entries.begin() + static_cast<std::ptrdiff_t>(best)));
    p->entries.erase(p->entries.begin(), p->entries.begin() + static_cast<std::ptrdiff_t>(best));
    if (!leaf) {
      lp->children.assign(p->children.begin(),
                          p->children.begin() + static_cast<std::ptrdiff_t>(best));
      p->children.erase(p->children.begin(),
                        p->children.begin() + static_cast<std::ptrdiff_t>(best));
    }
    const IndexEntry left_max = lp->entries.back();
    // Sibling links: the new page goes between p and its previous page.
    lp->prev = p->prev;
    lp->next = n;
    if (p->prev != 0) {
      VELQUIN_ASSIGN_OR_RETURN(IndexPage * before, Get(p->prev));
      before->next = ln;
      MarkDirty(p->prev, l);
    }
    p->prev = ln;
    MarkDirty(n, l);
    if (!leaf) {
      // Node pages link only siblings under one parent [IDX-35]: the last
      // child of the new page and the first child of p part ways.
      const PageNumber a = lp->children.back();
      const PageNumber b = ChildAt(*p, 0);
      VELQUIN_ASSIGN_OR_RETURN(IndexPage * pa, Get(a));
      if (!pa->leaf) {
        VELQUIN_ASSIGN_OR_RETURN(IndexPage * pb, Get(b));
        pa->next = 0;
        pb->prev = 0;
        MarkDirty(a, l + 1);
        MarkDirty(b, l + 1);
      }
    }
    // The parent lists the new page just before p.
    Step& up = path[l - 1];
    VELQUIN_ASSIGN_OR_RETURN(IndexPage * parent, Get(up.page));
    parent->entries.insert(parent->entries.begin() + static_cast<std::ptrdiff_t>(up.child),
                           left_max);
    parent->children.insert(parent->children.begin() + static_cast<std::ptrdiff_t>(up.child), ln);
    ++up.child;
    MarkDirty(up.page, l - 1);
    return Status::Ok();
  }

  // Removes the (empty) page at path[l] from its level and its parent;
  // parents left without children go too. An empty root becomes an empty
  // leaf.
  Status RemovePage(const std::vector<Step>& path, std::size_t l) {
    while (true) {
      const PageNumber n = path[l].page;
      if (l == 0) {
        VELQUIN_ASSIGN_OR_RETURN(IndexPage * root, Get(n));
        IndexPage empty;
        empty.leaf = true;
        empty.tdef_page = options_.tdef_page;
        *root = std::move(empty);
        MarkDirty(n, 0);
        return Status::Ok();
      }
      VELQUIN_ASSIGN_OR_RETURN(IndexPage * p, Get(n));
      const PageNumber prev = p->prev, next = p->next;
      if (prev != 0) {
        VELQUIN_ASSIGN_OR_RETURN(IndexPage * pp, Get(prev));
        pp->next = next;
        MarkDirty(prev, l);
      }
      if (next != 0) {
        VELQUIN_ASSIGN_OR_RETURN(IndexPage * np, Get(next));
        np->prev = prev;
        MarkDirty(next, l);
      }
      Release(n);
      const Step& up = path[l - 1];
      VELQUIN_ASSIGN_OR_RETURN(IndexPage * parent, Get(up.page));
      const bool was_last = up.child + 1 == LogicalCount(*parent);
      if (up.child < parent->entries.size()) {
        parent->entries.erase(parent->entries.begin() + static_cast<std::ptrdiff_t>(up.child));
        parent->children.erase(parent->children.begin() + static_cast<std::ptrdiff_t>(up.child));
      } else {
        parent->tail = 0;
      }
      MarkDirty(up.page, l - 1);
      if (LogicalCount(*parent) == 0) {
        --l;
        continue;
      }
      if (was_last) {
        // The new last child is a stored entry: its entry is the new max.
        return PropagateMax(path, l - 1, parent->entries.back());
      }
      return Status::Ok();
    }
  }

  // The tail rule [IDX-36]: two or more children -> the last is the tail;
  // a single child is a stored entry.
  Status Normalize(PageNumber n) {
    VELQUIN_ASSIGN_OR_RETURN(IndexPage * p, Get(n));
    if (p->leaf) return Status::Ok();
    if (p->tail == 0 && p->entries.size() >= 2) {
      p->tail = p->children.back();
      p->children.pop_back();
      p->entries.pop_back();
    } else if (p->tail != 0 && p->entries.empty()) {
      VELQUIN_ASSIGN_OR_RETURN(IndexEntry max, SubtreeMax(p->tail));
      VELQUIN_ASSIGN_OR_RETURN(p, Get(n));
      p->entries.push_back(std::move(max));
      p->children.push_back(p->tail);
      p->tail = 0;
    }
    return Status::Ok();
  }

  // Encodes every changed page, then writes: new pages first (nothing points
  // at them yet), then changed pages from the root down, so that a parent
  // points at a new page before its entries leave the old one; freed pages
  // go back last.
  Status Commit() {
    std::vector<PageNumber> dirty_nodes;
    for (const auto& [n, depth] : dirty_) dirty_nodes.push_back(n);
    for (PageNumber n : dirty_nodes) VELQUIN_RETURN_IF_ERROR(Normalize(n));
    std::vector<std::pair<PageNumber, std::size_t>> order(dirty_.begin(), dirty_.end());
    const std::set<PageNumber> fresh(new_pages_.begin(), new_pages_.end());
    std::stable_sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
      const bool fa = fresh.count(a.first) != 0, fb = fresh.count(b.first) != 0;
      if (fa != fb) return fa;
      return a.second < b.second;
    });
    std::vector<std::pair<PageNumber, Page>> encoded;
    encoded.reserve(order.size());
    for (const auto& [n, depth] : order) {
      IndexPage& p = pages_.at(n);
      if (!p.leaf) {
        // A node entry replaced by a child's new last entry stays in order
        // unless the tree was damaged below what page decoding can see.
        for (std::size_t i = 1; i < p.entries.size(); ++i) {
          if (CompareEntries(p.entries[i - 1], p.entries[i]) >= 0) {
            return Corrupt(n, "node entries out of order after an update");
          }
        }
      }
      p.tdef_page = options_.tdef_page != 0 ? options_.tdef_page : p.tdef_page;
      auto page = EncodeIndexPage(p);
      if (!page.ok()) return page.status().WithContext("index page " + std::to_string(n));
      encoded.emplace_back(n, *page);
    }
    committed_ = true;
    for (const auto& [n, page] : encoded) VELQUIN_RETURN_IF_ERROR(store_.WritePage(n, page));
    if (options_.observer != nullptr) {
      for (PageNumber n : new_pages_) {
        VELQUIN_RETURN_IF_ERROR(options_.observer->OnIndexPageAllocated(n));
      }
    }
    for (PageNumber n : released_) {
      pages_.erase(n);
      VELQUIN_RETURN_IF_ERROR(store_.ReleasePage(n));
      if (options_.observer != nullptr) {
        VELQUIN_RETURN_IF_ERROR(options_.observer->OnIndexPageReleased(n));
      }
    }
    released_.clear();
    done_ = true;
    return Status::Ok();
  }

  PageStore& store() { return store_; }

 private:
  PageStore& store_;
  const IndexTreeOptions& options_;
  PageNumber root_;
  std::unordered_map<PageNumber, IndexPage>& pages_;
  std::map<PageNumber, std::size_t> dirty_;  // page -> depth
  std::vector<PageNumber> new_pages_;
  std::vector<PageNumber> released_;
  bool committed_ = false;
  bool done_ = false;
};

}  // namespace

bool IsAllNullKey(std::span<const std::uint8_t> key, std::size_t column_count) {
  if (key.size() != column_count) return false;
  for (std::uint8_t b : key) {
    if (b != 0x00 && b != 0xFF) return false;
  }
  return true;
}

Result<IndexEntry> MakeIndexEntry(std::span<const KeyColumn> columns,
                                  std::span<const KeyValue> values, RowId row) {
  VELQUIN_ASSIGN_OR_RETURN(std::vector<std::uint8_t> key, EncodeKey(columns, values));
  IndexEntry entry{std::move(key), row};
  VELQUIN_RETURN_IF_ERROR(CheckEntry(entry));
  return entry;
}

Result<IndexTree> IndexTree::Create(PageStore& store, const IndexTreeOptions& options) {
  VELQUIN_ASSIGN_OR_RETURN(PageNumber n, store.AllocatePage());
  IndexPage empty;
  empty.leaf = true;
  empty.tdef_page = options.tdef_page;
  auto page = EncodeIndexPage(empty);
  if (!page.ok()) return page.status();
  Status st = store.WritePage(n, *page);
  if (!st.ok()) {
    (void)store.ReleasePage(n);
    return st;
  }
  if (options.observer != nullptr) {
    VELQUIN_RETURN_IF_ERROR(options.observer->OnIndexPageAllocated(n));
  }
  return IndexTree(store, n, options);
}

Status IndexTree::Insert(const IndexEntry& entry, bool* new_key) {
  VELQUIN_RETURN_IF_ERROR(CheckEntry(entry));
  Op op(*store_, options_, root_, *cache_);
  VELQUIN_ASSIGN_OR_RETURN(std::vector<Step> path, op.Descend(entry));
  const PageNumber leaf_no = path.back().page;
  VELQUIN_ASSIGN_OR_RETURN(IndexPage * leaf, op.Get(leaf_no));
  auto it = std::lower_bound(leaf->entries.begin(), leaf->entries.end(), entry, EntryLess);
  const std::size_t pos = static_cast<std::size_t>(it - leaf->entries.begin());
  if (it != leaf->entries.end() && CompareEntries(*it, entry) == 0) {
    return Status::InvalidArgument("index already holds this entry for row page " +
                                   std::to_string(entry.row.page) + " row " +
                                   std::to_string(entry.row.row));
  }
  std::optional<IndexEntry> before, after;
  if (pos > 0) {
    before = leaf->entries[pos - 1];
  } else {
    VELQUIN_ASSIGN_OR_RETURN(before, op.Neighbour(leaf->prev, true));
  }
  if (pos < leaf->entries.size()) {
    after = leaf->entries[pos];
  } else {
    VELQUIN_ASSIGN_OR_RETURN(after, op.Neighbour(leaf->next, false));
  }
  const bool same = (before && CompareKeys(before->key, entry.key) == 0) ||
                    (after && CompareKeys(after->key, entry.key) == 0);
  if (options_.unique && same && !IsAllNullKey(entry.key, options_.column_count)) {
    return Status::Constraint("duplicate key in unique index (root page " + std::to_string(root_) +
                              ")");
  }
  VELQUIN_ASSIGN_OR_RETURN(leaf, op.Get(leaf_no));
  const bool new_max = pos == leaf->entries.size();
  leaf->entries.insert(leaf->entries.begin() + static_cast<std::ptrdiff_t>(pos), entry);
  op.MarkDirty(leaf_no, path.size() - 1);
  if (new_max) VELQUIN_RETURN_IF_ERROR(op.PropagateMax(path, path.size() - 1, entry));
  VELQUIN_RETURN_IF_ERROR(op.SplitPath(path));
  VELQUIN_RETURN_IF_ERROR(op.Commit());
  if (new_key != nullptr) *new_key = !same;
  return Status::Ok();
}

Status IndexTree::CheckInsert(const IndexEntry& entry) {
  VELQUIN_RETURN_IF_ERROR(CheckEntry(entry));
  VELQUIN_ASSIGN_OR_RETURN(IndexCursor c, Seek(entry.key));
  const bool exempt = !options_.unique || IsAllNullKey(entry.key, options_.column_count);
  while (c.Valid() && CompareKeys(c.entry().key, entry.key) == 0) {
    if (c.entry().row == entry.row) {
      return Status::InvalidArgument("index already holds this entry for row page " +
                                     std::to_string(entry.row.page) + " row " +
                                     std::to_string(entry.row.row));
    }
    if (!exempt) {
      return Status::Constraint("duplicate key in unique index (root page " +
                                std::to_string(root_) + ")");
    }
    if (CompareEntries(c.entry(), entry) > 0) break;
    VELQUIN_RETURN_IF_ERROR(c.Next());
  }
  return Status::Ok();
}

Status IndexTree::Remove(const IndexEntry& entry, bool* last_of_key) {
  Op op(*store_, options_, root_, *cache_);
  VELQUIN_ASSIGN_OR_RETURN(std::vector<Step> path, op.Descend(entry));
  const PageNumber leaf_no = path.back().page;
  VELQUIN_ASSIGN_OR_RETURN(IndexPage * leaf, op.Get(leaf_no));
  auto it = std::lower_bound(leaf->entries.begin(), leaf->entries.end(), entry, EntryLess);
  if (it == leaf->entries.end() || CompareEntries(*it, entry) != 0) {
    return Status::NotFound("index has no entry for row page " + std::to_string(entry.row.page) +
                            " row " + std::to_string(entry.row.row));
  }
  const std::size_t pos = static_cast<std::size_t>(it - leaf->entries.begin());
  std::optional<IndexEntry> before, after;
  if (pos > 0) {
    before = leaf->entries[pos - 1];
  } else {
    VELQUIN_ASSIGN_OR_RETURN(before, op.Neighbour(leaf->prev, true));
  }
  VELQUIN_ASSIGN_OR_RETURN(leaf, op.Get(leaf_no));
  if (pos + 1 < leaf->entries.size()) {
    after = leaf->entries[pos + 1];
  } else {
    VELQUIN_ASSIGN_OR_RETURN(after, op.Neighbour(leaf->next, false));
  }
  const bool same = (before && CompareKeys(before->key, entry.key) == 0) ||
                    (after && CompareKeys(after->key, entry.key) == 0);
  VELQUIN_ASSIGN_OR_RETURN(leaf, op.Get(leaf_no));
  const bool was_max = pos + 1 == leaf->entries.size();
  leaf->entries.erase(leaf->entries.begin() + static_cast<std::ptrdiff_t>(pos));
  op.MarkDirty(leaf_no, path.size() - 1);
  if (leaf->entries.empty() && path.size() > 1) {
    VELQUIN_RETURN_IF_ERROR(op.RemovePage(path, path.size() - 1));
  } else if (was_max && !leaf->entries.empty()) {
    VELQUIN_RETURN_IF_ERROR(op.PropagateMax(path, path.size() - 1, leaf->entries.back()));
  }
  // Fewer entries can need more room: those left on a page may share a
  // shorter prefix, and a parent's entry may have become a longer key. The
  // pages of the path still in the tree are split where they overflow.
  std::vector<Step> kept;
  for (const Step& step : path) {
    if (op.Released(step.page)) break;
    kept.push_back(step);
  }
  VELQUIN_RETURN_IF_ERROR(op.SplitPath(kept));
  VELQUIN_RETURN_IF_ERROR(op.Commit());
  if (last_of_key != nullptr) *last_of_key = !same;
  return Status::Ok();
}

Status IndexCursor::SkipEmpty() {
  while (pos_ >= leaf_.entries.size()) {
    const PageNumber next = leaf_.next;
    if (next == 0) return Status::Ok();
    if (++hops_ > store_->PageCount()) return Corrupt(page_, "leaf chain loops");
    VELQUIN_ASSIGN_OR_RETURN(IndexPage p, ReadIndexPage(*store_, next));
    if (!p.leaf) return Corrupt(next, "leaf chain reaches a node page");
    if (p.prev != page_) {
      return Corrupt(next, "previous-page link " + std::to_string(p.prev) + " should be " +
                               std::to_string(page_));
    }
    page_ = next;
    leaf_ = std::move(p);
    pos_ = 0;
  }
  return Status::Ok();
}

Status IndexCursor::Next() {
  if (!Valid()) return Status::InvalidArgument("index cursor is past the end");
  ++pos_;
  return SkipEmpty();
}

Status IndexCursor::Prev() {
  if (store_ == nullptr) return Status::InvalidArgument("index cursor is not positioned");
  while (pos_ == 0) {
    const PageNumber prev = leaf_.prev;
    if (prev == 0) {
      store_ = nullptr;  // before the first entry: no longer Valid()
      return Status::Ok();
    }
    if (++hops_ > store_->PageCount()) return Corrupt(page_, "leaf chain loops");
    VELQUIN_ASSIGN_OR_RETURN(IndexPage p, ReadIndexPage(*store_, prev));
    if (!p.leaf) return Corrupt(prev, "leaf chain reaches a node page");
    if (p.next != page_) {
      return Corrupt(
          prev, "next-page link " + std::to_string(p.next) + " should be " + std::to_string(page_));
    }
    page_ = prev;
    leaf_ = std::move(p);
    pos_ = leaf_.entries.size();
  }
  --pos_;
  return Status::Ok();
}

Result<IndexCursor> IndexTree::End() {
  // No key is longer than kMaxIndexKeySize: this one sorts after every entry.
  const std::vector<std::uint8_t> past(kMaxIndexKeySize + 1, 0xFF);
  return Seek(past);
}

Result<IndexCursor> IndexTree::Seek(std::span<const std::uint8_t> key) {
  IndexEntry target;
  target.key.assign(key.begin(), key.end());
  Op op(*store_, options_, root_, *cache_);
  VELQUIN_ASSIGN_OR_RETURN(std::vector<Step> path, op.Descend(target));
  VELQUIN_ASSIGN_OR_RETURN(IndexPage * leaf, op.Get(path.back().page));
  IndexCursor c;
  c.store_ = store_;
  c.page_ = path.back().page;
  c.leaf_ = *leaf;
  c.pos_ = static_cast<std::size_t>(
      std::lower_bound(c.leaf_.entries.begin(), c.leaf_.entries.end(), target, EntryLess) -
      c.leaf_.entries.begin());
  VELQUIN_RETURN_IF_ERROR(c.SkipEmpty());
  return c;
}

Result<bool> IndexTree::ContainsKey(std::span<const std::uint8_t> key) {
  // Looked up in the cached leaf itself: copying the leaf into a cursor
  // costs more than the search on every checked insert.
  IndexEntry target;
  target.key.assign(key.begin(), key.end());
  {
    Op op(*store_, options_, root_, *cache_);
    VELQUIN_ASSIGN_OR_RETURN(std::vector<Step> path, op.Descend(target));
    VELQUIN_ASSIGN_OR_RETURN(IndexPage * leaf, op.Get(path.back().page));
    auto it = std::lower_bound(leaf->entries.begin(), leaf->entries.end(), target, EntryLess);
    if (it != leaf->entries.end()) return CompareKeys(it->key, key) == 0;
  }
  // Past the leaf's last entry: the key can only open a following leaf.
  VELQUIN_ASSIGN_OR_RETURN(IndexCursor c, Seek(key));
  return c.Valid() && CompareKeys(c.entry().key, key) == 0;
}

Result<std::vector<IndexEntry>> IndexTree::ReadAll() {
  std::vector<IndexEntry> out;
  VELQUIN_ASSIGN_OR_RETURN(IndexCursor c, Begin());
  while (c.Valid()) {
    out.push_back(c.entry());
    VELQUIN_RETURN_IF_ERROR(c.Next());
  }
  return out;
}

Result<IndexTreeStats> IndexTree::Verify() {
  IndexTreeStats stats;
  std::set<PageNumber> seen;
  std::vector<PageNumber> leaves;
  std::optional<IndexEntry> last;
  std::optional<std::uint32_t> leaf_depth;

  struct Frame {
    static Result<IndexEntry> Walk(IndexTree& t, PageNumber n, std::uint32_t depth,
                                   std::set<PageNumber>& seen, std::vector<PageNumber>& leaves,
                                   std::optional<IndexEntry>& last,
                                   std::optional<std::uint32_t>& leaf_depth, IndexTreeStats& stats,
                                   IndexPage* out_page) {
      if (depth >= kMaxDepth) return Corrupt(n, "index deeper than 32 levels");
      if (!seen.insert(n).second) return Corrupt(n, "page is reached twice in the tree");
      VELQUIN_ASSIGN_OR_RETURN(IndexPage p, ReadIndexPage(*t.store_, n));
      if (t.options_.tdef_page != 0 && p.tdef_page != t.options_.tdef_page) {
        return Corrupt(n, "owner TDEF page " + std::to_string(p.tdef_page) + " should be " +
                              std::to_string(t.options_.tdef_page));
      }
      if (p.leaf) {
        if (leaf_depth && *leaf_depth != depth + 1) return Corrupt(n, "leaves at unequal depth");
        leaf_depth = depth + 1;
        ++stats.leaf_pages;
        leaves.push_back(n);
        if (p.entries.empty() && n != t.root_) return Corrupt(n, "empty leaf below a node");
        for (const auto& e : p.entries) {
          if (last) {
            const int c = CompareEntries(*last, e);
            if (c >= 0) return Corrupt(n, "entries out of order across pages");
            if (CompareKeys(last->key, e.key) != 0) ++stats.distinct_keys;
          } else {
            ++stats.distinct_keys;
          }
          last = e;
          ++stats.entries;
        }
        if (out_page) *out_page = p;
        return p.entries.empty() ? IndexEntry{} : p.entries.back();
      }
      ++stats.node_pages;
      const std::size_t count = LogicalCount(p);
      if (count == 0) return Corrupt(n, "node page without children");
      IndexEntry max;
      std::vector<IndexPage> kids(count);
      for (std::size_t i = 0; i < count; ++i) {
        const PageNumber c = ChildAt(p, i);
        VELQUIN_ASSIGN_OR_RETURN(
            max, Walk(t, c, depth + 1, seen, leaves, last, leaf_depth, stats, &kids[i]));
        if (i < p.entries.size() && CompareEntries(p.entries[i], max) != 0) {
          return Corrupt(n, "entry " + std::to_string(i) +
                                " differs from the last entry of child " + std::to_string(c));
        }
        if (i > 0 && !kids[i].leaf) {
          if (kids[i].prev != ChildAt(p, i - 1) || kids[i - 1].next != c) {
            return Corrupt(c, "node sibling links do not match the parent's order");
          }
        }
      }
      if (out_page) *out_page = p;
      return max;
    }
  };
  VELQUIN_RETURN_IF_ERROR(
      Frame::Walk(*this, root_, 0, seen, leaves, last, leaf_depth, stats, nullptr).status());
  stats.depth = leaf_depth.value_or(1);
  // The leaf chain visits the leaves in tree order.
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    VELQUIN_ASSIGN_OR_RETURN(IndexPage p, ReadIndexPage(*store_, leaves[i]));
    const PageNumber want_prev = i > 0 ? leaves[i - 1] : 0;
    const PageNumber want_next = i + 1 < leaves.size() ? leaves[i + 1] : 0;
    if (p.prev != want_prev || p.next != want_next) {
      return Corrupt(leaves[i], "leaf links prev " + std::to_string(p.prev) + " next " +
                                    std::to_string(p.next) + " should be " +
                                    std::to_string(want_prev) + " and " +
                                    std::to_string(want_next));
    }
  }
  return stats;
}

Status IndexTree::Free() {
  cache_->pages.clear();
  std::vector<PageNumber> pages;
  VELQUIN_RETURN_IF_ERROR(CollectPages(*store_, root_, pages));
  for (PageNumber n : pages) {
    VELQUIN_RETURN_IF_ERROR(store_->ReleasePage(n));
    if (options_.observer != nullptr) {
      VELQUIN_RETURN_IF_ERROR(options_.observer->OnIndexPageReleased(n));
    }
  }
  return Status::Ok();
}

}  // namespace velquin::jet
