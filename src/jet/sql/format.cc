#include "jet/sql/format.h"

#include "jet/sql/parser.h"

namespace velquin::jet::sql {
namespace {

constexpr int kPrimaryPrecedence = 13;

int Precedence(const Expr& e) {
  switch (e.kind) {
    case ExprKind::kBinaryOp:
      switch (e.binary_op) {
        case BinaryOp::kXor:  // Access: XOR binds more loosely than OR
          return 1;
        case BinaryOp::kOr:
          return 2;
        case BinaryOp::kAnd:
          return 3;
        case BinaryOp::kEq:
        case BinaryOp::kNe:
        case BinaryOp::kLt:
        case BinaryOp::kLe:
        case BinaryOp::kGt:
        case BinaryOp::kGe:
          return 5;
        case BinaryOp::kConcat:
          return 6;
        case BinaryOp::kAdd:
        case BinaryOp::kSubtract:
          return 7;
        case BinaryOp::kMod:
          return 8;
        case BinaryOp::kIntDivide:
          return 9;
        case BinaryOp::kMultiply:
        case BinaryOp::kDivide:
          return 10;
        case BinaryOp::kPower:
          return 12;
      }
      return 1;
    case ExprKind::kUnary:
      return e.unary_op == UnaryOp::kNot ? 4 : 11;
    case ExprKind::kIsNull:
    case ExprKind::kLike:
    case ExprKind::kIn:
    case ExprKind::kBetween:
    case ExprKind::kAny:
    case ExprKind::kAll:
      return 5;
    default:
      return kPrimaryPrecedence;
  }
}

const char* OperatorText(BinaryOp op, ExprStyle style) {
  const bool access = style == ExprStyle::kAccess;
  switch (op) {
    case BinaryOp::kOr:
      return access ? " Or " : " OR ";
    case BinaryOp::kXor:
      return access ? " Xor " : " XOR ";
    case BinaryOp::kAnd:
      return access ? " And " : " AND ";
    case BinaryOp::kEq:
      return " = ";
    case BinaryOp::kNe:
      return " <> ";
    case BinaryOp::kLt:
      return " < ";
    case BinaryOp::kLe:
      return " <= ";
    case BinaryOp::kGt:
      return " > ";
    case BinaryOp::kGe:
      return " >= ";
    case BinaryOp::kConcat:
      return " & ";
    case BinaryOp::kAdd:
      return " + ";
    case BinaryOp::kSubtract:
      return " - ";
    case BinaryOp::kMod:
      return access ? " Mod " : " MOD ";
    case BinaryOp::kIntDivide:
      return " \\ ";
    case BinaryOp::kMultiply:
      return " * ";
    case BinaryOp::kDivide:
      return " / ";
    case BinaryOp::kPower:
      return " ^ ";
  }
  return " ? ";
}

std::string Quote(std::string_view text, char quote) {
  std::string out(1, quote);
  for (char c : text) {
    out.push_back(c);
    if (c == quote) out.push_back(c);
  }
  out.push_back(quote);
  return out;
}

class ExprWriter {
 public:
  explicit ExprWriter(ExprStyle style) : style_(style) {}

  void Write(const Expr& e, int min_precedence, std::string* out) const {
    const bool parens = e.parenthesized || Precedence(e) < min_precedence;
    if (parens) out->push_back('(');
    WriteBare(e, out);
    if (parens) out->push_back(')');
  }

 private:
  const char* Word(const char* sql, const char* access) const {
    return style_ == ExprStyle::kAccess ? access : sql;
  }

