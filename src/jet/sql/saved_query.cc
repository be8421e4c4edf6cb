#include "jet/sql/saved_query.h"

#include <algorithm>
#include <set>
#include <utility>

#include "jet/sql/format.h"
#include "jet/sql/names.h"
#include "jet/sql/parser.h"

namespace velquin::jet::sql {
namespace {

Status Unstorable(std::string why) {
  return Status::NotSupported("This SELECT cannot be stored as a saved query: " + std::move(why));
}

QueryRow Row(QueryAttribute attribute) {
  QueryRow r;
  r.attribute = attribute;
  return r;
}

// The rows 0 and 1 that open a query of `kind`.
std::vector<QueryRow> HeadRows(int16_t kind) {
  std::vector<QueryRow> rows(2);
  rows[0].attribute = QueryAttribute::kStart;
  rows[0].flag = 0;
  rows[1].attribute = QueryAttribute::kType;
  rows[1].flag = kind;
  return rows;
}

// Rows 11, one per ORDER BY item, and how one reads back.
void AppendOrderRows(const std::vector<OrderItem>& order_by, std::vector<QueryRow>* rows) {
  for (const OrderItem& o : order_by) {
    QueryRow r = Row(QueryAttribute::kOrderBy);
    r.expression = FormatExpression(o.expr, ExprStyle::kAccess);
    if (o.descending) r.name1 = "D";
    rows->push_back(r);
  }
}
std::string OrderText(const QueryRow& r) {
  return *r.expression + (r.name1 && (*r.name1 == "D" || *r.name1 == "d") ? " DESC" : "");
}

// The name a FROM table is known by in the query: its alias, else its name.
const std::string& KnownAs(const FromItem& t) { return t.alias.empty() ? t.table : t.alias; }

void CollectTables(const FromItem& item, std::vector<const FromItem*>* out) {
  if (!item.is_join) {
    out->push_back(&item);
    return;
  }
  for (const FromItem& op : item.operands) CollectTables(op, out);
}

void CollectQualifiers(const Expr& e, std::vector<std::string>* out) {
  if ((e.kind == ExprKind::kColumn || e.kind == ExprKind::kStar) && !e.qualifier.empty()) {
    out->push_back(e.qualifier);
  }
  for (const Expr& a : e.args) CollectQualifiers(a, out);
}

// Emits the rows 7 of a join tree, inner joins first.
Status CollectJoins(const FromItem& item, std::vector<QueryRow>* joins) {
  if (!item.is_join) return Status::Ok();
  const FromItem& left = item.operands[0];
  const FromItem& right = item.operands[1];
  if (right.is_join) {
    return Unstorable("the right side of a JOIN must be a single table, not another join.");
  }
  VELQUIN_RETURN_IF_ERROR(CollectJoins(left, joins));
  std::vector<const FromItem*> left_tables;
  CollectTables(left, &left_tables);
  std::string left_name;
  if (left_tables.size() == 1) {
    left_name = KnownAs(*left_tables[0]);
  } else {
    std::vector<std::string> qualifiers;
    if (item.on) CollectQualifiers(*item.on, &qualifiers);
    std::vector<std::string> named;
    for (const FromItem* t : left_tables) {
      for (const std::string& q : qualifiers) {
        if (SameObjectName(q, KnownAs(*t))) {
          named.push_back(KnownAs(*t));
          break;
        }
      }
    }
    if (named.size() != 1) {
      return Unstorable("the ON condition of the join with '" + KnownAs(right) +
                        "' must name exactly one table of the join on its left.");
    }
    left_name = named[0];
  }
  QueryRow r = Row(QueryAttribute::kJoin);
  r.name1 = left_name;
  r.name2 = KnownAs(right);
  r.expression = item.on ? FormatExpression(*item.on, ExprStyle::kAccess) : "True";
  r.flag = static_cast<int16_t>(item.join);
  joins->push_back(std::move(r));
  return Status::Ok();
}

// ---- reading rows back ---------------------------------------------------

// A FROM element being rebuilt: its text and the tables it holds.
struct Source {
  std::string text;
  std::vector<std::string> tables;  // names the query knows them by
  bool is_join = false;
  // For a join: the pair of tables and the conditions, to merge repeated rows.
  std::string left, right;
  std::vector<std::string> conditions;
  std::string head;  // "<left source> INNER JOIN <right source>"

