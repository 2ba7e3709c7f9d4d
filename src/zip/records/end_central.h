// TEndCentral: the end-of-central-directory record with the archive comment, and the Zip64 end record and
// locator that stand in front of it in large archives.
//
// Counts, sizes and offsets are 64-bit in memory. WriteEndRecord writes the classic record alone whenever
// every value fits; when the entry count exceeds 65534 or the directory's size or offset does not fit in
// 32 bits (or a disk number exceeds 65534), it first writes a Zip64 end record and its locator, then the
// classic record with the overflowing fields set to their markers (0xFFFF / 0xFFFFFFFF).
//
// FindEndRecord scans the last 65557 bytes backwards for the end signature and takes the hit nearest the
// end of the file (a comment that itself contains the signature bytes loses to a later occurrence). Only
// when a classic field holds its marker does it look for the Zip64 locator right in front of the record;
// the Zip64 end record is taken from the locator's offset, or from just in front of the locator when data
// was prepended to the archive; all its values then replace the classic ones (some writers leave stale values
// in the classic fields). A locator whose Zip64 record is not found is ignored, and so is a Zip64 record
// whose counts, size or offset are out of range (Problem names the field). The comment is not read here
// (ReadZipComment reads it on demand).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "zip/stream/stream.h"

namespace kzb::zip {

class TEndCentral {
 public:
  TEndCentral() { ResetDefaults(); }
  TEndCentral(const TEndCentral&) = default;
  TEndCentral& operator=(const TEndCentral&) = default;
  virtual ~TEndCentral() = default;

  // All numbers 0, no comment, not modified, no Zip64 record seen.
  void ResetDefaults();
  // Copies the numbers, the comment and ZipCommentPosition; CommentModified is left as it is.
  void Assign(const TEndCentral& source);
  void AssignTo(TEndCentral& target) const { target.Assign(*this); }

  // Writes (Zip64 end record and locator when needed, see above), the 22-byte record and, when the comment
  // length is non-zero and a text is held, the comment's bytes.
  void WriteEndRecord(TStream& stream) const;
  // An empty stream: true, fields unchanged (an empty archive). 1 to 21 bytes, a short read or no
  // signature: false. Otherwise fills the fields, ZipCommentPosition, EndRecordPosition and the Zip64
  // values, and returns true. Leaves the stream position undefined.
  bool FindEndRecord(TStream& stream);
  // Reads ZipCommentLength bytes at ZipCommentPosition (fewer when the file ends first), holds them as
  // ZipCommentText and returns them. CommentModified is not changed.
  const std::string& ReadZipComment(TStream& stream);

  // True when WriteEndRecord writes the Zip64 end record and locator.
  bool NeedsZip64() const;
  // Bytes WriteEndRecord writes: 22 + comment length, plus 56 + 20 when NeedsZip64.
  std::int64_t EndRecordSize() const;
  bool HasComment() const { return zip_comment_length_ != 0; }

  std::uint32_t Signature() const { return signature_; }
  std::uint32_t ThisDisk() const { return this_disk_; }
  void SetThisDisk(std::uint32_t v) { this_disk_ = v; }
  std::uint32_t CentralStartDisk() const { return central_start_disk_; }
  void SetCentralStartDisk(std::uint32_t v) { central_start_disk_ = v; }
  std::int64_t EntriesThisDisk() const { return entries_this_disk_; }
  void SetEntriesThisDisk(std::int64_t v) { entries_this_disk_ = v; }
  std::int64_t TotalEntries() const { return total_entries_; }
  void SetTotalEntries(std::int64_t v) { total_entries_ = v; }
  std::int64_t CentralDirSize() const { return central_dir_size_; }
  void SetCentralDirSize(std::int64_t v) { central_dir_size_ = v; }
  std::int64_t CentralDirOffset() const { return central_dir_offset_; }
  void SetCentralDirOffset(std::int64_t v) { central_dir_offset_ = v; }
  std::uint16_t ZipCommentLength() const { return zip_comment_length_; }
  const std::optional<std::string>& ZipCommentText() const { return zip_comment_text_; }
  // Replaces the held comment; the length becomes its length. Over 65535 bytes raises EZipGeneralError
  // ("Comment too long").
  void SetZipComment(std::optional<std::string> comment);
  // Stream position where the comment begins (set by FindEndRecord).
  std::int64_t ZipCommentPosition() const { return zip_comment_position_; }
  void SetZipCommentPosition(std::int64_t v) { zip_comment_position_ = v; }
  bool CommentModified() const { return comment_modified_; }
  void SetCommentModified(bool v) { comment_modified_ = v; }

  // Set by FindEndRecord: position of the classic record's signature, and of the Zip64 end record (-1
  // when the archive has none).
  std::int64_t EndRecordPosition() const { return end_record_position_; }
  std::int64_t Zip64EndPosition() const { return zip64_end_position_; }
  bool IsZip64() const { return zip64_end_position_ >= 0; }
  // Bytes in front of the archive's first record (a self-extractor stub, junk), as the distance between
  // where the central directory ends in the file and where its recorded offset and size put that end;
  // 0 for a well-formed archive. Negative values mean inconsistent records.
  std::int64_t PrependedBytes() const;
  // Set by FindEndRecord when a Zip64 end record was found but ignored because a field was out of range;
  // the text names the field. Empty otherwise.
  const std::string& Problem() const { return problem_; }

 private:
  std::uint32_t signature_;
  std::uint32_t this_disk_;
  std::uint32_t central_start_disk_;
  std::int64_t entries_this_disk_;
  std::int64_t total_entries_;
  std::int64_t central_dir_size_;
  std::int64_t central_dir_offset_;
  std::uint16_t zip_comment_length_;
  std::optional<std::string> zip_comment_text_;
  std::int64_t zip_comment_position_;
  bool comment_modified_;
  std::int64_t end_record_position_;
  std::int64_t zip64_end_position_;
  std::string problem_;
};

}  // namespace kzb::zip
