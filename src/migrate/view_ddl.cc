#include "migrate/view_ddl.h"

#include <fmt/format.h>

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "migrate/access_names.h"
#include "migrate/sql_text.h"

namespace velquin {
namespace {

enum class Tok { kSpace, kQuoted, kString, kWord, kNumber, kPunct };

struct Token {
  Tok kind;
  std::string text;  // kQuoted: the name unquoted; kString: the value unescaped
};

bool IsWordChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || u >= 0x80;
}

// `backslash_escapes`: MySQL's string literals (a backslash escapes the next
// character); Jet's have none.
Result<std::vector<Token>> Tokenize(std::string_view s, bool backslash_escapes = true) {
  std::vector<Token> out;
  std::size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      std::size_t j = i;
      while (j < s.size() && (s[j] == ' ' || s[j] == '\t' || s[j] == '\n' || s[j] == '\r')) ++j;
      out.push_back({Tok::kSpace, std::string(s.substr(i, j - i))});
      i = j;
    } else if (c == '`') {
      std::string name;
      std::size_t j = i + 1;
      for (;; ++j) {
        if (j >= s.size()) return Status::InvalidArgument("a quoted name is not closed");
        if (s[j] == '`') {
          if (j + 1 < s.size() && s[j + 1] == '`') {
            name += '`';
            ++j;
            continue;
          }
          break;
        }
        name += s[j];
      }
      out.push_back({Tok::kQuoted, name});
      i = j + 1;
    } else if (c == '\'' || c == '"') {
      std::string value;
      std::size_t j = i + 1;
      for (;; ++j) {
        if (j >= s.size()) return Status::InvalidArgument("a string literal is not closed");
        if (backslash_escapes && s[j] == '\\' && j + 1 < s.size()) {
          char e = s[++j];
          value += e == 'n'   ? '\n'
                   : e == 'r' ? '\r'
                   : e == 't' ? '\t'
                   : e == '0' ? '\0'
                   : e == 'Z' ? '\x1a'
                   : e == 'b' ? '\b'
                              : e;
          continue;
        }
        if (s[j] == c) {
          if (j + 1 < s.size() && s[j + 1] == c) {
            value += c;
            ++j;
            continue;
          }
          break;
        }
        value += s[j];
      }
      out.push_back({Tok::kString, value});
      i = j + 1;
    } else if (c >= '0' && c <= '9') {
      std::size_t j = i;
      while (j < s.size() && (IsWordChar(s[j]) || s[j] == '.')) ++j;
      out.push_back({Tok::kNumber, std::string(s.substr(i, j - i))});
      i = j;
    } else if (IsWordChar(c)) {
      std::size_t j = i;
      while (j < s.size() && IsWordChar(s[j])) ++j;
      out.push_back({Tok::kWord, std::string(s.substr(i, j - i))});
      i = j;
    } else {
      std::size_t len = 1;
      auto two = s.substr(i, 2);
      if (two == "!=" || two == "<>" || two == "<=" || two == ">=" || two == "&&" || two == "||" ||
          two == "->" || two == ":=")
        len = 2;
      if (s.substr(i, 3) == "<=>") len = 3;
      out.push_back({Tok::kPunct, std::string(s.substr(i, len))});
      i += len;
    }
  }
  return out;
}

bool Is(const Token& t, std::string_view word) {
  return t.kind == Tok::kWord && AsciiLower(t.text) == word;
}

// Index of the next non-space token after `i` (or size).
std::size_t NextSolid(const std::vector<Token>& t, std::size_t i) {
  for (++i; i < t.size() && t[i].kind == Tok::kSpace; ++i) {
  }
  return i;
}
std::size_t PrevSolid(const std::vector<Token>& t, std::size_t i) {
  while (i > 0) {
    --i;
    if (t[i].kind != Tok::kSpace) return i;
  }
  return std::string::npos;
}

