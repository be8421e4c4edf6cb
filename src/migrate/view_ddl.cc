#include "migrate/view_ddl.h"

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

Result<std::vector<Token>> Tokenize(std::string_view s) {
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
        if (s[j] == '\\' && j + 1 < s.size()) {
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
  static const std::set<std::string> k = {
      "in",   "exists", "on",   "as",     "from", "where", "and",     "or",       "not",  "select",
      "join", "values", "when", "then",   "is",   "like",  "between", "distinct", "all",  "any",
      "some", "using",  "by",   "having", "else", "inner", "left",    "right",    "outer"};
  return k;
}

const std::set<std::string>& KeptFunctions() {
  static const std::set<std::string> k = {
      "count", "sum",  "avg",   "min",   "max",   "abs",    "round",  "left",
      "right", "mid",  "trim",  "ltrim", "rtrim", "ucase",  "lcase",  "len",
      "now",   "year", "month", "day",   "hour",  "minute", "second", "sgn",
      "sign",  "iif",  "nz",    "instr", "space", "date",   "time",   "sqr"};
  return k;
}

std::string RenamedFunction(const std::string& f) {
  if (f == "upper") return "ucase";
  if (f == "lower") return "lcase";
  if (f == "length" || f == "char_length" || f == "character_length") return "len";
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

}  // namespace

Result<std::string> RewriteViewDefinition(std::string_view show_create_view,
                                          std::string_view access_view_name,
                                          const ViewNameMapper& names) {
  // The header (up to the word VIEW, the view's name and AS) is replaced.
  VELQUIN_ASSIGN_OR_RETURN(std::vector<Token> t, ViewBody(show_create_view));
  const Sources sources = FindSources(t, names.is_object);

  auto refuse = [](const std::string& what) {
    return Status::InvalidArgument(what + " cannot be expressed in Access");
  };

  // Checks and renames, token by token.
  std::vector<std::string> out(t.size());
  std::vector<bool> paren_from_join_list;
  std::vector<int> concat_depths;  // paren depths at which a concat( is open
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
        auto q = QuoteJetName(mapped);
        out[k] = q.ok() ? *q : "[" + mapped + "]";
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
            "case",          "limit",   "group_concat", "offset",  "interval",  "rollup",
            "over",          "window",  "cast",         "convert", "collate",   "regexp",
            "rlike",         "div",     "xor",          "with",    "recursive", "lateral",
            "straight_join", "natural", "sounds",       "binary",  "escape"};
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
          if (w == "concat") {
            out[k] = "";
            concat_depths.push_back(depth + 1);
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
          if (!concat_depths.empty() && concat_depths.back() == depth) concat_depths.pop_back();
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
          out[k] = !concat_depths.empty() && concat_depths.back() == depth ? " &" : ",";
        } else if (p == "!=") {
          out[k] = "<>";
        } else if (p == "&&") {
          out[k] = "and";
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
  auto q = QuoteJetName(access_view_name);
  std::string sql =
      "create view " + (q.ok() ? *q : "[" + std::string(access_view_name) + "]") + " as ";
  for (const auto& piece : out) sql += piece;
  while (!sql.empty() && (sql.back() == ' ' || sql.back() == '\n')) sql.pop_back();
  return sql;
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
