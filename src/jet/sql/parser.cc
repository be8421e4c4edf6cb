#include "jet/sql/parser.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>
#include <utility>

#include "jet/sql/lexer.h"
#include "jet/sql/names.h"

namespace velquin::jet::sql {
namespace {

// Words that have a meaning in the grammar where a name could stand; such a
// name must be written in brackets or back quotes.
constexpr std::array<std::string_view, 53> kReservedWords = {
    "ADD",    "ALL",        "ALTER",   "AND",        "AS",     "ASC",    "BETWEEN",  "BY",
    "COLUMN", "CONSTRAINT", "CREATE",  "DEFAULT",    "DELETE", "DESC",   "DISTINCT", "DISTINCTROW",
    "DROP",   "EXISTS",     "FALSE",   "FOREIGN",    "FROM",   "FULL",   "GROUP",    "HAVING",
    "IN",     "INDEX",      "INNER",   "INSERT",     "INTO",   "IS",     "JOIN",     "KEY",
    "LEFT",   "LIKE",       "MOD",     "NOT",        "NULL",   "ON",     "OR",       "ORDER",
    "OUTER",  "PERCENT",    "PRIMARY", "REFERENCES", "RIGHT",  "SELECT", "SET",      "TABLE",
    "TOP",    "TRUE",       "UNION",   "UNIQUE",     "VALUES",
};
// Also reserved, kept apart to keep the table above readable.
constexpr std::array<std::string_view, 5> kMoreReservedWords = {"UPDATE", "VIEW", "WHERE", "WITH",
                                                                "XOR"};

// Internal: a parse failure unwinds the recursive descent; ParseStatement
// catches it and turns it into a Status. It never leaves this file.
struct ParseFailure {
  Status status;
};

struct TypeName {
  std::string_view word;   // first word
  std::string_view word2;  // optional second word ("" = none)
  DataType type;
  enum Size : uint8_t { kNone, kText, kBinary, kDecimal, kCounter } size;
  bool fixed;
};

// Jet 4's type names and their documented synonyms. TEXT without a size is a
// MEMO (as through the Jet OLE DB provider); TEXT(n) is a text field.
constexpr TypeName kTypeNames[] = {
    {"BIT", "VARYING", DataType::kBinary, TypeName::kBinary, false},
    {"BIT", "", DataType::kBoolean, TypeName::kNone, false},
    {"BOOLEAN", "", DataType::kBoolean, TypeName::kNone, false},
    {"LOGICAL", "", DataType::kBoolean, TypeName::kNone, false},
    {"LOGICAL1", "", DataType::kBoolean, TypeName::kNone, false},
    {"YESNO", "", DataType::kBoolean, TypeName::kNone, false},
    {"TINYINT", "", DataType::kByte, TypeName::kNone, false},
    {"INTEGER1", "", DataType::kByte, TypeName::kNone, false},
    {"BYTE", "", DataType::kByte, TypeName::kNone, false},
    {"SMALLINT", "", DataType::kShort, TypeName::kNone, false},
    {"SHORT", "", DataType::kShort, TypeName::kNone, false},
    {"INTEGER2", "", DataType::kShort, TypeName::kNone, false},
    {"INTEGER", "", DataType::kLong, TypeName::kNone, false},
    {"LONG", "", DataType::kLong, TypeName::kNone, false},
    {"INT", "", DataType::kLong, TypeName::kNone, false},
    {"INTEGER4", "", DataType::kLong, TypeName::kNone, false},
    {"COUNTER", "", DataType::kLong, TypeName::kCounter, false},
    {"AUTOINCREMENT", "", DataType::kLong, TypeName::kCounter, false},
    {"MONEY", "", DataType::kCurrency, TypeName::kNone, false},
    {"CURRENCY", "", DataType::kCurrency, TypeName::kNone, false},
    {"REAL", "", DataType::kSingle, TypeName::kNone, false},
    {"SINGLE", "", DataType::kSingle, TypeName::kNone, false},
    {"FLOAT4", "", DataType::kSingle, TypeName::kNone, false},
    {"IEEESINGLE", "", DataType::kSingle, TypeName::kNone, false},
    {"DOUBLE", "PRECISION", DataType::kDouble, TypeName::kNone, false},
    {"DOUBLE", "", DataType::kDouble, TypeName::kNone, false},
    {"FLOAT", "", DataType::kDouble, TypeName::kNone, false},
    {"FLOAT8", "", DataType::kDouble, TypeName::kNone, false},
    {"IEEEDOUBLE", "", DataType::kDouble, TypeName::kNone, false},
    {"NUMBER", "", DataType::kDouble, TypeName::kNone, false},
    {"DATETIME", "", DataType::kDateTime, TypeName::kNone, false},
    {"DATE", "", DataType::kDateTime, TypeName::kNone, false},
    {"TIME", "", DataType::kDateTime, TypeName::kNone, false},
    {"TIMESTAMP", "", DataType::kDateTime, TypeName::kNone, false},
    {"UNIQUEIDENTIFIER", "", DataType::kGuid, TypeName::kNone, false},
    {"GUID", "", DataType::kGuid, TypeName::kNone, false},
    {"DECIMAL", "", DataType::kDecimal, TypeName::kDecimal, false},
    {"NUMERIC", "", DataType::kDecimal, TypeName::kDecimal, false},
    {"DEC", "", DataType::kDecimal, TypeName::kDecimal, false},
    {"IMAGE", "", DataType::kOle, TypeName::kNone, false},
    {"LONGBINARY", "", DataType::kOle, TypeName::kNone, false},
    {"GENERAL", "", DataType::kOle, TypeName::kNone, false},
    {"OLEOBJECT", "", DataType::kOle, TypeName::kNone, false},
    {"LONGTEXT", "", DataType::kMemo, TypeName::kNone, false},
    {"LONGCHAR", "", DataType::kMemo, TypeName::kNone, false},
    {"MEMO", "", DataType::kMemo, TypeName::kNone, false},
    {"NOTE", "", DataType::kMemo, TypeName::kNone, false},
    {"NTEXT", "", DataType::kMemo, TypeName::kNone, false},
    {"BINARY", "VARYING", DataType::kBinary, TypeName::kBinary, false},
    {"BINARY", "", DataType::kBinary, TypeName::kBinary, true},
    {"VARBINARY", "", DataType::kBinary, TypeName::kBinary, false},
    {"TEXT", "", DataType::kText, TypeName::kText, false},  // TEXT(n); bare TEXT is MEMO
    {"ALPHANUMERIC", "", DataType::kText, TypeName::kText, false},
    {"CHARACTER", "VARYING", DataType::kText, TypeName::kText, false},
    {"CHARACTER", "", DataType::kText, TypeName::kText, true},
    {"CHAR", "VARYING", DataType::kText, TypeName::kText, false},
    {"CHAR", "", DataType::kText, TypeName::kText, true},
    {"STRING", "", DataType::kText, TypeName::kText, false},
    {"VARCHAR", "", DataType::kText, TypeName::kText, false},
    {"NCHAR", "", DataType::kText, TypeName::kText, true},
    {"NVARCHAR", "", DataType::kText, TypeName::kText, false},
};

std::string Shorten(std::string_view s) {
  std::string out;
  for (char c : s.substr(0, 40)) out.push_back(static_cast<unsigned char>(c) < 32 ? ' ' : c);
  if (s.size() > 40) out += "...";
  return out;
}

bool ParseInt64(std::string_view text, int64_t* out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && ptr == text.data() + text.size();
}

class Parser {
 public:
  explicit Parser(std::string_view sql) : tokens_(Tokenize(sql)) {}