const std::set<std::string>& NotFunctions() {
  static const std::set<std::string> kNames = {
      "in",   "exists", "on",   "as",     "from", "where", "and",     "or",       "not",  "select",
      "join", "values", "when", "then",   "is",   "like",  "between", "distinct", "all",  "any",
      "some", "using",  "by",   "having", "else", "inner", "left",    "right",    "outer"};
  return kNames;
}

const std::set<std::string>& KeptFunctions() {
  static const std::set<std::string> kNames = {
      "count", "sum",  "avg",   "min",   "max",   "abs",    "round",  "left",
      "right", "mid",  "trim",  "ltrim", "rtrim", "ucase",  "lcase",  "len",
      "now",   "year", "month", "day",   "hour",  "minute", "second", "sgn",
      "sign",  "iif",  "nz",    "instr", "space", "date",   "time",   "sqr"};
  return kNames;
}

std::string RenamedFunction(const std::string& f) {
  if (f == "upper") return "ucase";
  if (f == "lower") return "lcase";
  if (f == "length" || f == "char_length" || f == "character_length" || f == "octet_length")
    return "len";
  if (f == "current_timestamp" || f == "localtime" || f == "localtimestamp" || f == "sysdate")
    return "now";
  if (f == "substring" || f == "substr") return "mid";
  if (f == "if") return "iif";
  if (f == "sqrt") return "sqr";
  if (f == "sign") return "sgn";
  if (f == "curdate") return "date";
  if (f == "curtime") return "time";
  return "";
}

// The select text of a SHOW CREATE VIEW text, as tokens.
Result<std::vector<Token>> ViewBody(std::string_view show_create_view) {
  VELQUIN_ASSIGN_OR_RETURN(std::vector<Token> all, Tokenize(show_create_view));
  std::size_t i = 0;
  while (i < all.size() && !Is(all[i], "view")) ++i;
  std::size_t name_at = NextSolid(all, i);
  std::size_t as_at = name_at < all.size() ? NextSolid(all, name_at) : all.size();
  if (i >= all.size() || as_at >= all.size() || !Is(all[as_at], "as")) {
    return Status::InvalidArgument("the definition is not a CREATE VIEW statement");
  }
  std::size_t body_at = NextSolid(all, as_at);
  return std::vector<Token>(all.begin() + static_cast<std::ptrdiff_t>(body_at), all.end());
}

bool IsPunct(const std::vector<Token>& t, std::size_t i, std::string_view p) {
  return i < t.size() && t[i].kind == Tok::kPunct && t[i].text == p;
}

// Where the tables and views of a select text are, and their aliases.
struct Sources {
  std::map<std::string, std::string> alias_of;  // table alias -> table or view
  std::set<std::size_t> alias_tokens;           // where a table alias is declared
  std::vector<std::string> objects;             // read, each once, in order
};

Sources FindSources(const std::vector<Token>& t,
                    const std::function<bool(std::string_view)>& is_object) {
  Sources out;
  for (std::size_t k = 0; k < t.size(); ++k) {
    if (t[k].kind != Tok::kQuoted) continue;
    const std::size_t prev = PrevSolid(t, k);
    const std::size_t next = NextSolid(t, k);
    if (prev != std::string::npos && (IsPunct(t, prev, ".") || Is(t[prev], "as"))) continue;
    if (IsPunct(t, next, ".")) continue;
    if (!is_object || !is_object(t[k].text)) continue;
    if (std::find(out.objects.begin(), out.objects.end(), t[k].text) == out.objects.end()) {
      out.objects.push_back(t[k].text);
    }
    std::size_t a = next;
    if (a < t.size() && Is(t[a], "as")) a = NextSolid(t, a);
    if (a >= t.size()) continue;
    const bool word_alias =
        t[a].kind == Tok::kWord && !NotFunctions().count(AsciiLower(t[a].text)) &&
        !Is(t[a], "cross") && !Is(t[a], "straight_join") && !Is(t[a], "group") &&
        !Is(t[a], "order") && !Is(t[a], "limit") && !Is(t[a], "union") && !Is(t[a], "natural");
    if (t[a].kind == Tok::kQuoted || word_alias) {
      out.alias_of[t[a].text] = t[k].text;
      out.alias_tokens.insert(a);
    }
  }
  return out;
}

