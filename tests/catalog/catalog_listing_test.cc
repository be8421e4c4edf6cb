#include "catalog/catalog_listing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalog/catalog_source.h"

namespace velquin {
namespace {

// "name(level)" for every node, depth first: a compact picture of a tree.
std::vector<std::string> Picture(const DbTree& tree) {
  std::vector<std::string> out;
  for (const TreeNode* n : tree.Walk()) {
    out.push_back(n->text() + "(" + std::to_string(static_cast<int>(n->level())) + ")");
  }
  return out;
}

MemoryCatalogSource Shop() {
  MemoryCatalogSource s;
  s.data_source_name = "  localhost ";
  s.current_catalog = "shop";
  s.databases = {
      {"mysql", {}, {}},
      {"shop",
       {{"customers", {"id", "name"}, {"PRIMARY", "idx_name"}}, {"order items", {"id"}, {}}},
       {{"v_customers", {"id"}, ""}}},
  };
  return s;
}

std::vector<std::string> Names(const DbTree& tree, NodeLevel level) {
  std::vector<std::string> out;
  for (const TreeNode* n : tree.Walk()) {
    if (n->level() == level) out.push_back(n->text());
  }
  return out;
}

TEST(CatalogListing, FillsRootDatabasesAndCurrentDatabaseObjects) {
  MemoryCatalogSource src = Shop();
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  tree.set_source(&src);
  tree.set_provider("MSDASQL");
  FillReport report = FillTree(tree);
  EXPECT_TRUE(report.message_boxes.empty());
  const std::vector<std::string> expected = {
      "localhost(0)", "mysql(1)",       "shop(1)",   "Tables(3)",  "customers(2)",
      "Fields(5)",    "id(4)",          "name(4)",   "Indexes(7)", "PRIMARY(6)",
      "idx_name(6)",  "order items(2)", "Fields(5)", "id(4)",      "Indexes(7)",
      "Views(9)",     "v_customers(8)", "Fields(5)", "id(4)",
  };
  EXPECT_EQ(Picture(tree), expected);
  EXPECT_FALSE(tree.loading());
  ASSERT_NE(tree.current_database(), nullptr);
  EXPECT_EQ(tree.current_database()->text(), "shop");
  EXPECT_TRUE(tree.root()->expanded());
}

TEST(CatalogListing, TableWithSpaceInNameIsListed) {
  MemoryCatalogSource src = Shop();
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  tree.set_source(&src);
  (void)FillTree(tree);
  EXPECT_EQ(Names(tree, NodeLevel::kTable), (std::vector<std::string>{"customers", "order items"}));
}

TEST(CatalogListing, ViewsOfSystemSchemasAreSkippedCaseSensitively) {
  MemoryCatalogSource src = Shop();
  src.databases[1].views = {{"a", {}, "INFORMATION_SCHEMA"},
                            {"b", {}, "information_schema"},
                            {"c", {}, "sys"},
                            {"d", {}, "SYS"}};
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  tree.set_source(&src);
  (void)FillTree(tree);
  EXPECT_EQ(Names(tree, NodeLevel::kView), (std::vector<std::string>{"b", "d"}));
}

TEST(CatalogListing, TablesRowsOfTypeViewGoUnderViews) {
  MemoryCatalogSource src = Shop();
  src.databases[1].tables.push_back({"odd", {}, {}, "VIEW"});
  src.databases[1].views.clear();
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  tree.set_source(&src);
  (void)FillTree(tree);
  const TreeNode* odd = nullptr;
  for (const TreeNode* n : tree.Walk()) {
    if (n->text() == "odd") odd = n;
  }
  ASSERT_NE(odd, nullptr);
  EXPECT_EQ(odd->level(), NodeLevel::kView);
  EXPECT_EQ(odd->parent()->text(), "Views");
}

TEST(CatalogListing, NullCatalogListsDatabasesButNoTables) {
  for (const char* name : {"null", "NULL", "nUlL", ""}) {
    MemoryCatalogSource src = Shop();
    src.current_catalog = name;
    DbTree tree(TreeSide::kSource, TreeKind::kMySql);
    tree.set_source(&src);
    (void)FillTree(tree);
    EXPECT_EQ(Names(tree, NodeLevel::kDatabase), (std::vector<std::string>{"mysql", "shop"}))
        << name;
    EXPECT_TRUE(Names(tree, NodeLevel::kTablesFolder).empty()) << name;
    EXPECT_FALSE(tree.loading());
  }
}

TEST(CatalogListing, CatalogNameMatchesIgnoringCaseAndPrefersTreeMember) {
  MemoryCatalogSource src = Shop();
  src.current_catalog = "shop";
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  tree.set_source(&src);
  tree.set_catalog_name("SHOP");
  (void)FillTree(tree);
  ASSERT_NE(tree.current_database(), nullptr);
  EXPECT_EQ(tree.current_database()->text(), "shop");
  EXPECT_EQ(tree.catalog_name(), "SHOP");
}

TEST(CatalogListing, UnreadableDataSourceNameGivesBoxAndDatabasesRoot) {
  MemoryCatalogSource src = Shop();
  src.fail_data_source_name = true;
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  tree.set_source(&src);
  FillReport report = FillTree(tree);
  EXPECT_EQ(report.message_boxes, (std::vector<std::string>{"Get Datasource Name Error!"}));
  ASSERT_NE(tree.root(), nullptr);
  EXPECT_EQ(tree.root()->text(), "DATABASES");
  EXPECT_FALSE(Names(tree, NodeLevel::kTable).empty());
}

TEST(CatalogListing, CatalogsFailureWritesLineAndPutsFoldersAtTopLevel) {
  MemoryCatalogSource src = Shop();
  src.fail_catalogs = true;
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  tree.set_source(&src);
  FillReport report = FillTree(tree);
  ASSERT_EQ(report.output_lines.size(), 1u);
  EXPECT_TRUE(Names(tree, NodeLevel::kDatabase).empty());
  ASSERT_EQ(tree.top()->child_count(), 3);
  EXPECT_EQ(tree.top()->child(1)->text(), "Tables");
  EXPECT_EQ(tree.top()->child(2)->text(), "Views");
  EXPECT_EQ(Names(tree, NodeLevel::kTable).size(), 2u);
}

TEST(CatalogListing, TablesFailureEndsAfterFolders) {
  MemoryCatalogSource src = Shop();
  src.fail_tables = true;
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  tree.set_source(&src);
  (void)FillTree(tree);
  EXPECT_EQ(Names(tree, NodeLevel::kViewsFolder).size(), 1u);
  EXPECT_TRUE(Names(tree, NodeLevel::kTable).empty());
  EXPECT_TRUE(Names(tree, NodeLevel::kView).empty());
  EXPECT_FALSE(tree.loading());
}

TEST(CatalogListing, ColumnFailureSkipsOnlyThatObjectsChildren) {
  MemoryCatalogSource src = Shop();
  src.fail_columns_of = {"customers"};
  src.fail_indexes_of = {"order items"};
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  tree.set_source(&src);
  (void)FillTree(tree);
  // customers: no fields and no indexes; order items: its field, no index.
  EXPECT_EQ(Names(tree, NodeLevel::kField), (std::vector<std::string>{"id", "id"}));
  EXPECT_TRUE(Names(tree, NodeLevel::kIndex).empty());
  EXPECT_EQ(Names(tree, NodeLevel::kTable).size(), 2u);
}

TEST(CatalogListing, MultiColumnIndexShownOncePerColumnAndBlankNamesDropped) {
  MemoryCatalogSource src = Shop();
  src.databases[1].tables[0].index_rows = {"ix_pair  ", "ix_pair", "   ", ""};
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  tree.set_source(&src);
  (void)FillTree(tree);
  EXPECT_EQ(Names(tree, NodeLevel::kIndex), (std::vector<std::string>{"ix_pair", "ix_pair"}));
}

TEST(CatalogListing, JetTargetShowsPathWithoutMdbAsDatabase) {
  MemoryCatalogSource src;
  src.data_source_name = "/data/shop.mdb";
  src.databases = {{"/data/shop", {{"t1", {"a"}, {}}}, {}}};
  DbTree tree(TreeSide::kTarget, TreeKind::kAccess);
  tree.set_source(&src);
  tree.set_provider("microsoft.jet.oledb.4.0");
  tree.set_catalog_name("/data/shop");
  src.current_catalog = "/data/shop";
  (void)FillTree(tree);
  ASSERT_NE(tree.root(), nullptr);
  EXPECT_EQ(tree.root()->text(), "/data/shop.mdb");
  EXPECT_EQ(Names(tree, NodeLevel::kDatabase), (std::vector<std::string>{"/data/shop"}));
  EXPECT_EQ(Names(tree, NodeLevel::kTable), (std::vector<std::string>{"t1"}));
}

TEST(CatalogListing, NoSourceLeavesTreeEmptyAndNotLoading) {
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  (void)FillTree(tree);
  EXPECT_EQ(tree.top()->child_count(), 0);
  EXPECT_FALSE(tree.loading());
}

TEST(CatalogListing, RefillReplacesContentAndClearsSelection) {
  MemoryCatalogSource src = Shop();
  DbTree tree(TreeSide::kSource, TreeKind::kMySql);
  tree.set_source(&src);
  (void)FillTree(tree);
  ASSERT_TRUE(tree.Select(tree.root()));
  src.databases[1].tables.pop_back();
  (void)FillTree(tree);
  EXPECT_EQ(tree.selected(), nullptr);
  EXPECT_EQ(Names(tree, NodeLevel::kTable), (std::vector<std::string>{"customers"}));
}

TEST(CatalogListing, RemoveMdbSuffixesRemovesEveryOccurrence) {
  EXPECT_EQ(RemoveMdbSuffixes("a.mdb"), "a");
  EXPECT_EQ(RemoveMdbSuffixes("x.mdb/y.mdb"), "x/y");
  EXPECT_EQ(RemoveMdbSuffixes("plain"), "plain");
  EXPECT_EQ(RemoveMdbSuffixes("a.MDB"), "a.MDB");
}

}  // namespace
}  // namespace velquin
