#include "catalog/catalog_listing.h"

#include <algorithm>
#include <cctype>

#include "base/text.h"
#include "catalog/catalog_source.h"

namespace velquin {

namespace {

std::string TrimRight(std::string s) {
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// Names are read as 128-character text fields.
std::string Clip(std::string s) {
  if (s.size() > 128) s.resize(128);
  return s;
}

// Clears the loading flag when the fill ends, whichever way it ends.
class LoadingScope {
 public:
  explicit LoadingScope(DbTree& tree) : tree_(tree) { tree_.set_loading(true); }
  ~LoadingScope() { tree_.set_loading(false); }

 private:
  DbTree& tree_;
};

}  // namespace

std::string RemoveMdbSuffixes(std::string text) {
  for (size_t pos; (pos = text.find(".mdb")) != std::string::npos;) text.erase(pos, 4);
  return text;
}

TreeNode* AddObject(DbTree& tree, TreeNode* folder, NodeLevel level, const std::string& name) {
  CatalogSource* source = tree.source();
  TreeNode* object = tree.Append(folder, level, Clip(name));
  TreeNode* fields = tree.Append(object, NodeLevel::kFieldsFolder, "Fields");
  TreeNode* indexes = nullptr;
  if (level == NodeLevel::kTable)
    indexes = tree.Append(object, NodeLevel::kIndexesFolder, "Indexes");
  if (source == nullptr) return object;
  Result<std::vector<std::string>> columns = source->Columns(name);
  if (!columns.ok()) return object;
  for (const std::string& c : *columns) tree.Append(fields, NodeLevel::kField, Clip(c));
  if (indexes == nullptr) return object;
  Result<std::vector<std::string>> index_rows = source->Indexes(name);
  if (!index_rows.ok()) return object;
  for (const std::string& raw : *index_rows) {
    std::string index = TrimRight(Clip(raw));
    if (!index.empty()) tree.Append(indexes, NodeLevel::kIndex, index);
  }
  return object;
}

FillReport FillTree(DbTree& tree) {
  FillReport report;
  LoadingScope loading(tree);
  tree.Clear();
  CatalogSource* source = tree.source();
  if (source == nullptr) return report;

  std::string raw_name;
  if (Result<std::string> name = source->DataSourceName(); name.ok()) {
    raw_name = Clip(*name);
  } else {
    report.message_boxes.push_back("Get Datasource Name Error!");
  }
  const std::string trimmed(Trim(raw_name, " "));
  TreeNode* root = tree.Append(nullptr, NodeLevel::kRoot, trimmed.empty() ? "DATABASES" : trimmed);
  tree.SetExpanded(root, true);

  const bool access = tree.kind() == TreeKind::kAccess;
  if (EqualsIgnoreCase(tree.provider(), kJetProvider)) {
    tree.Append(root, NodeLevel::kDatabase, access ? RemoveMdbSuffixes(raw_name) : raw_name);
  } else {
    if (access) tree.set_catalog_name(RemoveMdbSuffixes(tree.catalog_name()));
    Result<std::vector<std::string>> catalogs = source->Catalogs();
    if (!catalogs.ok()) {
      report.output_lines.push_back(catalogs.status().message());
    } else {
      for (const std::string& c : *catalogs) tree.Append(root, NodeLevel::kDatabase, Clip(c));
    }
  }

  if (tree.catalog_name().empty()) {
    if (Result<std::string> current = source->CurrentCatalog(); current.ok()) {
      tree.set_catalog_name(*current);
    }
  }
  if (tree.catalog_name().empty() || EqualsIgnoreCase(tree.catalog_name(), "null")) return report;

  TreeNode* database = nullptr;
  for (int i = 0; i < root->child_count(); ++i) {
    if (EqualsIgnoreCase(root->child(i)->text(), tree.catalog_name())) {
      database = root->child(i);
      break;
    }
  }
  tree.set_current_database(database);
  TreeNode* tables = tree.Append(database, NodeLevel::kTablesFolder, "Tables");
  TreeNode* views = tree.Append(database, NodeLevel::kViewsFolder, "Views");
  if (database != nullptr) tree.SetExpanded(database, true);

  Result<std::vector<CatalogTableRow>> table_rows = source->Tables("TABLE");
  if (!table_rows.ok()) return report;
  // Names with spaces are listed too: the pipeline migrates such tables, so
  // hiding them would leave them out of reach of every tree operation.
  for (const CatalogTableRow& row : *table_rows) {
    if (row.type == "VIEW") {
      AddObject(tree, views, NodeLevel::kView, row.name);
    } else {
      AddObject(tree, tables, NodeLevel::kTable, row.name);
    }
  }
  tree.SetExpanded(tables, true);

  Result<std::vector<CatalogTableRow>> view_rows = source->Tables("VIEW");
  if (view_rows.ok()) {
    for (const CatalogTableRow& row : *view_rows) {
      if (row.type == "VIEW" && row.schema != "sys" && row.schema != "INFORMATION_SCHEMA") {
        AddObject(tree, views, NodeLevel::kView, row.name);
      }
    }
  }
  return report;
}

}  // namespace velquin
