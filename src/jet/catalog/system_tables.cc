// System tables: see system_tables.h and [CAT-*] in docs/jet4-format.md.
#include "jet/catalog/system_tables.h"

namespace velquin::jet {
namespace {

ColumnSpec Col(const char* name, ColumnType type, std::uint16_t size = 0) {
  ColumnSpec c;
  c.name = name;
  c.type = type;
  // Jet gives the BINARY columns of its system tables 510 bytes.
  c.size = type == ColumnType::kBinary ? 510 : size;
  c.compressed_unicode = false;  // Jet leaves compression off in system tables
  c.extra_flags = 0x10;          // set on every system column (meaning unknown)
  return c;
}

// The owner/SID columns carry one more flag bit (0x20, meaning unknown).
ColumnSpec SidCol(const char* name) {
  ColumnSpec c = Col(name, ColumnType::kBinary);
  c.extra_flags = 0x30;
  return c;
}

IndexSpec Idx(const char* name, std::vector<std::uint16_t> cols, std::uint8_t flags, bool pk) {
  IndexSpec s;
  s.name = name;
  for (auto c : cols) s.columns.push_back({c, true});
  s.unique = flags & 0x01;
  s.ignore_nulls = flags & 0x02;
  s.required = flags & 0x08;
  s.primary_key = pk;
  return s;
}

}  // namespace

std::vector<TableSpec> SystemTableSpecs() {
  using T = ColumnType;
  std::vector<TableSpec> out;
  TableSpec objects;
  objects.name = "MSysObjects";
  objects.system = true;
  objects.columns = {Col("Id", T::kLong),
                     Col("ParentId", T::kLong),
                     Col("Name", T::kText, 255),
                     Col("Type", T::kShort),
                     Col("DateCreate", T::kDateTime),
                     Col("DateUpdate", T::kDateTime),
                     SidCol("Owner"),
                     Col("Flags", T::kLong),
                     Col("Database", T::kMemo),
                     Col("Connect", T::kMemo),
                     Col("ForeignName", T::kText, 255),
                     Col("RmtInfoShort", T::kBinary, 255),
                     Col("RmtInfoLong", T::kOle),
                     Col("Lv", T::kOle),
                     Col("LvProp", T::kOle),
                     Col("LvModule", T::kOle),
                     Col("LvExtra", T::kOle)};
  objects.indexes = {Idx("ParentIdName", {1, 2}, 0x81, false), Idx("Id", {0}, 0x81, true)};
  out.push_back(objects);

  TableSpec aces;
  aces.name = "MSysACEs";
  aces.system = true;
  aces.columns = {Col("ObjectId", T::kLong), SidCol("SID"), Col("ACM", T::kLong),
                  Col("FInheritable", T::kBool)};
  aces.indexes = {Idx("ObjectId", {0}, 0x88, false)};
  out.push_back(aces);

  TableSpec queries;
  queries.name = "MSysQueries";
  queries.system = true;
  queries.columns = {Col("ObjectId", T::kLong),     Col("Attribute", T::kByte),
                     Col("Order", T::kBinary, 255), Col("Name1", T::kText, 255),
                     Col("Name2", T::kText, 255),   Col("Expression", T::kMemo),
                     Col("Flag", T::kShort),        Col("LvExtra", T::kLong)};
  queries.indexes = {Idx("ObjectIdAttribute", {0, 1, 2}, 0x81, true)};
  out.push_back(queries);

  TableSpec rels;
  rels.name = "MSysRelationships";
  rels.system = true;
  rels.columns = {Col("szRelationship", T::kText, 255),
                  Col("grbit", T::kLong),
                  Col("ccolumn", T::kLong),
                  Col("icolumn", T::kLong),
                  Col("szObject", T::kText, 255),
                  Col("szColumn", T::kText, 255),
                  Col("szReferencedObject", T::kText, 255),
                  Col("szReferencedColumn", T::kText, 255)};
  rels.indexes = {Idx("szRelationship", {0}, 0x82, false), Idx("szObject", {4}, 0x82, false),
                  Idx("szReferencedObject", {6}, 0x82, false)};
  out.push_back(rels);
  return out;
}

std::vector<AceRow> InitialAces() {
  const std::vector<std::uint8_t> a = {0x64, 0x8B}, b = {0x65, 0x8E}, c = {0x65, 0x8B};
  return {{2, a, 393216, false},
          {3, a, 393216, false},
          {4, a, 393216, false},
          {5, a, 917504, false},
          {kTablesContainerId, b, 983294, true},
          {kTablesContainerId, a, 393217, false},
          {kRelationshipsContainerId, b, 983294, true},
          {kRelationshipsContainerId, a, 393217, false},
          {kDatabasesContainerId, a, 393216, false},
          {kMSysDbId, a, 393230, false},
          {kMSysDbId, c, 14, false},
          {4, c, 20, false},
          {5, c, 20, false},
          {2, c, 20, false},
          {kTablesContainerId, c, 1048319, true},
          {kRelationshipsContainerId, c, 1048575, true}};
}

}  // namespace velquin::jet