// Functions the second pass (Translate) rewrites as Jet expressions.
const std::set<std::string>& TranslatedLater() {
  static const std::set<std::string> kNames = {"concat", "concat_ws", "ifnull", "coalesce"};
  return kNames;
}

std::string JetText(const Token& t) {
  if (t.kind == Tok::kQuoted) {
    return QuoteJetNameInText(t.text);
  }
  if (t.kind == Tok::kString) {
    std::string lit = "'";
    for (char c : t.text) {
      lit += c;
      if (c == '\'') lit += '\'';
    }
    return lit + "'";
  }
  return t.text;
}

// The index of the ")" closing the "(" at `open`, or t.size().
std::size_t Closing(const std::vector<Token>& t, std::size_t open) {
  int depth = 0;
  for (std::size_t k = open; k < t.size(); ++k) {
    if (IsPunct(t, k, "(")) ++depth;
    if (IsPunct(t, k, ")") && --depth == 0) return k;
  }
  return t.size();
}

// The second pass over the Jet text: MySQL functions and CASE, which have
// no Jet name of their own, become the Jet expressions that give the same
// value (NULLs included); LIMIT n becomes TOP n.
class Translator {
 public:
  explicit Translator(std::vector<Token> t) : t_(std::move(t)) {}

  Result<std::string> Run() {
    VELQUIN_RETURN_IF_ERROR(LimitToTop());
    return Range(0, t_.size());
  }