  void WriteBare(const Expr& e, std::string* out) const {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const int p = Precedence(e);
    switch (e.kind) {
      case ExprKind::kNull:
        *out += Word("NULL", "Null");
        return;
      case ExprKind::kBoolean:
        *out += e.boolean ? "True" : "False";
        return;
      case ExprKind::kNumber:
        *out += e.text;
        return;
      case ExprKind::kString:
        *out += Quote(e.text, style_ == ExprStyle::kAccess ? '"' : '\'');
        return;
      case ExprKind::kDate:
        *out += "#" + e.date.ToIsoText() + "#";
        return;
      case ExprKind::kBinary:
        *out += "0x";
        for (uint8_t b : e.bytes) {
          out->push_back(kHex[b >> 4]);
          out->push_back(kHex[b & 15]);
        }
        return;
      case ExprKind::kColumn:
        if (!e.qualifier.empty()) *out += FormatName(e.qualifier) + ".";
        *out += FormatName(e.text);
        return;
      case ExprKind::kStar:
        if (!e.qualifier.empty()) *out += FormatName(e.qualifier) + ".";
        *out += "*";
        return;
      case ExprKind::kFunction:
        *out += e.text + "(";
        for (size_t i = 0; i < e.args.size(); ++i) {
          if (i > 0) *out += ", ";
          Write(e.args[i], 0, out);
        }
        *out += ")";
        return;
      case ExprKind::kUnary:
        if (e.unary_op == UnaryOp::kNot) {
          *out += Word("NOT ", "Not ");
          Write(e.args[0], 4, out);
        } else {
          *out += e.unary_op == UnaryOp::kNegate ? "-" : "+";
          // "- -1" keeps two signs apart; "-(-1)" would do as well.
          if (e.args[0].kind == ExprKind::kUnary && !e.args[0].parenthesized) *out += " ";
          Write(e.args[0], 11, out);
        }
        return;
      case ExprKind::kBinaryOp: {
        const bool comparison = p == 5;
        Write(e.args[0], p, out);
        *out += OperatorText(e.binary_op, style_);
        if (e.binary_op == BinaryOp::kPower) {
          const Expr& r = e.args[1];
          // 2 ^ -x: the exponent may be a signed primary (an operand in
          // parentheses counts as one).
          const bool signed_primary =
              r.kind == ExprKind::kUnary && r.unary_op != UnaryOp::kNot && !r.parenthesized &&
              (r.args[0].parenthesized || Precedence(r.args[0]) >= kPrimaryPrecedence);
          Write(r, signed_primary ? 0 : kPrimaryPrecedence, out);
        } else {
          Write(e.args[1], comparison ? 6 : p + 1, out);
        }
        return;
      }
      case ExprKind::kIsNull:
        Write(e.args[0], 5, out);
        *out += e.negated ? Word(" IS NOT NULL", " Is Not Null") : Word(" IS NULL", " Is Null");
        return;
      case ExprKind::kLike:
        Write(e.args[0], 5, out);
        *out += e.negated ? Word(" NOT LIKE ", " Not Like ") : Word(" LIKE ", " Like ");
        Write(e.args[1], 6, out);
        return;
      case ExprKind::kIn:
        Write(e.args[0], 5, out);
        *out += e.negated ? Word(" NOT IN (", " Not In (") : Word(" IN (", " In (");
        if (!e.subquery.empty()) *out += FormatSelect(e.subquery[0], style_);
        for (size_t i = 1; i < e.args.size(); ++i) {
          if (i > 1) *out += ", ";
          Write(e.args[i], 0, out);
        }
        *out += ")";
        return;
      case ExprKind::kBetween:
        Write(e.args[0], 5, out);
        *out += e.negated ? Word(" NOT BETWEEN ", " Not Between ") : Word(" BETWEEN ", " Between ");
        Write(e.args[1], 6, out);
        *out += Word(" AND ", " And ");
        Write(e.args[2], 6, out);
        return;
      case ExprKind::kSubquery:
        // Its own parentheses are part of it; `parenthesized` is a further pair.
        *out += "(" + FormatSelect(e.subquery[0], style_) + ")";
        return;
      case ExprKind::kAny:
      case ExprKind::kAll:
        Write(e.args[0], 5, out);
        *out += OperatorText(e.binary_op, style_);
        *out += e.kind == ExprKind::kAll ? Word("ALL (", "All (") : Word("ANY (", "Any (");
        *out += FormatSelect(e.subquery[0], style_) + ")";
        return;
      case ExprKind::kExists:
        *out += Word("EXISTS (", "Exists (") + FormatSelect(e.subquery[0], style_) + ")";
        return;
    }
  }

