#include "zip/records/zip_header_info.h"

#include <limits>
#include <vector>

#include "platform/path.h"
#include "zip/records/dos_time.h"
#include "zip/records/name_codec.h"
#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

namespace {

bool Fits32(std::int64_t v) {
  return v >= 0 && v <= kMaxClassicSize;
}

std::uint32_t Field32(std::int64_t v) {
  return Fits32(v) ? static_cast<std::uint32_t>(v) : kZip64Marker32;
}

// The values a Zip64 extra block may carry, filled only for the fields whose classic value is the marker.
struct Zip64Values {
  std::uint64_t uncompressed = 0;
  std::uint64_t compressed = 0;
  std::uint64_t offset = 0;
  std::uint32_t disk = 0;
};

// Finds the first Zip64 block in an extra field and takes the deferred fields from it, in the order
// uncompressed size, compressed size, local header offset, disk. A field missing from a short block keeps
// its classic value. Blocks running past the field's end end the walk.
void ParseZip64Extra(const std::uint8_t* extra, std::size_t length, bool want_uncompressed, bool want_compressed,
                     bool want_offset, bool want_disk, Zip64Values& values, bool found[4]) {
  std::size_t i = 0;
  while (i + kExtraBlockHeaderSize <= length) {
    const std::uint16_t id = GetU16(extra + i);
    const std::size_t size = GetU16(extra + i + extra_block::kDataSize);
    if (i + kExtraBlockHeaderSize + size > length) return;
    if (id == kZip64ExtraId) {
      const std::uint8_t* p = extra + i + kExtraBlockHeaderSize;
      std::size_t left = size;
      auto take64 = [&](bool want, std::uint64_t& out, bool& got) {
        if (!want || left < 8) return;
        out = GetU64(p);
        got = true;
        p += 8;
        left -= 8;
      };
      take64(want_uncompressed, values.uncompressed, found[0]);
      take64(want_compressed, values.compressed, found[1]);
      take64(want_offset, values.offset, found[2]);
      if (want_disk && left >= 4) {
        values.disk = GetU32(p);
        found[3] = true;
      }
      return;  // the first Zip64 block counts; later duplicates are ignored
    }
    i += kExtraBlockHeaderSize + size;
  }
}

// The AES block of an extra field, when it has the vendor id and a known strength.
struct AesValues {
  bool found = false;
  std::uint16_t vendor_version = 0;
  std::uint8_t strength = 0;
  std::uint16_t method = 0;
};

AesValues ParseAesExtra(const std::uint8_t* extra, std::size_t length) {
  AesValues values;
  std::size_t i = 0;
  while (i + kExtraBlockHeaderSize <= length) {
    const std::uint16_t id = GetU16(extra + i);
    const std::size_t size = GetU16(extra + i + extra_block::kDataSize);
    if (i + kExtraBlockHeaderSize + size > length) break;
    if (id == kAesExtraId && size >= static_cast<std::size_t>(kAesExtraDataSize)) {
      const std::uint8_t* p = extra + i + kExtraBlockHeaderSize;
      const std::uint8_t strength = p[aes_extra::kStrength];
      if (GetU16(p + aes_extra::kVendorId) == kAesVendorId && strength >= kAesStrength128 &&
          strength <= kAesStrength256) {
        values.found = true;
        values.vendor_version = GetU16(p + aes_extra::kVendorVersion);
        values.strength = strength;
        values.method = GetU16(p + aes_extra::kMethod);
      }
      break;
    }
    i += kExtraBlockHeaderSize + size;
  }
  return values;
}

void PutAesExtra(std::uint8_t* p, const TZipHeaderInfo& h) {
  PutU16(p + extra_block::kId, kAesExtraId);
  PutU16(p + extra_block::kDataSize, kAesExtraDataSize);
  std::uint8_t* data = p + kExtraBlockHeaderSize;
  PutU16(data + aes_extra::kVendorVersion, h.AesVendorVersion());
  PutU16(data + aes_extra::kVendorId, kAesVendorId);
  data[aes_extra::kStrength] = h.AesStrength();
  PutU16(data + aes_extra::kMethod, h.AesMethod());
}

// The modification time of an extra field in UTC seconds: from the first extended-timestamp block that
// has one, else from the first NTFS block's times attribute.
std::optional<std::int64_t> ParseTimeExtra(const std::uint8_t* extra, std::size_t length) {
  std::optional<std::int64_t> ntfs;
  std::size_t i = 0;
  while (i + kExtraBlockHeaderSize <= length) {
    const std::uint16_t id = GetU16(extra + i);
    const std::size_t size = GetU16(extra + i + extra_block::kDataSize);
    if (i + kExtraBlockHeaderSize + size > length) break;
    const std::uint8_t* p = extra + i + kExtraBlockHeaderSize;
    if (id == kExtTimeExtraId && size >= 5 && (p[0] & kExtTimeHasModification) != 0) {
      return static_cast<std::int64_t>(GetU32(p + 1));
    }
    if (id == kNtfsExtraId && !ntfs) {
      // 4 reserved bytes, then tag, size, data attributes.
      std::size_t k = 4;
      while (k + 4 <= size) {
        const std::uint16_t tag = GetU16(p + k);
        const std::size_t tag_size = GetU16(p + k + 2);
        if (k + 4 + tag_size > size) break;
        if (tag == kNtfsTimesTag && tag_size >= static_cast<std::size_t>(kNtfsTimesSize)) {
          const std::uint64_t ticks = GetU64(p + k + 4);
          if (ticks != 0 && ticks <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            ntfs = static_cast<std::int64_t>(ticks) / kNtfsTicksPerSecond - kNtfsEpochToUnix;
          }
          break;
        }
        k += 4 + tag_size;
      }
    }
    i += kExtraBlockHeaderSize + size;
  }
  return ntfs;
}

void PutExtTimeExtra(std::uint8_t* p, std::int64_t unix_time) {
  PutU16(p + extra_block::kId, kExtTimeExtraId);
  PutU16(p + extra_block::kDataSize, kExtTimeExtraSize - kExtraBlockHeaderSize);
  p[kExtraBlockHeaderSize] = kExtTimeHasModification;
  PutU32(p + kExtraBlockHeaderSize + 1, static_cast<std::uint32_t>(unix_time));
}

constexpr std::uint64_t kMaxInt64 = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

}  // namespace