 private:
  // A single literal cannot be NULL.
  bool Literal(std::size_t b, std::size_t e) const {
    std::size_t first = b;
    while (first < e && t_[first].kind == Tok::kSpace) ++first;
    std::size_t last = e;
    while (last > first && t_[last - 1].kind == Tok::kSpace) --last;
    return last == first + 1 && (t_[first].kind == Tok::kString || t_[first].kind == Tok::kNumber);
  }
  static std::string Trim(std::string s) {
    while (!s.empty() && s.front() == ' ') s.erase(s.begin());
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
  }
  // The arguments of the call whose "(" is at `open` and ")" at `close`.
  std::vector<std::pair<std::size_t, std::size_t>> Args(std::size_t open, std::size_t close) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    int depth = 0;
    std::size_t from = open + 1;
    for (std::size_t k = open + 1; k < close; ++k) {
      if (IsPunct(t_, k, "(")) ++depth;
      if (IsPunct(t_, k, ")")) --depth;
      if (depth == 0 && IsPunct(t_, k, ",")) {
        out.emplace_back(from, k);
        from = k + 1;
      }
    }
    if (from < close) out.emplace_back(from, close);
    return out;
  }

  Result<std::string> Call(const std::string& f, std::size_t open, std::size_t close) {
    std::vector<std::string> a;
    std::vector<bool> literal;
    for (auto [b, e] : Args(open, close)) {
      VELQUIN_ASSIGN_OR_RETURN(std::string text, Range(b, e));
      a.push_back(Trim(text));
      literal.push_back(Literal(b, e));
    }
    if (a.empty()) return Status::InvalidArgument(f + "() without arguments");
    if (f == "ifnull" || f == "coalesce") {
      if (f == "ifnull" && a.size() != 2) return Status::InvalidArgument("IFNULL takes two values");
      // The first value that is not NULL: nested IIf(IsNull()).
      std::string out = a.back();
      for (std::size_t i = a.size() - 1; i-- > 0;) {
        if (!literal[i])
          out = fmt::format("iif(isnull({0}), {1}, {0})", a[i], out);
        else
          out = a[i];
      }
      return out;
    }
    if (f == "concat") {
      // NULL when any value is NULL, as in MySQL (Jet's & skips NULLs).
      std::string joined, nulls;
      for (std::size_t i = 0; i < a.size(); ++i) {
        joined += (i ? " & " : "") + a[i];
        if (!literal[i]) nulls += (nulls.empty() ? "" : " or ") + ("isnull(" + a[i] + ")");
      }
      if (a.size() == 1 && nulls.empty()) return a[0];
      return nulls.empty() ? "(" + joined + ")" : "iif(" + nulls + ", null, " + joined + ")";
    }
    // concat_ws: NULL values are skipped with their separator.
    if (a.size() < 2) return Status::InvalidArgument("CONCAT_WS takes a separator and values");
    if (!literal[0])
      return Status::InvalidArgument("CONCAT_WS with a separator that is not a literal");
    std::string joined;
    for (std::size_t i = 1; i < a.size(); ++i) {
      std::string part = a[0] + " & " + a[i];
      joined += (i > 1 ? " & " : "") +
                (literal[i] ? "(" + part + ")" : "iif(isnull(" + a[i] + "), '', " + part + ")");
    }
    return "mid(" + joined + ", len(" + a[0] + ") + 1)";
  }

  // CASE [x] WHEN a THEN b ... [ELSE c] END -> Switch(x = a, b, ..., True, c).
  Result<std::string> Case(std::size_t at, std::size_t end) {
    std::vector<std::size_t> marks;  // when, then, else at this level
    int depth = 0;
    for (std::size_t k = at + 1; k < end; ++k) {
      if (Is(t_[k], "case")) ++depth;
      if (Is(t_[k], "end")) --depth;
      if (depth == 0 && (Is(t_[k], "when") || Is(t_[k], "then") || Is(t_[k], "else"))) {
        marks.push_back(k);
      }
    }
    if (marks.empty() || !Is(t_[marks[0]], "when"))
      return Status::InvalidArgument("a CASE without WHEN");
    VELQUIN_ASSIGN_OR_RETURN(std::string operand, Range(at + 1, marks[0]));
    operand = Trim(operand);
    std::string out;
    for (std::size_t m = 0; m < marks.size(); ++m) {
      const std::size_t next = m + 1 < marks.size() ? marks[m + 1] : end;
      VELQUIN_ASSIGN_OR_RETURN(std::string piece, Range(marks[m] + 1, next));
      piece = Trim(piece);
      if (Is(t_[marks[m]], "when")) {
        if (!out.empty()) out += ", ";
        if (!operand.empty()) out += operand + " = ";
        out += piece;
      } else if (Is(t_[marks[m]], "then")) {
        out += ", " + piece;
      } else {
        out += ", true, " + piece;
      }
    }
    return "switch(" + out + ")";
  }

  Result<std::string> Range(std::size_t b, std::size_t e) {
    std::string out;
    for (std::size_t k = b; k < e;) {
      const Token& tok = t_[k];
      const std::size_t next = NextSolid(t_, k);
      if (tok.kind == Tok::kWord && TranslatedLater().count(AsciiLower(tok.text)) &&
          IsPunct(t_, next, "(")) {
        const std::size_t close = Closing(t_, next);
        if (close >= e) return Status::InvalidArgument("a call is not closed");
        VELQUIN_ASSIGN_OR_RETURN(std::string call, Call(AsciiLower(tok.text), next, close));
        out += call;
        k = close + 1;
        continue;
      }
      if (Is(tok, "case")) {
        int depth = 0;
        std::size_t end = k;
        for (; end < e; ++end) {
          if (Is(t_[end], "case")) ++depth;
          if (Is(t_[end], "end") && --depth == 0) break;
        }
        if (end >= e) return Status::InvalidArgument("a CASE without END");
        VELQUIN_ASSIGN_OR_RETURN(std::string sw, Case(k, end));
        out += sw;
        k = end + 1;
        continue;
      }
      out += JetText(tok);
      ++k;
    }
    return out;
  }

  // "select ... limit n" -> "select top n ..." (at the top or in a
  // subquery, where MySQL writes "exists(select ... limit 1)"); an offset
  // has no Jet form.
  Status LimitToTop() {
    for (std::size_t k = 0; k < t_.size(); ++k) {
      if (!Is(t_[k], "limit")) continue;
      const std::size_t n = NextSolid(t_, k);
      const std::size_t after_n = n < t_.size() ? NextSolid(t_, n) : t_.size();
      if (n >= t_.size() || t_[n].kind != Tok::kNumber ||
          (after_n < t_.size() && !IsPunct(t_, after_n, ")"))) {
        return Status::InvalidArgument("LIMIT with an offset");
      }
      std::string count = t_[n].text;
      std::size_t cut = k;
      while (cut > 0 && t_[cut - 1].kind == Tok::kSpace) --cut;
      t_.erase(t_.begin() + static_cast<std::ptrdiff_t>(cut),
               t_.begin() + static_cast<std::ptrdiff_t>(n) + 1);
      // The SELECT this LIMIT closes: the last one before it at its depth.
      std::size_t at = std::string::npos;
      int depth = 0;
      for (std::size_t s = cut; s-- > 0;) {
        if (IsPunct(t_, s, ")")) ++depth;
        if (IsPunct(t_, s, "(")) {
          if (depth == 0) break;
          --depth;
        }
        if (depth == 0 && Is(t_[s], "select")) {
          at = s;
          break;
        }
      }
      if (at == std::string::npos) return Status::InvalidArgument("LIMIT without SELECT");
      std::size_t after = NextSolid(t_, at);
      if (after < t_.size() && (Is(t_[after], "distinct") || Is(t_[after], "all"))) at = after;
      t_.insert(
          t_.begin() + static_cast<std::ptrdiff_t>(at) + 1,
          {{Tok::kSpace, " "}, {Tok::kWord, "top"}, {Tok::kSpace, " "}, {Tok::kNumber, count}});
      k = at;
    }
    return Status::Ok();
  }

  std::vector<Token> t_;
};

