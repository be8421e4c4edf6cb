#include "backup/script_text.h"

#include <charconv>
#include <cmath>
#include <map>

#include "jet/sql/ast.h"
#include "jet/sql/default_value.h"
#include "jet/sql/format.h"
#include "jet/sql/names.h"
#include "jet/sql/parser.h"

namespace velquin::backup {
namespace {

using jet::ColumnType;
using jet::Value;
using jet::ValueKind;

template <typename T>
void AppendNumber(T v, std::string* out) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  out->append(buf, r.ptr);
}

void AppendDigits(int v, int width, std::string* out) {
  char buf[8];
  for (int i = width - 1; i >= 0; --i) {
    buf[i] = static_cast<char>('0' + v % 10);
    v /= 10;
  }
  out->append(buf, static_cast<std::size_t>(width));
}

// #yyyy-mm-dd hh:mm:ss[.fff]# when that text reads back to the same day
// count; the day count itself otherwise (fractions finer than a
// millisecond, the -0.x days Jet can hold, values outside years 100..9999).
void AppendDate(jet::DateTime d, std::string* out) {
  if (std::isfinite(d.days)) {
    const jet::DateTime::Parts p = d.ToParts();
    if (p.year >= 100 && p.year <= 9999 &&
        jet::DateTime::FromParts(p.year, p.month, p.day, p.hour, p.minute, p.second,
                                 p.millisecond) == d) {
      out->push_back('#');
      AppendDigits(p.year, 4, out);
      out->push_back('-');
      AppendDigits(p.month, 2, out);
      out->push_back('-');
      AppendDigits(p.day, 2, out);
      if (p.hour || p.minute || p.second || p.millisecond) {
        out->push_back(' ');
        AppendDigits(p.hour, 2, out);
        out->push_back(':');
        AppendDigits(p.minute, 2, out);
        out->push_back(':');
        AppendDigits(p.second, 2, out);
        if (p.millisecond) {
          out->push_back('.');
          AppendDigits(p.millisecond, 3, out);
        }
      }
      out->push_back('#');
      return;
    }
  }
  AppendNumber(d.days, out);
}

void AppendQuoted(std::string_view text, std::string* out) {
  out->reserve(out->size() + text.size() + 2);
  out->push_back('\'');
  std::size_t from = 0;
  for (std::size_t q = text.find('\''); q != std::string_view::npos; q = text.find('\'', from)) {
    out->append(text.substr(from, q + 1 - from));
    out->push_back('\'');
    from = q + 1;
  }
  out->append(text.substr(from));
  out->push_back('\'');
}

void AppendHex(const std::vector<std::uint8_t>& bytes, std::string* out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::size_t at = out->size();
  out->resize(at + 2 + bytes.size() * 2);
  char* p = out->data() + at;
  *p++ = '0';
  *p++ = 'x';
  for (std::uint8_t b : bytes) {
    *p++ = kHex[b >> 4];
    *p++ = kHex[b & 15];
  }
}

jet::sql::TypeSpec TypeOf(const jet::ColumnInfo& c) {
  jet::sql::TypeSpec t;
  t.type = static_cast<jet::sql::DataType>(static_cast<std::uint8_t>(c.type));
  if (c.type == ColumnType::kText || c.type == ColumnType::kBinary) t.size = c.size ? c.size : 255;
  if (c.type == ColumnType::kNumeric) {
    t.precision = c.precision;
    t.scale = c.scale;
  }
  t.auto_increment = c.auto_increment;
  return t;
}

}  // namespace

bool AppendLiteral(const Value& v, std::string* out) {
  switch (v.kind()) {
    case ValueKind::kNull:
      out->append("NULL");
      return true;
    case ValueKind::kBool:
      out->append(v.bool_value() ? "TRUE" : "FALSE");
      return true;
    case ValueKind::kByte:
      AppendNumber(static_cast<int>(v.byte_value()), out);
      return true;
    case ValueKind::kShort:
      AppendNumber(v.short_value(), out);
      return true;
    case ValueKind::kLong:
      AppendNumber(v.long_value(), out);
      return true;
    case ValueKind::kCurrency:
      out->append(v.currency_value().ToString());
      return true;
    case ValueKind::kSingle:
      if (!std::isfinite(v.single_value())) return false;
      AppendNumber(v.single_value(), out);
      return true;
    case ValueKind::kDouble:
      if (!std::isfinite(v.double_value())) return false;
      AppendNumber(v.double_value(), out);
      return true;
    case ValueKind::kDateTime:
      AppendDate(v.datetime_value(), out);
      return true;
    case ValueKind::kDecimal:
      out->append(v.decimal_value().ToString());
      return true;
    case ValueKind::kGuid:
      AppendQuoted(v.guid_value().ToString(), out);
      return true;
    case ValueKind::kText:
      AppendQuoted(v.text_value(), out);
      return true;
    case ValueKind::kBinary:
      AppendHex(v.binary_value(), out);
      return true;
  }
  return false;
}

Result<std::string> CreateTableStatement(const jet::TableInfo& table) {
  jet::sql::CreateTable st;
  st.table = table.name;
  for (const jet::ColumnInfo& c : table.columns) {
    jet::sql::ColumnDef def;
    def.name = c.name;
    def.type = TypeOf(c);
    def.not_null = c.not_null;
    if (!c.default_value.empty()) {
      auto expr = jet::sql::ParseExpression(jet::sql::DefaultValueSql(c.default_value));
      if (!expr.ok()) {
        return Status::NotSupported("the default of column '" + c.name + "' (" + c.default_value +
                                    ") cannot be written as SQL: " + expr.status().message());
      }
      def.default_value = std::move(*expr);
    }
    st.columns.push_back(std::move(def));
  }
  return jet::sql::FormatStatement(jet::sql::Statement(std::move(st)));
}

