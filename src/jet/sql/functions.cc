// The function table and the logical, conversion and arithmetic functions:
// IIf, IsNull, Switch, Nz, CLng, CInt, CByte, CDbl, CSng, CCur, CDate, CBool,
// CStr, Val, Abs, Round, Int, Fix, Sgn, Sqr. Text, date and Format live in
// functions_text.cc, functions_date.cc and functions_format.cc.
#include "jet/sql/functions.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <unordered_map>
#include <vector>

#include "jet/sql/datetime_text.h"
#include "jet/sql/format.h"
#include "jet/sql/functions_internal.h"
#include "jet/sql/names.h"
#include "jet/sql/value_ops.h"

namespace velquin::jet::sql {
namespace fn {

// The executor's notion of a number (a Yes/No and a date count as numbers).
bool IsNumberKind(const Value& v) { return IsNumeric(v); }

namespace {

bool ParseNumberText(std::string_view text, double* out) {
  std::size_t a = 0, b = text.size();
  while (a < b && std::isspace(static_cast<unsigned char>(text[a]))) ++a;
  while (b > a && std::isspace(static_cast<unsigned char>(text[b - 1]))) --b;
  if (a == b) return false;
  std::string s(text.substr(a, b - a));
  char* end = nullptr;
  double d = std::strtod(s.c_str(), &end);
  if (end != s.c_str() + s.size() || !std::isfinite(d)) return false;
  // strtod also reads "inf", "nan" and hex floats; Access reads none of them.
  for (char c : s) {
    if (std::isalpha(static_cast<unsigned char>(c)) && c != 'e' && c != 'E') return false;
  }
  *out = d;
  return true;
}

}  // namespace

Result<double> ToNumber(const Value& v) {
  if (v.kind() == ValueKind::kText) {
    double d;
    if (ParseNumberText(v.text_value(), &d)) return d;
    return Fail(kTypeMismatch);
  }
  // Every other number (True is -1, a date its days) as the executor reads it.
  if (IsNumeric(v)) return ToDouble(v);
  return Fail(kTypeMismatch);
}

std::string NumberText(double d, int significant) {
  if (d == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", significant, d);
  std::string s = buf;
  std::size_t e = s.find('E');
  std::string mantissa = s.substr(0, e), exponent = e == std::string::npos ? "" : s.substr(e);
  if (mantissa.find('.') != std::string::npos) {
    while (mantissa.back() == '0') mantissa.pop_back();
    if (mantissa.back() == '.') mantissa.pop_back();
  }
  if (!exponent.empty()) {
    // "E+05" stays; Access writes at least two exponent digits as C does.
    return mantissa + exponent;
  }
  return mantissa;
}

std::string ToText(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kNull:
      return "";
    case ValueKind::kBool:
      return v.bool_value() ? "True" : "False";
    case ValueKind::kText:
      return v.text_value();
    case ValueKind::kSingle:
      return NumberText(v.single_value(), 7);
    case ValueKind::kDouble:
      return NumberText(v.double_value());
    case ValueKind::kCurrency:
    case ValueKind::kDecimal: {
      std::string s = v.ToString();
      if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
      }
      return s == "-0" ? "0" : s;
    }
    case ValueKind::kDateTime:
      return GeneralDateText(v.datetime_value());
    case ValueKind::kBinary: {
      const auto& b = v.binary_value();
      return std::string(b.begin(), b.end());
    }
    default:
      return v.ToString();
  }
}

Result<DateTime> ToDate(const Value& v) {
  if (v.kind() == ValueKind::kDateTime) return v.datetime_value();
  if (v.kind() == ValueKind::kText) {
    auto parsed = ParseDateTimeText(v.text_value());
    if (parsed.ok()) return DateTime{parsed->ToJetDays()};
  }
  VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(v));
  // Jet's dates run from 100-01-01 to 9999-12-31.
  if (d < -657434.0 || d >= 2958466.0) return Fail(kOverflow);
  return DateTime{d};
}

Result<std::int64_t> ToWhole(const Value& v, double lo, double hi) {
  VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(v));
  double r = std::nearbyint(d);  // the default rounding mode: half to even
  if (!(r >= lo && r <= hi)) return Fail(kOverflow);
  return static_cast<std::int64_t>(r);
}

Result<std::int64_t> WholeArgument(const Value& v) {
  if (v.is_null()) return Fail(kInvalidNull);
  return ToWhole(v, -2147483648.0, 2147483647.0);
}

namespace {

// ----- logic -----

Result<Value> IIf(std::size_t, const ArgFetch& arg) {
  VELQUIN_ASSIGN_OR_RETURN(Value c, arg(0));
  bool yes = false;
  if (!c.is_null()) {
    VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(c));
    yes = d != 0;
  }
  return arg(yes ? 1 : 2);
}

