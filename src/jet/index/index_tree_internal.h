// Helpers shared by the files of IndexTree (index_tree.cc, index_tree_bulk.cc);
// not for use outside the index folder.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/status.h"
#include "jet/index/index_page.h"
#include "jet/index/index_tree.h"

namespace velquin::jet::index_tree_internal {

constexpr std::size_t kMaxDepth = 32;

// Corruption naming the index page.
Status Corrupt(PageNumber n, const std::string& what);
// Reads and decodes index page `n`; Corruption when it lies outside the file.
Result<IndexPage> ReadIndexPage(PageStore& store, PageNumber n);
// InvalidArgument when an entry cannot be stored (key too long, row page
// beyond 24 bits).
Status CheckEntry(const IndexEntry& e);
// Every page of the tree below and including `root`, in no particular
// order; Corruption on loops or bad pages.
Status CollectPages(PageStore& store, PageNumber root, std::vector<PageNumber>& out);

}  // namespace velquin::jet::index_tree_internal