Status Refuse(const std::string& what) {
  return Status::InvalidArgument(what + " cannot be expressed in Access");
}

// One SELECT (no UNION at its top level) in Jet's words.
Result<std::string> TranslateSelect(std::vector<Token> t, const ViewNameMapper& names) {
  const Sources sources = FindSources(t, names.is_object);
  const auto& refuse = Refuse;

  // Checks and renames, token by token.
  std::vector<std::string> out(t.size());
  std::vector<bool> paren_from_join_list;
  int depth = 0;
  for (std::size_t k = 0; k < t.size(); ++k) {
    const Token& tok = t[k];
    switch (tok.kind) {
      case Tok::kSpace:
      case Tok::kNumber:
        out[k] = tok.text;
        break;
      case Tok::kString: {
        std::string lit = "'";
        for (char c : tok.text) {
          lit += c;
          if (c == '\'') lit += '\'';
        }
        out[k] = lit + "'";
        break;
      }
      case Tok::kQuoted: {
        const std::size_t next = NextSolid(t, k);
        const std::size_t prev = PrevSolid(t, k);
        const bool after_dot = prev != std::string::npos && IsPunct(t, prev, ".");
        const bool before_dot = IsPunct(t, next, ".");
        const bool after_as = prev != std::string::npos && Is(t[prev], "as");
        auto object_of = [&](const std::string& name) {
          auto a = sources.alias_of.find(name);
          return a == sources.alias_of.end() ? name : a->second;
        };
        std::string mapped;
        if (sources.alias_tokens.count(k) || (before_dot && sources.alias_of.count(tok.text))) {
          mapped = AccessSafeName(tok.text);  // a table alias
        } else if (after_as) {
          mapped = names.alias ? names.alias(tok.text) : AccessSafeName(tok.text);
        } else if (after_dot) {
          const std::size_t q = PrevSolid(t, prev);
          std::string table =
              q != std::string::npos && (t[q].kind == Tok::kQuoted || t[q].kind == Tok::kWord)
                  ? object_of(t[q].text)
                  : std::string();
          mapped = names.column ? names.column(table, tok.text) : AccessSafeName(tok.text);
        } else if (before_dot || (names.is_object && names.is_object(tok.text))) {
          mapped = names.object ? names.object(tok.text) : AccessSafeName(tok.text);
        } else if (sources.objects.size() == 1 && names.column) {
          mapped = names.column(sources.objects.front(), tok.text);  // an unqualified column
        } else {
          mapped = names.alias ? names.alias(tok.text) : AccessSafeName(tok.text);
        }
        out[k] = QuoteJetNameInText(mapped);
        break;
      }
      case Tok::kWord: {
        std::string w = AsciiLower(tok.text);
        std::size_t next = NextSolid(t, k);
        bool call = next < t.size() && t[next].text == "(" && t[next].kind == Tok::kPunct;
        if (w.size() > 1 && w[0] == '_' && next < t.size() && t[next].kind == Tok::kString) {
          out[k] = "";  // character-set introducer
          if (next == k + 1) break;
          for (std::size_t s = k + 1; s < next; ++s) t[s].text.clear();
          break;
        }
        static const std::set<std::string> kRefused = {
            "union",   "group_concat", "offset",  "interval",  "rollup",  "over",
            "window",  "cast",         "convert", "collate",   "regexp",  "rlike",
            "div",     "xor",          "with",    "recursive", "lateral", "straight_join",
            "natural", "sounds",       "binary",  "escape"};
        if (w == "union") return refuse("a UNION inside parentheses");
        if (kRefused.count(w))
          return refuse(AsciiLower(tok.text) == "group_concat" ? std::string("GROUP_CONCAT")
                                                               : "\"" + tok.text + "\"");
        if (w == "join") {
          std::size_t prev = PrevSolid(t, k);
          std::string p = prev == std::string::npos ? "" : AsciiLower(t[prev].text);
          if (p == "left" || p == "right" || p == "outer" || p == "inner") {
            out[k] = tok.text;
            break;
          }
          if (p == "cross") return refuse("CROSS JOIN");
          // Look ahead at this depth for ON before the next join or the end.
          int d = 0;
          bool has_on = false;
          for (std::size_t s = k + 1; s < t.size(); ++s) {
            if (t[s].kind == Tok::kPunct && t[s].text == "(") ++d;
            if (t[s].kind == Tok::kPunct && t[s].text == ")") {
              if (d == 0) break;
              --d;
            }
            if (d != 0) continue;
            if (Is(t[s], "on")) {
              has_on = true;
              break;
            }
            if (Is(t[s], "join") || Is(t[s], "where") || Is(t[s], "group") || Is(t[s], "order") ||
                Is(t[s], "having") || Is(t[s], "union"))
              break;
          }
          out[k] = has_on ? "inner join" : ",";
          if (!has_on && !paren_from_join_list.empty()) paren_from_join_list.back() = true;
          break;
        }
        if (call && !NotFunctions().count(w)) {
          if (TranslatedLater().count(w)) {
            out[k] = w;
            break;
          }
          std::string renamed = RenamedFunction(w);
          if (!renamed.empty()) {
            out[k] = renamed;
            break;
          }
          if (!KeptFunctions().count(w)) return refuse("the MySQL function " + tok.text + "()");
        }
        if (w == "using") return refuse("JOIN ... USING");
        out[k] = tok.text;
        break;
      }
      case Tok::kPunct: {
        const std::string& p = tok.text;
        if (p == "(") {
          ++depth;
          paren_from_join_list.push_back(false);
          out[k] = p;
        } else if (p == ")") {
          --depth;
          out[k] = p;
          if (!paren_from_join_list.empty()) {
            if (paren_from_join_list.back()) {
              // "(a , b)": a comma list needs no parentheses; drop this pair.
              out[k] = "";
              int d = 0;
              for (std::size_t s = k; s-- > 0;) {
                if (t[s].kind != Tok::kPunct) continue;
                if (t[s].text == ")") ++d;
                if (t[s].text == "(") {
                  if (d == 0) {
                    out[s] = "";
                    break;
                  }
                  --d;
                }
              }
            }
            paren_from_join_list.pop_back();
          }
        } else if (p == ",") {
          out[k] = ",";
        } else if (p == "!=") {
          out[k] = "<>";
        } else if (p == "&&") {
          out[k] = "and";
        } else if (p == "!") {
          out[k] = "not ";  // MySQL writes NOT IN and NOT EXISTS as !(... in ...), !exists
        } else if (p == "||") {
          return refuse("the operator ||");
        } else if (p == "<=>" || p == "->" || p == ":=" || p == "@" || p == "%" || p == "^" ||
                   p == "~" || p == "|" || p == ";") {
          return refuse("the operator " + p);
        } else {
          out[k] = p;
        }
        break;
      }
    }
  }
  std::string body;
  for (const auto& piece : out) body += piece;
  VELQUIN_ASSIGN_OR_RETURN(std::vector<Token> jet, Tokenize(body, false));
  auto translated = Translator(std::move(jet)).Run();
  if (!translated.ok()) return refuse(translated.status().message());
  std::string sql = std::move(*translated);
  while (!sql.empty() && (sql.back() == ' ' || sql.back() == '\n')) sql.pop_back();
  const std::size_t from = sql.find_first_not_of(" \n");
  return from == std::string::npos ? std::string() : sql.substr(from);
}