  Statement ParseStatementOrThrow() {
    const Token& t = Peek();
    Statement result;
    if (t.IsWord("CREATE")) {
      Advance();
      if (Peek().IsWord("TABLE")) {
        context_ = "CREATE TABLE statement";
        Advance();
        result = ParseCreateTable();
      } else if (Peek().IsWord("VIEW")) {
        context_ = "CREATE VIEW statement";
        Advance();
        result = ParseCreateView();
      } else if (Peek().IsWord("INDEX") || Peek().IsWord("UNIQUE")) {
        context_ = "CREATE INDEX statement";
        result = ParseCreateIndex();
      } else {
        context_ = "CREATE statement";
        Fail(Peek(), "Only CREATE TABLE, CREATE INDEX and CREATE VIEW are supported.");
      }
    } else if (t.IsWord("ALTER")) {
      context_ = "ALTER TABLE statement";
      Advance();
      ExpectWord("TABLE");
      std::string table = ParseName();
      if (AcceptWord("DROP")) {
        if (!Peek().IsWord("CONSTRAINT")) {
          Fail(Peek(), "Only ADD PRIMARY KEY, ADD CONSTRAINT and DROP CONSTRAINT are supported.");
        }
        Advance();
        result = AlterTableDropConstraint{std::move(table), ParseName()};
      } else {
        result = ParseAlterTable(std::move(table));
      }
    } else if (t.IsWord("DROP")) {
      Advance();
      if (Peek().IsWord("TABLE")) {
        context_ = "DROP TABLE statement";
        Advance();
        result = DropTable{ParseName()};
      } else if (Peek().IsWord("VIEW")) {
        context_ = "DROP VIEW statement";
        Advance();
        result = DropView{ParseName()};
      } else if (Peek().IsWord("INDEX")) {
        context_ = "DROP INDEX statement";
        Advance();
        DropIndex d;
        d.name = ParseName();
        ExpectWord("ON");
        d.table = ParseName();
        result = std::move(d);
      } else {
        context_ = "DROP statement";
        Fail(Peek(), "Only DROP TABLE, DROP INDEX and DROP VIEW are supported.");
      }
    } else if (t.IsWord("INSERT")) {
      context_ = "INSERT INTO statement";
      Advance();
      result = ParseInsert();
    } else if (t.IsWord("SELECT")) {
      context_ = "SELECT statement";
      result = ParseSelect();
    } else if (t.IsWord("DELETE")) {
      context_ = "DELETE statement";
      Advance();
      result = ParseDelete();
    } else {
      if (t.kind == TokenKind::kEnd) Throw("Invalid SQL statement: the statement is empty.");
      Throw("Invalid SQL statement near '" + Shorten(t.source) + "'" +
            "; expected 'ALTER', 'CREATE', 'DELETE', 'DROP', 'INSERT' or 'SELECT'.");
    }
    if (AcceptSymbol(";")) {
      if (Peek().kind != TokenKind::kEnd) Throw("Characters found after end of SQL statement.");
    } else if (Peek().kind != TokenKind::kEnd) {
      Fail(Peek());
    }
    return result;
  }

  Expr ParseWholeExpression() {
    context_ = "query expression";
    Expr e = ParseOr();
    if (Peek().kind != TokenKind::kEnd) Fail(Peek());
    return e;
  }

 private:
  // ---- token helpers ----------------------------------------------------
  const Token& Peek(size_t ahead = 0) const {
    const size_t i = std::min(pos_ + ahead, tokens_.size() - 1);
    return tokens_[i];
  }
  const Token& Advance() {
    const Token& t = tokens_[pos_];
    if (pos_ + 1 < tokens_.size()) ++pos_;
    return t;
  }
  bool AcceptWord(std::string_view w) {
    if (Peek().IsWord(w)) {
      Advance();
      return true;
    }
    return false;
  }
  bool AcceptSymbol(std::string_view s) {
    if (Peek().IsSymbol(s)) {
      Advance();
      return true;
    }
    return false;
  }
  void ExpectWord(std::string_view w) {
    if (!AcceptWord(w)) Fail(Peek());
  }
  void ExpectSymbol(std::string_view s) {
    if (!AcceptSymbol(s)) Fail(Peek());
  }

  [[noreturn]] void Throw(std::string message) {
    throw ParseFailure{Status::InvalidArgument(std::move(message))};
  }
  [[noreturn]] void Fail(const Token& t, std::string_view detail = "") {
    std::string msg = "Syntax error in " + context_;
    if (t.kind == TokenKind::kEnd) {
      msg += " near the end of the statement.";
    } else {
      msg += " near '" + Shorten(t.source) + "'.";
    }
    if (t.kind == TokenKind::kInvalid) {
      msg += " ";
      msg += t.error;
    } else if (!detail.empty()) {
      msg += " ";
      msg += detail;
    }
    Throw(std::move(msg));
  }
  void CheckName(const std::string& name) {
    Status st = ValidateObjectName(name);
    if (!st.ok()) throw ParseFailure{st};
  }

