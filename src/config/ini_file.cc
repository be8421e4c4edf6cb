#include "config/ini_file.h"

#include <fstream>
#include <mutex>
#include <sstream>
#include <system_error>

#include "base/unicode.h"

namespace velquin {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
constexpr std::size_t kNpos = static_cast<std::size_t>(-1);

enum class LineKind { kOther, kSection, kKey, kComment };

struct Parsed {
  LineKind kind = LineKind::kOther;
  std::string_view name;   // section name or key
  std::string_view value;  // key's value
};

Parsed Classify(std::string_view line) {
  Parsed p;
  std::string_view s = Trim(line, " \t");
  if (s.empty()) return p;
  if (s.front() == '[') {
    auto close = s.find(']');
    if (close == std::string_view::npos) return p;  // not a valid header: ignored
    p.kind = LineKind::kSection;
    p.name = s.substr(1, close - 1);
    return p;
  }
  if (s.front() == ';') {
    p.kind = LineKind::kComment;
    return p;
  }
  auto eq = s.find('=');
  if (eq == std::string_view::npos) return p;
  p.kind = LineKind::kKey;
  p.name = Trim(s.substr(0, eq), " \t");
  p.value = Trim(s.substr(eq + 1), " \t");
  return p;
}

bool HasForbidden(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::mutex& WriteMutex() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

IniFile IniFile::Parse(std::string_view bytes) {
  IniFile file;
  std::string decoded;
  std::string_view text = bytes;
  if (bytes.substr(0, kBom.size()) == kBom) {
    file.encoding_ = Encoding::kUtf8WithMark;
    text.remove_prefix(kBom.size());
  } else if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                   (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
    const bool little = bytes[0] == '\xFF';
    file.encoding_ = little ? Encoding::kUtf16Le : Encoding::kUtf16Be;
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      const auto lo = static_cast<unsigned char>(bytes[little ? i : i + 1]);
      const auto hi = static_cast<unsigned char>(bytes[little ? i + 1 : i]);
      units.push_back(static_cast<char16_t>(lo | (hi << 8)));
    }
    decoded = Utf16ToUtf8(units);
    text = decoded;
  } else if (!IsValidUtf8(bytes)) {
    file.encoding_ = Encoding::kWindows1252;
    decoded = Windows1252ToUtf8(bytes);
    text = decoded;
  }
  while (!text.empty()) {
    auto lf = text.find('\n');
    Line line;
    if (lf == std::string_view::npos) {
      line.text = std::string(text);
      text = {};
    } else {
      std::string_view body = text.substr(0, lf);
      if (!body.empty() && body.back() == '\r') {
        body.remove_suffix(1);
        line.eol = "\r\n";
      } else {
        line.eol = "\n";
      }
      line.text = std::string(body);
      text.remove_prefix(lf + 1);
    }
    file.lines_.push_back(std::move(line));
  }
  return file;
}

Result<IniFile> IniFile::Load(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::exists(path, ec)) {
    if (ec) return Status::IOError("cannot check " + path.string() + ": " + ec.message());
    return IniFile();
  }
  if (!std::filesystem::is_regular_file(path, ec)) {
    return Status::IOError(path.string() + " is not a file");
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::IOError("cannot open " + path.string() + " for reading");
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return Status::IOError("cannot read " + path.string());
  return Parse(buffer.str());
}

std::string IniFile::Text() const {
  std::string body;
  for (const Line& line : lines_) {
    body += line.text;
    body += line.eol;
  }
  switch (encoding_) {
    case Encoding::kUtf8:
      return body;
    case Encoding::kUtf8WithMark:
      return std::string(kBom) + body;
    case Encoding::kUtf16Le:
    case Encoding::kUtf16Be: {
      const bool little = encoding_ == Encoding::kUtf16Le;
      // Every text in the file is valid UTF-8: read from UTF-16, or checked
      // by SetString.
      auto units = Utf8ToUtf16(body);
      std::u16string u = units.ok() ? *units : std::u16string();
      std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
      for (char16_t c : u) {
        const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        out.push_back(little ? lo : hi);
        out.push_back(little ? hi : lo);
      }
      return out;
    }
    case Encoding::kWindows1252: {
      // Representable: read from the code page, or checked by SetString.
      std::string out;
      return Utf8ToWindows1252(body, &out) ? out : body;
    }
  }
  return body;
}

Status IniFile::Save(const std::filesystem::path& path) const {
  std::filesystem::path temp = path;
  temp += ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return Status::IOError("cannot open " + temp.string() + " for writing");
    std::string text = Text();
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    out.flush();
    if (!out) return Status::IOError("cannot write " + temp.string());
  }
  std::error_code ec;
  std::filesystem::rename(temp, path, ec);
  if (ec) {
    std::filesystem::remove(temp, ec);
    return Status::IOError("cannot replace " + path.string());
  }
  return Status::Ok();
}