  bool Holds(const std::string& name) const {
    return std::any_of(tables.begin(), tables.end(),
                       [&](const std::string& t) { return SameObjectName(t, name); });
  }
  void Render() {
    if (!is_join) return;
    std::string on;
    if (conditions.size() == 1) {
      on = conditions[0];
    } else {
      for (size_t i = 0; i < conditions.size(); ++i) {
        if (i > 0) on += " AND ";
        on += "(" + conditions[i] + ")";
      }
    }
    text = head + " ON " + on;
  }
  std::string AsOperand() const { return is_join ? "(" + text + ")" : text; }
};

const char* JoinWord(int16_t flag) {
  switch (flag) {
    case 1:
      return " INNER JOIN ";
    case 2:
      return " LEFT JOIN ";
    case 3:
      return " RIGHT JOIN ";
    default:
      return nullptr;
  }
}

std::string JoinList(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += ", ";
    out += items[i];
  }
  return out;
}

}  // namespace

namespace {

// Fields a SELECT returns, or nullopt when a bare * leaves it open.
std::optional<size_t> FieldCount(const Select& s) {
  for (const SelectItem& item : s.items) {
    if (item.expr.kind == ExprKind::kStar) return std::nullopt;
  }
  return s.items.size();
}

// `text` with each line break (CR LF, LF or CR) that is not inside a "text"
// literal or a [name] made `line_break`; breaks inside literals are data.
std::string LineBreaksOutsideLiterals(const std::string& text, const char* line_break) {
  std::string out;
  char closing = 0;  // '"' or ']' while inside a literal or a name
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (closing) {
      if (c == closing) closing = 0;  // a doubled "" closes and opens again
    } else if (c == '"') {
      closing = '"';
    } else if (c == '[') {
      closing = ']';
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += line_break;
      continue;
    }
    out += c;
  }
  return out;
}

// One SELECT of a union as Access keeps its text: the saved-query layout,
// CR LF between lines, no ";".
Result<std::string> UnionPartText(const Select& part, const std::vector<std::string>& names) {
  VELQUIN_ASSIGN_OR_RETURN(std::vector<QueryRow> rows, SelectToQueryRows(part, names));
  VELQUIN_ASSIGN_OR_RETURN(std::string sql, QueryRowsToSql(rows));
  if (!sql.empty() && sql.back() == ';') sql.pop_back();
  return LineBreaksOutsideLiterals(sql, "\r\n");
}

Result<std::vector<QueryRow>> UnionToQueryRows(const Select& select,
                                               const std::vector<std::string>& output_names) {
  // The parts as plain SELECTs; the first one's ORDER BY belongs to the union.
  std::vector<Select> parts;
  parts.push_back(select);
  parts[0].unions.clear();
  parts[0].order_by.clear();
  for (const UnionPart& u : select.unions) parts.push_back(u.select);
  const std::optional<size_t> width = FieldCount(parts[0]);
  for (size_t i = 1; i < parts.size(); ++i) {
    if (!parts[i].unions.empty() || !parts[i].order_by.empty()) {
      return Unstorable("a SELECT of a UNION has a UNION or an ORDER BY of its own.");
    }
    const std::optional<size_t> n = FieldCount(parts[i]);
    if (width && n && *n != *width) {
      return Unstorable("the SELECTs of the UNION return different numbers of fields (" +
                        std::to_string(*width) + " and " + std::to_string(*n) + ").");
    }
  }
  // All but the last SELECT make the first part's text.
  std::string first;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    if (i > 0) first += select.unions[i - 1].all ? "\r\nUNION ALL\r\n" : "\r\nUNION\r\n";
    VELQUIN_ASSIGN_OR_RETURN(
        std::string text,
        UnionPartText(parts[i], i == 0 ? output_names : std::vector<std::string>{}));
    first += text;
  }
  VELQUIN_ASSIGN_OR_RETURN(std::string second, UnionPartText(parts.back(), {}));

  std::vector<QueryRow> rows = HeadRows(kQueryTypeUnion);
  QueryRow options = Row(QueryAttribute::kFlag);
  options.flag =
      static_cast<int16_t>(kSelectStarFlag | (select.unions.back().all ? 0 : kUnionDistinctFlag));
  rows.push_back(options);
  QueryRow one = Row(QueryAttribute::kTable);
  one.name2 = kUnionPart1;
  one.expression = std::move(first);
  rows.push_back(std::move(one));
  QueryRow two = Row(QueryAttribute::kTable);
  two.name2 = kUnionPart2;
  two.expression = std::move(second);
  rows.push_back(std::move(two));
  AppendOrderRows(select.order_by, &rows);
  rows.push_back(Row(QueryAttribute::kEnd));
  return rows;
}

