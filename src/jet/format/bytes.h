// Little-endian coding over byte spans, with bounds checks.
//
// The only place where the engine turns raw bytes into integers. Readers take
// a span and an offset and return std::nullopt-free values only after the
// caller has checked the range with Fits(); every structure decoder does so and
// turns a failed check into Status::Corruption naming the page and field.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "base/status.h"

namespace velquin::jet {

using Bytes = std::span<const std::uint8_t>;
using MutableBytes = std::span<std::uint8_t>;

// True when [offset, offset + length) lies inside a buffer of `size` bytes.
inline bool Fits(std::size_t size, std::size_t offset, std::size_t length) {
  return offset <= size && length <= size - offset;
}

inline std::uint16_t Get16(Bytes b, std::size_t off) {
  return static_cast<std::uint16_t>(b[off] | (b[off + 1] << 8));
}
inline std::uint32_t Get24(Bytes b, std::size_t off) {
  return static_cast<std::uint32_t>(b[off]) | (static_cast<std::uint32_t>(b[off + 1]) << 8) |
         (static_cast<std::uint32_t>(b[off + 2]) << 16);
}
inline std::uint32_t Get32(Bytes b, std::size_t off) {
  return static_cast<std::uint32_t>(b[off]) | (static_cast<std::uint32_t>(b[off + 1]) << 8) |
         (static_cast<std::uint32_t>(b[off + 2]) << 16) |
         (static_cast<std::uint32_t>(b[off + 3]) << 24);
}
inline std::uint64_t Get64(Bytes b, std::size_t off) {
  return static_cast<std::uint64_t>(Get32(b, off)) |
         (static_cast<std::uint64_t>(Get32(b, off + 4)) << 32);
}
inline double GetDouble(Bytes b, std::size_t off) {
  std::uint64_t u = Get64(b, off);
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}
inline float GetFloat(Bytes b, std::size_t off) {
  std::uint32_t u = Get32(b, off);
  float f;
  std::memcpy(&f, &u, sizeof f);
  return f;
}

inline void Put16(MutableBytes b, std::size_t off, std::uint16_t v) {
  b[off] = static_cast<std::uint8_t>(v);
  b[off + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void Put24(MutableBytes b, std::size_t off, std::uint32_t v) {
  b[off] = static_cast<std::uint8_t>(v);
  b[off + 1] = static_cast<std::uint8_t>(v >> 8);
  b[off + 2] = static_cast<std::uint8_t>(v >> 16);
}
inline void Put32(MutableBytes b, std::size_t off, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void Put64(MutableBytes b, std::size_t off, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) b[off + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutDouble(MutableBytes b, std::size_t off, double d) {
  std::uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  Put64(b, off, u);
}
inline void PutFloat(MutableBytes b, std::size_t off, float f) {
  std::uint32_t u;
  std::memcpy(&u, &f, sizeof u);
  Put32(b, off, u);
}

// Appending writer over a std::string-like byte vector.
class ByteBuilder {
 public:
  void U8(std::uint8_t v) { buf_.push_back(v); }
  void U16(std::uint16_t v) {
    buf_.push_back(static_cast<std::uint8_t>(v));
    buf_.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) buf_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void Append(Bytes b) { buf_.insert(buf_.end(), b.begin(), b.end()); }
  void Zeros(std::size_t n) { buf_.insert(buf_.end(), n, 0); }
  std::size_t size() const { return buf_.size(); }
  std::vector<std::uint8_t>& buf() { return buf_; }

 private:
  std::vector<std::uint8_t> buf_;
};

// "page 7, field row count: offset 5000 past the page" style messages.
inline Status PageCorruption(std::uint32_t page, std::string_view field, std::string_view what) {
  return Status::Corruption("page " + std::to_string(page) + ", field " + std::string(field) +
                            ": " + std::string(what));
}

}  // namespace velquin::jet
