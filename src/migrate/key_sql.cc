#include "migrate/key_sql.h"

#include <algorithm>
#include <charconv>

#include "migrate/source_rows.h"
#include "migrate/sql_text.h"

namespace velquin {
namespace {

constexpr std::size_t kMaxIndexColumns = 10;

// SHOW INDEX columns (0-based).
constexpr std::size_t kNonUnique = 1;
constexpr std::size_t kKeyName = 2;
constexpr std::size_t kSeqInIndex = 3;
constexpr std::size_t kColumnName = 4;
constexpr std::size_t kCollation = 5;
constexpr std::size_t kSubPart = 7;
constexpr std::size_t kIndexType = 10;
constexpr std::size_t kShowIndexColumns = 11;

// Foreign-key query columns (0-based).
constexpr std::size_t kFkName = 0;
constexpr std::size_t kFkColumn = 1;
constexpr std::size_t kFkRefSchema = 2;
constexpr std::size_t kFkRefTable = 3;
constexpr std::size_t kFkRefColumn = 4;
constexpr std::size_t kFkPosition = 5;
constexpr std::size_t kFkUpdateRule = 6;
constexpr std::size_t kFkDeleteRule = 7;
constexpr std::size_t kFkColumns = 8;

long Number(std::optional<std::string_view> text) {
  long value = 0;
  if (!text) return 0;
  std::from_chars(text->data(), text->data() + text->size(), value);
  return value;
}

struct IndexColumn {
  long seq = 0;
  std::optional<std::string> name;  // nullopt: an expression
  bool descending = false;
  bool prefix = false;
};

struct Index {
  std::string name;
  bool unique = false;
  std::string type;  // BTREE, HASH, FULLTEXT, SPATIAL, RTREE
  std::vector<IndexColumn> columns;
};

Result<std::vector<Index>> GroupIndexes(const SourceRows& rows) {
  std::vector<Index> indexes;
  for (const SourceRow& row : rows) {
    if (row.size() < kShowIndexColumns || !ValueAt(row, kKeyName)) {
      return Status::InvalidArgument("SHOW INDEX returned a row of " + std::to_string(row.size()) +
                                     " values; expected at least " +
                                     std::to_string(kShowIndexColumns));
    }
    std::string name(*ValueAt(row, kKeyName));
    auto it = std::find_if(indexes.begin(), indexes.end(),
                           [&](const Index& i) { return i.name == name; });
    if (it == indexes.end()) {
      Index index;
      index.name = name;
      index.unique = ValueAt(row, kNonUnique).value_or("1") == "0";
      index.type = std::string(ValueAt(row, kIndexType).value_or(""));
      indexes.push_back(std::move(index));
      it = indexes.end() - 1;
    }
    IndexColumn column;
    column.seq = Number(ValueAt(row, kSeqInIndex));
    if (auto c = ValueAt(row, kColumnName)) column.name = std::string(*c);
    column.descending = ValueAt(row, kCollation).value_or("A") == "D";
    column.prefix = ValueAt(row, kSubPart).has_value();
    it->columns.push_back(std::move(column));
  }
  for (Index& index : indexes) {
    std::stable_sort(index.columns.begin(), index.columns.end(),
                     [](const IndexColumn& a, const IndexColumn& b) { return a.seq < b.seq; });
  }
  return indexes;
}

Result<std::string> ColumnList(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) {
    VELQUIN_ASSIGN_OR_RETURN(std::string quoted, QuoteJetName(n));
    if (!out.empty()) out += ", ";
    out += quoted;
  }
  return out;
}

}  // namespace

std::string KeySql::Text() const {
  if (statements.empty()) return "";
  std::string out;
  for (std::size_t i = 0; i < statements.size(); ++i) {
    if (i > 0) out += ";\n";
    out += statements[i];
  }
  return out + "\n";
}

std::string ShowIndexQuery(std::string_view database, std::string_view table) {
  return "SHOW INDEX FROM " + QuoteIdentifier(database) + "." + QuoteIdentifier(table);
}

