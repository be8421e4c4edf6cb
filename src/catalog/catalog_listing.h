// The catalogue listing: the only code that builds a tree's content.
//
// FillTree clears the tree and lists, from the tree's CatalogSource, a root
// node for the data source, one node per database and, for the current
// database only, "Tables" and "Views" with each object's fields and indexes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "catalog/db_tree.h"

namespace velquin {

inline constexpr std::string_view kJetProvider = "Microsoft.Jet.OLEDB.4.0";

// What a fill has to tell the user; the caller shows the boxes and writes
// the lines into the output pane.
struct FillReport {
  std::vector<std::string> message_boxes;
  std::vector<std::string> output_lines;
};

FillReport FillTree(DbTree& tree);

// Appends one table (level 2, with "Fields" and "Indexes") or one view
// (level 8, with "Fields") under `folder`, listing its children from the
// tree's source. Returns the object's node.
TreeNode* AddObject(DbTree& tree, TreeNode* folder, NodeLevel level, const std::string& name);

// "C:\data\shop.mdb" -> "C:\data\shop": every ".mdb" removed.
std::string RemoveMdbSuffixes(std::string text);

}  // namespace velquin