// A part's stored text as one SQL piece: line breaks "\n", the blanks
// around it and a closing ";" dropped.
std::string CleanPartText(const std::string& text) {
  std::string out = LineBreaksOutsideLiterals(text, "\n");
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n'; };
  while (!out.empty() && (blank(out.back()) || out.back() == ';')) out.pop_back();
  size_t from = 0;
  while (from < out.size() && blank(out[from])) ++from;
  return out.substr(from);
}

Result<std::string> UnionRowsToSql(const std::vector<QueryRow>& rows, int16_t flags) {
  std::optional<std::string> first, second;
  std::vector<std::string> orders;
  for (const QueryRow& r : rows) {
    switch (r.attribute) {
      case QueryAttribute::kStart:
      case QueryAttribute::kType:
      case QueryAttribute::kFlag:
      case QueryAttribute::kEnd:
        break;
      case QueryAttribute::kParameter:
        return Status::NotSupported("The saved query has parameters, which are not supported.");
      case QueryAttribute::kTable: {
        std::optional<std::string>* slot = nullptr;
        if (r.name2 == kUnionPart1) slot = &first;
        if (r.name2 == kUnionPart2) slot = &second;
        if (!slot || !r.expression) {
          return Status::Corruption("A row of the union query is not one of its two parts.");
        }
        if (*slot) return Status::Corruption("The union query has a part twice.");
        *slot = CleanPartText(*r.expression);
        if ((*slot)->empty()) return Status::Corruption("A part of the union query is empty.");
        break;
      }
      case QueryAttribute::kOrderBy:
        if (!r.expression || r.expression->empty()) {
          return Status::Corruption("An ORDER BY row of the union query has no expression.");
        }
        orders.push_back(OrderText(r));
        break;
      default:
        return Status::Corruption("The union query has a row of attribute " +
                                  std::to_string(static_cast<int>(r.attribute)) +
                                  ", which a union query does not have.");
    }
  }
  if (!first || !second) return Status::Corruption("The union query lacks one of its two parts.");
  std::string sql =
      *first + ((flags & kUnionDistinctFlag) ? "\nUNION\n" : "\nUNION ALL\n") + *second;
  if (!orders.empty()) sql += "\nORDER BY " + JoinList(orders);
  return sql + ";";
}

}  // namespace