std::string ForeignKeyQuery(std::string_view database, std::string_view table,
                            const StringQuoter& quote) {
  // The rules come from subqueries that name the schema and table as
  // constants: the server then reads the catalogue of this one table, where a
  // join of the two views reads every table's constraints (about 6 ms a table
  // in a database of 300).
  const std::string schema = quote(database);
  const std::string name = quote(table);
  auto rule = [&](const char* column) {
    return std::string("(SELECT r.") + column +
           " FROM INFORMATION_SCHEMA.REFERENTIAL_CONSTRAINTS r WHERE r.CONSTRAINT_SCHEMA = " +
           schema + " AND r.TABLE_NAME = " + name + " AND r.CONSTRAINT_NAME = k.CONSTRAINT_NAME)";
  };
  return "SELECT k.CONSTRAINT_NAME, k.COLUMN_NAME, k.REFERENCED_TABLE_SCHEMA, "
         "k.REFERENCED_TABLE_NAME, k.REFERENCED_COLUMN_NAME, k.ORDINAL_POSITION, " +
         rule("UPDATE_RULE") + " AS UPDATE_RULE, " + rule("DELETE_RULE") +
         " AS DELETE_RULE "
         "FROM INFORMATION_SCHEMA.KEY_COLUMN_USAGE k "
         "WHERE k.TABLE_SCHEMA = " +
         schema + " AND k.TABLE_NAME = " + name +
         " AND k.REFERENCED_TABLE_NAME IS NOT NULL "
         "ORDER BY k.CONSTRAINT_NAME, k.ORDINAL_POSITION";
}

SourceRows WithoutForeignKeyIndexes(const SourceRows& show_index_rows,
                                    const std::vector<ForeignKeyColumns>& foreign_keys,
                                    std::vector<std::string>* notes) {
  auto grouped = GroupIndexes(show_index_rows);
  if (!grouped.ok()) return show_index_rows;  // the builders report the bad rows
  std::vector<std::string> left_out;
  for (const Index& index : *grouped) {
    if (index.unique || index.name == "PRIMARY") continue;
    std::vector<std::string> columns;
    for (const IndexColumn& c : index.columns) columns.push_back(c.name.value_or(""));
    for (const ForeignKeyColumns& fk : foreign_keys) {
      if (AsciiLower(fk.name) != AsciiLower(index.name) && fk.columns != columns) continue;
      left_out.push_back(index.name);
      if (notes) {
        notes->push_back("index " + index.name + " backs the foreign key " + fk.name +
                         ": the relationship makes it");
      }
      break;
    }
  }
  SourceRows out;
  for (const SourceRow& row : show_index_rows) {
    std::string name(ValueAt(row, kKeyName).value_or(""));
    if (std::find(left_out.begin(), left_out.end(), name) == left_out.end()) out.push_back(row);
  }
  return out;
}

Result<KeySql> BuildPrimaryKeySql(std::string_view table, const SourceRows& show_index_rows) {
  VELQUIN_ASSIGN_OR_RETURN(std::vector<Index> indexes, GroupIndexes(show_index_rows));
  KeySql out;
  for (const Index& index : indexes) {
    if (index.name != "PRIMARY") continue;
    std::vector<std::string> names;
    for (const IndexColumn& c : index.columns) {
      if (c.name) names.push_back(*c.name);
    }
    VELQUIN_ASSIGN_OR_RETURN(std::string quoted_table, QuoteJetName(table));
    VELQUIN_ASSIGN_OR_RETURN(std::string list, ColumnList(names));
    out.statements.push_back("ALTER TABLE " + quoted_table + " add PRIMARY KEY (" + list + ")");
    if (index.columns.size() > kMaxIndexColumns) {
      out.notes.push_back("the primary key has " + std::to_string(index.columns.size()) +
                          " columns; Access allows at most 10, so it will be refused");
    }
  }
  return out;
}