// The fields a SELECT returns: the top-level commas of its select list, plus one.
std::size_t SelectListWidth(const std::vector<Token>& t) {
  std::size_t k = 0;
  while (k < t.size() && !Is(t[k], "select")) ++k;
  std::size_t width = 1;
  int depth = 0;
  for (++k; k < t.size(); ++k) {
    if (IsPunct(t, k, "(")) ++depth;
    if (IsPunct(t, k, ")")) --depth;
    if (depth != 0) continue;
    if (Is(t[k], "from")) break;
    if (IsPunct(t, k, ",")) ++width;
  }
  return width;
}

// A union's ORDER BY names the union's output fields (MySQL allows no
// table names there): each becomes the field's Access name.
Result<std::string> TranslateUnionOrder(const std::vector<Token>& t, const ViewNameMapper& names) {
  std::string out;
  for (const Token& tok : t) {
    if (tok.kind == Tok::kQuoted) {
      const std::string mapped = names.alias ? names.alias(tok.text) : AccessSafeName(tok.text);
      out += QuoteJetNameInText(mapped);
    } else if (tok.kind == Tok::kSpace || (tok.kind == Tok::kPunct && tok.text == ",") ||
               Is(tok, "order") || Is(tok, "by") || Is(tok, "asc") || Is(tok, "desc")) {
      out += tok.text;
    } else {
      return Refuse("the UNION's ORDER BY on \"" + tok.text + "\" (only field names)");
    }
  }
  while (!out.empty() && (out.back() == ' ' || out.back() == '\n')) out.pop_back();
  return out;
}