Result<Value> Switch(std::size_t count, const ArgFetch& arg) {
  if (count % 2 != 0) return Fail(kInvalidCall);
  for (std::size_t i = 0; i < count; i += 2) {
    VELQUIN_ASSIGN_OR_RETURN(Value c, arg(i));
    if (c.is_null()) continue;
    VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(c));
    if (d != 0) return arg(i + 1);
  }
  return Value();
}

Result<Value> IsNull(std::span<const Value> a) { return Value::Bool(a[0].is_null()); }

// Nz without its second argument gives a zero-length text in a query.
Result<Value> Nz(std::span<const Value> a) {
  if (!a[0].is_null()) return a[0];
  return a.size() > 1 ? a[1] : Value::Text("");
}

// ----- conversions: NULL is "Invalid use of Null" -----

Result<Value> CLng(std::span<const Value> a) {
  if (a[0].is_null()) return Fail(kInvalidNull);
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t i, ToWhole(a[0], -2147483648.0, 2147483647.0));
  return Value::Long(static_cast<std::int32_t>(i));
}

Result<Value> CInt(std::span<const Value> a) {
  if (a[0].is_null()) return Fail(kInvalidNull);
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t i, ToWhole(a[0], -32768.0, 32767.0));
  return Value::Short(static_cast<std::int16_t>(i));
}

Result<Value> CByte(std::span<const Value> a) {
  if (a[0].is_null()) return Fail(kInvalidNull);
  VELQUIN_ASSIGN_OR_RETURN(std::int64_t i, ToWhole(a[0], 0.0, 255.0));
  return Value::Byte(static_cast<std::uint8_t>(i));
}

Result<Value> CDbl(std::span<const Value> a) {
  if (a[0].is_null()) return Fail(kInvalidNull);
  VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(a[0]));
  return Value::Double(d);
}

Result<Value> CSng(std::span<const Value> a) {
  if (a[0].is_null()) return Fail(kInvalidNull);
  VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(a[0]));
  if (std::fabs(d) > std::numeric_limits<float>::max()) return Fail(kOverflow);
  return Value::Single(static_cast<float>(d));
}

// Currency keeps four decimals, rounded half to even; exact from text.
Result<Value> CCur(std::span<const Value> a) {
  const Value& v = a[0];
  if (v.is_null()) return Fail(kInvalidNull);
  if (v.kind() == ValueKind::kCurrency) return v;
  if (v.kind() == ValueKind::kText || v.kind() == ValueKind::kDecimal) {
    std::string t = v.ToString();
    std::size_t p = 0, q = t.size();
    while (p < q && std::isspace(static_cast<unsigned char>(t[p]))) ++p;
    while (q > p && std::isspace(static_cast<unsigned char>(t[q - 1]))) --q;
    auto c = Currency::Parse(std::string_view(t).substr(p, q - p));
    if (c.ok()) return Value::Money(*c);
  }
  VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(v));
  double units = std::nearbyint(d * 10000.0);
  if (!(std::fabs(units) < 9.2233720368547758e18)) return Fail(kOverflow);
  return Value::Money(Currency{static_cast<std::int64_t>(units)});
}

Result<Value> CDate(std::span<const Value> a) {
  if (a[0].is_null()) return Fail(kInvalidNull);
  VELQUIN_ASSIGN_OR_RETURN(DateTime d, ToDate(a[0]));
  return Value::Date(d);
}

Result<Value> CBool(std::span<const Value> a) {
  const Value& v = a[0];
  if (v.is_null()) return Fail(kInvalidNull);
  if (v.kind() == ValueKind::kText) {
    const std::string t = LowerAscii(v.text_value());
    if (t == "true") return Value::Bool(true);
    if (t == "false") return Value::Bool(false);
  }
  VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(v));
  return Value::Bool(d != 0);
}

Result<Value> CStr(std::span<const Value> a) {
  if (a[0].is_null()) return Fail(kInvalidNull);
  return Value::Text(ToText(a[0]));
}