Result<std::vector<QueryRow>> SelectToQueryRows(const Select& select,
                                                const std::vector<std::string>& output_names) {
  if (!select.unions.empty()) return UnionToQueryRows(select, output_names);
  if (!select.into.empty()) {
    return Unstorable("SELECT ... INTO makes a table; a view is a plain SELECT.");
  }
  std::vector<QueryRow> rows = HeadRows(kQueryTypeSelect);

  int16_t flags = 0;
  size_t stars = 0;
  for (size_t i = 0; i < select.items.size(); ++i) {
    const Expr& e = select.items[i].expr;
    if (e.kind == ExprKind::kStar && e.qualifier.empty()) {
      ++stars;
      if (i + 1 != select.items.size()) {
        return Unstorable("a saved query keeps '*' after its other output fields; write * last.");
      }
      flags |= kSelectStarFlag;
    }
  }
  if (stars > 1) return Unstorable("'*' is listed more than once.");
  if (!output_names.empty()) {
    if (stars > 0 || output_names.size() != select.items.size()) {
      return Unstorable("the view names " + std::to_string(output_names.size()) +
                        " field(s) but its SELECT returns another number of fields.");
    }
  }
  if (select.quantifier == SelectQuantifier::kDistinct) flags |= kDistinctFlag;
  if (select.quantifier == SelectQuantifier::kDistinctRow) flags |= kDistinctRowFlag;
  if (select.top) flags |= kTopFlag | (select.top_percent ? kPercentFlag : 0);
  if (flags != 0) {
    QueryRow r = Row(QueryAttribute::kFlag);
    r.flag = flags;
    if (select.top) r.name1 = *select.top;
    rows.push_back(r);
  }

  // Tables, every one of them, joined or not.
  std::vector<const FromItem*> tables;
  for (const FromItem& item : select.from) CollectTables(item, &tables);
  for (size_t i = 0; i < tables.size(); ++i) {
    if (!tables[i]->subquery.empty() && tables[i]->alias.empty()) {
      return Unstorable("a subquery in FROM needs a name: (SELECT ...) AS name.");
    }
    if (tables[i]->table.empty() && tables[i]->subquery.empty()) {
      return Unstorable("a table of the FROM clause has no name.");
    }
    for (size_t j = 0; j < i; ++j) {
      if (SameObjectName(KnownAs(*tables[i]), KnownAs(*tables[j]))) {
        return Unstorable("the table name '" + KnownAs(*tables[i]) +
                          "' is used twice in FROM; give one of them an alias.");
      }
    }
    QueryRow r = Row(QueryAttribute::kTable);
    if (tables[i]->subquery.empty()) {
      r.name1 = tables[i]->table;
    } else {
      // A derived table: Name1 stays NULL, its SELECT is the Expression.
      r.expression = FormatSelect(tables[i]->subquery[0], ExprStyle::kAccess);
    }
    if (!tables[i]->alias.empty()) r.name2 = tables[i]->alias;
    rows.push_back(r);
  }

  for (size_t i = 0; i < select.items.size(); ++i) {
    const SelectItem& item = select.items[i];
    if (item.expr.kind == ExprKind::kStar && item.expr.qualifier.empty()) continue;
    QueryRow r = Row(QueryAttribute::kColumn);
    r.expression = FormatExpression(item.expr, ExprStyle::kAccess);
    if (!output_names.empty()) {
      r.name1 = output_names[i];
    } else if (!item.alias.empty()) {
      r.name1 = item.alias;
    }
    r.flag = 0;
    rows.push_back(r);
  }

  std::vector<QueryRow> joins;
  for (const FromItem& item : select.from) {
    VELQUIN_RETURN_IF_ERROR(CollectJoins(item, &joins));
  }
  rows.insert(rows.end(), joins.begin(), joins.end());

  if (select.where) {
    QueryRow r = Row(QueryAttribute::kWhere);
    r.expression = FormatExpression(*select.where, ExprStyle::kAccess);
    rows.push_back(r);
  }
  for (const Expr& g : select.group_by) {
    QueryRow r = Row(QueryAttribute::kGroupBy);
    r.expression = FormatExpression(g, ExprStyle::kAccess);
    r.flag = 0;
    rows.push_back(r);
  }
  if (select.having) {
    QueryRow r = Row(QueryAttribute::kHaving);
    r.expression = FormatExpression(*select.having, ExprStyle::kAccess);
    rows.push_back(r);
  }
  AppendOrderRows(select.order_by, &rows);
  rows.push_back(Row(QueryAttribute::kEnd));
  return rows;
}

Result<std::vector<QueryRow>> ViewToQueryRows(const CreateView& view) {
  return SelectToQueryRows(view.select, view.columns);
}

int32_t QueryObjectFlags(const std::vector<QueryRow>& rows) {
  for (const QueryRow& r : rows) {
    if (r.attribute == QueryAttribute::kType && r.flag == kQueryTypeUnion) {
      return kUnionQueryObjectFlags;
    }
  }
  return kSelectQueryObjectFlags;
}