  bool AtName() const {
    const Token& t = Peek();
    return t.kind == TokenKind::kQuotedName ||
           (t.kind == TokenKind::kWord && !IsReservedWord(t.value));
  }
  std::string ParseName() {
    const Token& t = Peek();
    if (!AtName()) {
      Fail(t, t.kind == TokenKind::kWord
                  ? "'" + Shorten(t.value) +
                        "' is a reserved word; write it in brackets to use it as a name."
                  : "");
    }
    Advance();
    return std::string(t.value);
  }
  // ( name, name, ... )
  std::vector<std::string> ParseNameList() {
    ExpectSymbol("(");
    std::vector<std::string> names;
    do {
      names.push_back(ParseName());
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    return names;
  }

  // ---- CREATE TABLE ------------------------------------------------------
  CreateTable ParseCreateTable() {
    CreateTable ct;
    ct.table = ParseName();
    CheckName(ct.table);
    ExpectSymbol("(");
    do {
      const Token& t = Peek();
      if (t.IsWord("CONSTRAINT") || t.IsWord("PRIMARY") || t.IsWord("UNIQUE") ||
          t.IsWord("FOREIGN")) {
        ct.constraints.push_back(ParseTableConstraint());
      } else {
        ParseColumnDef(&ct);
      }
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    CheckCreateTable(ct);
    return ct;
  }

  void ParseColumnDef(CreateTable* ct) {
    ColumnDef col;
    col.name = ParseName();
    CheckName(col.name);
    col.type = ParseType(col.name);
    bool saw_null = false, saw_default = false, saw_compression = false;
    while (true) {
      const Token& t = Peek();
      if (t.IsWord("NOT")) {
        if (saw_null) Fail(t);
        Advance();
        ExpectWord("NULL");
        col.not_null = true;
        saw_null = true;
      } else if (t.IsWord("NULL")) {
        if (saw_null) Fail(t);
        Advance();
        saw_null = true;
      } else if (t.IsWord("DEFAULT")) {
        if (saw_default) Fail(t);
        Advance();
        col.default_value = ParseDefaultValue();
        saw_default = true;
      } else if (t.IsWord("WITH")) {
        if (saw_compression) Fail(t);
        Advance();
        if (!AcceptWord("COMPRESSION") && !AcceptWord("COMP")) Fail(Peek());
        if (col.type.type != DataType::kText && col.type.type != DataType::kMemo) {
          Fail(t, "Only TEXT and MEMO fields can be compressed.");
        }
        col.type.compressed = true;
        saw_compression = true;
      } else if (t.IsWord("PRIMARY") || t.IsWord("UNIQUE") || t.IsWord("REFERENCES") ||
                 t.IsWord("CONSTRAINT")) {
        std::string name;
        if (AcceptWord("CONSTRAINT")) {
          name = ParseName();
          CheckName(name);
          if (AcceptWord("NOT")) {  // CONSTRAINT name NOT NULL
            ExpectWord("NULL");
            if (saw_null) Fail(Peek());
            col.not_null = true;
            saw_null = true;
            continue;
          }
        }
        ConstraintDef c;
        c.name = std::move(name);
        c.columns = {col.name};
        if (AcceptWord("PRIMARY")) {
          ExpectWord("KEY");
          c.kind = ConstraintKind::kPrimaryKey;
        } else if (AcceptWord("UNIQUE")) {
          c.kind = ConstraintKind::kUnique;
        } else if (AcceptWord("REFERENCES")) {
          c.kind = ConstraintKind::kForeignKey;
          ParseReferences(&c);
        } else {
          Fail(Peek());
        }
        ct->constraints.push_back(std::move(c));
      } else {
        break;
      }
    }
    ct->columns.push_back(std::move(col));
  }

  TypeSpec ParseType(const std::string& column) {
    const Token& t = Peek();
    if (t.kind != TokenKind::kWord) {
      Fail(t, "Field '" + Shorten(column) + "' needs a data type.");
    }
    const TypeName* found = nullptr;
    for (const TypeName& tn : kTypeNames) {
      if (!t.IsWord(tn.word)) continue;
      if (!tn.word2.empty() && !Peek(1).IsWord(tn.word2)) continue;
      found = &tn;
      break;
    }
    // NATIONAL CHAR[ACTER] [VARYING]: Jet's text is Unicode anyway.
    if (!found && t.IsWord("NATIONAL") && (Peek(1).IsWord("CHAR") || Peek(1).IsWord("CHARACTER"))) {
      Advance();
      const bool varying = Peek(1).IsWord("VARYING");
      for (const TypeName& tn : kTypeNames) {
        if (Peek().IsWord(tn.word) && tn.word2 == (varying ? "VARYING" : "")) {
          found = &tn;
          break;
        }
      }
    }
    if (!found) {
      Fail(t, "'" + Shorten(t.value) + "' is not a data type.");
    }
    Advance();
    if (!found->word2.empty()) Advance();
    TypeSpec spec;
    spec.type = found->type;
    spec.fixed_length = found->fixed;
    switch (found->size) {
      case TypeName::kNone:
        break;
      case TypeName::kText:
      case TypeName::kBinary: {
        const bool text = found->size == TypeName::kText;
        if (Peek().IsSymbol("(")) {
          Advance();
          spec.size = ParseSize(column);
          ExpectSymbol(")");
          if (spec.size < 1) {
            Throw("Size of field '" + Shorten(column) + "' must be at least 1.");
          }
          if (spec.size > kMaxTextSize) {
            Throw("Size of field '" + Shorten(column) + "' is too large; a " +
                  (text ? "TEXT field holds at most 255 characters."
                        : "BINARY field holds at most 255 bytes."));
          }
        } else if (text && t.IsWord("TEXT")) {
          spec.type = DataType::kMemo;  // TEXT without a size
        } else {
          spec.size = kMaxTextSize;
        }
        break;
      }
      case TypeName::kDecimal: {
        spec.precision = 18;
        spec.scale = 0;
        if (AcceptSymbol("(")) {
          spec.precision = ParseSize(column);
          if (AcceptSymbol(",")) spec.scale = ParseSize(column);
          ExpectSymbol(")");
          if (spec.precision < 1 || spec.precision > kMaxDecimalPrecision) {
            Throw("Field '" + Shorten(column) + "': the precision of a DECIMAL must be 1 to 28.");
          }
          if (spec.scale > spec.precision) {
            Throw("Field '" + Shorten(column) +
                  "': the scale of a DECIMAL must be 0 to its precision.");
          }
        }
        break;
      }
      case TypeName::kCounter: {
        spec.auto_increment = true;
        if (AcceptSymbol("(")) {
          spec.seed = ParseSignedInt();
          ExpectSymbol(",");
          spec.increment = ParseSignedInt();
          ExpectSymbol(")");
          if (spec.increment == 0) {
            Throw("Field '" + Shorten(column) + "': the AutoNumber increment cannot be 0.");
          }
        }
        break;
      }
    }
    return spec;
  }

  int ParseSize(const std::string& column) {
    const Token& t = Peek();
    int64_t v = 0;
    if (t.kind != TokenKind::kNumber || !ParseInt64(t.value, &v)) Fail(t);
    if (v > 1000000) {
      Throw("Size of field '" + Shorten(column) + "' is too large.");
    }
    Advance();
    return static_cast<int>(v);
  }

  int64_t ParseSignedInt() {
    const bool negative = AcceptSymbol("-");
    const Token& t = Peek();
    int64_t v = 0;
    if (t.kind != TokenKind::kNumber || !ParseInt64(t.value, &v) || v > 2147483647) Fail(t);
    Advance();
    return negative ? -v : v;
  }

  // DEFAULT: a constant (a literal, a signed number, Yes/No/On/Off, or a
  // function call such as Now() over constants). A default cannot refer to a
  // field.
  Expr ParseDefaultValue() {
    const Token& start = Peek();
    // Access's Yes/No constants (and On/Off) are True and False.
    for (const char* word : {"YES", "NO", "ON", "OFF"}) {
      if (!start.IsWord(word)) continue;
      Expr e;
      e.kind = ExprKind::kBoolean;
      e.boolean = start.IsWord("YES") || start.IsWord("ON");
      Advance();
      return e;
    }
    Expr e = ParseConcat();
    if (MentionsColumn(e)) Fail(start, "A default value cannot refer to a field.");
    return e;
  }
  static bool MentionsColumn(const Expr& e) {
    if (e.kind == ExprKind::kColumn || e.kind == ExprKind::kStar) return true;
    return std::any_of(e.args.begin(), e.args.end(), MentionsColumn);
  }

  ConstraintDef ParseTableConstraint() {
    ConstraintDef c;
    if (AcceptWord("CONSTRAINT")) {
      c.name = ParseName();
      CheckName(c.name);
    }
    if (AcceptWord("PRIMARY")) {
      ExpectWord("KEY");
      c.kind = ConstraintKind::kPrimaryKey;
      c.columns = ParseNameList();
    } else if (AcceptWord("UNIQUE")) {
      c.kind = ConstraintKind::kUnique;
      c.columns = ParseNameList();
    } else if (AcceptWord("FOREIGN")) {
      ExpectWord("KEY");
      c.kind = ConstraintKind::kForeignKey;
      c.columns = ParseNameList();
      ExpectWord("REFERENCES");
      ParseReferences(&c);
    } else {
      Fail(Peek());
    }
    CheckConstraintColumns(c);
    return c;
  }

  // After REFERENCES: table [(cols)] [ON UPDATE|DELETE action]...
  void ParseReferences(ConstraintDef* c) {
    c->ref_table = ParseName();
    if (Peek().IsSymbol("(")) c->ref_columns = ParseNameList();
    bool saw_update = false, saw_delete = false;
    while (Peek().IsWord("ON")) {
      Advance();
      ReferentialAction* target = nullptr;
      const Token& which = Peek();
      if (AcceptWord("UPDATE")) {
        if (saw_update) Fail(which);
        saw_update = true;
        target = &c->on_update;
      } else if (AcceptWord("DELETE")) {
        if (saw_delete) Fail(which);
        saw_delete = true;
        target = &c->on_delete;
      } else {
        Fail(which);
      }
      if (AcceptWord("CASCADE")) {
        *target = ReferentialAction::kCascade;
      } else if (AcceptWord("SET")) {
        ExpectWord("NULL");
        *target = ReferentialAction::kSetNull;
      } else if (AcceptWord("NO")) {
        ExpectWord("ACTION");
        *target = ReferentialAction::kNoAction;
      } else {
        Fail(Peek());
      }
    }
    if (!c->ref_columns.empty() && c->ref_columns.size() != c->columns.size()) {
      Throw("The relationship lists " + std::to_string(c->columns.size()) +
            " field(s) but references " + std::to_string(c->ref_columns.size()) + ".");
    }
  }

  void CheckConstraintColumns(const ConstraintDef& c) { CheckIndexColumnList(c.columns); }
  void CheckIndexColumnList(const std::vector<std::string>& cols) {
    if (cols.size() > kMaxColumnsPerIndex) {
      Throw("An index can have at most 10 fields; this one lists " + std::to_string(cols.size()) +
            ".");
    }
    for (size_t i = 0; i < cols.size(); ++i) {
      for (size_t j = 0; j < i; ++j) {
        if (SameObjectName(cols[i], cols[j])) {
          Throw("Field '" + Shorten(cols[i]) + "' is listed twice in the index.");
        }
      }
    }
  }

  void CheckCreateTable(const CreateTable& ct) {
    if (ct.columns.empty()) Throw("Table '" + Shorten(ct.table) + "' needs at least one field.");
    if (ct.columns.size() > kMaxColumnsPerTable) Throw("Too many fields defined.");
    for (size_t i = 0; i < ct.columns.size(); ++i) {
      for (size_t j = 0; j < i; ++j) {
        if (SameObjectName(ct.columns[i].name, ct.columns[j].name)) {
          Throw("Field '" + Shorten(ct.columns[i].name) + "' already exists in table '" +
                Shorten(ct.table) + "'.");
        }
      }
    }
    bool has_primary = false;
    for (const ConstraintDef& c : ct.constraints) {
      if (c.kind == ConstraintKind::kPrimaryKey) {
        if (has_primary) Throw("Primary key already exists.");
        has_primary = true;
      }
      for (const std::string& name : c.columns) {
        const bool known =
            std::any_of(ct.columns.begin(), ct.columns.end(),
                        [&](const ColumnDef& col) { return SameObjectName(col.name, name); });
        if (!known) {
          Throw("Field '" + Shorten(name) + "' named in a constraint is not a field of table '" +
                Shorten(ct.table) + "'.");
        }
      }
    }
    for (size_t i = 0; i < ct.constraints.size(); ++i) {
      if (ct.constraints[i].name.empty()) continue;
      for (size_t j = 0; j < i; ++j) {
        if (SameObjectName(ct.constraints[i].name, ct.constraints[j].name)) {
          Throw("Constraint '" + Shorten(ct.constraints[i].name) + "' is defined twice.");
        }
      }
    }
  }

  // ---- ALTER TABLE -------------------------------------------------------
  AlterTableAddConstraint ParseAlterTable(std::string table) {
    AlterTableAddConstraint a;
    a.table = std::move(table);
    if (!Peek().IsWord("ADD")) {
      Fail(Peek(), "Only ADD PRIMARY KEY, ADD CONSTRAINT and DROP CONSTRAINT are supported.");
    }
    Advance();
    const Token& t = Peek();
    if (!t.IsWord("CONSTRAINT") && !t.IsWord("PRIMARY") && !t.IsWord("UNIQUE") &&
        !t.IsWord("FOREIGN")) {
      Fail(t, "Only ADD PRIMARY KEY, ADD CONSTRAINT and DROP CONSTRAINT are supported.");
    }
    a.constraint = ParseTableConstraint();
    return a;
  }

  // ---- CREATE INDEX ------------------------------------------------------
  CreateIndex ParseCreateIndex() {
    CreateIndex ci;
    ci.unique = AcceptWord("UNIQUE");
    ExpectWord("INDEX");
    ci.name = ParseName();
    CheckName(ci.name);
    ExpectWord("ON");
    ci.table = ParseName();
    ExpectSymbol("(");
    std::vector<std::string> names;
    do {
      IndexColumn c;
      c.name = ParseName();
      if (AcceptWord("DESC")) {
        c.descending = true;
      } else {
        AcceptWord("ASC");
      }
      names.push_back(c.name);
      ci.columns.push_back(std::move(c));
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    CheckIndexColumnList(names);
    if (AcceptWord("WITH")) {
      bool any = false;
      while (true) {
        const Token& t = Peek();
        if (t.IsWord("PRIMARY")) {
          if (ci.primary) Fail(t);
          Advance();
          ci.primary = true;
        } else if (t.IsWord("DISALLOW")) {
          if (ci.disallow_null) Fail(t);
          Advance();
          ExpectWord("NULL");
          ci.disallow_null = true;
        } else if (t.IsWord("IGNORE")) {
          if (ci.ignore_null) Fail(t);
          Advance();
          ExpectWord("NULL");
          ci.ignore_null = true;
        } else {
          break;
        }
        any = true;
      }
      if (!any) Fail(Peek());
    }
    return ci;
  }

  // ---- INSERT ------------------------------------------------------------
  Insert ParseInsert() {
    Insert ins;
    ExpectWord("INTO");
    ins.table = ParseName();
    if (Peek().IsSymbol("(")) {
      ins.columns = ParseNameList();
      for (size_t i = 0; i < ins.columns.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
          if (SameObjectName(ins.columns[i], ins.columns[j])) {
            Throw("Duplicate output destination '" + Shorten(ins.columns[i]) + "'.");
          }
        }
      }
    }
    if (!Peek().IsWord("VALUES")) {
      Fail(Peek(), Peek().IsWord("SELECT") ? "INSERT INTO ... SELECT is not supported." : "");
    }
    Advance();
    ExpectSymbol("(");
    ins.values.reserve(ins.columns.empty() ? 16 : ins.columns.size());
    do {
      ins.values.push_back(ParseOr());
    } while (AcceptSymbol(","));
    ExpectSymbol(")");
    if (!ins.columns.empty() && ins.columns.size() != ins.values.size()) {
      Throw("Number of query values and destination fields are not the same.");
    }
    return ins;
  }

  // ---- DELETE ------------------------------------------------------------
  // After DELETE: [* | t.*] FROM t [WHERE e]. The star is Access's habit and
  // changes nothing; a t.* must name the table the rows come from.
  Delete ParseDelete() {
    Delete d;
    std::string qualifier;
    if (!AcceptSymbol("*") && !Peek().IsWord("FROM")) {
      qualifier = ParseName();
      ExpectSymbol(".");
      ExpectSymbol("*");
    }
    ExpectWord("FROM");
    d.table = ParseName();
    if (!qualifier.empty() && !SameObjectName(qualifier, d.table)) {
      Throw("Specify the table containing the records you want to delete.");
    }
    if (AcceptWord("WHERE")) d.where = ParseOr();
    return d;
  }

  // ---- CREATE VIEW -------------------------------------------------------
  CreateView ParseCreateView() {
    CreateView v;
    v.view = ParseName();
    CheckName(v.view);
    if (Peek().IsSymbol("(")) {
      v.columns = ParseNameList();
      for (const std::string& c : v.columns) CheckName(c);
    }
    ExpectWord("AS");
    if (!Peek().IsWord("SELECT")) Fail(Peek(), "A view is defined by a SELECT statement.");
    v.select = ParseSelect();
    if (!v.select.into.empty()) Throw("A view cannot be a SELECT ... INTO statement.");
    if (!v.columns.empty()) {
      const bool has_star =
          std::any_of(v.select.items.begin(), v.select.items.end(),
                      [](const SelectItem& i) { return i.expr.kind == ExprKind::kStar; });
      if (has_star || v.columns.size() != v.select.items.size()) {
        Throw("The view lists " + std::to_string(v.columns.size()) +
              " field name(s) but its SELECT does not return as many fields.");
      }
    }
    return v;
  }

  // ---- SELECT ------------------------------------------------------------
  // SELECT [UNION [ALL] SELECT ...] [ORDER BY ...]
  Select ParseSelect() {
    Select s = ParseSelectCore();
    while (Peek().IsWord("UNION")) {
      Advance();
      UnionPart part;
      part.all = AcceptWord("ALL");
      if (!Peek().IsWord("SELECT")) Fail(Peek(), "UNION is followed by a SELECT.");
      part.select = ParseSelectCore();
      if (!part.select.into.empty()) Throw("A SELECT of a UNION cannot have an INTO clause.");
      s.unions.push_back(std::move(part));
    }
    if (AcceptWord("ORDER")) {
      ExpectWord("BY");
      do {
        OrderItem o;
        o.expr = ParseOr();
        if (AcceptWord("DESC")) {
          o.descending = true;
        } else {
          AcceptWord("ASC");
        }
        s.order_by.push_back(std::move(o));
      } while (AcceptSymbol(","));
    }
    if (Peek().IsWord("UNION")) {
      Fail(Peek(), "ORDER BY comes after the last SELECT of a UNION query.");
    }
    if (!s.unions.empty() && !s.into.empty()) {
      Throw("A SELECT of a UNION cannot have an INTO clause.");
    }
    return s;
  }

  // A SELECT inside another statement (the caller reads the parentheses).
  Select ParseSubquery() {
    EnterNesting();
    Select s = ParseSelect();
    --depth_;
    if (!s.into.empty()) Throw("A subquery cannot be a SELECT ... INTO statement.");
    return s;
  }

  // One SELECT up to its HAVING clause.
  Select ParseSelectCore() {
    Select s;
    ExpectWord("SELECT");
    if (AcceptWord("DISTINCT")) {
      s.quantifier = SelectQuantifier::kDistinct;
    } else if (AcceptWord("DISTINCTROW")) {
      s.quantifier = SelectQuantifier::kDistinctRow;
    } else {
      AcceptWord("ALL");
    }
    if (AcceptWord("TOP")) {
      const Token& n = Peek();
      int64_t v = 0;
      if (n.kind != TokenKind::kNumber || !ParseInt64(n.value, &v) || v < 1) {
        Fail(n, "TOP needs a whole number greater than 0.");
      }
      s.top = std::string(n.value);
      Advance();
      s.top_percent = AcceptWord("PERCENT");
    }
    do {
      s.items.push_back(ParseSelectItem());
    } while (AcceptSymbol(","));
    if (AcceptWord("INTO")) {
      s.into = ParseName();
      CheckName(s.into);
    }
    if (AcceptWord("FROM")) {
      do {
        s.from.push_back(ParseFromItem());
      } while (AcceptSymbol(","));
    } else if (!s.into.empty()) {
      Fail(Peek(), "SELECT ... INTO needs a FROM clause.");
    }
    if (AcceptWord("WHERE")) s.where = ParseOr();
    if (AcceptWord("GROUP")) {
      ExpectWord("BY");
      do {
        s.group_by.push_back(ParseOr());
      } while (AcceptSymbol(","));
    }
    if (AcceptWord("HAVING")) s.having = ParseOr();
    return s;
  }

  SelectItem ParseSelectItem() {
    SelectItem item;
    if (AcceptSymbol("*")) {
      item.expr.kind = ExprKind::kStar;
      return item;
    }
    item.expr = ParseOr();
    if (AcceptWord("AS")) {
      item.alias = ParseName();
      CheckName(item.alias);
    } else if (AtName()) {
      item.alias = ParseName();
      CheckName(item.alias);
    }
    if (!item.alias.empty() && item.expr.kind == ExprKind::kStar) {
      Fail(Peek(), "'*' cannot have an alias.");
    }
    return item;
  }

  FromItem ParseFromItem() {
    FromItem left = ParseFromPrimary();
    while (true) {
      const Token& t = Peek();
      JoinKind kind;
      if (t.IsWord("INNER")) {
        kind = JoinKind::kInner;
      } else if (t.IsWord("LEFT")) {
        kind = JoinKind::kLeft;
      } else if (t.IsWord("RIGHT")) {
        kind = JoinKind::kRight;
      } else if (t.IsWord("JOIN")) {
        Fail(t, "Write INNER JOIN, LEFT JOIN or RIGHT JOIN.");
      } else if (t.IsWord("FULL") || t.IsWord("CROSS")) {
        Fail(t, "Only INNER, LEFT and RIGHT joins are supported.");
      } else {
        break;
      }
      Advance();
      if (kind != JoinKind::kInner) AcceptWord("OUTER");
      ExpectWord("JOIN");
      FromItem join;
      join.is_join = true;
      join.join = kind;
      join.operands.push_back(std::move(left));
      join.operands.push_back(ParseFromPrimary());
      if (!Peek().IsWord("ON")) Fail(Peek(), "A join needs an ON condition.");
      Advance();
      join.on = ParseOr();
      left = std::move(join);
    }
    return left;
  }

  FromItem ParseFromPrimary() {
    if (Peek().IsSymbol("(")) {
      Advance();
      if (Peek().IsWord("SELECT")) {
        FromItem derived;
        derived.subquery.push_back(ParseSubquery());
        ExpectSymbol(")");
        if (AcceptWord("AS") || AtName()) {
          derived.alias = ParseName();
          CheckName(derived.alias);
        }
        return derived;
      }
      FromItem inner = ParseFromItem();
      ExpectSymbol(")");
      inner.parenthesized = true;
      return inner;
    }
    FromItem item;
    item.table = ParseName();
    if (Peek().IsSymbol(".")) Fail(Peek(), "Tables of other databases are not supported.");
    if (AcceptWord("AS")) {
      item.alias = ParseName();
      CheckName(item.alias);
    } else if (AtName()) {
      item.alias = ParseName();
      CheckName(item.alias);
    }
    return item;
  }

  // ---- expressions -------------------------------------------------------
  static Expr MakeBinary(BinaryOp op, Expr l, Expr r) {
    Expr e;
    e.kind = ExprKind::kBinaryOp;
    e.binary_op = op;
    e.args.push_back(std::move(l));
    e.args.push_back(std::move(r));
    return e;
  }

  void EnterNesting() {
    if (++depth_ > 200) Throw("The expression is nested too deeply.");
  }

  // A literal standing alone before "," or ")" (the common INSERT value)
  // is taken directly, without the descent through every precedence level;
  // the result is the same tree.
  bool TryLoneLiteral(Expr* out) {
    size_t i = pos_;
    const bool minus = tokens_[i].IsSymbol("-");
    if (minus) ++i;
    if (i + 1 >= tokens_.size()) return false;
    const Token& t = tokens_[i];
    const Token& next = tokens_[i + 1];
    if (!next.IsSymbol(",") && !next.IsSymbol(")")) return false;
    Expr e;
    switch (t.kind) {
      case TokenKind::kNumber:
        e.kind = ExprKind::kNumber;
        break;
      case TokenKind::kString:
        if (minus) return false;
        e.kind = ExprKind::kString;
        break;
      case TokenKind::kWord:
        if (minus || !t.IsWord("NULL")) return false;
        e.kind = ExprKind::kNull;
        break;
      default:
        return false;
    }
    if (e.kind != ExprKind::kNull) e.text = t.value;
    pos_ = i + 1;
    if (minus) {
      out->kind = ExprKind::kUnary;
      out->unary_op = UnaryOp::kNegate;
      out->args.push_back(std::move(e));
    } else {
      *out = std::move(e);
    }
    return true;
  }

  // A whole expression. As in Access, XOR binds more loosely than OR.
  Expr ParseOr() {
    {
      Expr lone;
      if (TryLoneLiteral(&lone)) return lone;
    }
    EnterNesting();
    Expr e = ParseOrTerm();
    while (AcceptWord("XOR")) e = MakeBinary(BinaryOp::kXor, std::move(e), ParseOrTerm());
    --depth_;
    return e;
  }
  Expr ParseOrTerm() {
    Expr e = ParseAnd();
    while (AcceptWord("OR")) e = MakeBinary(BinaryOp::kOr, std::move(e), ParseAnd());
    return e;
  }
  Expr ParseAnd() {
    Expr e = ParseNot();
    while (AcceptWord("AND")) e = MakeBinary(BinaryOp::kAnd, std::move(e), ParseNot());
    return e;
  }
  Expr ParseNot() {
    if (AcceptWord("NOT")) {
      EnterNesting();
      Expr e;
      e.kind = ExprKind::kUnary;
      e.unary_op = UnaryOp::kNot;
      e.args.push_back(ParseNot());
      --depth_;
      return e;
    }
    return ParseComparison();
  }
  Expr ParseComparison() {
    Expr e = ParseConcat();
    while (true) {
      const Token& t = Peek();
      BinaryOp op;
      if (t.IsSymbol("=")) {
        op = BinaryOp::kEq;
      } else if (t.IsSymbol("<>")) {
        op = BinaryOp::kNe;
      } else if (t.IsSymbol("<")) {
        op = BinaryOp::kLt;
      } else if (t.IsSymbol("<=")) {
        op = BinaryOp::kLe;
      } else if (t.IsSymbol(">")) {
        op = BinaryOp::kGt;
      } else if (t.IsSymbol(">=")) {
        op = BinaryOp::kGe;
      } else if (t.IsSymbol("!")) {
        Fail(t, "Write <> for 'not equal'.");
      } else {
        bool negated = false;
        if (t.IsWord("NOT") &&
            (Peek(1).IsWord("LIKE") || Peek(1).IsWord("IN") || Peek(1).IsWord("BETWEEN"))) {
          Advance();
          negated = true;
        }
        const Token& w = Peek();
        Expr node;
        node.negated = negated;
        if (w.IsWord("IS")) {
          Advance();
          node.kind = ExprKind::kIsNull;
          node.negated = AcceptWord("NOT");
          ExpectWord("NULL");
          node.args.push_back(std::move(e));
        } else if (w.IsWord("LIKE")) {
          Advance();
          node.kind = ExprKind::kLike;
          node.args.push_back(std::move(e));
          node.args.push_back(ParseConcat());
        } else if (w.IsWord("IN")) {
          Advance();
          node.kind = ExprKind::kIn;
          node.args.push_back(std::move(e));
          ExpectSymbol("(");
          if (Peek().IsWord("SELECT")) {
            node.subquery.push_back(ParseSubquery());
          } else {
            do {
              node.args.push_back(ParseOr());
            } while (AcceptSymbol(","));
          }
          ExpectSymbol(")");
        } else if (w.IsWord("BETWEEN")) {
          Advance();
          node.kind = ExprKind::kBetween;
          node.args.push_back(std::move(e));
          node.args.push_back(ParseConcat());
          ExpectWord("AND");
          node.args.push_back(ParseConcat());
        } else {
          break;
        }
        e = std::move(node);
        continue;
      }
      Advance();
      // x > ANY (SELECT ...), x = SOME (SELECT ...), x <> ALL (SELECT ...)
      const Token& q = Peek();
      if ((q.IsWord("ANY") || q.IsWord("SOME") || q.IsWord("ALL")) && Peek(1).IsSymbol("(") &&
          Peek(2).IsWord("SELECT")) {
        Expr node;
        node.kind = q.IsWord("ALL") ? ExprKind::kAll : ExprKind::kAny;
        node.binary_op = op;
        node.args.push_back(std::move(e));
        Advance();
        Advance();
        node.subquery.push_back(ParseSubquery());
        ExpectSymbol(")");
        e = std::move(node);
        continue;
      }
      e = MakeBinary(op, std::move(e), ParseConcat());
    }
    return e;
  }
  Expr ParseConcat() {
    Expr e = ParseAdd();
    while (AcceptSymbol("&")) e = MakeBinary(BinaryOp::kConcat, std::move(e), ParseAdd());
    return e;
  }
  Expr ParseAdd() {
    Expr e = ParseMod();
    while (true) {
      if (AcceptSymbol("+")) {
        e = MakeBinary(BinaryOp::kAdd, std::move(e), ParseMod());
      } else if (AcceptSymbol("-")) {
        e = MakeBinary(BinaryOp::kSubtract, std::move(e), ParseMod());
      } else {
        return e;
      }
    }
  }
  Expr ParseMod() {
    Expr e = ParseIntDivide();
    while (AcceptWord("MOD")) e = MakeBinary(BinaryOp::kMod, std::move(e), ParseIntDivide());
    return e;
  }
  Expr ParseIntDivide() {
    Expr e = ParseMultiply();
    while (AcceptSymbol("\\")) e = MakeBinary(BinaryOp::kIntDivide, std::move(e), ParseMultiply());
    return e;
  }
  Expr ParseMultiply() {
    Expr e = ParseUnary();
    while (true) {
      if (AcceptSymbol("*")) {
        e = MakeBinary(BinaryOp::kMultiply, std::move(e), ParseUnary());
      } else if (AcceptSymbol("/")) {
        e = MakeBinary(BinaryOp::kDivide, std::move(e), ParseUnary());
      } else {
        return e;
      }
    }
  }
  Expr ParseUnary() {
    if (Peek().IsSymbol("-") || Peek().IsSymbol("+")) {
      const bool minus = Peek().IsSymbol("-");
      Advance();
      EnterNesting();
      Expr e;
      e.kind = ExprKind::kUnary;
      e.unary_op = minus ? UnaryOp::kNegate : UnaryOp::kPlus;
      e.args.push_back(ParseUnary());
      --depth_;
      return e;
    }
    return ParsePower();
  }
  Expr ParsePower() {
    Expr e = ParsePrimary();
    while (AcceptSymbol("^")) {
      // The exponent may carry its own sign: 2^-1.
      Expr rhs;
      if (Peek().IsSymbol("-") || Peek().IsSymbol("+")) {
        const bool minus = Peek().IsSymbol("-");
        Advance();
        rhs.kind = ExprKind::kUnary;
        rhs.unary_op = minus ? UnaryOp::kNegate : UnaryOp::kPlus;
        rhs.args.push_back(ParsePrimary());
      } else {
        rhs = ParsePrimary();
      }
      e = MakeBinary(BinaryOp::kPower, std::move(e), std::move(rhs));
    }
    return e;
  }

  Expr ParsePrimary() {
    const Token& t = Peek();
    Expr e;
    switch (t.kind) {
      case TokenKind::kNumber:
        e.kind = ExprKind::kNumber;
        e.text = t.value;
        Advance();
        return e;
      case TokenKind::kString:
        e.kind = ExprKind::kString;
        e.text = t.value;
        Advance();
        return e;
      case TokenKind::kDate:
        e.kind = ExprKind::kDate;
        e.date = t.date;
        Advance();
        return e;
      case TokenKind::kBinary:
        e.kind = ExprKind::kBinary;
        e.bytes = t.Bytes();
        Advance();
        return e;
      case TokenKind::kSymbol:
        if (t.IsSymbol("(")) {
          Advance();
          if (Peek().IsWord("SELECT")) {
            e.kind = ExprKind::kSubquery;
            e.subquery.push_back(ParseSubquery());
            ExpectSymbol(")");
            return e;
          }
          EnterNesting();
          e = ParseOr();
          --depth_;
          ExpectSymbol(")");
          e.parenthesized = true;
          return e;
        }
        if (t.IsSymbol("?")) Fail(t, "Parameters are not supported.");
        Fail(t);
      case TokenKind::kWord:
        if (t.IsWord("NULL")) {
          Advance();
          e.kind = ExprKind::kNull;
          return e;
        }
        if (t.IsWord("TRUE") || t.IsWord("FALSE")) {
          e.kind = ExprKind::kBoolean;
          e.boolean = t.IsWord("TRUE");
          Advance();
          return e;
        }
        // Left, Right and Asc are also words of the grammar; followed by "("
        // they are the functions.
        if (Peek(1).IsSymbol("(") && (!IsReservedWord(t.value) || t.IsWord("LEFT") ||
                                      t.IsWord("RIGHT") || t.IsWord("ASC"))) {
          return ParseFunctionCall();
        }
        if (t.IsWord("EXISTS")) {
          Advance();
          ExpectSymbol("(");
          if (!Peek().IsWord("SELECT")) Fail(Peek(), "EXISTS is followed by a SELECT.");
          e.kind = ExprKind::kExists;
          e.subquery.push_back(ParseSubquery());
          ExpectSymbol(")");
          return e;
        }
        if (t.IsWord("SELECT")) Fail(t, "A subquery is written in parentheses.");
        if (IsReservedWord(t.value)) Fail(t);
        [[fallthrough]];
      case TokenKind::kQuotedName: {
        std::string first = ParseName();
        if (AcceptSymbol(".")) {
          if (AcceptSymbol("*")) {
            e.kind = ExprKind::kStar;
            e.qualifier = std::move(first);
            return e;
          }
          e.kind = ExprKind::kColumn;
          e.qualifier = std::move(first);
          // After "table." any word is a field name, reserved or not.
          if (Peek().kind == TokenKind::kWord) {
            e.text = std::string(Advance().value);
          } else {
            e.text = ParseName();
          }
          if (Peek().IsSymbol(".")) Fail(Peek(), "A field is named as table.field at most.");
          return e;
        }
        if (Peek().IsSymbol("!") && !Peek(1).IsSymbol("=")) {
          Fail(Peek(), "Write table.field, not table!field.");
        }
        e.kind = ExprKind::kColumn;
        e.text = std::move(first);
        return e;
      }
      case TokenKind::kInvalid:
      case TokenKind::kEnd:
        Fail(t);
    }
    Fail(t);
  }

  Expr ParseFunctionCall() {
    Expr e;
    e.kind = ExprKind::kFunction;
    e.text = Advance().value;
    ExpectSymbol("(");
    if (AcceptSymbol(")")) return e;
    if (Peek().IsSymbol("*") && Peek(1).IsSymbol(")")) {
      Advance();
      Advance();
      Expr star;
      star.kind = ExprKind::kStar;
      e.args.push_back(std::move(star));
      return e;
    }
    if (Peek().IsWord("DISTINCT")) Fail(Peek(), "Jet has no DISTINCT inside a function call.");
    EnterNesting();
    do {
      e.args.push_back(ParseOr());
    } while (AcceptSymbol(","));
    --depth_;
    ExpectSymbol(")");
    return e;
  }

  TokenList tokens_;
  size_t pos_ = 0;
  int depth_ = 0;
  std::string context_ = "statement";
};

}  // namespace

bool IsReservedWord(std::string_view word) {
  const std::string upper = UpperAscii(word);
  return std::find(kReservedWords.begin(), kReservedWords.end(), upper) != kReservedWords.end() ||
         std::find(kMoreReservedWords.begin(), kMoreReservedWords.end(), upper) !=
             kMoreReservedWords.end();
}

Result<Statement> ParseStatement(std::string_view sql) {
  try {
    Parser parser(sql);
    return parser.ParseStatementOrThrow();
  } catch (const ParseFailure& f) {
    return f.status;
  }
}

Result<Expr> ParseExpression(std::string_view text) {
  try {
    Parser parser(text);
    return parser.ParseWholeExpression();
  } catch (const ParseFailure& f) {
    return f.status;
  }
}

std::vector<std::string> SplitStatements(std::string_view script) {
  std::vector<std::string> out;
  auto flush = [&](size_t begin, size_t end) {
    std::string_view piece = script.substr(begin, end - begin);
    const size_t first = piece.find_first_not_of(" \t\r\n\f\v");
    if (first == std::string_view::npos) return;
    const size_t last = piece.find_last_not_of(" \t\r\n\f\v");
    out.emplace_back(piece.substr(first, last - first + 1));
  };
  size_t begin = 0;
  if (script.starts_with("\xEF\xBB\xBF")) begin = 3;  // a UTF-8 byte-order mark
  char close = 0;                                     // the quote we are inside, or 0
  for (size_t i = begin; i < script.size(); ++i) {
    const char c = script[i];
    if (close != 0) {
      if (c == close) close = 0;  // a doubled quote reopens at once: same effect
      continue;
    }
    switch (c) {
      case '\'':
        close = '\'';
        break;
      case '"':
        close = '"';
        break;
      case '`':
        close = '`';
        break;
      case '[':
        close = ']';
        break;
      case '#':
        close = '#';
        break;
      case ';':
        flush(begin, i);
        begin = i + 1;
        break;
      default:
        break;
    }
  }
  flush(begin, script.size());
  return out;
}

std::string_view StatementKindName(const Statement& statement) {
  struct Visitor {
    std::string_view operator()(const CreateTable&) const { return "CREATE TABLE"; }
    std::string_view operator()(const AlterTableAddConstraint&) const { return "ALTER TABLE"; }
    std::string_view operator()(const AlterTableDropConstraint&) const { return "ALTER TABLE"; }
    std::string_view operator()(const CreateIndex&) const { return "CREATE INDEX"; }
    std::string_view operator()(const DropIndex&) const { return "DROP INDEX"; }
    std::string_view operator()(const DropTable&) const { return "DROP TABLE"; }
    std::string_view operator()(const DropView&) const { return "DROP VIEW"; }
    std::string_view operator()(const Insert&) const { return "INSERT INTO"; }
    std::string_view operator()(const CreateView&) const { return "CREATE VIEW"; }
    std::string_view operator()(const Select& s) const {
      return s.into.empty() ? "SELECT" : "SELECT INTO";
    }
    std::string_view operator()(const Delete&) const { return "DELETE"; }
  };
  return std::visit(Visitor{}, statement);
}

}  // namespace velquin::jet::sql