Result<KeySql> BuildIndexSql(std::string_view table, const SourceRows& show_index_rows) {
  VELQUIN_ASSIGN_OR_RETURN(std::vector<Index> indexes, GroupIndexes(show_index_rows));
  VELQUIN_ASSIGN_OR_RETURN(std::string quoted_table, QuoteJetName(table));
  KeySql out;
  for (const Index& index : indexes) {
    if (index.name == "PRIMARY") continue;
    std::string type = AsciiUpper(index.type);
    if (type == "FULLTEXT" || type == "SPATIAL") {
      out.notes.push_back("index " + index.name + " is a " + type +
                          " index, which Access does not have: not built");
      continue;
    }
    bool expression = std::any_of(index.columns.begin(), index.columns.end(),
                                  [](const IndexColumn& c) { return !c.name; });
    if (expression) {
      out.notes.push_back("index " + index.name +
                          " is on an expression, which Access cannot index: not built");
      continue;
    }
    if (index.columns.size() > kMaxIndexColumns) {
      out.notes.push_back("index " + index.name + " has " + std::to_string(index.columns.size()) +
                          " columns; Access allows at most 10: not built");
      continue;
    }
    std::string list;
    for (const IndexColumn& c : index.columns) {
      VELQUIN_ASSIGN_OR_RETURN(std::string quoted, QuoteJetName(*c.name));
      if (!list.empty()) list += ", ";
      list += quoted;
      if (c.descending) list += " DESC";
      if (c.prefix) {
        out.notes.push_back("index " + index.name + " covers a prefix of " + *c.name +
                            "; Access indexes the whole column");
      }
    }
    VELQUIN_ASSIGN_OR_RETURN(std::string quoted_index, QuoteJetName(index.name));
    out.statements.push_back(std::string(index.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                             quoted_index + " ON " + quoted_table + " (" + list + ")");
  }
  return out;
}

Result<KeySql> BuildForeignKeySql(std::string_view database, std::string_view table,
                                  const SourceRows& foreign_key_rows) {
  struct Part {
    long position = 0;
    std::string column;
    std::string referenced;
  };
  struct Constraint {
    std::string name;
    std::string ref_schema;
    std::string ref_table;
    std::string update_rule;
    std::string delete_rule;
    std::vector<Part> parts;
  };
  std::vector<Constraint> constraints;
  for (const SourceRow& row : foreign_key_rows) {
    if (row.size() < kFkColumns || !ValueAt(row, kFkName) || !ValueAt(row, kFkColumn) ||
        !ValueAt(row, kFkRefTable) || !ValueAt(row, kFkRefColumn)) {
      return Status::InvalidArgument("the foreign-key query returned an incomplete row of " +
                                     std::to_string(row.size()) + " values");
    }
    std::string name(*ValueAt(row, kFkName));
    auto it = std::find_if(constraints.begin(), constraints.end(),
                           [&](const Constraint& c) { return c.name == name; });
    if (it == constraints.end()) {
      Constraint c;
      c.name = name;
      c.ref_schema = std::string(ValueAt(row, kFkRefSchema).value_or(database));
      c.ref_table = std::string(*ValueAt(row, kFkRefTable));
      c.update_rule = AsciiUpper(ValueAt(row, kFkUpdateRule).value_or(""));
      c.delete_rule = AsciiUpper(ValueAt(row, kFkDeleteRule).value_or(""));
      constraints.push_back(std::move(c));
      it = constraints.end() - 1;
    }
    it->parts.push_back(Part{Number(ValueAt(row, kFkPosition)),
                             std::string(*ValueAt(row, kFkColumn)),
                             std::string(*ValueAt(row, kFkRefColumn))});
  }

  VELQUIN_ASSIGN_OR_RETURN(std::string quoted_table, QuoteJetName(table));
  KeySql out;
  for (Constraint& c : constraints) {
    if (c.ref_schema != database) {
      out.notes.push_back("foreign key " + c.name + " references " + c.ref_schema + "." +
                          c.ref_table + " in another database: not built");
      continue;
    }
    std::stable_sort(c.parts.begin(), c.parts.end(),
                     [](const Part& a, const Part& b) { return a.position < b.position; });
    std::vector<std::string> columns;
    std::vector<std::string> referenced;
    for (const Part& p : c.parts) {
      columns.push_back(p.column);
      referenced.push_back(p.referenced);
    }
    VELQUIN_ASSIGN_OR_RETURN(std::string name, QuoteJetName(c.name));
    VELQUIN_ASSIGN_OR_RETURN(std::string ref_table, QuoteJetName(c.ref_table));
    VELQUIN_ASSIGN_OR_RETURN(std::string column_list, ColumnList(columns));
    VELQUIN_ASSIGN_OR_RETURN(std::string ref_list, ColumnList(referenced));
    std::string sql = "Alter Table " + quoted_table + " ADD CONSTRAINT " + name + " FOREIGN KEY (" +
                      column_list + ")\n REFERENCES " + ref_table + "(" + ref_list + ")";
    for (auto [rule, clause] :
         {std::pair{&c.update_rule, " ON UPDATE "}, std::pair{&c.delete_rule, " ON DELETE "}}) {
      if (*rule == "CASCADE" || *rule == "SET NULL") {
        sql += clause + *rule;
      } else if (*rule == "SET DEFAULT") {
        out.notes.push_back("foreign key " + c.name + ":" + clause +
                            "SET DEFAULT does not exist in Access; the key is built without it");
      }
    }
    out.statements.push_back(std::move(sql));
  }
  return out;
}

}  // namespace velquin
