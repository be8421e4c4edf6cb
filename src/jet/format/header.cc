// Page 0 layout: see header.h and [HDR-*] in docs/jet4-format.md.
#include "jet/format/header.h"

#include <array>
#include <cmath>
#include <cstring>

#include "jet/format/bytes.h"

namespace velquin::jet {
namespace {

constexpr std::size_t kBlockOffset = 0x18;
constexpr std::size_t kBlockSize = 128;
constexpr char kMagicText[] = "Standard Jet DB";

std::array<std::uint8_t, kBlockSize> ComputeMask() {
  // RC4 keystream of the 4-byte key C7 DA 39 6B [HDR-3].
  const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
  std::array<std::uint8_t, 256> s;
  for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  std::uint8_t j = 0;
  for (int i = 0; i < 256; ++i) {
    j = static_cast<std::uint8_t>(j + s[i] + key[i % 4]);
    std::swap(s[i], s[j]);
  }
  std::array<std::uint8_t, kBlockSize> out;
  std::uint8_t a = 0, b = 0;
  for (std::size_t k = 0; k < kBlockSize; ++k) {
    a = static_cast<std::uint8_t>(a + 1);
    b = static_cast<std::uint8_t>(b + s[a]);
    std::swap(s[a], s[b]);
    out[k] = s[static_cast<std::uint8_t>(s[a] + s[b])];
  }
  return out;
}

// The password mask: the creation date truncated to a 32-bit integer [HDR-6].
std::array<std::uint8_t, 4> PasswordMask(double date) {
  std::int64_t whole = 0;
  if (std::isfinite(date) && std::fabs(date) < 4e9)
    whole = static_cast<std::int64_t>(std::trunc(date));
  std::uint32_t v = static_cast<std::uint32_t>(whole);
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

}  // namespace

const std::uint8_t* HeaderMask() {
  static const std::array<std::uint8_t, kBlockSize> mask = ComputeMask();
  return mask.data();
}

Page EncodeHeaderPage(const HeaderInfo& info) {
  Page p{};
  MutableBytes b(p);
  Put32(b, 0, 0x100);
  std::memcpy(p.data() + 4, kMagicText, sizeof kMagicText);
  p[0x14] = info.version;
  // Plain block, offsets relative to the file start.
  static const std::uint8_t kLead[24] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0,
                                         3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
  std::memcpy(p.data() + 0x18, kLead, sizeof kLead);
  Put16(b, 0x3C, info.code_page);
  Put32(b, 0x3E, info.db_key);
  auto mask = PasswordMask(info.creation_date);
  for (std::size_t i = 0; i < 40; ++i) {
    std::uint8_t plain = 0;
    std::size_t ch = i / 2;
    if (ch < info.password.size()) {
      plain = static_cast<std::uint8_t>(info.password[ch] >> ((i % 2) * 8));
    }
    p[0x42 + i] = plain ^ mask[i % 4];
  }
  Put32(b, 0x6A, 0x261C);
  Put16(b, 0x6E, info.sort_order);
  p[0x71] = info.sort_version;
  PutDouble(b, 0x72, info.creation_date);
  const std::uint8_t* m = HeaderMask();
  for (std::size_t i = 0; i < kBlockSize; ++i) p[kBlockOffset + i] ^= m[i];
  Put32(b, 0x98, 0x654);
  std::memcpy(p.data() + 0x9C, "4.0", 4);
  p[0xE00] = 1;
  p[0xE01] = 1;
  for (std::size_t off = 0xE02; off < kPageSize; off += 2) {
    p[off] = 0;
    p[off + 1] = 1;
  }
  return p;
}

Result<HeaderInfo> DecodeHeaderPage(const Page& page) {
  Bytes b(page);
  if (Get32(b, 0) != 0x100 || std::memcmp(page.data() + 4, kMagicText, sizeof kMagicText) != 0) {
    return PageCorruption(0, "magic", "not a Jet database (no \"Standard Jet DB\" signature)");
  }
  HeaderInfo info;
  info.version = page[0x14];
  if (info.version != 1) {
    if (info.version == 0) return PageCorruption(0, "version", "Jet 3 files are not supported");
    return PageCorruption(0, "version",
                          "unsupported engine version " + std::to_string(info.version) +
                              " (only Jet 4 .mdb is supported)");
  }
  std::array<std::uint8_t, kBlockSize> block;
  const std::uint8_t* m = HeaderMask();
  for (std::size_t i = 0; i < kBlockSize; ++i) block[i] = page[kBlockOffset + i] ^ m[i];
  auto at = [&](std::size_t file_off) { return file_off - kBlockOffset; };
  Bytes blk(block);
  info.code_page = Get16(blk, at(0x3C));
  info.db_key = Get32(blk, at(0x3E));
  info.sort_order = Get16(blk, at(0x6E));
  info.sort_version = block[at(0x71)];
  info.creation_date = GetDouble(blk, at(0x72));
  if (!std::isfinite(info.creation_date)) info.creation_date = 0;
  auto mask = PasswordMask(info.creation_date);
  for (std::size_t ch = 0; ch < 20; ++ch) {
    std::uint8_t lo = block[at(0x42) + 2 * ch] ^ mask[(2 * ch) % 4];
    std::uint8_t hi = block[at(0x42) + 2 * ch + 1] ^ mask[(2 * ch + 1) % 4];
    char16_t c = static_cast<char16_t>(lo | (hi << 8));
    if (c == 0) break;
    info.password.push_back(c);
  }
  return info;
}

}  // namespace velquin::jet
