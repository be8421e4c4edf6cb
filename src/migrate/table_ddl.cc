#include "migrate/table_ddl.h"

#include <charconv>
#include <functional>

#include "migrate/regex.h"

namespace velquin {
namespace {

// A quoted name or literal set aside as "\x01<n>\x02".
constexpr std::string_view kName = "\\x01\\d+\\x02";

struct Masked {
  std::string text;                 // with placeholders, lower-cased, cut
  std::vector<std::string> chunks;  // the quoted texts, as written
};

std::string Placeholder(std::size_t i) { return "\x01" + std::to_string(i) + "\x02"; }

// Sets quoted names ( `...` and "..." ) and string literals ( '...' ) aside;
// drops /* ... */ comments (MySQL's versioned comments such as
// /*!80023 INVISIBLE */ carry only options Access has no use for).
Masked Mask(std::string_view in) {
  Masked m;
  std::size_t i = 0;
  while (i < in.size()) {
    char c = in[i];
    if (c == '`' || c == '"' || c == '\'') {
      std::size_t j = i + 1;
      while (j < in.size()) {
        if (c != '`' && in[j] == '\\') {
          j += 2;
          continue;
        }
        if (in[j] == c) {
          if (j + 1 < in.size() && in[j + 1] == c) {
            j += 2;
            continue;
          }
          break;
        }
        ++j;
      }
      std::size_t end = std::min(j + 1, in.size());
      m.text += Placeholder(m.chunks.size());
      m.chunks.emplace_back(in.substr(i, end - i));
      i = end;
    } else if (c == '/' && i + 1 < in.size() && in[i + 1] == '*') {
      std::size_t close = in.find("*/", i + 2);
      i = close == std::string_view::npos ? in.size() : close + 2;
      if (!m.text.empty() && m.text.back() == ' ') m.text.pop_back();
    } else if (c == '\x01' || c == '\x02') {
      // The placeholder marks cannot occur in MySQL's text; never let them.
      m.text += ' ';
      ++i;
    } else {
      m.text += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
      ++i;
    }
  }
  return m;
}

std::string Unmask(std::string_view text, const std::vector<std::string>& chunks) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\x01') {
      std::size_t close = text.find('\x02', i);
      if (close != std::string_view::npos) {
        std::string_view digits = text.substr(i + 1, close - i - 1);
        std::size_t index = chunks.size();
        std::from_chars(digits.data(), digits.data() + digits.size(), index);
        if (index < chunks.size()) out += chunks[index];
        i = close;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// The text inside a quoted chunk: `a``b` -> a`b; 'it''s \\' -> it's \ .
std::string Unquote(std::string_view chunk) {
  if (chunk.size() < 2) return std::string(chunk);
  char q = chunk.front();
  std::string_view body = chunk.substr(1, chunk.size() - 2);
  std::string out;
  for (std::size_t i = 0; i < body.size(); ++i) {
    char c = body[i];
    if (q != '`' && c == '\\' && i + 1 < body.size()) {
      char e = body[++i];
      switch (e) {
        case '0':
          out += '\0';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'b':
          out += '\b';
          break;
        case 'Z':
          out += '\x1a';
          break;
        default:
          out += e;
      }
      continue;
    }
    if (c == q && i + 1 < body.size() && body[i + 1] == q) ++i;
    out += c;
  }
  return out;
}

struct PreparedDdl {
  Masked masked;
  std::string table_token;  // placeholder or bare name
};

// Chunk index of a placeholder token, or -1 for a bare word.
long ChunkIndex(std::string_view token) {
  if (token.size() < 3 || token.front() != '\x01') return -1;
  long index = -1;
  std::string_view digits = token.substr(1, token.size() - 2);
  std::from_chars(digits.data(), digits.data() + digits.size(), index);
  return index;
}

std::string NameOf(std::string_view token, const Masked& m) {
  long index = ChunkIndex(token);
  if (index < 0 || static_cast<std::size_t>(index) >= m.chunks.size()) return std::string(token);
  return Unquote(m.chunks[static_cast<std::size_t>(index)]);
}

// Steps 1 and 2, with the checks that the text is a whole CREATE TABLE.
Result<PreparedDdl> Prepare(std::string_view text) {
  PreparedDdl p;
  p.masked = Mask(text);
  std::string& t = p.masked.text;
  VELQUIN_ASSIGN_OR_RETURN(
      auto head,
      RegexFindAll(t, "^\\s*create\\s+(?:temporary\\s+)?table\\s+(?:if not exists\\s+)?(" +
                          std::string(kName) + "|[\\w$]+)\\s*\\("));
  if (head.empty()) {
    std::string start(text.substr(0, 60));
    return Status::InvalidArgument("not a CREATE TABLE text: \"" + start + "\"");
  }
  p.table_token = std::string(head[0].Group(1));
  std::size_t open = head[0].offset + head[0].text.size() - 1;
  int depth = 0;
  std::size_t close = std::string::npos;
  for (std::size_t i = open; i < t.size(); ++i) {
    if (t[i] == '(') ++depth;
    if (t[i] == ')' && --depth == 0) {
      close = i;
      break;
    }
  }
  if (close == std::string::npos) {
    return Status::InvalidArgument("the CREATE TABLE text of " + NameOf(p.table_token, p.masked) +
                                   " ends before its column list closes");
  }
  t.resize(close + 1);
  return p;
}

bool IsKeyLineWord(std::string_view w) {
  static const char* kWords[] = {"primary", "unique",     "key",   "index",   "fulltext",
                                 "spatial", "constraint", "check", "foreign", "period"};
  for (const char* k : kWords) {
    if (w == k) return true;
  }
  return false;
}

bool IsWordChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '$';
}

// True when `text` holds `phrase` as whole words.
bool HasWords(std::string_view text, std::string_view phrase) {
  for (std::size_t at = text.find(phrase); at != std::string_view::npos;
       at = text.find(phrase, at + 1)) {
    bool left = at == 0 || !IsWordChar(text[at - 1]);
    std::size_t end = at + phrase.size();
    bool right = end >= text.size() || !IsWordChar(text[end]);
    if (left && right) return true;
  }
  return false;
}

std::string ColumnLinePattern() {
  return "\\n  (" + std::string(kName) + "|[\\w$]+) ([a-z][a-z0-9_]*)(\\([^()]*\\))?([^\\n]*)";
}

std::vector<std::string> SplitArgs(std::string_view args, const Masked& m, bool labels) {
  std::vector<std::string> out;
  if (args.size() < 2) return out;
  std::string_view inner = args.substr(1, args.size() - 2);
  std::size_t start = 0;
  while (start <= inner.size()) {
    std::size_t comma = inner.find(',', start);
    std::string_view piece = inner.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
    while (!piece.empty() && piece.front() == ' ') piece.remove_prefix(1);
    while (!piece.empty() && piece.back() == ' ') piece.remove_suffix(1);
    out.push_back(labels ? NameOf(piece, m) : std::string(piece));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return out;
}

Result<std::vector<SourceColumn>> ParseColumns(const PreparedDdl& p) {
  std::vector<SourceColumn> columns;
  VELQUIN_ASSIGN_OR_RETURN(auto matches, RegexFindAll(p.masked.text, ColumnLinePattern()));
  for (const RegexMatch& match : matches) {
    std::string_view token = match.Group(1);
    if (ChunkIndex(token) < 0 && IsKeyLineWord(token)) continue;
    SourceColumn c;
    c.name = NameOf(token, p.masked);
    c.type = std::string(match.Group(2));
    std::string_view args = match.Group(3);
    std::string_view rest = match.Group(4);
    c.args = SplitArgs(args, p.masked, c.type == "enum" || c.type == "set");
    c.is_unsigned = HasWords(rest, "unsigned");
    c.zerofill = HasWords(rest, "zerofill");
    c.not_null = HasWords(rest, "not null");
    c.auto_increment = HasWords(rest, "auto_increment");
    c.generated =
        HasWords(rest, "generated always") || rest.find(" as (") != std::string_view::npos;
    c.declared = c.type + Unmask(args, p.masked.chunks);
    if (c.is_unsigned) c.declared += " unsigned";
    if (c.zerofill) c.declared += " zerofill";
    columns.push_back(std::move(c));
  }
  return columns;
}

enum class TypeStyle { kPlain, kTrailingSpace, kSwallowBlanks };

TypeStyle StyleOf(std::string_view type) {
  if (type == "tinyint" || type == "smallint" || type == "mediumint" || type == "int" ||
      type == "integer" || type == "bigint") {
    return TypeStyle::kTrailingSpace;
  }
  if (type == "decimal" || type == "numeric" || type == "dec" || type == "fixed" ||
      type == "float" || type == "double" || type == "real") {
    return TypeStyle::kSwallowBlanks;
  }
  return TypeStyle::kPlain;
}

using Rule = std::function<Result<std::string>(const std::string&)>;

Rule Replace(std::string pattern, std::string replacement) {
  return [pattern = std::move(pattern), replacement = std::move(replacement)](
             const std::string& t) { return RegexReplace(t, pattern, replacement); };
}

// A balanced parenthesised expression (placeholders hold no parentheses).
constexpr std::string_view kParens = "(\\((?:[^()]|(?-1))*\\))";

std::string LogLine(const ColumnPlan& plan) {
  return "Column `" + plan.name + "` " + plan.declared + " becomes " + plan.access_type + ": " +
         plan.reason;
}

}  // namespace

std::string ShowCreateTableQuery(std::string_view database, std::string_view table) {
  return "SHOW CREATE TABLE " + QuoteIdentifier(database) + "." + QuoteIdentifier(table);
}

Result<std::vector<SourceColumn>> ParseCreateTableColumns(std::string_view show_create_table) {
  VELQUIN_ASSIGN_OR_RETURN(PreparedDdl p, Prepare(show_create_table));
  return ParseColumns(p);
}

Result<std::vector<ForeignKeyDecl>> ParseForeignKeys(std::string_view show_create_table) {
  VELQUIN_ASSIGN_OR_RETURN(PreparedDdl p, Prepare(show_create_table));
  const std::string name(kName);
  VELQUIN_ASSIGN_OR_RETURN(auto matches,
                           RegexFindAll(p.masked.text, "\\n  constraint (" + name +
                                                           "|[\\w$]+) foreign key \\(([^()]*)\\) "
                                                           "references (?:(" +
                                                           name + "|[\\w$]+)\\.)?(" + name +
                                                           "|[\\w$]+) \\(([^()]*)\\)([^\\n]*)"));
  std::vector<ForeignKeyDecl> keys;
  for (const RegexMatch& m : matches) {
    ForeignKeyDecl fk;
    fk.name = NameOf(m.Group(1), p.masked);
    fk.columns = SplitArgs("(" + std::string(m.Group(2)) + ")", p.masked, true);
    if (!m.Group(3).empty()) fk.referenced_database = NameOf(m.Group(3), p.masked);
    fk.referenced_table = NameOf(m.Group(4), p.masked);
    fk.referenced_columns = SplitArgs("(" + std::string(m.Group(5)) + ")", p.masked, true);
    std::string rest(m.Group(6));
    for (auto [prefix, target] :
         {std::pair{"on delete ", &fk.on_delete}, std::pair{"on update ", &fk.on_update}}) {
      auto at = rest.find(prefix);
      if (at == std::string::npos) continue;
      std::string_view tail = std::string_view(rest).substr(at + std::string_view(prefix).size());
      for (const char* action : {"cascade", "set null", "set default", "no action", "restrict"}) {
        if (tail.substr(0, std::string_view(action).size()) == action) *target = action;
      }
    }
    keys.push_back(std::move(fk));
  }
  return keys;
}

std::string BuildColumnFactsQuery(std::string_view database, std::string_view table,
                                  const std::vector<SourceColumn>& columns) {
  std::string select;
  for (const SourceColumn& c : columns) {
    if (!NeedsColumnFacts(c)) continue;
    std::string value = QuoteIdentifier(c.name);
    if (c.type == "bit") value = "(" + value + " + 0)";
    if (!select.empty()) select += ", ";
    select +=
        "MIN(" + value + "), MAX(" + value + "), COUNT(*) - COUNT(" + QuoteIdentifier(c.name) + ")";
  }
  if (select.empty()) return "";
  return "SELECT " + select + " FROM " + QuoteIdentifier(database) + "." + QuoteIdentifier(table);
}

Result<ColumnFactsMap> ReadColumnFacts(const std::vector<SourceColumn>& columns,
                                       const SourceRows& rows) {
  ColumnFactsMap facts;
  std::size_t needed = 0;
  for (const SourceColumn& c : columns) needed += NeedsColumnFacts(c) ? 1 : 0;
  if (needed == 0) return facts;
  if (rows.size() != 1 || rows[0].size() != 3 * needed) {
    return Status::InvalidArgument("the column-facts query returned " +
                                   std::to_string(rows.size()) + " rows of " +
                                   std::to_string(rows.empty() ? 0 : rows[0].size()) +
                                   " values; expected one row of " + std::to_string(3 * needed));
  }
  std::size_t i = 0;
  for (const SourceColumn& c : columns) {
    if (!NeedsColumnFacts(c)) continue;
    ColumnFacts f;
    f.min = rows[0][i];
    f.max = rows[0][i + 1];
    f.has_nulls = rows[0][i + 2].has_value() && *rows[0][i + 2] != "0";
    facts[c.name] = std::move(f);
    i += 3;
  }
  return facts;
}

Result<TableDdl> ConvertTableDdl(std::string_view show_create_table, const TableDdlInput& input) {
  VELQUIN_ASSIGN_OR_RETURN(PreparedDdl p, Prepare(show_create_table));  // steps 1 and 2
  VELQUIN_ASSIGN_OR_RETURN(std::vector<SourceColumn> columns, ParseColumns(p));

  TableDdl out;
  out.table_name = NameOf(p.table_token, p.masked);
  std::map<std::string, std::size_t, CaseInsensitiveLess> by_name;
  auto plan_column = [&](const SourceColumn& c, const ColumnPlan* self_reference) {
    auto fact = input.facts.find(c.name);
    auto ref = input.referenced.find(c.name);
    const ColumnPlan* referenced = ref == input.referenced.end() ? self_reference : &ref->second;
    return MapColumnType(c, fact == input.facts.end() ? nullptr : &fact->second, referenced);
  };
  for (const SourceColumn& c : columns) {
    by_name[c.name] = out.columns.size();
    out.columns.push_back(plan_column(c, nullptr));
  }
  // A foreign key into this same table: its columns take the type just
  // planned for the columns they reference.
  VELQUIN_ASSIGN_OR_RETURN(std::vector<ForeignKeyDecl> keys, ParseForeignKeys(show_create_table));
  for (const ForeignKeyDecl& fk : keys) {
    if (!fk.referenced_database.empty() || fk.referenced_table != out.table_name) continue;
    for (std::size_t i = 0; i < fk.columns.size() && i < fk.referenced_columns.size(); ++i) {
      auto column = by_name.find(fk.columns[i]);
      auto target = by_name.find(fk.referenced_columns[i]);
      if (column == by_name.end() || target == by_name.end()) continue;
      ColumnPlan referenced = out.columns[target->second];
      out.columns[column->second] = plan_column(columns[column->second], &referenced);
    }
  }
  for (const ColumnPlan& plan : out.columns) {
    if (!plan.reason.empty()) out.log.push_back(LogLine(plan));
  }
  // CHECK constraints are rules, not data: say that they stay behind.
  VELQUIN_ASSIGN_OR_RETURN(auto checks,
                           RegexFindAll(p.masked.text, "\\n  (?:constraint (" + std::string(kName) +
                                                           "|[\\w$]+) )?check\\b"));
  for (const RegexMatch& m : checks) {
    std::string name = m.Group(1).empty() ? "" : " `" + NameOf(m.Group(1), p.masked) + "`";
    out.log.push_back("CHECK constraint" + name + " is not carried");
  }
  VELQUIN_ASSIGN_OR_RETURN(auto column_checks,
                           RegexFindAll(p.masked.text, "\\n  (" + std::string(kName) +
                                                           "|[\\w$]+) [^\\n]*\\scheck\\s*\\("));
  for (const RegexMatch& m : column_checks) {
    if (ChunkIndex(m.Group(1)) < 0 && IsKeyLineWord(m.Group(1))) continue;
    out.log.push_back("CHECK constraint of column `" + NameOf(m.Group(1), p.masked) +
                      "` is not carried");
  }
  std::vector<std::string> source_types;
  for (const SourceColumn& c : columns) source_types.push_back(c.type);

  const Masked& masked = p.masked;
  auto type_rule = [&](const std::string& t) {
    return RegexReplaceEach(
        t, "(\\n  )(" + std::string(kName) + "|[\\w$]+) ([a-z][a-z0-9_]*)(\\([^()]*\\))?([ \\t]*)",
        [&](const RegexMatch& m) -> std::string {
          std::string_view token = m.Group(2);
          if (ChunkIndex(token) < 0 && IsKeyLineWord(token)) return std::string(m.text);
          auto it = by_name.find(NameOf(token, masked));
          if (it == by_name.end()) return std::string(m.text);
          const ColumnPlan& plan = out.columns[it->second];
          std::string head = std::string(m.Group(1)) + std::string(token) + " ";
          std::string original = std::string(m.Group(3)) + std::string(m.Group(4));
          bool as_written = plan.type == AccessType::kUnknown ||
                            plan.access_type == Unmask(original, masked.chunks);
          if (as_written) return head + original + std::string(m.Group(5));
          switch (StyleOf(source_types[it->second])) {
            case TypeStyle::kTrailingSpace:
              return head + plan.access_type + " " + std::string(m.Group(5));
            case TypeStyle::kSwallowBlanks:
              return head + plan.access_type + " ";
            case TypeStyle::kPlain:
              break;
          }
          return head + plan.access_type + std::string(m.Group(5));
        });
  };

  const std::string parens(kParens);
  const std::vector<Rule> rules = {
      Replace("\\n  (?:primary|unique|key|index|fulltext|spatial|constraint|check|foreign|"
              "period)\\b[^\\n]*",
              ""),                                           // 3
      Replace("\\b(?:unsigned|zerofill)\\b", ""),            // 4
      Replace("\\bauto_increment\\b", ""),                   // 5
      type_rule,                                             // 6
      Replace("\\s(?:character set|charset)\\s\\w+", ""),    // 7
      Replace("\\scollate\\s\\w+", ""),                      // 7
      Replace("\\s(?:generated always\\s)?as\\s" + parens +  // 8
                  "(?:\\s(?:virtual|stored|persistent))?",
              ""),
      Replace("\\sgenerated always as row (?:start|end)\\b", ""),  // 8
      Replace("\\sinvisible\\b", ""),                              // 9
      Replace("\\scheck\\s*" + parens, ""),                        // 10
      Replace("\\scomment\\s" + std::string(kName), ""),           // 11
      Replace("\\son update\\s\\w+(?:\\([^()]*\\))?", ""),         // 12
      Replace("\\bdefault\\s[^\\n]*?(,?)(?=\\n|$)", "$1"),         // 13
      Replace("(?<!not)\\snull\\b", ""),                           // 14
      Replace(",\\n\\)", "\n)"),                                   // 15
  };
  std::string text = masked.text;
  for (const Rule& rule : rules) {
    VELQUIN_ASSIGN_OR_RETURN(text, rule(text));
  }
  // What is left of the set-aside texts are names: written for Jet (a name
  // holding a back quote, which MySQL writes doubled, goes into brackets).
  std::vector<std::string> jet_names = masked.chunks;
  for (std::string& chunk : jet_names) {
    if (chunk.empty() || (chunk.front() != '`' && chunk.front() != '"')) continue;
    VELQUIN_ASSIGN_OR_RETURN(chunk, QuoteJetName(Unquote(chunk)));
  }
  out.sql = Unmask(text, jet_names) + "\n";
  return out;
}

}  // namespace velquin