// SELECT ... UNION [ALL] SELECT ... [ORDER BY ...]: each SELECT translated on
// its own; Jet keeps the union words and the ORDER BY of the whole.
Result<std::string> TranslateUnion(const std::vector<Token>& t, const ViewNameMapper& names) {
  struct Part {
    std::vector<Token> tokens;
    std::string joined_by;  // "union" or "union all"; empty for the first
  };
  std::vector<Part> parts(1);
  int depth = 0;
  for (std::size_t k = 0; k < t.size(); ++k) {
    if (IsPunct(t, k, "(")) ++depth;
    if (IsPunct(t, k, ")")) --depth;
    if (depth == 0 && Is(t[k], "union")) {
      Part next;
      next.joined_by = "union";
      std::size_t n = NextSolid(t, k);
      if (n < t.size() && (Is(t[n], "all") || Is(t[n], "distinct"))) {
        if (Is(t[n], "all")) next.joined_by = "union all";
        k = n;
      }
      parts.push_back(std::move(next));
      continue;
    }
    parts.back().tokens.push_back(t[k]);
  }
  if (parts.size() == 1) return TranslateSelect(t, names);

  // The last SELECT's ORDER BY sorts the whole union; a LIMIT there would cut it.
  std::vector<Token> order;
  std::vector<Token>& last = parts.back().tokens;
  depth = 0;
  for (std::size_t k = 0; k < last.size(); ++k) {
    if (IsPunct(last, k, "(")) ++depth;
    if (IsPunct(last, k, ")")) --depth;
    if (depth != 0) continue;
    if (Is(last[k], "limit")) return Refuse("LIMIT on a UNION");
    if (Is(last[k], "order") && order.empty()) {
      order.assign(last.begin() + static_cast<std::ptrdiff_t>(k), last.end());
      last.erase(last.begin() + static_cast<std::ptrdiff_t>(k), last.end());
      break;
    }
  }
  std::string out;
  std::size_t width = 0;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string which = "UNION part " + std::to_string(i + 1);
    std::size_t first = 0;
    while (first < parts[i].tokens.size() && parts[i].tokens[first].kind == Tok::kSpace) ++first;
    if (first == parts[i].tokens.size() || !Is(parts[i].tokens[first], "select")) {
      return Refuse(which + " (a SELECT in parentheses, or none)");
    }
    const std::size_t n = SelectListWidth(parts[i].tokens);
    if (i == 0) width = n;
    if (n != width) {
      return Status::InvalidArgument(which + " returns " + std::to_string(n) +
                                     " column(s) and part 1 returns " + std::to_string(width) +
                                     ": the parts of a union query return as many columns");
    }
    auto text = TranslateSelect(std::move(parts[i].tokens), names);
    if (!text.ok()) return Status::InvalidArgument(which + ": " + text.status().message());
    if (i > 0) out += " " + parts[i].joined_by + " ";
    out += *text;
  }
  if (!order.empty()) {
    VELQUIN_ASSIGN_OR_RETURN(std::string by, TranslateUnionOrder(order, names));
    out += " " + by;
  }
  return out;
}

}  // namespace

