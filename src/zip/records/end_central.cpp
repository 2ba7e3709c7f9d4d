#include "zip/records/end_central.h"

#include <algorithm>
#include <vector>

#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

namespace {

bool Over32(std::int64_t v) {
  return v < 0 || v > kMaxClassicSize;
}
bool Over16(std::int64_t v) {
  return v < 0 || v > kMaxClassicEntries;
}

std::uint16_t Field16(std::int64_t v) {
  return Over16(v) ? kZip64Marker16 : static_cast<std::uint16_t>(v);
}
std::uint32_t Field32(std::int64_t v) {
  return Over32(v) ? kZip64Marker32 : static_cast<std::uint32_t>(v);
}

// Reads exactly count bytes at position; false when the stream ends first.
bool ReadAt(TStream& stream, std::int64_t position, std::uint8_t* out, std::int64_t count) {
  if (position < 0) return false;
  stream.Seek(position, kSeekBegin);
  return stream.Read(out, count) == count;
}
}  // namespace

void TEndCentral::ResetDefaults() {
  signature_ = kEndCentralSignature;
  this_disk_ = 0;
  central_start_disk_ = 0;
  entries_this_disk_ = 0;
  total_entries_ = 0;
  central_dir_size_ = 0;
  central_dir_offset_ = 0;
  zip_comment_length_ = 0;
  zip_comment_text_.reset();
  zip_comment_position_ = 0;
  comment_modified_ = false;
  end_record_position_ = 0;
  zip64_end_position_ = -1;
  problem_.clear();
}

void TEndCentral::Assign(const TEndCentral& source) {
  const bool modified = comment_modified_;
  *this = source;
  comment_modified_ = modified;
}

void TEndCentral::SetZipComment(std::optional<std::string> comment) {
  if (comment && comment->size() > static_cast<std::size_t>(kMaxCommentLength)) {
    throw EZipGeneralError("Comment too long");
  }
  zip_comment_length_ = comment ? static_cast<std::uint16_t>(comment->size()) : 0;
  zip_comment_text_ = std::move(comment);
}

bool TEndCentral::NeedsZip64() const {
  return Over16(entries_this_disk_) || Over16(total_entries_) || Over32(central_dir_size_) ||
         Over32(central_dir_offset_) || this_disk_ > kMaxClassicEntries || central_start_disk_ > kMaxClassicEntries;
}

std::int64_t TEndCentral::EndRecordSize() const {
  const std::int64_t comment =
      (zip_comment_length_ != 0 && zip_comment_text_) ? static_cast<std::int64_t>(zip_comment_text_->size()) : 0;
  return kEndCentralSize + comment + (NeedsZip64() ? kZip64EndCentralSize + kZip64EndLocatorSize : 0);
}

void TEndCentral::WriteEndRecord(TStream& stream) const {
  const bool has_comment = zip_comment_length_ != 0 && zip_comment_text_;
  const std::size_t comment_size = has_comment ? zip_comment_text_->size() : 0;
  std::vector<std::uint8_t> rec;
  if (NeedsZip64()) {
    const std::int64_t zip64_position = stream.Position();
    rec.resize(kZip64EndCentralSize + kZip64EndLocatorSize);
    std::uint8_t* p = rec.data();
    PutU32(p, kZip64EndCentralSignature);
    PutU64(p + zip64_end_record::kRecordSize, kZip64EndCentralSize - zip64_end_record::kLeadIn);
    PutU16(p + zip64_end_record::kVersionMadeBy, kVersionZip64);
    PutU16(p + zip64_end_record::kVersionNeeded, kVersionZip64);
    PutU32(p + zip64_end_record::kThisDisk, this_disk_);
    PutU32(p + zip64_end_record::kCentralStartDisk, central_start_disk_);
    PutU64(p + zip64_end_record::kEntriesThisDisk, static_cast<std::uint64_t>(entries_this_disk_));
    PutU64(p + zip64_end_record::kTotalEntries, static_cast<std::uint64_t>(total_entries_));
    PutU64(p + zip64_end_record::kCentralDirSize, static_cast<std::uint64_t>(central_dir_size_));
    PutU64(p + zip64_end_record::kCentralDirOffset, static_cast<std::uint64_t>(central_dir_offset_));
    p += kZip64EndCentralSize;
    PutU32(p, kZip64EndLocatorSignature);
    PutU32(p + zip64_locator::kRecordDisk, this_disk_);
    PutU64(p + zip64_locator::kRecordOffset, static_cast<std::uint64_t>(zip64_position));
    PutU32(p + zip64_locator::kTotalDisks, this_disk_ + 1);
  }
  const std::size_t base = rec.size();
  rec.resize(base + kEndCentralSize + comment_size);
  std::uint8_t* p = rec.data() + base;
  PutU32(p, kEndCentralSignature);
  PutU16(p + end_record::kThisDisk, Field16(this_disk_));
  PutU16(p + end_record::kCentralStartDisk, Field16(central_start_disk_));
  PutU16(p + end_record::kEntriesThisDisk, Field16(entries_this_disk_));
  PutU16(p + end_record::kTotalEntries, Field16(total_entries_));
  PutU32(p + end_record::kCentralDirSize, Field32(central_dir_size_));
  PutU32(p + end_record::kCentralDirOffset, Field32(central_dir_offset_));
  PutU16(p + end_record::kCommentLength, static_cast<std::uint16_t>(comment_size));
  if (has_comment) std::copy(zip_comment_text_->begin(), zip_comment_text_->end(), p + kEndCentralSize);
  stream.WriteBuffer(rec.data(), static_cast<std::int64_t>(rec.size()));
}

