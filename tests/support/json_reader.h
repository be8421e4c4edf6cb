// A small JSON reader for the output of tests/readers/dump.js (the mdb-reader
// harness): objects, arrays, strings with \u escapes and surrogate pairs,
// booleans, null; numbers are kept as their text so no digit is lost.
#pragma once

#include <cctype>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/unicode.h"

namespace velquin::test_json {

struct Json;
using JsonArray = std::vector<Json>;
using JsonObject = std::map<std::string, Json>;
struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool b = false;
  std::string text;  // number or string
  std::shared_ptr<JsonArray> array;
  std::shared_ptr<JsonObject> object;
  const Json& operator[](const std::string& k) const {
    static const Json kNull;
    auto it = object ? object->find(k) : JsonObject::iterator();
    return object && it != object->end() ? it->second : kNull;
  }
};

class JsonParser {
 public:
  explicit JsonParser(const std::string& s) : s_(s) {}
  bool Parse(Json* out) {
    bool ok = Value(out);
    Space();
    return ok && i_ == s_.size();
  }

 private:
  void Space() {
    while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
  }
  static void PutUtf8(std::uint32_t cp, std::string* out) { AppendUtf8(cp, out); }
  bool Hex4(std::uint32_t* v) {
    if (i_ + 4 > s_.size()) return false;
    *v = static_cast<std::uint32_t>(std::stoul(s_.substr(i_, 4), nullptr, 16));
    i_ += 4;
    return true;
  }
  bool String(std::string* out) {
    ++i_;  // opening quote
    while (i_ < s_.size() && s_[i_] != '"') {
      char c = s_[i_++];
      if (c != '\\') {
        out->push_back(c);
        continue;
      }
      if (i_ >= s_.size()) return false;
      char e = s_[i_++];
      switch (e) {
        case 'n':
          out->push_back('\n');
          break;
        case 't':
          out->push_back('\t');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case 'b':
          out->push_back('\b');
          break;
        case 'f':
          out->push_back('\f');
          break;
        case 'u': {
          std::uint32_t cp;
          if (!Hex4(&cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00 && i_ + 6 <= s_.size() && s_[i_] == '\\' &&
              s_[i_ + 1] == 'u') {
            i_ += 2;
            std::uint32_t lo;
            if (!Hex4(&lo)) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          }
          PutUtf8(cp, out);
          break;
        }
        default:
          out->push_back(e);
          break;
      }
    }
    if (i_ >= s_.size()) return false;
    ++i_;
    return true;
  }
  bool Value(Json* out) {
    Space();
    if (i_ >= s_.size()) return false;
    char c = s_[i_];
    if (c == '{') {
      ++i_;
      out->kind = Json::Kind::kObject;
      out->object = std::make_shared<JsonObject>();
      Space();
      if (i_ < s_.size() && s_[i_] == '}') return ++i_, true;
      for (;;) {
        Space();
        std::string key;
        if (i_ >= s_.size() || s_[i_] != '"' || !String(&key)) return false;
        Space();
        if (i_ >= s_.size() || s_[i_++] != ':') return false;
        if (!Value(&(*out->object)[key])) return false;
        Space();
        if (i_ < s_.size() && s_[i_] == ',') {
          ++i_;
          continue;
        }
        return i_ < s_.size() && s_[i_++] == '}';
      }
    }
    if (c == '[') {
      ++i_;
      out->kind = Json::Kind::kArray;
      out->array = std::make_shared<JsonArray>();
      Space();
      if (i_ < s_.size() && s_[i_] == ']') return ++i_, true;
      for (;;) {
        out->array->emplace_back();
        if (!Value(&out->array->back())) return false;
        Space();
        if (i_ < s_.size() && s_[i_] == ',') {
          ++i_;
          continue;
        }
        return i_ < s_.size() && s_[i_++] == ']';
      }
    }
    if (c == '"') {
      out->kind = Json::Kind::kString;
      return String(&out->text);
    }
    if (s_.compare(i_, 4, "null") == 0) return i_ += 4, true;
    if (s_.compare(i_, 4, "true") == 0) {
      out->kind = Json::Kind::kBool;
      out->b = true;
      return i_ += 4, true;
    }
    if (s_.compare(i_, 5, "false") == 0) {
      out->kind = Json::Kind::kBool;
      return i_ += 5, true;
    }
    std::size_t start = i_;
    while (i_ < s_.size() && std::strchr("+-0123456789.eE", s_[i_])) ++i_;
    if (start == i_) return false;
    out->kind = Json::Kind::kNumber;
    out->text = s_.substr(start, i_ - start);
    return true;
  }
  const std::string& s_;
  std::size_t i_ = 0;
};

}  // namespace velquin::test_json