Result<std::string> QueryRowsToSql(const std::vector<QueryRow>& rows) {
  const QueryRow* type_row = nullptr;
  const QueryRow* flag_row = nullptr;
  for (const QueryRow& r : rows) {
    if (r.attribute == QueryAttribute::kType) {
      if (type_row) return Status::Corruption("The saved query has two query-type rows.");
      type_row = &r;
    }
    if (r.attribute == QueryAttribute::kFlag) {
      if (flag_row) return Status::Corruption("The saved query has two select-option rows.");
      flag_row = &r;
    }
  }
  if (!type_row) return Status::Corruption("The saved query has no query-type row.");
  const int16_t kind = type_row->flag.value_or(0);
  if (kind != kQueryTypeSelect && kind != kQueryTypeUnion) {
    return Status::NotSupported(
        "The saved query is of kind " + std::to_string(kind) +
        ", not a select query; only select and union queries are read as views.");
  }
  const int16_t flags = flag_row ? flag_row->flag.value_or(0) : 0;
  if (flags & kOwnerAccessFlag) {
    return Status::NotSupported(
        "The saved query runs WITH OWNERACCESS OPTION, which is not supported.");
  }
  if (kind == kQueryTypeUnion) return UnionRowsToSql(rows, flags);

  std::vector<std::string> columns;
  std::vector<Source> sources;
  std::vector<std::string> where, groups, orders;
  std::optional<std::string> having;
  std::vector<const QueryRow*> join_rows;
  for (const QueryRow& r : rows) {
    switch (r.attribute) {
      case QueryAttribute::kStart:
      case QueryAttribute::kType:
      case QueryAttribute::kFlag:
      case QueryAttribute::kEnd:
        break;
      case QueryAttribute::kParameter:
        return Status::NotSupported("The saved query has parameters, which are not supported.");
      case QueryAttribute::kRemoteDatabase:
        return Status::NotSupported(
            "The saved query reads another database, which is not supported.");
      case QueryAttribute::kTable: {
        Source s;
        if (r.expression && !r.name1 && r.name2) {
          // A derived table: (SELECT ...) AS name.
          std::string select = *r.expression;
          while (!select.empty() && (select.back() == ';' || select.back() == ' ' ||
                                     select.back() == '\n' || select.back() == '\r')) {
            select.pop_back();
          }
          s.text = "(" + select + ") AS " + FormatName(*r.name2);
          s.tables.push_back(*r.name2);
          sources.push_back(std::move(s));
          break;
        }
        if (!r.name1 || r.name1->empty() || r.expression) {
          return Status::NotSupported("The saved query's FROM row is not a plain table.");
        }
        s.text = FormatName(*r.name1);
        if (r.name2) s.text += " AS " + FormatName(*r.name2);
        s.tables.push_back(r.name2 ? *r.name2 : *r.name1);
        sources.push_back(std::move(s));
        break;
      }
      case QueryAttribute::kColumn:
        if (!r.expression || r.expression->empty()) {
          return Status::Corruption("An output-field row of the saved query has no expression.");
        }
        columns.push_back(*r.expression + (r.name1 ? " AS " + FormatName(*r.name1) : ""));
        break;
      case QueryAttribute::kJoin:
        join_rows.push_back(&r);
        break;
      case QueryAttribute::kWhere:
      case QueryAttribute::kGroupBy:
      case QueryAttribute::kHaving:
      case QueryAttribute::kOrderBy:
        if (!r.expression || r.expression->empty()) {
          return Status::Corruption("A clause row of the saved query has no expression.");
        }
        if (r.attribute == QueryAttribute::kWhere) where.push_back(*r.expression);
        if (r.attribute == QueryAttribute::kGroupBy) groups.push_back(*r.expression);
        if (r.attribute == QueryAttribute::kHaving) {
          if (having) return Status::Corruption("The saved query has two HAVING rows.");
          having = *r.expression;
        }
        if (r.attribute == QueryAttribute::kOrderBy) {
          orders.push_back(OrderText(r));
        }
        break;
      default:
        return Status::Corruption("The saved query has a row of unknown attribute " +
                                  std::to_string(static_cast<int>(r.attribute)) + ".");
    }
  }
  if (where.size() > 1) return Status::Corruption("The saved query has two WHERE rows.");
  if (flags & kSelectStarFlag) columns.push_back("*");
  if (columns.empty()) return Status::Corruption("The saved query has no output fields.");

  // Put the joins on top of the tables.
  for (const QueryRow* j : join_rows) {
    const char* word = JoinWord(j->flag.value_or(0));
    if (!word || !j->name1 || !j->name2 || !j->expression) {
      return Status::Corruption("A join row of the saved query is incomplete.");
    }
    auto find = [&](const std::string& name) {
      return std::find_if(sources.begin(), sources.end(),
                          [&](const Source& s) { return s.Holds(name); });
    };
    auto from = find(*j->name1);
    auto to = find(*j->name2);
    if (from == sources.end() || to == sources.end()) {
      return Status::Corruption("A join row of the saved query names a table that is not in FROM.");
    }
    if (from == to) {
      // A further condition between two tables already joined: AND it on.
      Source& s = *from;
      if (s.is_join &&
          ((SameObjectName(s.left, *j->name1) && SameObjectName(s.right, *j->name2)) ||
           (SameObjectName(s.left, *j->name2) && SameObjectName(s.right, *j->name1)))) {
        s.conditions.push_back(*j->expression);
        s.Render();
        continue;
      }
      return Status::NotSupported("The saved query's joins form a cycle, which is not supported.");
    }
    Source joined;
    joined.is_join = true;
    joined.left = *j->name1;
    joined.right = *j->name2;
    joined.head = from->AsOperand() + word + to->AsOperand();
    joined.conditions.push_back(*j->expression);
    joined.tables = from->tables;
    joined.tables.insert(joined.tables.end(), to->tables.begin(), to->tables.end());
    joined.Render();
    const size_t at = static_cast<size_t>(std::min(from, to) - sources.begin());
    const size_t other = static_cast<size_t>(std::max(from, to) - sources.begin());
    sources.erase(sources.begin() + static_cast<std::ptrdiff_t>(other));
    sources[at] = std::move(joined);
  }

  std::string sql = "SELECT ";
  if (flags & kDistinctFlag) {
    sql += "DISTINCT ";
  } else if (flags & kDistinctRowFlag) {
    sql += "DISTINCTROW ";
  }
  if (flags & kTopFlag) {
    if (!flag_row->name1) return Status::Corruption("The saved query's TOP row has no number.");
    sql += "TOP " + *flag_row->name1 + ((flags & kPercentFlag) ? " PERCENT " : " ");
  }
  sql += JoinList(columns);
  if (!sources.empty()) {
    std::vector<std::string> texts;
    texts.reserve(sources.size());
    for (const Source& s : sources) texts.push_back(s.text);
    sql += "\nFROM " + JoinList(texts);
  }
  if (!where.empty()) sql += "\nWHERE " + where[0];
  if (!groups.empty()) sql += "\nGROUP BY " + JoinList(groups);
  if (having) sql += "\nHAVING " + *having;
  if (!orders.empty()) sql += "\nORDER BY " + JoinList(orders);
  sql += ";";
  return sql;
}

