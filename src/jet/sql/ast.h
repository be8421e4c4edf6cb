// The syntax tree of the Jet SQL that Velquin sends to an Access database.
//
// The parser (parser.h) builds these values; the formatter (format.h) turns
// them back into text; the saved-query code (saved_query.h) turns a SELECT
// into the MSysQueries rows Jet keeps for a view. Every type is a plain value:
// copyable, comparable, no pointers into the source text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "jet/sql/datetime_text.h"

namespace velquin::jet::sql {

// Column types, numbered as Jet numbers them in a table definition.
enum class DataType : uint8_t {
  kBoolean = 1,   // BIT, YESNO, LOGICAL, ...
  kByte = 2,      // BYTE, TINYINT, INTEGER1
  kShort = 3,     // SHORT, SMALLINT, INTEGER2
  kLong = 4,      // LONG, INT, INTEGER, INTEGER4, and COUNTER/AUTOINCREMENT
  kCurrency = 5,  // CURRENCY, MONEY
  kSingle = 6,    // SINGLE, REAL, FLOAT4, IEEESINGLE
  kDouble = 7,    // DOUBLE, FLOAT, FLOAT8, IEEEDOUBLE, NUMBER
  kDateTime = 8,  // DATETIME, DATE, TIME, TIMESTAMP
  kBinary = 9,    // BINARY(n), VARBINARY(n)
  kText = 10,     // TEXT(n), VARCHAR(n), CHAR(n), ...
  kOle = 11,      // LONGBINARY, OLEOBJECT, IMAGE, GENERAL
  kMemo = 12,     // MEMO, LONGTEXT, TEXT without a size, ...
  kGuid = 15,     // GUID, UNIQUEIDENTIFIER
  kDecimal = 16,  // DECIMAL, NUMERIC, DEC
};

// A column's type as declared.
struct TypeSpec {
  DataType type = DataType::kLong;
  int size = 0;                 // TEXT: characters (1..255); BINARY: bytes (1..255); else 0
  bool fixed_length = false;    // CHAR(n), BINARY(n): fixed width rather than varying
  int precision = 0;            // DECIMAL: 1..28 (default 18); else 0
  int scale = 0;                // DECIMAL: 0..precision (default 0)
  bool auto_increment = false;  // COUNTER / AUTOINCREMENT (type is kLong)
  int64_t seed = 1;             // first AutoNumber value
  int64_t increment = 1;        // AutoNumber step
  bool compressed = false;      // TEXT/MEMO ... WITH COMPRESSION (Unicode compression)

  bool operator==(const TypeSpec&) const = default;
};

enum class UnaryOp : uint8_t { kNegate, kPlus, kNot };

enum class BinaryOp : uint8_t {
  kOr,
  kXor,
  kAnd,
  kEq,
  kNe,
  kLt,
  kLe,
  kGt,
  kGe,
  kConcat,  // &
  kAdd,
  kSubtract,   // + -
  kMod,        // MOD
  kIntDivide,  // backslash
  kMultiply,
  kDivide,
  kPower,  // ^
};

enum class ExprKind : uint8_t {
  kNull,      // NULL
  kBoolean,   // TRUE / FALSE: `boolean`
  kNumber,    // `text` holds the digits as written (e.g. "12", "1.5E3")
  kString,    // `text` holds the value (quotes removed, doubled quotes undone)
  kDate,      // #...#: `date` holds the value
  kBinary,    // 0x...: `bytes`
  kColumn,    // [qualifier.]name: `qualifier`, `text`
  kStar,      // * or qualifier.*: `qualifier` (empty for a bare *)
  kFunction,  // name(args...): `text` = name as written; Count(*) has one kStar arg
  kUnary,     // `unary_op` args[0]
  kBinaryOp,  // args[0] `binary_op` args[1]
  kIsNull,    // args[0] IS [NOT] NULL; `negated` for IS NOT NULL
  kLike,      // args[0] [NOT] LIKE args[1]
  kIn,        // args[0] [NOT] IN (args[1..])
  kBetween,   // args[0] [NOT] BETWEEN args[1] AND args[2]
  kSubquery,  // (SELECT ...) as a value: `subquery`
  kExists,    // EXISTS (SELECT ...): `subquery` (NOT EXISTS is kNot over it)
  kAny,       // args[0] `binary_op` ANY (SELECT ...) (SOME is a synonym): `subquery`
  kAll,       // args[0] `binary_op` ALL (SELECT ...): `subquery`
};

struct Select;

// One expression node. Children live in `args`, by value.
struct Expr {
  ExprKind kind = ExprKind::kNull;
  std::string text;
  std::string qualifier;
  std::vector<uint8_t> bytes;
  DateTimeValue date;
  bool boolean = false;
  bool negated = false;
  bool parenthesized = false;  // written inside its own parentheses
  UnaryOp unary_op = UnaryOp::kNegate;
  BinaryOp binary_op = BinaryOp::kOr;
  std::vector<Expr> args;
  // kSubquery, kExists, and kIn over a SELECT (args then holds only the
  // tested value): the one SELECT.
  std::vector<Select> subquery;

