// Constants of the ZIP container shared by the reader, the writer and the codecs: record signatures, fixed
// record sizes, the Zip64 records and extra field, general purpose flag bits, compression methods, version
// numbers and the little-endian field helpers the record code uses.
#pragma once

#include <cstdint>

namespace kzb::zip {

// Record signatures, as little-endian 32-bit values.
inline constexpr std::uint32_t kLocalHeaderSignature = 0x04034B50;      // "PK\3\4"
inline constexpr std::uint32_t kCentralHeaderSignature = 0x02014B50;    // "PK\1\2"
inline constexpr std::uint32_t kEndCentralSignature = 0x06054B50;       // "PK\5\6"
inline constexpr std::uint32_t kZip64EndCentralSignature = 0x06064B50;  // "PK\6\6"
inline constexpr std::uint32_t kZip64EndLocatorSignature = 0x07064B50;  // "PK\6\7"
inline constexpr std::uint32_t kDataDescriptorSignature = 0x08074B50;   // "PK\7\8"
inline constexpr std::uint32_t kSpannedMarkerSignature = 0x08074B50;    // first bytes of a split set

// Fixed parts of the records (bytes before the variable name, extra and comment fields).
inline constexpr int kLocalHeaderSize = 30;
inline constexpr int kCentralHeaderSize = 46;
inline constexpr int kEndCentralSize = 22;
inline constexpr int kZip64EndCentralSize = 56;  // with its 12-byte lead-in (signature and size field)
inline constexpr int kZip64EndLocatorSize = 20;
// A data descriptor with its signature: classic (4 + 12) and Zip64 (4 + 20).
inline constexpr int kDataDescriptorSize = 16;
inline constexpr int kZip64DataDescriptorSize = 24;

// Field offsets within the fixed part of each record, from the record's first byte (its signature).
namespace local_header {
inline constexpr int kVersionNeeded = 4;
inline constexpr int kFlags = 6;
inline constexpr int kMethod = 8;
inline constexpr int kDateTime = 10;
inline constexpr int kCrc32 = 14;
inline constexpr int kCompressedSize = 18;
inline constexpr int kUncompressedSize = 22;
inline constexpr int kNameLength = 26;
inline constexpr int kExtraLength = 28;
}  // namespace local_header

namespace central_header {
inline constexpr int kVersionMadeBy = 4;
inline constexpr int kVersionNeeded = 6;
inline constexpr int kFlags = 8;
inline constexpr int kMethod = 10;
inline constexpr int kDateTime = 12;
inline constexpr int kCrc32 = 16;
inline constexpr int kCompressedSize = 20;
inline constexpr int kUncompressedSize = 24;
inline constexpr int kNameLength = 28;
inline constexpr int kExtraLength = 30;
inline constexpr int kCommentLength = 32;
inline constexpr int kDiskNumberStart = 34;
inline constexpr int kInternalAttributes = 36;
inline constexpr int kExternalAttributes = 38;
inline constexpr int kLocalHeaderOffset = 42;
}  // namespace central_header

namespace end_record {
inline constexpr int kThisDisk = 4;
inline constexpr int kCentralStartDisk = 6;
inline constexpr int kEntriesThisDisk = 8;
inline constexpr int kTotalEntries = 10;
inline constexpr int kCentralDirSize = 12;
inline constexpr int kCentralDirOffset = 16;
inline constexpr int kCommentLength = 20;
}  // namespace end_record

namespace zip64_end_record {
inline constexpr int kRecordSize = 4;  // bytes after this field (the record's size less 12)
inline constexpr int kVersionMadeBy = 12;
inline constexpr int kVersionNeeded = 14;
inline constexpr int kThisDisk = 16;
inline constexpr int kCentralStartDisk = 20;
inline constexpr int kEntriesThisDisk = 24;
inline constexpr int kTotalEntries = 32;
inline constexpr int kCentralDirSize = 40;
inline constexpr int kCentralDirOffset = 48;
inline constexpr int kLeadIn = 12;  // signature and size field, not counted by kRecordSize
}  // namespace zip64_end_record

namespace zip64_locator {
inline constexpr int kRecordDisk = 4;    // disk holding the Zip64 end record
inline constexpr int kRecordOffset = 8;  // offset of the Zip64 end record
inline constexpr int kTotalDisks = 16;
}  // namespace zip64_locator

// A data descriptor with its signature.
namespace data_descriptor {
inline constexpr int kCrc32 = 4;
inline constexpr int kCompressedSize = 8;
inline constexpr int kUncompressedSize = 12;
}  // namespace data_descriptor

// One block of an extra field.
namespace extra_block {
inline constexpr int kId = 0;
inline constexpr int kDataSize = 2;
}  // namespace extra_block

// Longest archive comment, and how far from the end the end record can start.
inline constexpr int kMaxCommentLength = 65535;
inline constexpr int kEndCentralSearchSpan = kMaxCommentLength + kEndCentralSize;  // 65557
// Longest stored name, extra field or entry comment (a 16-bit length).
inline constexpr int kMaxFieldLength = 65535;

// Zip64: classic fields holding these values defer to the Zip64 records.
inline constexpr std::uint32_t kZip64Marker32 = 0xFFFFFFFF;
inline constexpr std::uint16_t kZip64Marker16 = 0xFFFF;
// Extra field block ids (each block: 2-byte id, 2-byte data length, data).
inline constexpr std::uint16_t kZip64ExtraId = 0x0001;
inline constexpr int kExtraBlockHeaderSize = 4;
// The Zip64 extra a local header carries when it is written with room for 64-bit sizes: header plus
// uncompressed and compressed size.
inline constexpr int kZip64LocalExtraSize = kExtraBlockHeaderSize + 16;
// Modification times in UTC beside the DOS date and time. The extended-timestamp block (0x5455) holds a
// flags byte (bit 0: modification time present) and, for each flagged time, seconds since 1970-01-01 UTC
// as 32 bits; this engine writes the modification time alone, in both headers. The NTFS block (0x000A)
// holds 4 reserved bytes and tagged attributes; tag 1 (24 bytes) holds the modification, access and
// creation times as 64-bit counts of 100 ns since 1601-01-01 UTC. It is read, never written.
inline constexpr std::uint16_t kExtTimeExtraId = 0x5455;
inline constexpr std::uint8_t kExtTimeHasModification = 0x01;
inline constexpr int kExtTimeExtraSize = kExtraBlockHeaderSize + 5;
inline constexpr std::uint16_t kNtfsExtraId = 0x000A;
inline constexpr std::uint16_t kNtfsTimesTag = 0x0001;
inline constexpr int kNtfsTimesSize = 24;
inline constexpr std::int64_t kNtfsTicksPerSecond = 10'000'000;
inline constexpr std::int64_t kNtfsEpochToUnix = 11'644'473'600;  // seconds from 1601-01-01 to 1970-01-01
// The extended timestamp's 32 bits are read unsigned (up to 2106, as most readers do); only times from
// 1970 to 2038 are written, where signed and unsigned readers agree.
inline constexpr std::int64_t kMaxWrittenUnixTime = 0x7FFFFFFF;

// Entry counts above this need the Zip64 end record (0xFFFF itself is the marker).
inline constexpr std::int64_t kMaxClassicEntries = 0xFFFE;
// Sizes and offsets at or above this need Zip64 fields (0xFFFFFFFF itself is the marker).
inline constexpr std::int64_t kMaxClassicSize = 0xFFFFFFFE;

// General purpose flag bits.
inline constexpr std::uint16_t kFlagEncrypted = 0x0001;
inline constexpr std::uint16_t kFlagDeflateMaximum = 0x0002;  // deflated at level 8 or 9
inline constexpr std::uint16_t kFlagDeflateFast = 0x0004;     // deflated at level 1 or 2
inline constexpr std::uint16_t kFlagImplode8kDictionary = 0x0002;
inline constexpr std::uint16_t kFlagImplode3Trees = 0x0004;
inline constexpr std::uint16_t kFlagLzmaEndMarker = 0x0002;  // the LZMA stream ends with its end marker
inline constexpr std::uint16_t kFlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t kFlagStrongEncryption = 0x0040;
inline constexpr std::uint16_t kFlagUtf8 = 0x0800;  // name and comment are UTF-8

// Compression methods.
inline constexpr std::uint16_t kMethodStored = 0;
inline constexpr std::uint16_t kMethodShrunk = 1;
inline constexpr std::uint16_t kMethodReduced1 = 2;
inline constexpr std::uint16_t kMethodReduced2 = 3;
inline constexpr std::uint16_t kMethodReduced3 = 4;
inline constexpr std::uint16_t kMethodReduced4 = 5;
inline constexpr std::uint16_t kMethodImploded = 6;
inline constexpr std::uint16_t kMethodDeflated = 8;
inline constexpr std::uint16_t kMethodDeflate64 = 9;
inline constexpr std::uint16_t kMethodBzip2 = 12;
inline constexpr std::uint16_t kMethodLzma = 14;
inline constexpr std::uint16_t kMethodZstd = 93;
inline constexpr std::uint16_t kMethodXz = 95;
inline constexpr std::uint16_t kMethodPpmd = 98;
// An AES-encrypted entry: the real method is in its AES extra block.
inline constexpr std::uint16_t kMethodAes = 99;

// The name of a compression method for messages: "Deflated", "Deflate64", "BZip2", ...
inline const char* CompressionMethodName(std::uint16_t method) {
  switch (method) {
    case kMethodStored:
      return "Stored";
    case kMethodShrunk:
      return "Shrunk";
    case kMethodReduced1:
    case kMethodReduced2:
    case kMethodReduced3:
    case kMethodReduced4:
      return "Reduced";
    case kMethodImploded:
      return "Imploded";
    case 7:
      return "Tokenized";
    case kMethodDeflated:
      return "Deflated";
    case kMethodDeflate64:
      return "Deflate64";
    case 10:
      return "PKWARE DCL Imploded";
    case kMethodBzip2:
      return "BZip2";
    case kMethodLzma:
      return "LZMA";
    case 18:
      return "IBM TERSE";
    case 19:
      return "IBM LZ77";
    case kMethodZstd:
      return "Zstandard";
    case 94:
      return "MP3";
    case kMethodXz:
      return "XZ";
    case 96:
      return "JPEG";
    case 97:
      return "WavPack";
    case kMethodPpmd:
      return "PPMd";
    case kMethodAes:
      return "AES encrypted";
    default:
      return "unknown";
  }
}

// An LZMA entry (method 14) carries a 4-byte header (the LZMA version that wrote it, then the size of the
// properties that follow) and the 5 properties bytes (lc/lp/pb, dictionary size) before the raw stream.
inline constexpr int kLzmaHeaderSize = 4;
inline constexpr int kLzmaPropertiesSize = 5;

// Version fields: low byte the format version times ten, high byte the host system.
inline constexpr std::uint16_t kVersionDefault = 20;  // made by / needed for the entries this engine makes
inline constexpr std::uint16_t kVersionZip64 = 45;    // needed when a header carries Zip64 fields
inline constexpr std::uint16_t kVersionAes = 51;      // needed for an AES-encrypted entry
inline constexpr std::uint8_t kHostMsDos = 0;
inline constexpr std::uint8_t kHostUnix = 3;
inline constexpr std::uint8_t kHostNtfs = 10;
inline constexpr std::uint8_t kHostVfat = 14;
inline constexpr std::uint8_t kHostOsx = 19;

// External attributes of an entry from a Unix host: the st_mode bits (file type and permissions) in the
// high 16 bits, the DOS attributes in the low byte. Some archivers mark the Unix half with this bit while
// naming another host.
inline constexpr int kUnixModeShift = 16;
inline constexpr std::uint32_t kUnixTypeMask = 0170000;
inline constexpr std::uint32_t kUnixRegular = 0100000;
inline constexpr std::uint32_t kUnixDirectory = 0040000;
inline constexpr std::uint32_t kUnixPermissionMask = 0777;  // never the set-id and sticky bits
inline constexpr std::uint32_t kUnixModeMarker = 0x8000;

// Traditional encryption header in front of an encrypted entry's data.
inline constexpr int kEncryptionHeaderSize = 12;

// WinZip AES encryption. The entry's method field says 99; an extra block (id 0x9901, 7 data bytes)
// holds the vendor version (AE-1 keeps the CRC, AE-2 stores 0 instead), the vendor id "AE", the key
// strength and the real compression method. The data is salt, 2-byte password verifier, the encrypted
// compressed bytes and a 10-byte authentication code; the compressed size counts all of them.
inline constexpr std::uint16_t kAesExtraId = 0x9901;
inline constexpr int kAesExtraDataSize = 7;
inline constexpr int kAesExtraSize = kExtraBlockHeaderSize + kAesExtraDataSize;
inline constexpr std::uint16_t kAesVendorId = 0x4541;  // "AE"
inline constexpr std::uint16_t kAesVersionAe1 = 1;
inline constexpr std::uint16_t kAesVersionAe2 = 2;
inline constexpr std::uint8_t kAesStrength128 = 1;
inline constexpr std::uint8_t kAesStrength192 = 2;
inline constexpr std::uint8_t kAesStrength256 = 3;
inline constexpr int kAesVerifierSize = 2;
inline constexpr int kAesAuthCodeSize = 10;
inline constexpr int kAesMaxSaltSize = 16;
// Offsets within the AES block's data (after its 4-byte block header).
namespace aes_extra {
inline constexpr int kVendorVersion = 0;
inline constexpr int kVendorId = 2;
inline constexpr int kStrength = 4;
inline constexpr int kMethod = 5;
}  // namespace aes_extra

// Sums of untrusted sizes (each at most INT64_MAX): a total that would overflow stays at INT64_MAX.
inline std::int64_t AddSaturating(std::int64_t total, std::int64_t value) {
  if (value <= 0) return total;
  return total > INT64_MAX - value ? INT64_MAX : total + value;
}

// Little-endian field access on byte buffers.
inline std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t GetU64(const std::uint8_t* p) {
  return static_cast<std::uint64_t>(GetU32(p)) | (static_cast<std::uint64_t>(GetU32(p + 4)) << 32);
}
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void PutU64(std::uint8_t* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace kzb::zip