// Val reads the number at the start of a text: blanks, tabs and line feeds
// anywhere are skipped, "&H" and "&O" start hexadecimal and octal numbers,
// the first other character ends it; no number at all is 0.
Result<Value> Val(std::span<const Value> a) {
  if (a[0].is_null()) return Fail(kInvalidNull);
  std::string s;
  for (char c : ToText(a[0])) {
    if (c != ' ' && c != '\t' && c != '\n' && c != '\r') s.push_back(c);
  }
  if (s.size() >= 2 && s[0] == '&' && (s[1] == 'h' || s[1] == 'H' || s[1] == 'o' || s[1] == 'O')) {
    const int base = (s[1] == 'h' || s[1] == 'H') ? 16 : 8;
    std::uint64_t n = 0;
    std::size_t digits = 0;
    for (std::size_t i = 2; i < s.size() && digits < 11; ++i, ++digits) {
      const int c = std::tolower(static_cast<unsigned char>(s[i]));
      const int digit = std::isdigit(c) ? c - '0' : std::isxdigit(c) ? c - 'a' + 10 : 99;
      if (digit >= base) break;
      n = n * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    }
    // Up to four hexadecimal digits make a 16-bit number and more a 32-bit
    // one, as Access reads them: &HFFFF is -1, &H10000 is 65536.
    if (base == 16 && digits <= 4) return Value::Double(static_cast<std::int16_t>(n));
    if (n > 0xFFFFFFFFu) return Fail(kOverflow);
    return Value::Double(static_cast<std::int32_t>(static_cast<std::uint32_t>(n)));
  }
  std::size_t i = 0;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  if (i < s.size() && s[i] == '.') {
    ++i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++digits;
  }
  if (digits == 0) return Value::Double(0);
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    if (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j]))) {
      s[i] = 'e';
      i = j;
      while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    }
  }
  double d = std::strtod(s.substr(0, i).c_str(), nullptr);
  if (!std::isfinite(d)) return Fail(kOverflow);
  return Value::Double(d);
}

// ----- arithmetic: NULL gives NULL; a number keeps its type -----

// Applies `op` to a number, keeping integer, currency and date kinds as
// they are (Abs of a LONG is a LONG), text read as a DOUBLE.
template <typename Op>
Result<Value> KeepKind(const Value& v, Op op) {
  if (v.is_null()) return Value();
  VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(v));
  double r = op(d);
  auto whole = [&](double lo, double hi) -> Result<std::int64_t> {
    if (r < lo || r > hi) return Fail(kOverflow);
    return static_cast<std::int64_t>(r);
  };
  switch (v.kind()) {
    case ValueKind::kBool:
    case ValueKind::kShort: {
      VELQUIN_ASSIGN_OR_RETURN(std::int64_t i, whole(-32768, 32767));
      return Value::Short(static_cast<std::int16_t>(i));
    }
    case ValueKind::kByte: {
      VELQUIN_ASSIGN_OR_RETURN(std::int64_t i, whole(0, 255));
      return Value::Byte(static_cast<std::uint8_t>(i));
    }
    case ValueKind::kLong: {
      VELQUIN_ASSIGN_OR_RETURN(std::int64_t i, whole(-2147483648.0, 2147483647.0));
      return Value::Long(static_cast<std::int32_t>(i));
    }
    case ValueKind::kCurrency:
      return Value::Money(Currency{static_cast<std::int64_t>(std::nearbyint(r * 10000.0))});
    case ValueKind::kSingle:
      return Value::Single(static_cast<float>(r));
    case ValueKind::kDateTime:
      return Value::Date(DateTime{r});
    default:
      return Value::Double(r);
  }
}

Result<Value> Abs(std::span<const Value> a) {
  return KeepKind(a[0], [](double d) { return std::fabs(d); });
}
Result<Value> Int(std::span<const Value> a) {
  return KeepKind(a[0], [](double d) { return std::floor(d); });
}
Result<Value> Fix(std::span<const Value> a) {
  return KeepKind(a[0], [](double d) { return std::trunc(d); });
}

// Round(x[, places]): half to even at `places` decimals, as Access's Round.
Result<Value> Round(std::span<const Value> a) {
  if (a[0].is_null()) return Value();
  std::int64_t places = 0;
  if (a.size() > 1) {
    if (a[1].is_null()) return Fail(kInvalidNull);
    VELQUIN_ASSIGN_OR_RETURN(places, ToWhole(a[1], -2147483648.0, 2147483647.0));
    if (places < 0) return Fail(kInvalidCall);
  }
  if (a[0].kind() == ValueKind::kCurrency && places >= 4) return a[0];
  return KeepKind(a[0], [places](double d) {
    if (places > 22) return d;
    const double scale = std::pow(10.0, static_cast<double>(places));
    const double scaled = d * scale;
    if (!std::isfinite(scaled)) return d;
    return std::nearbyint(scaled) / scale;
  });
}

Result<Value> Sgn(std::span<const Value> a) {
  if (a[0].is_null()) return Value();
  VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(a[0]));
  return Value::Short(static_cast<std::int16_t>(d > 0 ? 1 : d < 0 ? -1 : 0));
}

Result<Value> Sqr(std::span<const Value> a) {
  if (a[0].is_null()) return Value();
  VELQUIN_ASSIGN_OR_RETURN(double d, ToNumber(a[0]));
  if (d < 0) return Fail(kInvalidCall);
  return Value::Double(std::sqrt(d));
}

constexpr std::size_t kMany = 64;  // Switch takes up to 14 pairs in Access; we take more

