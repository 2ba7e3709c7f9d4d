// TZipHeaderInfo: one archive entry, with the fields of its local and central headers, its stored path and
// comment, and the code that writes and parses those two records.
//
// Sizes and offsets are 64-bit in memory. The records carry classic 32-bit fields whenever values fit;
// otherwise the field holds 0xFFFFFFFF (0xFFFF for the disk number) and the value travels in a Zip64 extra
// block (id 0x0001) holding only the deferred fields, in the order uncompressed size, compressed size,
// local header offset, disk number. A header with Zip64 fields says version needed 45.
//
// Central headers: reading parses the extra field for the Zip64, time and AES blocks and otherwise ignores
// it; writing puts those blocks only. The entry comment is not read with the header; it is read
// on demand (ReadFileComment) from CentralHeaderPosition.
//
// Local headers: an entry made by this engine has no local extra field but its time block, unless
// WriteLocal was asked to reserve room for 64-bit sizes (a file whose compressed size may reach 4 GiB) or
// the sizes do not fit; then the header holds 0xFFFFFFFF sizes and a 20-byte Zip64 block. PatchLocal rewrites a header
// in place with the same layout once the CRC and sizes are known.
//
// AES: an entry encrypted with WinZip AES says method 99 and carries a 0x9901 block (vendor version, key
// strength, real method) in both headers. Reading takes it from either header; writing puts it into the
// central header and, for an entry this engine writes, into the local header (an entry copied from another
// archive keeps its own local extra field, which already holds the block).
//
// Times: an entry with a UnixTime carries an extended-timestamp block (0x5455, modification time in UTC
// seconds) in both headers beside the DOS date and time, so it is restored to the second whatever the
// time zone. Reading takes it from the extended-timestamp block, else from an NTFS block (0x000A).
//
// Names: see name_codec.h. A central header whose name needs the UTF-8 flag says host VFAT (14) instead of
// MS-DOS (0) in version made by, because Info-ZIP's unzip reads MS-DOS names as OEM text despite the flag;
// the attribute bits mean the same for both hosts. Entries made on Unix say host Unix (3): every reader
// then takes a name without the flag as raw bytes and the high half of the external attributes as the
// file's mode. FileNameLength is the byte length of the stored name that WriteLocal and
// WriteCentral write (Directory + FileName, UTF-8).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "zip/records/zip_format.h"
#include "zip/stream/stream.h"

namespace kzb::zip {

// Switches the reader to the next volume of a split archive and returns the stream to go on reading
// from (nullptr when there is none).
using TNextVolumeHook = std::function<TStream*()>;

class TZipHeaderInfo {
 public:
  TZipHeaderInfo() { ResetDefaults(); }
  TZipHeaderInfo(const TZipHeaderInfo& other) = default;
  TZipHeaderInfo& operator=(const TZipHeaderInfo& other) = default;
  virtual ~TZipHeaderInfo() = default;

  // Version made by 20, needed 20, flags 0, method 8, date-time 0, CRC 0xFFFFFFFF, sizes 0, internal
  // attributes 1, external attributes 32, no name, no comment, offsets 0.
  void ResetDefaults();
  // Copies every field, the comment included.
  void Assign(const TZipHeaderInfo& source) { *this = source; }
  void AssignTo(TZipHeaderInfo& target) const { target = *this; }

  // --- Records -------------------------------------------------------------------------------------------
  // Sets LocalHeaderOffset to the stream's position and writes the local header and the stored name. The
  // extra-field length written is LocalExtraLength (whose bytes the caller copies, for an entry taken from
  // another archive) unless the header gets the Zip64 block: with reserve_zip64, or when a size does not
  // fit in 32 bits; then the block is written and LocalExtraLength becomes its size (20), so a copying
  // caller must copy the entry data without its old extra field. Raises EZipGeneralError
  // ("File name too long") for a stored name over 65535 bytes.
  void WriteLocal(TStream& stream, bool reserve_zip64 = false);
  // Rewrites the local header at LocalHeaderOffset with the current values and the layout the last
  // WriteLocal chose, then returns the stream to where it was. Raises EZipGeneralError ("File too large
  // for its local header") when a size no longer fits a header written without the Zip64 block.
  void PatchLocal(TStream& stream);
  // Writes the central header, the stored name, the Zip64 block when needed and the comment (when its
  // length is non-zero and a text is held).
  void WriteCentral(TStream& stream) const;
  // Parses the central header at the stream's position (see the reader for the hook). On success the
  // stream is left after the header's comment (at the next header), CentralHeaderPosition is the header's
  // position, FileComment is none and true is returned. A short or malformed record restores the position
  // and returns false; nothing is raised for bad data.
  bool ReadCentral(TStream& stream, const TNextVolumeHook& next_volume = nullptr);
  // Parses the local header at the stream's position and leaves the stream after the stored name (before
  // the extra field, which is parsed for Zip64 sizes but not skipped). VersionMadeBy becomes 0; comment
  // length, disk, attributes 0; LocalHeaderOffset the header's position. False (position restored) when
  // no local header is there.
  bool ReadLocal(TStream& stream);
  // Reads the comment of this entry's central header (at CentralHeaderPosition) into FileComment and
  // returns it; an empty text when the entry has none. The stream's position is not restored.
  const std::string& ReadFileComment(TStream& stream);

