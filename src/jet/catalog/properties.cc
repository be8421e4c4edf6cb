// Property blobs: see properties.h and [CAT-9] in docs/jet4-format.md.
#include "jet/catalog/properties.h"

#include "jet/table/text_codec.h"
#include "jet/table/value.h"

namespace velquin::jet {
namespace {

void PutName(std::vector<std::uint8_t>* out, const std::string& name) {
  std::vector<std::uint8_t> text;
  auto n = EncodeTextUtf8(name, false, &text);
  (void)n;
  out->push_back(static_cast<std::uint8_t>(text.size()));
  out->push_back(static_cast<std::uint8_t>(text.size() >> 8));
  out->insert(out->end(), text.begin(), text.end());
}

void PutChunk(std::vector<std::uint8_t>* out, std::uint16_t kind,
              const std::vector<std::uint8_t>& body) {
  std::uint32_t len = static_cast<std::uint32_t>(body.size() + 6);
  for (int i = 0; i < 4; ++i) out->push_back(static_cast<std::uint8_t>(len >> (8 * i)));
  out->push_back(static_cast<std::uint8_t>(kind));
  out->push_back(static_cast<std::uint8_t>(kind >> 8));
  out->insert(out->end(), body.begin(), body.end());
}

std::vector<std::uint8_t> Block(const std::string& name) {
  std::vector<std::uint8_t> name_bytes;
  PutName(&name_bytes, name);  // length + text
  std::vector<std::uint8_t> b;
  b.reserve(4 + name_bytes.size());
  std::uint32_t header = static_cast<std::uint32_t>(4 + name_bytes.size());
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(header >> (8 * i)));
  b.insert(b.end(), name_bytes.begin(), name_bytes.end());
  return b;
}

void PutProperty(std::vector<std::uint8_t>* block, std::uint8_t type, std::uint16_t name_index,
                 const std::vector<std::uint8_t>& value) {
  const std::size_t len = 8 + value.size();
  const std::uint8_t head[] = {static_cast<std::uint8_t>(len),
                               static_cast<std::uint8_t>(len >> 8),
                               1,  // DDL flag, as Access sets it for these properties
                               type,
                               static_cast<std::uint8_t>(name_index),
                               static_cast<std::uint8_t>(name_index >> 8),
                               static_cast<std::uint8_t>(value.size()),
                               static_cast<std::uint8_t>(value.size() >> 8)};
  block->insert(block->end(), std::begin(head), std::end(head));
  block->insert(block->end(), value.begin(), value.end());
}

constexpr std::uint8_t kMemoType = static_cast<std::uint8_t>(ColumnType::kMemo);
constexpr std::uint8_t kTextType = static_cast<std::uint8_t>(ColumnType::kText);
constexpr std::uint8_t kBoolType = static_cast<std::uint8_t>(ColumnType::kBool);

}  // namespace

std::vector<std::uint8_t> EncodeColumnProperties(const std::vector<ColumnProperties>& columns) {
  bool any_required = false, any_default = false;
  for (const auto& c : columns) {
    any_required = any_required || c.required;
    any_default = any_default || !c.default_value.empty();
  }
  if (!any_required && !any_default) return {};
  // The name list holds only the names used; their indexes follow from it.
  std::vector<std::uint8_t> names;
  std::uint16_t next = 0, required_index = 0, default_index = 0;
  if (any_required) {
    PutName(&names, "Required");
    required_index = next++;
  }
  if (any_default) {
    PutName(&names, "DefaultValue");
    default_index = next++;
  }
  std::vector<std::uint8_t> out = {'M', 'R', '2', 0};
  PutChunk(&out, 0x80, names);
  PutChunk(&out, 0x00, Block(""));
  for (const auto& c : columns) {
    if (!c.required && c.default_value.empty()) continue;
    std::vector<std::uint8_t> b = Block(c.column);
    if (c.required) PutProperty(&b, kBoolType, required_index, {1});
    if (!c.default_value.empty()) {
      std::vector<std::uint8_t> text;
      (void)EncodeTextUtf8(c.default_value, false, &text);
      if (text.size() > 0xFFFF - 8) text.resize(0xFFF0);  // callers keep defaults short
      PutProperty(&b, kMemoType, default_index, text);
    }
    PutChunk(&out, 0x01, b);
  }
  return out;
}

Result<std::vector<ColumnProperties>> ReadColumnProperties(Bytes blob) {
  auto bad = [](const std::string& what) {
    return Status::Corruption("field MSysObjects.LvProp: property blob " + what);
  };
  if (blob.size() < 4 || !((blob[0] == 'M' && blob[1] == 'R' && blob[2] == '2') ||
                           (blob[0] == 'K' && blob[1] == 'K' && blob[2] == 'D'))) {
    return bad("has no MR2 signature");
  }
  std::vector<std::string> names;
  std::vector<ColumnProperties> out;
  std::size_t pos = 4;
  while (pos + 6 <= blob.size()) {
    std::uint32_t len = Get32(blob, pos);
    std::uint16_t kind = Get16(blob, pos + 4);
    if (len < 6 || !Fits(blob.size(), pos, len)) return bad("chunk length runs past its end");
    Bytes chunk = blob.subspan(pos + 6, len - 6);
    if (kind == 0x80) {
      names.clear();
      std::size_t p = 0;
      while (p + 2 <= chunk.size()) {
        std::size_t n = Get16(chunk, p);
        if (!Fits(chunk.size(), p + 2, n)) return bad("name runs past its chunk");
        names.push_back(DecodeText(chunk.subspan(p + 2, n)));
        p += 2 + n;
      }
    } else if (kind <= 0x02) {
      if (chunk.size() < 6) return bad("block too short");
      std::size_t header = Get32(chunk, 0);
      std::size_t name_len = Get16(chunk, 4);
      if (!Fits(chunk.size(), 6, name_len) || header < 6 || header > chunk.size()) {
        return bad("block name runs past its chunk");
      }
      ColumnProperties props;
      props.column = DecodeText(chunk.subspan(6, name_len));
      std::size_t p = header;
      while (p + 8 <= chunk.size()) {
        std::size_t plen = Get16(chunk, p);
        std::uint8_t type = chunk[p + 3];
        std::size_t index = Get16(chunk, p + 4);
        std::size_t size = Get16(chunk, p + 6);
        if (plen < 8 || !Fits(chunk.size(), p, plen) || size > plen - 8) {
          return bad("property runs past its block");
        }
        Bytes value = chunk.subspan(p + 8, size);
        const std::string* name = index < names.size() ? &names[index] : nullptr;
        if (kind == 0x01 && name && *name == "Required" && type == kBoolType && size >= 1) {
          props.required = value[0] != 0;
        } else if (kind == 0x01 && name && *name == "DefaultValue" &&
                   (type == kMemoType || type == kTextType)) {
          props.default_value = DecodeText(value);
        }
        p += plen;
      }
      if (kind == 0x01) out.push_back(std::move(props));
    }
    pos += len;
  }
  return out;
}

}  // namespace velquin::jet