  ExprStyle style_;
};

std::string NameList(const std::vector<std::string>& names) {
  std::string out = "(";
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += ", ";
    out += FormatName(names[i]);
  }
  return out + ")";
}

const char* ActionText(ReferentialAction a) {
  switch (a) {
    case ReferentialAction::kCascade:
      return "CASCADE";
    case ReferentialAction::kSetNull:
      return "SET NULL";
    case ReferentialAction::kNoAction:
      return "NO ACTION";
  }
  return "NO ACTION";
}

std::string FormatConstraint(const ConstraintDef& c) {
  std::string out;
  if (!c.name.empty()) out += "CONSTRAINT " + FormatName(c.name) + " ";
  switch (c.kind) {
    case ConstraintKind::kPrimaryKey:
      out += "PRIMARY KEY " + NameList(c.columns);
      break;
    case ConstraintKind::kUnique:
      out += "UNIQUE " + NameList(c.columns);
      break;
    case ConstraintKind::kForeignKey:
      out += "FOREIGN KEY " + NameList(c.columns) + " REFERENCES " + FormatName(c.ref_table);
      if (!c.ref_columns.empty()) out += " " + NameList(c.ref_columns);
      if (c.on_update != ReferentialAction::kNoAction) {
        out += std::string(" ON UPDATE ") + ActionText(c.on_update);
      }
      if (c.on_delete != ReferentialAction::kNoAction) {
        out += std::string(" ON DELETE ") + ActionText(c.on_delete);
      }
      break;
  }
  return out;
}

bool IsPlainName(std::string_view name) {
  if (name.empty()) return false;
  const auto first = static_cast<unsigned char>(name[0]);
  if (!((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z') || first == '_')) {
    return false;
  }
  for (char ch : name) {
    const auto c = static_cast<unsigned char>(ch);
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) {
      return false;
    }
  }
  return !IsReservedWord(name);
}

}  // namespace

std::string FormatName(std::string_view name) {
  if (IsPlainName(name)) return std::string(name);
  // Brackets cannot hold '[' or ']'; back quotes can, but cannot hold '`'.
  // (A name with both cannot be written; Access's name rules forbid all three.)
  if (name.find_first_of("[]") != std::string_view::npos &&
      name.find('`') == std::string_view::npos) {
    return "`" + std::string(name) + "`";
  }
  return "[" + std::string(name) + "]";
}

std::string FormatExpression(const Expr& expr, ExprStyle style) {
  std::string out;
  ExprWriter(style).Write(expr, 0, &out);
  return out;
}

std::string FormatType(const TypeSpec& t) {
  switch (t.type) {
    case DataType::kBoolean:
      return "BIT";
    case DataType::kByte:
      return "BYTE";
    case DataType::kShort:
      return "SHORT";
    case DataType::kLong:
      if (!t.auto_increment) return "LONG";
      if (t.seed == 1 && t.increment == 1) return "COUNTER";
      return "COUNTER(" + std::to_string(t.seed) + ", " + std::to_string(t.increment) + ")";
    case DataType::kCurrency:
      return "CURRENCY";
    case DataType::kSingle:
      return "SINGLE";
    case DataType::kDouble:
      return "DOUBLE";
    case DataType::kDateTime:
      return "DATETIME";
    case DataType::kBinary:
      return (t.fixed_length ? "BINARY(" : "VARBINARY(") + std::to_string(t.size) + ")";
    case DataType::kText:
      return (t.fixed_length ? "CHAR(" : "TEXT(") + std::to_string(t.size) + ")";
    case DataType::kOle:
      return "LONGBINARY";
    case DataType::kMemo:
      return "MEMO";
    case DataType::kGuid:
      return "GUID";
    case DataType::kDecimal:
      return "DECIMAL(" + std::to_string(t.precision) + ", " + std::to_string(t.scale) + ")";
  }
  return "LONG";
}

std::string FormatFromItem(const FromItem& item, ExprStyle style) {
  std::string out;
  if (item.parenthesized) out += "(";
  if (!item.subquery.empty()) {
    out += "(" + FormatSelect(item.subquery[0], style) + ")";
    if (!item.alias.empty()) out += " AS " + FormatName(item.alias);
  } else if (!item.is_join) {
    out += FormatName(item.table);
    if (!item.alias.empty()) out += " AS " + FormatName(item.alias);
  } else {
    out += FormatFromItem(item.operands[0], style);
    switch (item.join) {
      case JoinKind::kInner:
        out += " INNER JOIN ";
        break;
      case JoinKind::kLeft:
        out += " LEFT JOIN ";
        break;
      case JoinKind::kRight:
        out += " RIGHT JOIN ";
        break;
    }
    const FromItem& right = item.operands[1];
    if (right.is_join && !right.parenthesized) {
      out += "(" + FormatFromItem(right, style) + ")";
    } else {
      out += FormatFromItem(right, style);
    }
    out += " ON " + (item.on ? FormatExpression(*item.on, style) : std::string("True"));
  }
  if (item.parenthesized) out += ")";
  return out;
}

std::string FormatSelect(const Select& s, ExprStyle style) {
  std::string out = "SELECT";
  if (s.quantifier == SelectQuantifier::kDistinct) out += " DISTINCT";
  if (s.quantifier == SelectQuantifier::kDistinctRow) out += " DISTINCTROW";
  if (s.top) out += " TOP " + *s.top + (s.top_percent ? " PERCENT" : "");
  for (size_t i = 0; i < s.items.size(); ++i) {
    out += i == 0 ? " " : ", ";
    out += FormatExpression(s.items[i].expr, style);
    if (!s.items[i].alias.empty()) out += " AS " + FormatName(s.items[i].alias);
  }
  if (!s.into.empty()) out += " INTO " + FormatName(s.into);
  for (size_t i = 0; i < s.from.size(); ++i) {
    out += i == 0 ? " FROM " : ", ";
    out += FormatFromItem(s.from[i], style);
  }
  if (s.where) out += " WHERE " + FormatExpression(*s.where, style);
  for (size_t i = 0; i < s.group_by.size(); ++i) {
    out += i == 0 ? " GROUP BY " : ", ";
    out += FormatExpression(s.group_by[i], style);
  }
  if (s.having) out += " HAVING " + FormatExpression(*s.having, style);
  for (const UnionPart& part : s.unions) {
    out += part.all ? " UNION ALL " : " UNION ";
    out += FormatSelect(part.select, style);
  }
  for (size_t i = 0; i < s.order_by.size(); ++i) {
    out += i == 0 ? " ORDER BY " : ", ";
    out += FormatExpression(s.order_by[i].expr, style);
    if (s.order_by[i].descending) out += " DESC";
  }
  return out;
}

std::string FormatStatement(const Statement& statement) {
  struct Visitor {
    std::string operator()(const CreateTable& ct) const {
      std::string out = "CREATE TABLE " + FormatName(ct.table) + " (";
      bool first = true;
      for (const ColumnDef& c : ct.columns) {
        if (!first) out += ", ";
        first = false;
        out += FormatName(c.name) + " " + FormatType(c.type);
        if (c.type.compressed) out += " WITH COMPRESSION";
        if (c.not_null) out += " NOT NULL";
        if (c.default_value) out += " DEFAULT " + FormatExpression(*c.default_value);
      }
      for (const ConstraintDef& c : ct.constraints) {
        out += ", " + FormatConstraint(c);
      }
      return out + ")";
    }
    std::string operator()(const AlterTableAddConstraint& a) const {
      return "ALTER TABLE " + FormatName(a.table) + " ADD " + FormatConstraint(a.constraint);
    }
    std::string operator()(const AlterTableDropConstraint& a) const {
      return "ALTER TABLE " + FormatName(a.table) + " DROP CONSTRAINT " + FormatName(a.name);
    }
    std::string operator()(const CreateIndex& ci) const {
      std::string out = ci.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ";
      out += FormatName(ci.name) + " ON " + FormatName(ci.table) + " (";
      for (size_t i = 0; i < ci.columns.size(); ++i) {
        if (i > 0) out += ", ";
        out += FormatName(ci.columns[i].name);
        if (ci.columns[i].descending) out += " DESC";
      }
      out += ")";
      if (ci.primary || ci.disallow_null || ci.ignore_null) {
        out += " WITH";
        if (ci.primary) out += " PRIMARY";
        if (ci.disallow_null) out += " DISALLOW NULL";
        if (ci.ignore_null) out += " IGNORE NULL";
      }
      return out;
    }
    std::string operator()(const DropIndex& d) const {
      return "DROP INDEX " + FormatName(d.name) + " ON " + FormatName(d.table);
    }
    std::string operator()(const DropTable& d) const { return "DROP TABLE " + FormatName(d.table); }
    std::string operator()(const DropView& d) const { return "DROP VIEW " + FormatName(d.view); }
    std::string operator()(const Insert& ins) const {
      std::string out = "INSERT INTO " + FormatName(ins.table);
      if (!ins.columns.empty()) out += " " + NameList(ins.columns);
      out += " VALUES (";
      for (size_t i = 0; i < ins.values.size(); ++i) {
        if (i > 0) out += ", ";
        out += FormatExpression(ins.values[i]);
      }
      return out + ")";
    }
    std::string operator()(const CreateView& v) const {
      std::string out = "CREATE VIEW " + FormatName(v.view);
      if (!v.columns.empty()) out += " " + NameList(v.columns);
      return out + " AS " + FormatSelect(v.select);
    }
    std::string operator()(const Select& s) const { return FormatSelect(s); }
    std::string operator()(const Delete& d) const {
      std::string out = "DELETE FROM " + FormatName(d.table);
      if (d.where) out += " WHERE " + FormatExpression(*d.where);
      return out;
    }
  };
  return std::visit(Visitor{}, statement);
}

}  // namespace velquin::jet::sql