  // --- Derived values ------------------------------------------------------------------------------------
  bool HasComment() const { return file_comment_length_ != 0; }
  bool IsEncrypted() const { return (general_flags_ & 0x0001) != 0; }
  bool HasDataDescriptor() const { return (general_flags_ & 0x0008) != 0; }
  bool IsDirectoryEntry() const;  // stored name ends in the separator
  // Bytes of the local header as WriteLocal writes it: 30 + name + LocalExtraLength (the Zip64 block when
  // reserve_zip64 is given and LocalExtraLength does not already count it, the extended-timestamp block
  // and the AES block of an AES entry).
  std::int64_t LocalSize(bool reserve_zip64 = false) const;
  // Bytes WriteCentral writes: 46 + name + Zip64 block (when needed) + extended-timestamp block + AES
  // block + comment.
  std::int64_t CentralSize() const;
  // Whether the central header needs the Zip64 block, and that block's size (0 when not needed).
  bool NeedsZip64Central() const { return Zip64CentralExtraSize() != 0; }
  int Zip64CentralExtraSize() const;
  // True after WriteLocal put the Zip64 block into the local header.
  bool LocalHasZip64() const { return local_zip64_; }
  // Directory + FileName.
  std::string FullName() const { return directory_ + file_name_; }
  // An AES-encrypted entry: method 99 with a valid AES block.
  bool IsAes() const { return compression_method_ == kMethodAes && aes_strength_ != 0; }
  // The method that decodes the data: the AES block's real method for an AES entry, else CompressionMethod.
  std::uint16_t DataMethod() const { return IsAes() ? aes_method_ : compression_method_; }
  // The st_mode bits (file type and permissions) the external attributes carry for a Unix host (or with
  // the marker some archivers set for another host); 0 when the entry has none.
  std::uint32_t UnixMode() const;

  // --- Fields --------------------------------------------------------------------------------------------
  std::uint16_t VersionMadeBy() const { return version_made_by_; }
  void SetVersionMadeBy(std::uint16_t v) { version_made_by_ = v; }
  std::uint16_t VersionNeeded() const { return version_needed_; }
  void SetVersionNeeded(std::uint16_t v) { version_needed_ = v; }
  std::uint16_t GeneralFlags() const { return general_flags_; }
  void SetGeneralFlags(std::uint16_t v) { general_flags_ = v; }
  std::uint16_t CompressionMethod() const { return compression_method_; }
  void SetCompressionMethod(std::uint16_t v) { compression_method_ = v; }
  // Packed DOS date-time: time in the low 16 bits, date in the high 16 bits.
  std::uint32_t FileDateTime() const { return file_date_time_; }
  void SetFileDateTime(std::uint32_t v) { file_date_time_ = v; }
  std::uint32_t Crc32() const { return crc32_; }
  void SetCrc32(std::uint32_t v) { crc32_ = v; }
  // Includes the 12-byte encryption header of an encrypted entry.
  std::int64_t CompressedSize() const { return compressed_size_; }
  void SetCompressedSize(std::int64_t v) { compressed_size_ = v; }
  std::int64_t UncompressedSize() const { return uncompressed_size_; }
  void SetUncompressedSize(std::int64_t v) { uncompressed_size_ = v; }
  std::int64_t FileNameLength() const { return static_cast<std::int64_t>(directory_.size() + file_name_.size()); }
  std::uint16_t CentralExtraLength() const { return central_extra_length_; }
  void SetCentralExtraLength(std::uint16_t v) { central_extra_length_ = v; }
  std::uint16_t LocalExtraLength() const { return local_extra_length_; }
  // The local extra field a copying caller writes behind the header itself: none of it is the header's own
  // any more (an entry this writer made earlier carries its own blocks inside the copied bytes).
  void SetLocalExtraLength(std::uint16_t v) {
    local_extra_length_ = v;
    local_own_extra_ = 0;
  }
  std::uint16_t FileCommentLength() const { return file_comment_length_; }
  void SetFileCommentLength(std::uint16_t v) { file_comment_length_ = v; }
  std::uint32_t DiskNumberStart() const { return disk_number_start_; }
  void SetDiskNumberStart(std::uint32_t v) { disk_number_start_ = v; }
  std::uint16_t InternalAttributes() const { return internal_attributes_; }
  void SetInternalAttributes(std::uint16_t v) { internal_attributes_ = v; }
  std::uint32_t ExternalAttributes() const { return external_attributes_; }
  void SetExternalAttributes(std::uint32_t v) { external_attributes_ = v; }
  // Offset of the local header within its volume.
  std::int64_t LocalHeaderOffset() const { return local_header_offset_; }
  void SetLocalHeaderOffset(std::int64_t v) { local_header_offset_ = v; }
  // Stream position of the central header, set by ReadCentral.
  std::int64_t CentralHeaderPosition() const { return central_header_position_; }
  void SetCentralHeaderPosition(std::int64_t v) { central_header_position_ = v; }