void TZipHeaderInfo::ResetDefaults() {
  version_made_by_ = kVersionDefault;
  version_needed_ = kVersionDefault;
  general_flags_ = 0;
  compression_method_ = kMethodDeflated;
  file_date_time_ = 0;
  crc32_ = 0xFFFFFFFF;
  compressed_size_ = 0;
  uncompressed_size_ = 0;
  central_extra_length_ = 0;
  local_extra_length_ = 0;
  file_comment_length_ = 0;
  disk_number_start_ = 0;
  internal_attributes_ = 1;
  external_attributes_ = 32;
  local_header_offset_ = 0;
  central_header_position_ = 0;
  file_name_.clear();
  directory_.clear();
  file_comment_.reset();
  extract_mark_ = false;
  local_zip64_ = false;
  local_own_extra_ = 0;
  aes_strength_ = 0;
  aes_vendor_version_ = 0;
  aes_method_ = 0;
  unix_time_.reset();
}

void TZipHeaderInfo::SetFileName(std::string_view name) {
  file_name_.assign(name);
}

void TZipHeaderInfo::SetDirectory(std::string_view directory) {
  directory_.assign(directory);
  if (!directory_.empty() && !platform::IsPathSeparator(directory_.back())) {
    directory_.push_back(platform::kPathSeparator);
  }
}

void TZipHeaderInfo::SetFileComment(std::optional<std::string> comment) {
  if (comment && comment->size() > static_cast<std::size_t>(kMaxFieldLength)) {
    throw EZipGeneralError("Comment too long");
  }
  file_comment_length_ = comment ? static_cast<std::uint16_t>(comment->size()) : 0;
  file_comment_ = std::move(comment);
}