bool TEndCentral::FindEndRecord(TStream& stream) {
  const std::int64_t size = stream.Size();
  if (size == 0) return true;
  if (size < kEndCentralSize) return false;
  const std::int64_t span = std::min<std::int64_t>(kEndCentralSearchSpan, size);
  const std::int64_t base = size - span;
  std::vector<std::uint8_t> tail(static_cast<std::size_t>(span));
  if (!ReadAt(stream, base, tail.data(), span)) return false;

  std::int64_t hit = -1;
  for (std::int64_t i = span - kEndCentralSize; i >= 0; --i) {
    if (tail[static_cast<std::size_t>(i)] == 'P' && GetU32(tail.data() + i) == kEndCentralSignature) {
      hit = i;
      break;
    }
  }
  if (hit < 0) return false;

  const std::uint8_t* p = tail.data() + hit;
  signature_ = kEndCentralSignature;
  this_disk_ = GetU16(p + end_record::kThisDisk);
  central_start_disk_ = GetU16(p + end_record::kCentralStartDisk);
  entries_this_disk_ = GetU16(p + end_record::kEntriesThisDisk);
  total_entries_ = GetU16(p + end_record::kTotalEntries);
  central_dir_size_ = GetU32(p + end_record::kCentralDirSize);
  central_dir_offset_ = GetU32(p + end_record::kCentralDirOffset);
  zip_comment_length_ = GetU16(p + end_record::kCommentLength);
  zip_comment_text_.reset();
  end_record_position_ = base + hit;
  zip_comment_position_ = end_record_position_ + kEndCentralSize;
  zip64_end_position_ = -1;

  const bool any_marker = this_disk_ == kZip64Marker16 || central_start_disk_ == kZip64Marker16 ||
                          entries_this_disk_ == kZip64Marker16 || total_entries_ == kZip64Marker16 ||
                          central_dir_size_ == kZip64Marker32 || central_dir_offset_ == kZip64Marker32;
  const std::int64_t locator_position = end_record_position_ - kZip64EndLocatorSize;
  if (!any_marker || locator_position < 0) return true;

  std::uint8_t locator[kZip64EndLocatorSize];
  if (!ReadAt(stream, locator_position, locator, kZip64EndLocatorSize) ||
      GetU32(locator) != kZip64EndLocatorSignature) {
    return true;
  }
  // Where the locator says the Zip64 record is, then right in front of the locator (data prepended to
  // the archive shifts every recorded offset).
  const std::uint64_t recorded = GetU64(locator + zip64_locator::kRecordOffset);
  const std::int64_t candidates[2] = {
      recorded <= static_cast<std::uint64_t>(locator_position) ? static_cast<std::int64_t>(recorded) : -1,
      locator_position - kZip64EndCentralSize};
  std::uint8_t record[kZip64EndCentralSize];
  for (const std::int64_t candidate : candidates) {
    if (candidate < 0 || candidate + kZip64EndCentralSize > locator_position) continue;
    if (!ReadAt(stream, candidate, record, kZip64EndCentralSize) || GetU32(record) != kZip64EndCentralSignature) {
      continue;
    }
    const std::uint64_t entries_this = GetU64(record + zip64_end_record::kEntriesThisDisk);
    const std::uint64_t total = GetU64(record + zip64_end_record::kTotalEntries);
    const std::uint64_t dir_size = GetU64(record + zip64_end_record::kCentralDirSize);
    const std::uint64_t dir_offset = GetU64(record + zip64_end_record::kCentralDirOffset);
    // Values past INT64_MAX cannot be sizes or offsets of any file; the reader bounds the rest by the file.
    const auto max = static_cast<std::uint64_t>(INT64_MAX);
    if (dir_offset > max || dir_size > max) {
      problem_ = "the Zip64 end record's central directory offset or size is out of range";
      continue;
    }
    if (entries_this > max || total > max) {
      problem_ = "the Zip64 end record's entry count is out of range";
      continue;
    }
    problem_.clear();
    // The Zip64 record is authoritative: some writers leave stale values in the classic fields.
    this_disk_ = GetU32(record + zip64_end_record::kThisDisk);
    central_start_disk_ = GetU32(record + zip64_end_record::kCentralStartDisk);
    entries_this_disk_ = static_cast<std::int64_t>(entries_this);
    total_entries_ = static_cast<std::int64_t>(total);
    central_dir_size_ = static_cast<std::int64_t>(dir_size);
    central_dir_offset_ = static_cast<std::int64_t>(dir_offset);
    zip64_end_position_ = candidate;
    break;
  }
  return true;
}

const std::string& TEndCentral::ReadZipComment(TStream& stream) {
  static const std::string kEmpty;
  if (zip_comment_length_ == 0) return kEmpty;
  stream.Seek(zip_comment_position_, kSeekBegin);
  std::string comment(zip_comment_length_, '\0');
  const std::int64_t got = std::max<std::int64_t>(stream.Read(comment.data(), zip_comment_length_), 0);
  comment.resize(static_cast<std::size_t>(got));
  zip_comment_length_ = static_cast<std::uint16_t>(comment.size());
  zip_comment_text_ = std::move(comment);
  return *zip_comment_text_;
}

std::int64_t TEndCentral::PrependedBytes() const {
  // Both fields are at most INT64_MAX: subtract one at a time so nothing overflows.
  const std::int64_t directory_end = IsZip64() ? zip64_end_position_ : end_record_position_;
  if (central_dir_offset_ > directory_end) return -1;
  return (directory_end - central_dir_offset_) - central_dir_size_;
}

}  // namespace kzb::zip