  // Name part, UTF-8, no separator.
  const std::string& FileName() const { return file_name_; }
  void SetFileName(std::string_view name);
  // Folder part with its trailing native separator, or empty; a separator is appended when missing.
  const std::string& Directory() const { return directory_; }
  void SetDirectory(std::string_view directory);
  // The comment held in memory (none until set or read).
  const std::optional<std::string>& FileComment() const { return file_comment_; }
  // Replaces the comment; FileCommentLength becomes its length (0 for none). Longer than 65535 bytes
  // raises EZipGeneralError ("Comment too long").
  void SetFileComment(std::optional<std::string> comment);
  // The AES block: key strength 1, 2, 3 (128, 192, 256 bits; 0 when the entry has no valid block), vendor
  // version (1 = AE-1 with CRC, 2 = AE-2 without) and the real compression method.
  std::uint8_t AesStrength() const { return aes_strength_; }
  std::uint16_t AesVendorVersion() const { return aes_vendor_version_; }
  std::uint16_t AesMethod() const { return aes_method_; }
  void SetAes(std::uint8_t strength, std::uint16_t vendor_version, std::uint16_t method) {
    aes_strength_ = strength;
    aes_vendor_version_ = vendor_version;
    aes_method_ = method;
  }
  // Modification time in seconds since 1970-01-01 UTC, when the entry has one (from an extended-timestamp
  // or NTFS block, or set by the writer); written as an extended-timestamp block when it lies in
  // 1970..2038.
  const std::optional<std::int64_t>& UnixTime() const { return unix_time_; }
  void SetUnixTime(std::optional<std::int64_t> seconds) { unix_time_ = seconds; }
  // Whether the headers get the extended-timestamp block.
  bool WritesUnixTime() const { return unix_time_ && *unix_time_ >= 0 && *unix_time_ <= kMaxWrittenUnixTime; }
  bool ExtractMark() const { return extract_mark_; }
  void SetExtractMark(bool mark) { extract_mark_ = mark; }

 private:
  std::uint16_t version_made_by_;
  std::uint16_t version_needed_;
  std::uint16_t general_flags_;
  std::uint16_t compression_method_;
  std::uint32_t file_date_time_;
  std::uint32_t crc32_;
  std::int64_t compressed_size_;
  std::int64_t uncompressed_size_;
  std::uint16_t central_extra_length_;
  std::uint16_t local_extra_length_;
  std::uint16_t file_comment_length_;
  std::uint32_t disk_number_start_;
  std::uint16_t internal_attributes_;
  std::uint32_t external_attributes_;
  std::int64_t local_header_offset_;
  std::int64_t central_header_position_;
  std::string file_name_;
  std::string directory_;
  std::optional<std::string> file_comment_;
  bool extract_mark_;
  bool local_zip64_;
  std::uint16_t local_own_extra_;  // bytes of LocalExtraLength that WriteLocal wrote itself
  std::uint8_t aes_strength_;
  std::uint16_t aes_vendor_version_;
  std::uint16_t aes_method_;
  std::optional<std::int64_t> unix_time_;
};

}  // namespace kzb::zip
