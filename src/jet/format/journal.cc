// The rollback journal: layout in journal.h, rule [SAFE-5].
#include "jet/format/journal.h"

#include <cstring>

namespace velquin::jet {
namespace {

constexpr char kMagic[8] = {'V', 'q', 'J', 'o', 'u', 'r', 'n', 'l'};
constexpr std::size_t kHeaderSize = 32;
constexpr std::size_t kRecordSize = 4 + kPageSize;

std::uint32_t Fnv1a(const std::uint8_t* p, std::size_t n) {
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

}  // namespace

Result<std::optional<Journal::Saved>> Journal::Read() {
  if (file_->Size() < kHeaderSize) return std::optional<Saved>();
  std::uint8_t h[kHeaderSize];
  VELQUIN_RETURN_IF_ERROR(file_->ReadAt(0, MutableBytes(h, kHeaderSize)));
  if (std::memcmp(h, kMagic, 8) != 0 || Fnv1a(h, 20) != Get32(Bytes(h), 20)) {
    return std::optional<Saved>();
  }
  Saved s;
  s.file_length = Get64(Bytes(h), 8);
  std::uint32_t count = Get32(Bytes(h), 16);
  if (kHeaderSize + static_cast<std::uint64_t>(count) * kRecordSize > file_->Size()) {
    return Status::Corruption(file_->Name() + ": journal shorter than its header says");
  }
  std::vector<std::uint8_t> rec(kRecordSize);
  for (std::uint32_t i = 0; i < count; ++i) {
    VELQUIN_RETURN_IF_ERROR(file_->ReadAt(kHeaderSize + static_cast<std::uint64_t>(i) * kRecordSize,
                                          MutableBytes(rec.data(), rec.size())));
    std::pair<PageNumber, Page> p;
    p.first = Get32(Bytes(rec), 0);
    std::memcpy(p.second.data(), rec.data() + 4, kPageSize);
    s.pages.push_back(p);
  }
  return std::optional<Saved>(std::move(s));
}

void Journal::EncodeHeader(std::uint8_t* h) const {
  std::memset(h, 0, kHeaderSize);
  std::memcpy(h, kMagic, 8);
  Put64(MutableBytes(h, kHeaderSize), 8, file_length_);
  Put32(MutableBytes(h, kHeaderSize), 16, records_);
  Put32(MutableBytes(h, kHeaderSize), 20, Fnv1a(h, 20));
}

Status Journal::WriteHeader() {
  std::uint8_t h[kHeaderSize];
  EncodeHeader(h);
  return file_->WriteAt(0, Bytes(h, kHeaderSize));
}

void Journal::Prepare(std::uint64_t file_length) {
  file_length_ = file_length;
  records_ = 0;
}

Status Journal::Begin(std::uint64_t file_length) {
  file_length_ = file_length;
  records_ = 0;
  VELQUIN_RETURN_IF_ERROR(WriteHeader());
  begun_ = true;
  return Status::Ok();
}

Status Journal::Add(const std::vector<std::pair<PageNumber, Page>>& originals) {
  if (originals.empty()) return Status::Ok();
  // The first records of a statement go out with the header in one write
  // (a small statement's journal is one system call).
  const bool with_header = !begun_;
  const std::size_t lead = with_header ? kHeaderSize : 0;
  std::vector<std::uint8_t>& buf = buffer_;
  buf.resize(lead + originals.size() * kRecordSize);
  for (std::size_t i = 0; i < originals.size(); ++i) {
    std::uint8_t* r = buf.data() + lead + i * kRecordSize;
    Put32(MutableBytes(r, kRecordSize), 0, originals[i].first);
    std::memcpy(r + 4, originals[i].second.data(), kPageSize);
  }
  if (with_header) {
    records_ = static_cast<std::uint32_t>(originals.size());
    EncodeHeader(buf.data());
    Status st = file_->WriteAt(0, Bytes(buf));
    if (!st.ok()) {
      records_ = 0;
      return st;
    }
    begun_ = true;
    return Status::Ok();
  }
  VELQUIN_RETURN_IF_ERROR(
      file_->WriteAt(kHeaderSize + static_cast<std::uint64_t>(records_) * kRecordSize, Bytes(buf)));
  records_ += static_cast<std::uint32_t>(originals.size());
  Status st = WriteHeader();
  // A header that did not take still counts the records before these: the
  // pages they stand for have not been overwritten yet.
  if (!st.ok()) records_ -= static_cast<std::uint32_t>(originals.size());
  return st;
}

Status Journal::End() {
  if (!begun_) return Status::Ok();
  return Discard();
}

Status Journal::Discard() {
  std::uint8_t zero[8] = {};
  VELQUIN_RETURN_IF_ERROR(file_->WriteAt(0, Bytes(zero, 8)));
  begun_ = false;
  records_ = 0;
  return Status::Ok();
}

}  // namespace velquin::jet