std::uint32_t TZipHeaderInfo::UnixMode() const {
  const std::uint8_t host = static_cast<std::uint8_t>(version_made_by_ >> 8);
  const std::uint32_t mode = external_attributes_ >> kUnixModeShift;
  if (host == kHostUnix || host == kHostOsx) return mode;
  // Another host with the Unix half marked: only a mode that names a file type counts.
  if ((external_attributes_ & kUnixModeMarker) != 0 && (mode & kUnixTypeMask) != 0) return mode;
  return 0;
}

bool TZipHeaderInfo::IsDirectoryEntry() const {
  if (!file_name_.empty()) return false;
  return !directory_.empty() && directory_.back() == platform::kPathSeparator;
}

// --- Sizes ------------------------------------------------------------------------------------------------

int TZipHeaderInfo::Zip64CentralExtraSize() const {
  int data = 0;
  if (!Fits32(uncompressed_size_)) data += 8;
  if (!Fits32(compressed_size_)) data += 8;
  if (!Fits32(local_header_offset_)) data += 8;
  if (disk_number_start_ >= kZip64Marker16) data += 4;
  return data == 0 ? 0 : kExtraBlockHeaderSize + data;
}

namespace {

// The local extra field WriteLocal writes: its own blocks (Zip64, AES) and the copied bytes a caller
// appends (an entry taken from another archive, without a Zip64 header of its own).
struct LocalExtraLayout {
  bool zip64 = false;
  bool time = false;
  bool aes = false;
  int copied = 0;
  int Own() const {
    return (zip64 ? kZip64LocalExtraSize : 0) + (time ? kExtTimeExtraSize : 0) + (aes ? kAesExtraSize : 0);
  }
  int Total() const { return Own() + copied; }
};

LocalExtraLayout LayoutFor(const TZipHeaderInfo& h, bool zip64, int copied) {
  LocalExtraLayout layout;
  layout.zip64 = zip64;
  // A copied local extra field already holds the entry's AES and time blocks; a Zip64 header replaces the
  // copied field, so then the blocks are written anew.
  layout.copied = zip64 ? 0 : copied;
  layout.time = h.WritesUnixTime() && layout.copied == 0;
  layout.aes = h.IsAes() && layout.copied == 0;
  return layout;
}

}  // namespace

std::int64_t TZipHeaderInfo::LocalSize(bool reserve_zip64) const {
  const bool zip64 = reserve_zip64 || local_zip64_ || !Fits32(compressed_size_) || !Fits32(uncompressed_size_);
  const LocalExtraLayout layout = LayoutFor(*this, zip64, local_extra_length_ - local_own_extra_);
  return kLocalHeaderSize + FileNameLength() + layout.Total();
}

std::int64_t TZipHeaderInfo::CentralSize() const {
  const std::int64_t comment =
      (file_comment_length_ != 0 && file_comment_) ? static_cast<std::int64_t>(file_comment_->size()) : 0;
  return kCentralHeaderSize + FileNameLength() + Zip64CentralExtraSize() + (WritesUnixTime() ? kExtTimeExtraSize : 0) +
         (IsAes() ? kAesExtraSize : 0) + comment;
}

// --- Writing ----------------------------------------------------------------------------------------------

