// What the .test files cannot show through today's executor: the call form
// that evaluates arguments on demand (IIf and Switch look only at what they
// use) and quotes the call as written in its messages.
#include "jet/sql/functions.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <utility>
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

// Asc is a keyword to the parser, so no query reaches it: called directly.
TEST(Functions, AscGivesTheWindows1252Code) {
  const std::pair<const char*, int> cases[] = {
      {"A", 65}, {"abc", 97}, {"\u20ac", 128}, {"\u00e9", 233}, {"\u03a9", 63}};
  for (const auto& [text, code] : cases) {
    const Value arg = Value::Text(text);
    auto r = CallFunction("asc", std::span<const Value>(&arg, 1));
    ASSERT_TRUE(r.ok()) << text;
    EXPECT_EQ(*r, Value::Short(static_cast<std::int16_t>(code))) << text;
  }
  const Value empty = Value::Text("");
  auto r = CallFunction("Asc", std::span<const Value>(&empty, 1));
  ASSERT_FALSE(r.ok());
  EXPECT_EQ(r.status().message(), "Invalid procedure call");
}

}  // namespace
}  // namespace velquin::jet::sql