std::size_t IniFile::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    Parsed p = Classify(lines_[i].text);
    if (p.kind == LineKind::kSection && EqualsIgnoreCase(p.name, section)) return i;
  }
  return kNpos;
}

std::size_t IniFile::SectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && Classify(lines_[i].text).kind != LineKind::kSection) ++i;
  return i;
}

std::size_t IniFile::FindKey(std::size_t header, std::string_view key) const {
  std::size_t end = SectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    Parsed p = Classify(lines_[i].text);
    if (p.kind == LineKind::kKey && EqualsIgnoreCase(p.name, key)) return i;
  }
  return kNpos;
}

std::string IniFile::NewLineEnding() const {
  for (const Line& line : lines_) {
    if (!line.eol.empty()) return line.eol;
  }
  return "\r\n";
}

std::optional<std::string> IniFile::Find(std::string_view section, std::string_view key) const {
  std::size_t header = FindSection(section);
  if (header == kNpos) return std::nullopt;
  std::size_t line = FindKey(header, key);
  if (line == kNpos) return std::nullopt;
  return std::string(Classify(lines_[line].text).value);
}

std::string IniFile::GetString(std::string_view section, std::string_view key) const {
  return Find(section, key).value_or(std::string());
}

Status IniFile::SetString(std::string_view section, std::string_view key, std::string_view value) {
  if (section.empty() || HasForbidden(section) || section.find(']') != std::string_view::npos) {
    return Status::InvalidArgument("section name \"" + std::string(section) +
                                   "\" cannot be stored in an INI file");
  }
  if (key.empty() || HasForbidden(key) || key.find('=') != std::string_view::npos ||
      key.front() == '[' || key.front() == ';' || Trim(key, " \t").size() != key.size()) {
    return Status::InvalidArgument("key name \"" + std::string(key) +
                                   "\" cannot be stored in an INI file");
  }
  if (HasForbidden(value)) {
    return Status::InvalidArgument("the value for \"" + std::string(key) +
                                   "\" contains a line break, which an INI file cannot hold");
  }
  if (Trim(value, " \t").size() != value.size()) {
    return Status::InvalidArgument("the value for \"" + std::string(key) +
                                   "\" begins or ends with blanks, which an INI file loses");
  }
  if (encoding_ != Encoding::kUtf8 && encoding_ != Encoding::kWindows1252) {
    for (std::string_view part : {section, key, value}) {
      if (!IsValidUtf8(part)) {
        return Status::InvalidArgument("\"" + std::string(part) + "\" is not valid UTF-8 text");
      }
    }
  }
  if (encoding_ == Encoding::kWindows1252) {
    std::string bytes;
    for (std::string_view part : {section, key, value}) {
      if (!Utf8ToWindows1252(part, &bytes)) {
        return Status::InvalidArgument("\"" + std::string(part) +
                                       "\" has characters this file's Windows code page "
                                       "(1252) cannot hold");
      }
    }
  }
  std::string eol = NewLineEnding();
  std::size_t header = FindSection(section);
  if (header != kNpos) {
    std::size_t line = FindKey(header, key);
    if (line != kNpos) {
      std::string spelled(Classify(lines_[line].text).name);
      lines_[line].text = spelled + "=" + std::string(value);
      return Status::Ok();
    }
    // After the last non-blank line of the section.
    std::size_t end = SectionEnd(header);
    std::size_t insert = end;
    while (insert > header + 1 && Trim(lines_[insert - 1].text, " \t").empty()) --insert;
    if (lines_[insert - 1].eol.empty()) lines_[insert - 1].eol = eol;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert),
                  Line{std::string(key) + "=" + std::string(value), eol});
    return Status::Ok();
  }
  if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = eol;
  lines_.push_back(Line{"[" + std::string(section) + "]", eol});
  lines_.push_back(Line{std::string(key) + "=" + std::string(value), eol});
  return Status::Ok();
}

std::vector<std::string> IniFile::SectionNames() const {
  std::vector<std::string> names;
  for (const Line& line : lines_) {
    Parsed p = Classify(line.text);
    if (p.kind != LineKind::kSection) continue;
    bool seen = false;
    for (const auto& n : names) seen = seen || EqualsIgnoreCase(n, p.name);
    if (!seen) names.emplace_back(p.name);
  }
  return names;
}

Result<std::string> ReadProfileString(const std::filesystem::path& path, std::string_view section,
                                      std::string_view key) {
  VELQUIN_ASSIGN_OR_RETURN(IniFile file, IniFile::Load(path));
  return file.GetString(section, key);
}

Status WriteProfileString(const std::filesystem::path& path, std::string_view section,
                          std::string_view key, std::string_view value) {
  std::lock_guard<std::mutex> lock(WriteMutex());
  VELQUIN_ASSIGN_OR_RETURN(IniFile file, IniFile::Load(path));
  VELQUIN_RETURN_IF_ERROR(file.SetString(section, key, value));
  return file.Save(path);
}

}  // namespace velquin