Result<Select> QueryRowsToSelect(const std::vector<QueryRow>& rows) {
  VELQUIN_ASSIGN_OR_RETURN(std::string sql, QueryRowsToSql(rows));
  Result<Statement> parsed = ParseStatement(sql);
  if (!parsed.ok()) {
    return Status::Corruption("The saved query's text does not read back: " +
                              parsed.status().message());
  }
  if (!std::holds_alternative<Select>(*parsed)) {
    return Status::Corruption("The saved query's text is not a SELECT.");
  }
  return std::get<Select>(std::move(*parsed));
}

std::string QueryRowsToMdbQueriesText(const std::vector<QueryRow>& rows) {
  std::string predicate, tables, columns, where, sorting;
  for (const QueryRow& r : rows) {
    const int flag = r.flag.value_or(0);
    const std::string name1 = r.name1.value_or("");
    const std::string expression = r.expression.value_or("");
    switch (r.attribute) {
      case QueryAttribute::kFlag:
        if (flag & 0x30) {
          predicate = " TOP " + name1;
          if (flag & 0x20) predicate += " PERCENT";
        } else if (flag & 0x08) {
          predicate = " DISTINCTROW";
        } else if (flag & 0x02) {
          predicate = " DISTINCT";
        }
        break;
      case QueryAttribute::kTable:
        if (!tables.empty()) tables += ",";
        tables += "[" + name1 + "]";
        break;
      case QueryAttribute::kColumn:
        if (!columns.empty()) columns += ",";
        columns += expression;
        break;
      case QueryAttribute::kWhere:
        where = expression;
        break;
      case QueryAttribute::kOrderBy:
        if (sorting.empty()) {
          sorting = "ORDER BY " + expression;
          if (name1 == "D") sorting += " DESCENDING";
        }
        break;
      default:
        break;
    }
  }
  if (where.empty())
    return "SELECT" + predicate + " " + columns + " FROM " + tables + " " + sorting + "\n";
  return "SELECT" + predicate + " " + columns + " FROM " + tables + " WHERE " + where + " " +
         sorting + "\n";
}

Result<std::vector<QueryRow>> QueryRowsFromStored(const std::vector<std::vector<Value>>& stored) {
  std::vector<QueryRow> rows;
  for (const auto& v : stored) {
    if (v.size() < 7) return Status::Corruption("an MSysQueries row has too few columns");
    std::int64_t attribute = 0;
    if (!v[1].AsInt64(&attribute)) return Status::Corruption("an MSysQueries row has no Attribute");
    QueryRow q;
    q.attribute = static_cast<QueryAttribute>(attribute);
    auto text = [&](std::size_t c) -> std::optional<std::string> {
      if (v[c].is_null()) return std::nullopt;
      return v[c].ToString();
    };
    q.name1 = text(3);
    q.name2 = text(4);
    q.expression = text(5);
    std::int64_t flag = 0;
    if (v[6].AsInt64(&flag)) q.flag = static_cast<std::int16_t>(flag);
    rows.push_back(std::move(q));
  }
  return rows;
}

}  // namespace velquin::jet::sql