namespace {

std::string StoredNameOrThrow(const TZipHeaderInfo& header, bool* utf8) {
  std::string stored = EncodeStoredName(header.FullName(), utf8);
  if (stored.size() > static_cast<std::size_t>(kMaxFieldLength)) throw EZipGeneralError("File name too long");
  return stored;
}

// Info-ZIP's unzip takes names from an MS-DOS (FAT) host for OEM text even when bit 11 marks them UTF-8,
// and garbles them; the same entry from a VFAT host (FAT with long names: the same attribute meaning) keeps
// its UTF-8 name in every reader.
std::uint16_t WrittenVersionMadeBy(std::uint16_t version_made_by, bool utf8) {
  if (utf8 && (version_made_by >> 8) == kHostMsDos) {
    return static_cast<std::uint16_t>((kHostVfat << 8) | (version_made_by & 0xFF));
  }
  return version_made_by;
}

void WriteLocalRecord(TStream& stream, const TZipHeaderInfo& h, const std::string& stored, std::uint16_t flags,
                      const LocalExtraLayout& layout) {
  const bool zip64 = layout.zip64;
  std::vector<std::uint8_t> rec(kLocalHeaderSize + stored.size() + static_cast<std::size_t>(layout.Own()));
  std::uint8_t* p = rec.data();
  PutU32(p, kLocalHeaderSignature);
  PutU16(p + local_header::kVersionNeeded,
         zip64 && h.VersionNeeded() < kVersionZip64 ? kVersionZip64 : h.VersionNeeded());
  PutU16(p + local_header::kFlags, flags);
  PutU16(p + local_header::kMethod, h.CompressionMethod());
  PutU32(p + local_header::kDateTime, h.FileDateTime());
  PutU32(p + local_header::kCrc32, h.Crc32());
  PutU32(p + local_header::kCompressedSize, zip64 ? kZip64Marker32 : static_cast<std::uint32_t>(h.CompressedSize()));
  PutU32(p + local_header::kUncompressedSize,
         zip64 ? kZip64Marker32 : static_cast<std::uint32_t>(h.UncompressedSize()));
  PutU16(p + local_header::kNameLength, static_cast<std::uint16_t>(stored.size()));
  PutU16(p + local_header::kExtraLength, static_cast<std::uint16_t>(layout.Total()));
  std::copy(stored.begin(), stored.end(), p + kLocalHeaderSize);
  std::uint8_t* e = p + kLocalHeaderSize + stored.size();
  if (zip64) {
    PutU16(e, kZip64ExtraId);
    PutU16(e + extra_block::kDataSize, 16);
    PutU64(e + kExtraBlockHeaderSize, static_cast<std::uint64_t>(h.UncompressedSize()));
    PutU64(e + kExtraBlockHeaderSize + 8, static_cast<std::uint64_t>(h.CompressedSize()));
    e += kZip64LocalExtraSize;
  }
  if (layout.time) {
    PutExtTimeExtra(e, *h.UnixTime());
    e += kExtTimeExtraSize;
  }
  if (layout.aes) PutAesExtra(e, h);
  stream.WriteBuffer(rec.data(), static_cast<std::int64_t>(rec.size()));
}

}  // namespace

void TZipHeaderInfo::WriteLocal(TStream& stream, bool reserve_zip64) {
  bool utf8 = false;
  const std::string stored = StoredNameOrThrow(*this, &utf8);
  if (utf8) general_flags_ |= kFlagUtf8;
  local_header_offset_ = stream.Position();
  local_zip64_ = reserve_zip64 || !Fits32(compressed_size_) || !Fits32(uncompressed_size_);
  const LocalExtraLayout layout = LayoutFor(*this, local_zip64_, local_extra_length_ - local_own_extra_);
  local_extra_length_ = static_cast<std::uint16_t>(layout.Total());
  local_own_extra_ = static_cast<std::uint16_t>(layout.Own());
  WriteLocalRecord(stream, *this, stored, general_flags_, layout);
}

void TZipHeaderInfo::PatchLocal(TStream& stream) {
  if (!local_zip64_ && (!Fits32(compressed_size_) || !Fits32(uncompressed_size_))) {
    throw EZipGeneralError("File too large for its local header");
  }
  bool utf8 = false;
  const std::string stored = StoredNameOrThrow(*this, &utf8);
  if (utf8) general_flags_ |= kFlagUtf8;
  const std::int64_t back = stream.Position();
  stream.Seek(local_header_offset_, kSeekBegin);
  LocalExtraLayout layout = LayoutFor(*this, local_zip64_, local_extra_length_ - local_own_extra_);
  if (layout.Total() != local_extra_length_) throw EZipGeneralError("Local header layout changed");
  WriteLocalRecord(stream, *this, stored, general_flags_, layout);
  stream.Seek(back, kSeekBegin);
}