Result<std::string> RewriteViewDefinition(std::string_view show_create_view,
                                          std::string_view access_view_name,
                                          const ViewNameMapper& names) {
  // The header (up to the word VIEW, the view's name and AS) is replaced.
  VELQUIN_ASSIGN_OR_RETURN(std::vector<Token> t, ViewBody(show_create_view));
  VELQUIN_ASSIGN_OR_RETURN(std::string body, TranslateUnion(t, names));
  return "create view " + QuoteJetNameInText(access_view_name) + " as " + body;
}

}  // namespace velquin

namespace velquin {

Result<std::vector<std::string>> ViewReadsObjects(
    std::string_view show_create_view, const std::function<bool(std::string_view)>& is_object) {
  VELQUIN_ASSIGN_OR_RETURN(std::vector<Token> t, ViewBody(show_create_view));
  return FindSources(t, is_object).objects;
}

Result<std::vector<std::string>> ViewColumnAliases(std::string_view show_create_view) {
  VELQUIN_ASSIGN_OR_RETURN(std::vector<Token> t, ViewBody(show_create_view));
  std::vector<std::string> out;
  for (std::size_t k = 0; k < t.size(); ++k) {
    if (t[k].kind != Tok::kQuoted) continue;
    const std::size_t prev = PrevSolid(t, k);
    if (prev != std::string::npos && Is(t[prev], "as")) out.push_back(t[k].text);
  }
  return out;
}

}  // namespace velquin
