// What the .test files cannot show through today's executor: the call form
// that evaluates arguments on demand (IIf and Switch look only at what they
// use) and quotes the call as written in its messages.
#include "jet/sql/functions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jet/sql/parser.h"

namespace velquin::jet::sql {
namespace {

// Evaluates literals and a column "x" (= 0); any other name, and a division,
// fails and is recorded, so a test sees which arguments were evaluated.
struct Evaluator {
  std::vector<std::string> failed;
  Result<Value> operator()(const Expr& e) {
    switch (e.kind) {
      case ExprKind::kNumber:
        return Value::Double(std::stod(e.text));
      case ExprKind::kString:
        return Value::Text(e.text);
      case ExprKind::kBoolean:
        return Value::Bool(e.boolean);
      case ExprKind::kNull:
        return Value();
      case ExprKind::kColumn:
        if (e.text == "x") return Value::Long(0);
        break;
      case ExprKind::kFunction: {
        auto self = [this](const Expr& a) { return (*this)(a); };
        return CallFunction(e, self);
      }
      default:
        break;
    }
    failed.push_back(e.kind == ExprKind::kColumn ? e.text : "expression");
    return Status::InvalidArgument("Division by zero");
  }
};

Result<Value> EvalText(std::string_view text, Evaluator* ev) {
  auto e = ParseExpression(text);
  if (!e.ok()) return e.status();
  return (*ev)(*e);
}

TEST(Functions, IIfAndSwitchEvaluateOnlyWhatTheyUse) {
  struct Case {
    const char* expr;
    Value want;
  };
  const Case cases[] = {
      {"IIf(True, 'yes', 1 / x)", Value::Text("yes")},
      {"IIf(False, 1 / x, 'no')", Value::Text("no")},
      {"IIf(Null, bad, 'null is false')", Value::Text("null is false")},
      {"Switch(False, bad, True, 'second', bad, bad)", Value::Text("second")},
      {"Switch(Null, bad, False, bad)", Value()},
      {"Nz(IIf(True, Null, bad), 'empty')", Value::Text("empty")},
  };
  for (const Case& c : cases) {
    Evaluator ev;
    auto r = EvalText(c.expr, &ev);
    ASSERT_TRUE(r.ok()) << c.expr << ": " << r.status().message();
    EXPECT_EQ(*r, c.want) << c.expr;
    EXPECT_TRUE(ev.failed.empty()) << c.expr << " evaluated " << ev.failed.front();
  }
  // The branch taken is evaluated, and its error is the call's error.
  Evaluator ev;
  auto r = EvalText("IIf(True, 1 / x, 0)", &ev);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().message(), "Division by zero");
}

TEST(Functions, WrongArgumentCountQuotesTheCallAsWritten) {
  Evaluator ev;
  auto r = EvalText("Left(x)", &ev);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().message(),
            "Wrong number of arguments used with function in query expression 'Left(x)'.");
  EXPECT_TRUE(ev.failed.empty()) << "no argument is evaluated before the count is checked";
  r = EvalText("IIf(x, 1)", &ev);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().message(),
            "Wrong number of arguments used with function in query expression 'IIf(x, 1)'.");
  r = EvalText("Nope(x)", &ev);
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().message(), "Undefined function 'Nope' in expression.");
}

// Names the parser cannot read yet (Asc is a keyword, "$" is no name
// character), called directly: Asc gives the Windows-1252 code, the "$"
// forms of text functions refuse to give NULL.
TEST(Functions, CalledByNamesQueriesCannotWriteYet) {
  struct Case {
    const char* name;
    std::vector<Value> args;
    Result<Value> want;
  };
  const Status invalid_null = Status::InvalidArgument("Invalid use of Null");
  const Case cases[] = {
      {"asc", {Value::Text("abc")}, Value::Short(97)},
      {"Asc", {Value::Text("\u20ac")}, Value::Short(128)},
      {"Asc", {Value::Text("\u00e9")}, Value::Short(233)},
      {"Asc", {Value::Text("\u03a9")}, Value::Short(63)},
      {"Asc", {Value::Text("")}, Status::InvalidArgument("Invalid procedure call")},
      {"Mid$", {Value::Text("abc"), Value::Long(2)}, Value::Text("bc")},
      {"mid$", {Value(), Value::Long(2)}, invalid_null},
      {"UCase$", {Value()}, invalid_null},
      {"Format$", {Value::Double(2.5), Value::Text("0.0")}, Value::Text("2.5")},
      {"Len$",
       {Value::Text("a")},
       Status::InvalidArgument("Undefined function 'Len$' in expression.")},
  };
  for (const Case& c : cases) {
    auto r = CallFunction(c.name, c.args);
    ASSERT_EQ(r.ok(), c.want.ok()) << c.name << ": " << (r.ok() ? "" : r.status().message());
    if (r.ok()) {
      EXPECT_EQ(*r, *c.want) << c.name;
    } else {
      EXPECT_EQ(r.status().message(), c.want.status().message()) << c.name;
    }
  }
}

}  // namespace
}  // namespace velquin::jet::sql