void TZipHeaderInfo::WriteCentral(TStream& stream) const {
  bool utf8 = false;
  const std::string stored = StoredNameOrThrow(*this, &utf8);
  const int zip64_size = Zip64CentralExtraSize();
  const int time_size = WritesUnixTime() ? kExtTimeExtraSize : 0;
  const int aes_size = IsAes() ? kAesExtraSize : 0;
  const bool has_comment = file_comment_length_ != 0 && file_comment_;
  const std::size_t comment_size = has_comment ? file_comment_->size() : 0;
  std::vector<std::uint8_t> rec(kCentralHeaderSize + stored.size() + zip64_size + time_size + aes_size + comment_size);
  std::uint8_t* p = rec.data();
  PutU32(p, kCentralHeaderSignature);
  PutU16(p + central_header::kVersionMadeBy, WrittenVersionMadeBy(version_made_by_, utf8));
  PutU16(p + central_header::kVersionNeeded,
         zip64_size != 0 && version_needed_ < kVersionZip64 ? kVersionZip64 : version_needed_);
  PutU16(p + central_header::kFlags, static_cast<std::uint16_t>(general_flags_ | (utf8 ? kFlagUtf8 : 0)));
  PutU16(p + central_header::kMethod, compression_method_);
  PutU32(p + central_header::kDateTime, file_date_time_);
  PutU32(p + central_header::kCrc32, crc32_);
  PutU32(p + central_header::kCompressedSize, Field32(compressed_size_));
  PutU32(p + central_header::kUncompressedSize, Field32(uncompressed_size_));
  PutU16(p + central_header::kNameLength, static_cast<std::uint16_t>(stored.size()));
  PutU16(p + central_header::kExtraLength, static_cast<std::uint16_t>(zip64_size + time_size + aes_size));
  PutU16(p + central_header::kCommentLength, static_cast<std::uint16_t>(comment_size));
  PutU16(p + central_header::kDiskNumberStart,
         disk_number_start_ >= kZip64Marker16 ? kZip64Marker16 : static_cast<std::uint16_t>(disk_number_start_));
  PutU16(p + central_header::kInternalAttributes, internal_attributes_);
  PutU32(p + central_header::kExternalAttributes, external_attributes_);
  PutU32(p + central_header::kLocalHeaderOffset, Field32(local_header_offset_));
  std::uint8_t* q = p + kCentralHeaderSize;
  q = std::copy(stored.begin(), stored.end(), q);
  if (zip64_size != 0) {
    PutU16(q, kZip64ExtraId);
    PutU16(q + extra_block::kDataSize, static_cast<std::uint16_t>(zip64_size - kExtraBlockHeaderSize));
    q += kExtraBlockHeaderSize;
    auto put64 = [&q](std::int64_t v) {
      PutU64(q, static_cast<std::uint64_t>(v));
      q += 8;
    };
    if (!Fits32(uncompressed_size_)) put64(uncompressed_size_);
    if (!Fits32(compressed_size_)) put64(compressed_size_);
    if (!Fits32(local_header_offset_)) put64(local_header_offset_);
    if (disk_number_start_ >= kZip64Marker16) {
      PutU32(q, disk_number_start_);
      q += 4;
    }
  }
  if (time_size != 0) {
    PutExtTimeExtra(q, *unix_time_);
    q += time_size;
  }
  if (aes_size != 0) {
    PutAesExtra(q, *this);
    q += aes_size;
  }
  if (has_comment) std::copy(file_comment_->begin(), file_comment_->end(), q);
  stream.WriteBuffer(rec.data(), static_cast<std::int64_t>(rec.size()));
}

// --- Reading ----------------------------------------------------------------------------------------------

