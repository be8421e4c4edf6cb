// INI files with the semantics of the Windows private-profile functions
// (GetPrivateProfileString / WritePrivateProfileString), which the stored
// configuration files were written with:
//
//   - "[name]" starts a section; the name is the text between "[" and the
//     first "]" (leading blanks before "[" are ignored, text after "]" too);
//   - "key=value" lines: the key is the text before the first "=", the value
//     the text after it, both without surrounding blanks (spaces, tabs);
//     lines starting with ";" are comments; other lines are ignored;
//   - sections and keys are matched without regard to (ASCII) case; with
//     duplicates, the first section of a name and the first key in it count;
//   - values are taken as they stand: no quotes are removed, nothing is
//     unescaped (the profile functions strip one pair of enclosing quotes on
//     reading; we do not, so a value such as 'a' = x or y = 'b' survives);
//   - a missing file, section or key reads as the empty text;
//   - writing a key changes only that key's line (rewritten as "key=value",
//     keeping the key's spelling from the file) or adds one line at the end of
//     the section, or a new section at the end of the file; every other line,
//     comment and blank is kept byte for byte; new lines use the file's line
//     ending (CRLF for a new file);
//   - no length limits: values are not cut at the profile functions' buffer
//     sizes.
// What the profile functions would store wrongly is refused with
// InvalidArgument instead: line breaks or NUL in any part, "]" in a section
// name, "=" in a key, a key starting with "[" or ";", blanks around a key or
// value (they would be lost on reading).
//
// Files written on Windows come in the ANSI code page or in UTF-16 (with a
// byte-order mark), and the profile functions read both. So do we: the text
// is UTF-8 inside, and a file is saved in the encoding it was read in (UTF-8,
// with or without its mark, UTF-16 LE or BE, or Windows-1252 for a file that
// is not valid UTF-8). A text that Windows-1252 cannot hold is refused for
// such a file rather than stored wrongly.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/status.h"
#include "base/text.h"

namespace velquin {

class IniFile {
 public:
  enum class Encoding { kUtf8, kUtf8WithMark, kUtf16Le, kUtf16Be, kWindows1252 };

  IniFile() = default;

  // Parses the bytes of a file in whichever encoding they are (see above).
  static IniFile Parse(std::string_view bytes);
  // Reads a file; a missing file gives an empty IniFile, not an error.
  static Result<IniFile> Load(const std::filesystem::path& path);
  // Writes the file (through a temporary file renamed over it), creating it
  // when missing.
  Status Save(const std::filesystem::path& path) const;
  // The file's bytes as they would be saved, in its encoding.
  std::string Text() const;
  Encoding encoding() const { return encoding_; }

  // The value, or nullopt when the section or key is missing.
  std::optional<std::string> Find(std::string_view section, std::string_view key) const;
  // The value, or the empty text when the section or key is missing.
  std::string GetString(std::string_view section, std::string_view key) const;
  // Sets a value as WritePrivateProfileString does (see above).
  Status SetString(std::string_view section, std::string_view key, std::string_view value);

  // Section names in file order, each name once (first spelling).
  std::vector<std::string> SectionNames() const;

 private:
  struct Line {
    std::string text;  // without its line ending
    std::string eol;   // "\r\n", "\n" or "" (last line without one)
  };
  // Index of the header line of the first section named `section`, or npos.
  std::size_t FindSection(std::string_view section) const;
  // One past the last line belonging to the section whose header is at `header`.
  std::size_t SectionEnd(std::size_t header) const;
  std::size_t FindKey(std::size_t header, std::string_view key) const;
  std::string NewLineEnding() const;

  Encoding encoding_ = Encoding::kUtf8;
  std::vector<Line> lines_;
};

// The profile functions over a path: read (missing file/key → "") and write
// (file and section created when missing). Writes in this process are
// serialised so two concurrent writers do not lose each other's change.
Result<std::string> ReadProfileString(const std::filesystem::path& path, std::string_view section,
                                      std::string_view key);
Status WriteProfileString(const std::filesystem::path& path, std::string_view section,
                          std::string_view key, std::string_view value);

}  // namespace velquin
