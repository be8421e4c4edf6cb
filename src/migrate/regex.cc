// The regular-expression service over PCRE2 (see regex.h for the dialect).
#include "migrate/regex.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <memory>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace velquin {
namespace {

constexpr std::size_t kMaxCachedPatterns = 256;

struct CodeDeleter {
  void operator()(pcre2_code* code) const { pcre2_code_free(code); }
};
struct MatchDataDeleter {
  void operator()(pcre2_match_data* data) const { pcre2_match_data_free(data); }
};

struct CompiledPattern {
  std::unique_ptr<pcre2_code, CodeDeleter> code;
  std::uint32_t capture_count = 0;
};

std::string PcreErrorText(int code) {
  PCRE2_UCHAR buffer[256];
  int n = pcre2_get_error_message(code, buffer, sizeof buffer);
  if (n < 0) return "PCRE2 error " + std::to_string(code);
  return std::string(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(n));
}

std::string Quoted(std::string_view pattern) { return "\"" + std::string(pattern) + "\""; }

// Compiles `pattern` with the dialect's options, or returns it from the cache.
Result<std::shared_ptr<const CompiledPattern>> Compile(std::string_view pattern) {
  static std::mutex mutex;
  static std::unordered_map<std::string, std::shared_ptr<const CompiledPattern>> cache;
  {
    std::lock_guard<std::mutex> lock(mutex);
    auto it = cache.find(std::string(pattern));
    if (it != cache.end()) return it->second;
  }

  std::unique_ptr<pcre2_compile_context, void (*)(pcre2_compile_context*)> context(
      pcre2_compile_context_create(nullptr), pcre2_compile_context_free);
  if (!context) return Status::InvalidArgument("out of memory compiling " + Quoted(pattern));
  // `.` excludes exactly the line feed, and only the line feed ends a line.
  pcre2_set_newline(context.get(), PCRE2_NEWLINE_LF);
  pcre2_set_bsr(context.get(), PCRE2_BSR_ANYCRLF);

  const std::uint32_t options = PCRE2_UTF | PCRE2_MATCH_INVALID_UTF | PCRE2_DOLLAR_ENDONLY;
  int error_code = 0;
  PCRE2_SIZE error_offset = 0;
  pcre2_code* raw = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                  options, &error_code, &error_offset, context.get());
  if (raw == nullptr) {
    return Status::InvalidArgument("bad regular expression " + Quoted(pattern) + " at offset " +
                                   std::to_string(error_offset) + ": " + PcreErrorText(error_code));
  }
  auto compiled = std::make_shared<CompiledPattern>();
  compiled->code.reset(raw);
  // JIT is an optimisation only: without it the interpreter runs the same pattern.
  (void)pcre2_jit_compile(raw, PCRE2_JIT_COMPLETE);
  pcre2_pattern_info(raw, PCRE2_INFO_CAPTURECOUNT, &compiled->capture_count);

  std::lock_guard<std::mutex> lock(mutex);
  if (cache.size() >= kMaxCachedPatterns) cache.clear();
  auto [it, inserted] = cache.emplace(std::string(pattern), std::move(compiled));
  (void)inserted;
  return it->second;
}

// Length in bytes of the character starting at `pos` (1 for a byte that does
// not start a valid UTF-8 sequence).
std::size_t CharLength(std::string_view text, std::size_t pos) {
  auto byte = static_cast<unsigned char>(text[pos]);
  std::size_t len = 1;
  if (byte >= 0xF0 && byte < 0xF8) {
    len = 4;
  } else if (byte >= 0xE0) {
    len = byte < 0xF0 ? 3 : 1;
  } else if (byte >= 0xC2) {
    len = 2;
  }
  if (pos + len > text.size()) return 1;
  for (std::size_t i = 1; i < len; ++i) {
    if ((static_cast<unsigned char>(text[pos + i]) & 0xC0) != 0x80) return 1;
  }
  return len;
}

// Scans `input` left to right and calls `on_match` for every match.
Status Scan(std::string_view input, std::string_view pattern,
            const std::function<void(const RegexMatch&)>& on_match) {
  VELQUIN_ASSIGN_OR_RETURN(auto compiled, Compile(pattern));
  std::unique_ptr<pcre2_match_data, MatchDataDeleter> data(
      pcre2_match_data_create_from_pattern(compiled->code.get(), nullptr));
  if (!data) return Status::InvalidArgument("out of memory matching " + Quoted(pattern));

  const auto* subject = reinterpret_cast<PCRE2_SPTR>(input.data());
  std::size_t start = 0;
  while (start <= input.size()) {
    int rc =
        pcre2_match(compiled->code.get(), subject, input.size(), start, 0, data.get(), nullptr);
    if (rc == PCRE2_ERROR_NOMATCH) break;
    if (rc < 0) {
      return Status::InvalidArgument("regular expression " + Quoted(pattern) +
                                     " failed: " + PcreErrorText(rc));
    }
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data.get());
    RegexMatch match;
    match.offset = ovector[0];
    match.text = input.substr(ovector[0], ovector[1] - ovector[0]);
    match.groups.resize(compiled->capture_count + 1);
    for (std::uint32_t g = 0; g <= compiled->capture_count; ++g) {
      if (g < static_cast<std::uint32_t>(rc) && ovector[2 * g] != PCRE2_UNSET) {
        match.groups[g] = input.substr(ovector[2 * g], ovector[2 * g + 1] - ovector[2 * g]);
      }
    }
    on_match(match);
    if (ovector[1] > ovector[0]) {
      start = ovector[1];
    } else if (ovector[1] >= input.size()) {
      break;
    } else {
      start = ovector[1] + CharLength(input, ovector[1]);
    }
  }
  return Status::Ok();
}

// Expands "$n" references of `replacement` for `match`.
void AppendReplacement(std::string& out, std::string_view replacement, const RegexMatch& match) {
  for (std::size_t i = 0; i < replacement.size(); ++i) {
    char c = replacement[i];
    if (c == '$' && i + 1 < replacement.size() && replacement[i + 1] >= '1' &&
        replacement[i + 1] <= '9') {
      auto group = static_cast<std::size_t>(replacement[i + 1] - '0');
      if (group < match.groups.size()) {
        out += match.Group(group);
        ++i;
        continue;
      }
    }
    out += c;
  }
}

}  // namespace

Result<std::string> RegexReplaceEach(std::string_view input, std::string_view pattern,
                                     const std::function<std::string(const RegexMatch&)>& replace) {
  std::string out;
  out.reserve(input.size());
  std::size_t copied = 0;
  Status status = Scan(input, pattern, [&](const RegexMatch& match) {
    out.append(input.substr(copied, match.offset - copied));
    out += replace(match);
    copied = match.offset + match.text.size();
  });
  if (!status.ok()) return status;
  out.append(input.substr(copied));
  return out;
}

Result<std::string> RegexReplace(std::string_view input, std::string_view pattern,
                                 std::string_view replacement) {
  return RegexReplaceEach(input, pattern, [replacement](const RegexMatch& match) {
    std::string text;
    AppendReplacement(text, replacement, match);
    return text;
  });
}

Result<std::vector<RegexMatch>> RegexFindAll(std::string_view input, std::string_view pattern) {
  std::vector<RegexMatch> matches;
  Status status =
      Scan(input, pattern, [&matches](const RegexMatch& match) { matches.push_back(match); });
  if (!status.ok()) return status;
  return matches;
}

}  // namespace velquin