bool TZipHeaderInfo::ReadCentral(TStream& stream, const TNextVolumeHook& next_volume) {
  TStream* s = &stream;
  std::int64_t start = s->Position();
  std::uint8_t h[kCentralHeaderSize];
  std::int64_t got = s->Read(h, kCentralHeaderSize);
  if (got < kCentralHeaderSize && next_volume && (got <= 0 || (got >= 4 && GetU32(h) == kCentralHeaderSignature))) {
    // The header continues on the next volume; the old stream may be gone once the hook returns.
    got = std::max<std::int64_t>(got, 0);
    s = next_volume();
    if (s == nullptr) return false;
    start = s->Position();
    got += std::max<std::int64_t>(s->Read(h + got, kCentralHeaderSize - got), 0);
  }
  if (got != kCentralHeaderSize || GetU32(h) != kCentralHeaderSignature) {
    s->Seek(start, kSeekBegin);
    return false;
  }
  const std::size_t name_length = GetU16(h + central_header::kNameLength);
  const std::size_t extra_length = GetU16(h + central_header::kExtraLength);
  const std::size_t comment_length = GetU16(h + central_header::kCommentLength);
  std::string raw(name_length, '\0');
  if (name_length > 0 &&
      s->Read(raw.data(), static_cast<std::int64_t>(name_length)) != static_cast<std::int64_t>(name_length)) {
    s->Seek(start, kSeekBegin);
    return false;
  }
  std::vector<std::uint8_t> extra(extra_length);
  const std::int64_t extra_got =
      extra_length > 0 ? std::max<std::int64_t>(s->Read(extra.data(), static_cast<std::int64_t>(extra_length)), 0) : 0;

  const std::uint32_t compressed = GetU32(h + central_header::kCompressedSize);
  const std::uint32_t uncompressed = GetU32(h + central_header::kUncompressedSize);
  const std::uint16_t disk = GetU16(h + central_header::kDiskNumberStart);
  const std::uint32_t offset = GetU32(h + central_header::kLocalHeaderOffset);
  Zip64Values z;
  bool found[4] = {false, false, false, false};
  ParseZip64Extra(extra.data(), static_cast<std::size_t>(extra_got), uncompressed == kZip64Marker32,
                  compressed == kZip64Marker32, offset == kZip64Marker32, disk == kZip64Marker16, z, found);
  if ((found[0] && z.uncompressed > kMaxInt64) || (found[1] && z.compressed > kMaxInt64) ||
      (found[2] && z.offset > kMaxInt64)) {
    s->Seek(start, kSeekBegin);
    return false;
  }

  version_made_by_ = GetU16(h + central_header::kVersionMadeBy);
  version_needed_ = GetU16(h + central_header::kVersionNeeded);
  general_flags_ = GetU16(h + central_header::kFlags);
  compression_method_ = GetU16(h + central_header::kMethod);
  file_date_time_ = FixDosDateTime(GetU32(h + central_header::kDateTime));
  crc32_ = GetU32(h + central_header::kCrc32);
  compressed_size_ = found[1] ? static_cast<std::int64_t>(z.compressed) : compressed;
  uncompressed_size_ = found[0] ? static_cast<std::int64_t>(z.uncompressed) : uncompressed;
  central_extra_length_ = static_cast<std::uint16_t>(extra_length);
  local_extra_length_ = 0;
  file_comment_length_ = static_cast<std::uint16_t>(comment_length);
  disk_number_start_ = found[3] ? z.disk : disk;
  internal_attributes_ = GetU16(h + central_header::kInternalAttributes);
  external_attributes_ = GetU32(h + central_header::kExternalAttributes);
  local_header_offset_ = found[2] ? static_cast<std::int64_t>(z.offset) : offset;
  central_header_position_ = start;
  SplitStoredName(DecodeStoredName(raw, general_flags_, version_made_by_), directory_, file_name_);
  file_comment_.reset();
  local_zip64_ = false;
  local_own_extra_ = 0;
  const AesValues aes = ParseAesExtra(extra.data(), static_cast<std::size_t>(extra_got));
  SetAes(aes.strength, aes.vendor_version, aes.method);
  unix_time_ = ParseTimeExtra(extra.data(), static_cast<std::size_t>(extra_got));
  // Past the rest of the extra field (when it was cut short) and the comment, to the next header.
  const std::int64_t skip =
      static_cast<std::int64_t>(extra_length) - extra_got + static_cast<std::int64_t>(comment_length);
  if (skip > 0) s->Seek(skip, kSeekCurrent);
  return true;
}