std::vector<std::string> IndexStatements(const jet::TableInfo& table) {
  std::vector<std::string> out;
  for (const jet::IndexInfo& ix : table.indexes) {
    if (ix.foreign_key) continue;  // made again by its relationship
    jet::sql::CreateIndex st;
    st.name = ix.name;
    st.table = table.name;
    st.unique = ix.unique && !ix.primary_key;
    for (const auto& [column, ascending] : ix.columns) st.columns.push_back({column, !ascending});
    st.primary = ix.primary_key;
    st.disallow_null = ix.required && !ix.primary_key;
    st.ignore_null = ix.ignore_nulls;
    out.push_back(jet::sql::FormatStatement(jet::sql::Statement(std::move(st))));
  }
  return out;
}

Result<std::vector<Relationship>> ReadRelationships(jet::Database& db) {
  VELQUIN_ASSIGN_OR_RETURN(auto cursor, db.Scan("MSysRelationships"));
  const auto& columns = cursor->table().columns;
  auto find = [&](const char* name) -> std::size_t {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      if (jet::sql::SameObjectName(columns[i].name, name)) return i;
    }
    return columns.size();
  };
  const std::size_t c_name = find("szRelationship"), c_grbit = find("grbit"),
                    c_count = find("ccolumn"), c_index = find("icolumn"),
                    c_object = find("szObject"), c_column = find("szColumn"),
                    c_ref_object = find("szReferencedObject"),
                    c_ref_column = find("szReferencedColumn");
  for (std::size_t c :
       {c_name, c_grbit, c_count, c_index, c_object, c_column, c_ref_object, c_ref_column}) {
    if (c == columns.size()) return Status::Corruption("MSysRelationships lacks a column");
  }
  struct Pairs {
    Relationship rel;
    std::map<std::int64_t, std::pair<std::string, std::string>> by_index;
    std::int64_t count = 0;
  };
  std::vector<Pairs> found;
  std::vector<Value> row;
  while (true) {
    VELQUIN_ASSIGN_OR_RETURN(bool more, cursor->Next(&row));
    if (!more) break;
    auto text = [&](std::size_t c) { return row[c].is_null() ? std::string() : row[c].ToString(); };
    std::int64_t grbit = 0, count = 0, index = 0;
    (void)row[c_grbit].AsInt64(&grbit);  // a null grbit is no rule
    if (!row[c_count].AsInt64(&count) || !row[c_index].AsInt64(&index) || index < 0 ||
        index >= count) {
      return Status::Corruption("MSysRelationships row of '" + text(c_name) +
                                "' has a bad column count or position");
    }
    const std::string name = text(c_name);
    Pairs* p = nullptr;
    for (Pairs& f : found) {
      if (f.rel.name == name) p = &f;
    }
    if (p == nullptr) {
      found.push_back({});
      p = &found.back();
      p->rel.name = name;
      p->rel.table = text(c_object);
      p->rel.referenced_table = text(c_ref_object);
      p->rel.cascade_update = (grbit & 0x100) != 0;
      p->rel.cascade_delete = (grbit & 0x1000) != 0;
      p->rel.cascade_set_null = (grbit & 0x2000) != 0;
      p->count = count;
    }
    p->by_index[index] = {text(c_column), text(c_ref_column)};
  }
  std::vector<Relationship> out;
  for (Pairs& f : found) {
    if (static_cast<std::int64_t>(f.by_index.size()) != f.count) {
      return Status::Corruption("relationship '" + f.rel.name + "' lacks some of its columns");
    }
    for (auto& [index, pair] : f.by_index) {
      f.rel.columns.push_back(pair.first);
      f.rel.referenced_columns.push_back(pair.second);
    }
    out.push_back(std::move(f.rel));
  }
  return out;
}

std::string RelationshipStatement(const Relationship& r) {
  jet::sql::AlterTableAddConstraint st;
  st.table = r.table;
  st.constraint.name = r.name;
  st.constraint.kind = jet::sql::ConstraintKind::kForeignKey;
  st.constraint.columns = r.columns;
  st.constraint.ref_table = r.referenced_table;
  st.constraint.ref_columns = r.referenced_columns;
  using jet::sql::ReferentialAction;
  st.constraint.on_update =
      r.cascade_update ? ReferentialAction::kCascade : ReferentialAction::kNoAction;
  st.constraint.on_delete = r.cascade_delete     ? ReferentialAction::kCascade
                            : r.cascade_set_null ? ReferentialAction::kSetNull
                                                 : ReferentialAction::kNoAction;
  return jet::sql::FormatStatement(jet::sql::Statement(std::move(st)));
}

Result<std::vector<jet::sql::QueryRow>> ToQueryRows(const std::vector<std::vector<Value>>& stored) {
  return jet::sql::QueryRowsFromStored(stored);
}

Result<std::string> CreateViewStatement(jet::Database& db, const std::string& view) {
  VELQUIN_ASSIGN_OR_RETURN(auto stored, db.QueryRows(view));
  VELQUIN_ASSIGN_OR_RETURN(auto rows, ToQueryRows(stored));
  VELQUIN_ASSIGN_OR_RETURN(std::string select, jet::sql::QueryRowsToSql(rows));
  return "CREATE VIEW " + jet::sql::FormatName(view) + " AS\n" + select;
}

std::string InsertPrefix(const std::string& table) {
  return "INSERT INTO " + jet::sql::FormatName(table) + " VALUES (";
}

}  // namespace velquin::backup