const FunctionDef kFunctions[] = {
    {"IIf", 3, 3, nullptr, IIf},       {"Switch", 2, kMany, nullptr, Switch},
    {"IsNull", 1, 1, IsNull, nullptr}, {"Nz", 1, 2, Nz, nullptr},
    {"CLng", 1, 1, CLng, nullptr},     {"CInt", 1, 1, CInt, nullptr},
    {"CByte", 1, 1, CByte, nullptr},   {"CDbl", 1, 1, CDbl, nullptr},
    {"CSng", 1, 1, CSng, nullptr},     {"CCur", 1, 1, CCur, nullptr},
    {"CDate", 1, 1, CDate, nullptr},   {"CVDate", 1, 1, CDate, nullptr},
    {"CBool", 1, 1, CBool, nullptr},   {"CStr", 1, 1, CStr, nullptr},
    {"Val", 1, 1, Val, nullptr},       {"Abs", 1, 1, Abs, nullptr},
    {"Int", 1, 1, Int, nullptr},       {"Fix", 1, 1, Fix, nullptr},
    {"Round", 1, 2, Round, nullptr},   {"Sgn", 1, 1, Sgn, nullptr},
    {"Sqr", 1, 1, Sqr, nullptr},
};

}  // namespace

std::span<const FunctionDef> LogicAndNumberFunctions() { return kFunctions; }

}  // namespace fn

namespace {

struct Found {
  const fn::FunctionDef* def = nullptr;
  bool text_only = false;  // Mid$, Left$, ...: a NULL result is an error
};

// The functions that have a "$" form returning text only.
constexpr std::string_view kDollarForms[] = {"Chr",    "ChrW", "Format", "LCase", "Left",
                                             "LTrim",  "Mid",  "Right",  "RTrim", "Space",
                                             "String", "Trim", "UCase"};

// Looked up once per row and call: a table by lower-case name, built once.
Found FindFunction(std::string_view name) {
  static const auto* const kByName = [] {
    auto* m = new std::unordered_map<std::string, Found>();
    for (auto group : {fn::LogicAndNumberFunctions(), fn::TextFunctions(), fn::DateFunctions(),
                       fn::FormatFunctions()}) {
      for (const fn::FunctionDef& f : group) (*m)[LowerAscii(f.name)] = Found{&f, false};
    }
    for (std::string_view d : kDollarForms) {
      (*m)[LowerAscii(d) + "$"] = Found{m->at(LowerAscii(d)).def, true};
    }
    return m;
  }();
  auto it = kByName->find(LowerAscii(name));
  return it == kByName->end() ? Found{} : it->second;
}

// A value as a literal in a quoted call (for the message only).
std::string LiteralText(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kNull:
      return "Null";
    case ValueKind::kText: {
      std::string out = "'";
      for (char c : v.text_value()) {
        out += c;
        if (c == '\'') out += c;
      }
      return out + "'";
    }
    case ValueKind::kDateTime:
      return "#" + fn::GeneralDateText(v.datetime_value()) + "#";
    default:
      return fn::ToText(v);
  }
}

Status WrongArguments(const std::string& call) {
  return fn::Fail("Wrong number of arguments used with function in query expression '" + call +
                  "'.");
}

Result<Value> Dispatch(const Found& f, std::size_t count, const fn::ArgFetch& arg) {
  if (f.def->lazy) return f.def->lazy(count, arg);
  std::vector<Value> values;
  values.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    VELQUIN_ASSIGN_OR_RETURN(Value v, arg(i));
    values.push_back(std::move(v));
  }
  VELQUIN_ASSIGN_OR_RETURN(Value r, f.def->eager(values));
  if (f.text_only && r.is_null()) return fn::Fail(fn::kInvalidNull);
  return r;
}

Status Undefined(std::string_view name) {
  return fn::Fail("Undefined function '" + std::string(name) + "' in expression.");
}

}  // namespace

Result<Value> CallFunction(std::string_view name, std::span<const Value> args) {
  const Found f = FindFunction(name);
  if (!f.def) return Undefined(name);
  if (args.size() < f.def->min_args || args.size() > f.def->max_args) {
    std::string call = std::string(name) + "(";
    for (std::size_t i = 0; i < args.size(); ++i) call += (i ? ", " : "") + LiteralText(args[i]);
    return WrongArguments(call + ")");
  }
  return Dispatch(f, args.size(), [&](std::size_t i) -> Result<Value> { return args[i]; });
}

Result<Value> CallFunction(const Expr& call,
                           const std::function<Result<Value>(const Expr&)>& eval) {
  const Found f = FindFunction(call.text);
  if (!f.def) return Undefined(call.text);
  if (call.args.size() < f.def->min_args || call.args.size() > f.def->max_args) {
    return WrongArguments(FormatExpression(call));
  }
  return Dispatch(f, call.args.size(),
                  [&](std::size_t i) -> Result<Value> { return eval(call.args[i]); });
}

}  // namespace velquin::jet::sql