  bool operator==(const Expr&) const = default;
};

enum class ReferentialAction : uint8_t { kNoAction, kCascade, kSetNull };

enum class ConstraintKind : uint8_t { kPrimaryKey, kUnique, kForeignKey };

// PRIMARY KEY, UNIQUE or FOREIGN KEY ... REFERENCES, from a CONSTRAINT clause
// (on a column or on the table) or from ALTER TABLE ... ADD.
struct ConstraintDef {
  std::string name;  // empty when the statement gave none
  ConstraintKind kind = ConstraintKind::kPrimaryKey;
  std::vector<std::string> columns;
  std::string ref_table;                 // foreign keys
  std::vector<std::string> ref_columns;  // empty: the referenced table's primary key
  ReferentialAction on_update = ReferentialAction::kNoAction;
  ReferentialAction on_delete = ReferentialAction::kNoAction;

  bool operator==(const ConstraintDef&) const = default;
};

struct ColumnDef {
  std::string name;
  TypeSpec type;
  bool not_null = false;
  std::optional<Expr> default_value;

  bool operator==(const ColumnDef&) const = default;
};

// CREATE TABLE. Column-level constraints are moved into `constraints` (with
// the column as their only column), in the order they were written.
struct CreateTable {
  std::string table;
  std::vector<ColumnDef> columns;
  std::vector<ConstraintDef> constraints;

  bool operator==(const CreateTable&) const = default;
};

// ALTER TABLE t ADD [CONSTRAINT name] PRIMARY KEY | UNIQUE | FOREIGN KEY ...
struct AlterTableAddConstraint {
  std::string table;
  ConstraintDef constraint;

  bool operator==(const AlterTableAddConstraint&) const = default;
};

// ALTER TABLE t DROP CONSTRAINT name (a relationship)
struct AlterTableDropConstraint {
  std::string table;
  std::string name;

  bool operator==(const AlterTableDropConstraint&) const = default;
};

struct IndexColumn {
  std::string name;
  bool descending = false;

  bool operator==(const IndexColumn&) const = default;
};

// CREATE [UNIQUE] INDEX name ON t (c [ASC|DESC], ...) [WITH ...]
struct CreateIndex {
  std::string name;
  std::string table;
  bool unique = false;
  std::vector<IndexColumn> columns;
  bool primary = false;        // WITH PRIMARY
  bool disallow_null = false;  // WITH DISALLOW NULL
  bool ignore_null = false;    // WITH IGNORE NULL

  bool operator==(const CreateIndex&) const = default;
};

struct DropIndex {
  std::string name;
  std::string table;

  bool operator==(const DropIndex&) const = default;
};

struct DropTable {
  std::string table;

  bool operator==(const DropTable&) const = default;
};

struct DropView {
  std::string view;

  bool operator==(const DropView&) const = default;
};

// INSERT INTO t [(c, ...)] VALUES (e, ...)
struct Insert {
  std::string table;
  std::vector<std::string> columns;  // empty: every column in table order
  std::vector<Expr> values;

  bool operator==(const Insert&) const = default;
};

enum class JoinKind : uint8_t { kInner = 1, kLeft = 2, kRight = 3 };

// One element of a FROM list: a table (with optional alias) or a join of two
// elements with its ON condition.
struct FromItem {
  bool is_join = false;
  std::string table;  // when !is_join
  std::string alias;  // when !is_join; empty if none
  JoinKind join = JoinKind::kInner;
  std::vector<FromItem> operands;  // when is_join: left, right
  std::optional<Expr> on;          // when is_join
  bool parenthesized = false;
  // (SELECT ...) [AS alias] in place of a table (`table` empty): the one SELECT.
  std::vector<Select> subquery;

  bool operator==(const FromItem&) const = default;
};

struct SelectItem {
  Expr expr;          // kStar for * and t.*
  std::string alias;  // AS name; empty if none

  bool operator==(const SelectItem&) const = default;
};

struct OrderItem {
  Expr expr;
  bool descending = false;

  bool operator==(const OrderItem&) const = default;
};

enum class SelectQuantifier : uint8_t { kAll, kDistinct, kDistinctRow };

struct UnionPart;

// A SELECT; with `unions`, the first SELECT of a union query, whose
// `order_by` then sorts the whole union (it is written after the last part).
struct Select {
  SelectQuantifier quantifier = SelectQuantifier::kAll;
  std::optional<std::string> top;  // TOP n: the number as written
  bool top_percent = false;
  std::vector<SelectItem> items;  // SELECT * is one item of kind kStar
  std::string into;               // SELECT ... INTO new_table; empty if none
  std::vector<FromItem> from;     // comma-separated elements
  std::optional<Expr> where;
  std::vector<Expr> group_by;
  std::optional<Expr> having;
  std::vector<OrderItem> order_by;
  std::vector<UnionPart> unions;  // the SELECTs joined on by UNION [ALL], in order

  bool operator==(const Select&) const = default;
};

// A further SELECT of a union query. It has no ORDER BY, no INTO and no
// unions of its own.
struct UnionPart {
  bool all = false;  // UNION ALL keeps repeated rows; UNION drops them
  Select select;

  bool operator==(const UnionPart&) const = default;
};

// CREATE VIEW v [(c, ...)] AS SELECT ...
struct CreateView {
  std::string view;
  std::vector<std::string> columns;  // optional output names
  Select select;

  bool operator==(const CreateView&) const = default;
};

// DELETE [* | t.*] FROM t [WHERE e]
struct Delete {
  std::string table;
  std::optional<Expr> where;

  bool operator==(const Delete&) const = default;
};

using Statement =
    std::variant<CreateTable, AlterTableAddConstraint, AlterTableDropConstraint, CreateIndex,
                 DropIndex, DropTable, DropView, Insert, CreateView, Select, Delete>;

}  // namespace velquin::jet::sql