bool TZipHeaderInfo::ReadLocal(TStream& stream) {
  const std::int64_t start = stream.Position();
  std::uint8_t h[kLocalHeaderSize];
  if (stream.Read(h, kLocalHeaderSize) != kLocalHeaderSize || GetU32(h) != kLocalHeaderSignature) {
    stream.Seek(start, kSeekBegin);
    return false;
  }
  const std::size_t name_length = GetU16(h + local_header::kNameLength);
  const std::size_t extra_length = GetU16(h + local_header::kExtraLength);
  std::string raw(name_length, '\0');
  if (name_length > 0 &&
      stream.Read(raw.data(), static_cast<std::int64_t>(name_length)) != static_cast<std::int64_t>(name_length)) {
    stream.Seek(start, kSeekBegin);
    return false;
  }
  const std::uint32_t compressed = GetU32(h + local_header::kCompressedSize);
  const std::uint32_t uncompressed = GetU32(h + local_header::kUncompressedSize);
  Zip64Values z;
  bool found[4] = {false, false, false, false};
  AesValues aes;
  std::optional<std::int64_t> unix_time;
  if (extra_length > 0) {
    std::vector<std::uint8_t> extra(extra_length);
    const std::int64_t got =
        std::max<std::int64_t>(stream.Read(extra.data(), static_cast<std::int64_t>(extra_length)), 0);
    ParseZip64Extra(extra.data(), static_cast<std::size_t>(got), uncompressed == kZip64Marker32,
                    compressed == kZip64Marker32, false, false, z, found);
    aes = ParseAesExtra(extra.data(), static_cast<std::size_t>(got));
    unix_time = ParseTimeExtra(extra.data(), static_cast<std::size_t>(got));
    stream.Seek(start + kLocalHeaderSize + static_cast<std::int64_t>(name_length), kSeekBegin);
    if ((found[0] && z.uncompressed > kMaxInt64) || (found[1] && z.compressed > kMaxInt64)) {
      found[0] = found[1] = false;
    }
  }
  version_made_by_ = 0;
  version_needed_ = GetU16(h + local_header::kVersionNeeded);
  general_flags_ = GetU16(h + local_header::kFlags);
  compression_method_ = GetU16(h + local_header::kMethod);
  file_date_time_ = FixDosDateTime(GetU32(h + local_header::kDateTime));
  crc32_ = GetU32(h + local_header::kCrc32);
  compressed_size_ = found[1] ? static_cast<std::int64_t>(z.compressed) : compressed;
  uncompressed_size_ = found[0] ? static_cast<std::int64_t>(z.uncompressed) : uncompressed;
  central_extra_length_ = 0;
  local_extra_length_ = static_cast<std::uint16_t>(extra_length);
  file_comment_length_ = 0;
  disk_number_start_ = 0;
  internal_attributes_ = 0;
  external_attributes_ = 0;
  local_header_offset_ = start;
  central_header_position_ = 0;
  SplitStoredName(DecodeStoredName(raw, general_flags_, 0), directory_, file_name_);
  file_comment_.reset();
  local_zip64_ = false;
  local_own_extra_ = 0;
  SetAes(aes.strength, aes.vendor_version, aes.method);
  unix_time_ = unix_time;
  return true;
}

const std::string& TZipHeaderInfo::ReadFileComment(TStream& stream) {
  static const std::string kEmpty;
  if (file_comment_length_ == 0) return kEmpty;
  stream.Seek(central_header_position_, kSeekBegin);
  std::uint8_t h[kCentralHeaderSize];
  if (stream.Read(h, kCentralHeaderSize) != kCentralHeaderSize || GetU32(h) != kCentralHeaderSignature) {
    return kEmpty;
  }
  const std::int64_t skip =
      static_cast<std::int64_t>(GetU16(h + central_header::kNameLength)) + GetU16(h + central_header::kExtraLength);
  const std::size_t length = GetU16(h + central_header::kCommentLength);
  if (skip > 0) stream.Seek(skip, kSeekCurrent);
  std::string comment(length, '\0');
  const std::int64_t got = std::max<std::int64_t>(stream.Read(comment.data(), static_cast<std::int64_t>(length)), 0);
  comment.resize(static_cast<std::size_t>(got));
  file_comment_length_ = static_cast<std::uint16_t>(comment.size());
  file_comment_ = std::move(comment);
  return *file_comment_;
}

}  // namespace kzb::zip
