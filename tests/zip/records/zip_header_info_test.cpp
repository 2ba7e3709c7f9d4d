#include "zip/records/zip_header_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

using test::Native;

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const EZipEngineError& e) {
    return e.what();
  }
  return "<no exception>";
}

TZipHeaderInfo Named(const std::string& directory, const std::string& file) {
  TZipHeaderInfo h;
  h.SetDirectory(directory);
  h.SetFileName(file);
  return h;
}

// A central header as another tool writes it, with the given extra field.
std::vector<std::uint8_t> ForeignCentral(const std::string& name, const std::vector<std::uint8_t>& extra,
                                         std::uint32_t compressed, std::uint32_t uncompressed, std::uint32_t offset,
                                         std::uint16_t disk = 0, std::uint16_t made_by = 0x0314) {
  std::vector<std::uint8_t> rec(46 + name.size() + extra.size());
  PutU32(rec.data(), kCentralHeaderSignature);
  PutU16(rec.data() + 4, made_by);
  PutU16(rec.data() + 6, 45);
  PutU16(rec.data() + 10, 8);
  PutU32(rec.data() + 12, 0x52A4'6B5Cu);
  PutU32(rec.data() + 16, 0xDEADBEEF);
  PutU32(rec.data() + 20, compressed);
  PutU32(rec.data() + 24, uncompressed);
  PutU16(rec.data() + 28, static_cast<std::uint16_t>(name.size()));
  PutU16(rec.data() + 30, static_cast<std::uint16_t>(extra.size()));
  PutU16(rec.data() + 34, disk);
  PutU32(rec.data() + 42, offset);
  std::copy(name.begin(), name.end(), rec.begin() + 46);
  std::copy(extra.begin(), extra.end(), rec.begin() + 46 + static_cast<std::ptrdiff_t>(name.size()));
  return rec;
}

std::vector<std::uint8_t> Block(std::uint16_t id, const std::vector<std::uint64_t>& values64,
                                const std::vector<std::uint32_t>& values32 = {}) {
  std::vector<std::uint8_t> b(4 + 8 * values64.size() + 4 * values32.size());
  PutU16(b.data(), id);
  PutU16(b.data() + 2, static_cast<std::uint16_t>(b.size() - 4));
  std::size_t at = 4;
  for (auto v : values64) {
    PutU64(b.data() + at, v);
    at += 8;
  }
  for (auto v : values32) {
    PutU32(b.data() + at, v);
    at += 4;
  }
  return b;
}

std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

TEST(ZipHeaderInfoTest, NewEntryWritesEngineDefaults) {
  TZipHeaderInfo h = Named("", "a.txt");
  TMemoryStream out;
  h.WriteCentral(out);
  const auto& b = out.Bytes();
  ASSERT_EQ(b.size(), 46u + 5);
  EXPECT_EQ(GetU16(&b[4]), 20);  // made by
  EXPECT_EQ(GetU16(&b[6]), 20);  // needed
  EXPECT_EQ(GetU16(&b[10]), 8);  // deflate
  EXPECT_EQ(GetU32(&b[16]), 0xFFFFFFFFu);
  EXPECT_EQ(GetU16(&b[30]), 0);    // no extra field
  EXPECT_EQ(GetU16(&b[36]), 1);    // internal attributes
  EXPECT_EQ(GetU32(&b[38]), 32u);  // external attributes
  EXPECT_EQ(h.CentralSize(), 51);
}

TEST(ZipHeaderInfoTest, FolderEntryStoredWithSlash) {
  TZipHeaderInfo h = Named("docs", "");
  EXPECT_EQ(h.Directory(), Native("docs/"));
  h.SetCompressionMethod(kMethodStored);
  h.SetCrc32(0);
  TMemoryStream out;
  h.WriteLocal(out);
  h.WriteCentral(out);
  const auto& b = out.Bytes();
  EXPECT_EQ(std::string(b.begin() + 30, b.begin() + 35), "docs/");
  out.Seek(h.LocalSize(), kSeekBegin);
  TZipHeaderInfo back;
  ASSERT_TRUE(back.ReadCentral(out));
  EXPECT_EQ(back.Directory(), Native("docs/"));
  EXPECT_EQ(back.FileName(), "");
  EXPECT_TRUE(back.IsDirectoryEntry());
  EXPECT_EQ(back.CompressionMethod(), 0);
  EXPECT_EQ(back.Crc32(), 0u);
  EXPECT_EQ(back.ExternalAttributes(), 32u);
}

struct RoundTripCase {
  const char* label;
  std::string directory;
  std::string file;
  std::int64_t compressed;
  std::int64_t uncompressed;
  std::int64_t offset;
  std::uint32_t disk;
  std::optional<std::string> comment;
  int zip64_extra_size;
};

// What WriteCentral writes, ReadCentral reads back field for field; Zip64 fields appear only as needed.
TEST(ZipHeaderInfoTest, CentralRoundTrip) {
  const RoundTripCase cases[] = {
      {"plain", "a/b/", "c.txt", 10, 20, 1000, 0, std::nullopt, 0},
      {"comment", "", "x.bin", 0, 0, 0, 0, std::string("an entry comment"), 0},
      {"utf8 name", "Ordner/", "Grüße – 日本.txt", 5, 5, 7, 0, std::nullopt, 0},
      {"largest classic", "", "edge", 0xFFFFFFFE, 0xFFFFFFFE, 0xFFFFFFFE, 0xFFFE, std::nullopt, 0},
      {"marker value needs zip64", "", "edge", 0xFFFFFFFF, 1, 2, 0, std::nullopt, 12},
      {"big sizes", "", "big", 6'000'000'000, 7'000'000'000, 5, 0, std::nullopt, 20},
      {"big offset", "d/", "far", 10, 10, 9'000'000'000, 0, std::string("c"), 12},
      {"all four", "", "all", 5'000'000'000, 6'000'000'000, 7'000'000'000, 70000, std::nullopt, 32},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TZipHeaderInfo h = Named(c.directory, c.file);
    h.SetVersionMadeBy(0x0314);
    h.SetGeneralFlags(kFlagEncrypted | kFlagDeflateMaximum);
    h.SetCompressionMethod(kMethodDeflated);
    h.SetFileDateTime(0x52A46B5C);
    h.SetCrc32(0x12345678);
    h.SetCompressedSize(c.compressed);
    h.SetUncompressedSize(c.uncompressed);
    h.SetLocalHeaderOffset(c.offset);
    h.SetDiskNumberStart(c.disk);
    h.SetInternalAttributes(0);
    h.SetExternalAttributes(0x81A40020);
    h.SetFileComment(c.comment);
    EXPECT_EQ(h.Zip64CentralExtraSize(), c.zip64_extra_size);

    TMemoryStream out;
    out.Write("junk", 4);
    h.WriteCentral(out);
    EXPECT_EQ(out.Size(), 4 + h.CentralSize());
    out.Write("PK\x01\x02", 4);  // the next header starts here
    out.Seek(4, kSeekBegin);
    TZipHeaderInfo back;
    ASSERT_TRUE(back.ReadCentral(out));
    EXPECT_EQ(out.Position(), 4 + h.CentralSize());
    EXPECT_EQ(back.Directory(), Native(c.directory));
    EXPECT_EQ(back.FileName(), c.file);
    EXPECT_EQ(back.VersionMadeBy(), 0x0314);
    EXPECT_EQ(back.VersionNeeded(), c.zip64_extra_size != 0 ? 45 : 20);
    const bool utf8 = c.file.find("ü") != std::string::npos;
    EXPECT_EQ(back.GeneralFlags(), (kFlagEncrypted | kFlagDeflateMaximum | (utf8 ? kFlagUtf8 : 0)));
    EXPECT_EQ(back.FileDateTime(), 0x52A46B5Cu);
    EXPECT_EQ(back.Crc32(), 0x12345678u);
    EXPECT_EQ(back.CompressedSize(), c.compressed);
    EXPECT_EQ(back.UncompressedSize(), c.uncompressed);
    EXPECT_EQ(back.LocalHeaderOffset(), c.offset);
    EXPECT_EQ(back.DiskNumberStart(), c.disk);
    EXPECT_EQ(back.InternalAttributes(), 0);
    EXPECT_EQ(back.ExternalAttributes(), 0x81A40020u);
    EXPECT_EQ(back.CentralHeaderPosition(), 4);
    EXPECT_EQ(back.CentralExtraLength(), c.zip64_extra_size);
    EXPECT_FALSE(back.FileComment().has_value());  // read on demand
    EXPECT_EQ(back.HasComment(), c.comment.has_value());
    EXPECT_EQ(back.ReadFileComment(out), c.comment.value_or(""));
  }
}

TEST(ZipHeaderInfoTest, Zip64ExtraHoldsOnlyDeferredFieldsInOrder) {
  TZipHeaderInfo h = Named("", "z");
  h.SetCompressedSize(100);
  h.SetUncompressedSize(5'000'000'000);
  h.SetLocalHeaderOffset(6'000'000'000);
  TMemoryStream out;
  h.WriteCentral(out);
  const auto& b = out.Bytes();
  EXPECT_EQ(GetU32(&b[20]), 100u);
  EXPECT_EQ(GetU32(&b[24]), 0xFFFFFFFFu);
  EXPECT_EQ(GetU32(&b[42]), 0xFFFFFFFFu);
  ASSERT_EQ(GetU16(&b[30]), 20);
  const std::uint8_t* e = &b[47];
  EXPECT_EQ(GetU16(e), 0x0001);
  EXPECT_EQ(GetU16(e + 2), 16);
  EXPECT_EQ(GetU64(e + 4), 5'000'000'000u);
  EXPECT_EQ(GetU64(e + 12), 6'000'000'000u);
}

// Extra fields written by other tools: Zip64 among other blocks, duplicates, truncation, and blocks we
// do not keep (written back without them).
TEST(ZipHeaderInfoTest, ForeignExtraFields) {
  struct Case {
    const char* label;
    std::vector<std::uint8_t> extra;
    std::uint32_t compressed, uncompressed, offset;
    std::int64_t want_compressed, want_uncompressed, want_offset;
  };
  const std::vector<std::uint8_t> timestamp = {0x55, 0x54, 5, 0, 1, 2, 3, 4, 5};
  const Case cases[] = {
      {"zip64 after other block", Concat({timestamp, Block(1, {7'000'000'000, 8'000'000'000})}), 0xFFFFFFFF, 0xFFFFFFFF,
       12, 8'000'000'000, 7'000'000'000, 12},
      {"zip64 before other block", Concat({Block(1, {9'000'000'000}), timestamp}), 0xFFFFFFFF, 33, 0xFFFFFFFF,
       9'000'000'000, 33, 0xFFFFFFFF},
      {"duplicate zip64 block: first wins", Concat({Block(1, {111}), Block(1, {222})}), 5, 0xFFFFFFFF, 6, 5, 111, 6},
      {"truncated block ignored", {0x01, 0x00, 0x10, 0x00, 1, 2, 3}, 0xFFFFFFFF, 4, 5, 0xFFFFFFFF, 4, 5},
      {"24-byte foreign extra", std::vector<std::uint8_t>(24, 0), 10, 20, 30, 10, 20, 30},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TMemoryStream in(ForeignCentral("n.txt", c.extra, c.compressed, c.uncompressed, c.offset));
    TZipHeaderInfo h;
    ASSERT_TRUE(h.ReadCentral(in));
    EXPECT_EQ(in.Position(), in.Size());
    EXPECT_EQ(h.CompressedSize(), c.want_compressed);
    EXPECT_EQ(h.UncompressedSize(), c.want_uncompressed);
    EXPECT_EQ(h.LocalHeaderOffset(), c.want_offset);
    EXPECT_EQ(h.CentralExtraLength(), c.extra.size());
    // Written back: no foreign bytes, only a Zip64 block when a value needs it and the time block.
    TMemoryStream out;
    h.WriteCentral(out);
    EXPECT_EQ(out.Size(), h.CentralSize());
    EXPECT_EQ(GetU16(&out.Bytes()[30]), h.Zip64CentralExtraSize() + (h.WritesUnixTime() ? kExtTimeExtraSize : 0));
  }
  TMemoryStream foreign(ForeignCentral("n.txt", std::vector<std::uint8_t>(24, 0), 1, 2, 3));
  TZipHeaderInfo h;
  ASSERT_TRUE(h.ReadCentral(foreign));
  EXPECT_EQ(h.CentralSize(), 46 + 5);
}

TEST(ZipHeaderInfoTest, MalformedCentralRecordsRestorePosition) {
  auto good = ForeignCentral("name.txt", {}, 1, 2, 3);
  {
    auto bad = good;
    bad[0] = 'X';
    TMemoryStream in(bad);
    TZipHeaderInfo h;
    EXPECT_FALSE(h.ReadCentral(in));
    EXPECT_EQ(in.Position(), 0);
  }
  {
    TMemoryStream in(std::vector<std::uint8_t>(good.begin(), good.end() - 3));  // name cut short
    TZipHeaderInfo h;
    EXPECT_FALSE(h.ReadCentral(in));
    EXPECT_EQ(in.Position(), 0);
  }
  {
    TMemoryStream in(std::vector<std::uint8_t>(good.begin(), good.begin() + 40));  // fixed part cut short
    TZipHeaderInfo h;
    EXPECT_FALSE(h.ReadCentral(in));
    EXPECT_EQ(in.Position(), 0);
  }
}

TEST(ZipHeaderInfoTest, CentralHeaderContinuedOnNextVolume) {
  const auto rec = ForeignCentral("split.txt", {}, 10, 20, 30, 1);
  TMemoryStream first(std::vector<std::uint8_t>(rec.begin(), rec.begin() + 20));
  TMemoryStream second(std::vector<std::uint8_t>(rec.begin() + 20, rec.end()));
  int calls = 0;
  TZipHeaderInfo h;
  ASSERT_TRUE(h.ReadCentral(first, [&]() -> TStream* {
    ++calls;
    return &second;
  }));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(h.FileName(), "split.txt");
  EXPECT_EQ(h.UncompressedSize(), 20);
  EXPECT_EQ(second.Position(), second.Size());
  // At the end of a volume with nothing more to read, the hook is asked as well; none means no header.
  TMemoryStream empty;
  EXPECT_FALSE(h.ReadCentral(empty, [&]() -> TStream* { return nullptr; }));
}

TEST(ZipHeaderInfoTest, LocalHeaderReservedForZip64IsPatchedInPlace) {
  TZipHeaderInfo h = Named("dir/", "huge.bin");
  TMemoryStream out;
  out.Write("prefix", 6);
  h.WriteLocal(out, /*reserve_zip64=*/true);
  EXPECT_EQ(h.LocalHeaderOffset(), 6);
  EXPECT_TRUE(h.LocalHasZip64());
  EXPECT_EQ(h.LocalExtraLength(), kZip64LocalExtraSize);
  EXPECT_EQ(out.Size(), 6 + h.LocalSize());
  out.Write("DATA", 4);
  h.SetCrc32(0xCAFEBABE);
  h.SetCompressedSize(5'000'000'001);
  h.SetUncompressedSize(5'000'000'002);
  const std::int64_t end = out.Position();
  h.PatchLocal(out);
  EXPECT_EQ(out.Position(), end);
  const auto& b = out.Bytes();
  EXPECT_EQ(GetU16(&b[6 + 4]), 45);
  EXPECT_EQ(GetU32(&b[6 + 18]), 0xFFFFFFFFu);
  EXPECT_EQ(GetU32(&b[6 + 22]), 0xFFFFFFFFu);
  EXPECT_EQ(std::string(b.end() - 4, b.end()), "DATA");

  out.Seek(6, kSeekBegin);
  TZipHeaderInfo back;
  ASSERT_TRUE(back.ReadLocal(out));
  EXPECT_EQ(out.Position(), 6 + 30 + 12);  // after the name, before the extra field
  EXPECT_EQ(back.Crc32(), 0xCAFEBABEu);
  EXPECT_EQ(back.CompressedSize(), 5'000'000'001);
  EXPECT_EQ(back.UncompressedSize(), 5'000'000'002);
  EXPECT_EQ(back.LocalExtraLength(), 20);
  EXPECT_EQ(back.LocalHeaderOffset(), 6);
  EXPECT_EQ(back.VersionMadeBy(), 0);
  EXPECT_EQ(back.Directory(), Native("dir/"));
  EXPECT_EQ(back.FileName(), "huge.bin");
}

TEST(ZipHeaderInfoTest, LocalHeaderWithoutReserveCannotGrowPast4GiB) {
  TZipHeaderInfo h = Named("", "f");
  TMemoryStream out;
  h.WriteLocal(out);
  EXPECT_EQ(h.LocalExtraLength(), 0);
  EXPECT_EQ(out.Size(), 31);
  EXPECT_EQ(h.LocalSize(), 31);
  EXPECT_EQ(h.LocalSize(true), 51);
  h.SetCompressedSize(10);
  h.PatchLocal(out);
  EXPECT_EQ(out.Size(), 31);
  h.SetCompressedSize(4'294'967'295);
  EXPECT_EQ(ErrorOf([&] { h.PatchLocal(out); }), "File too large for its local header");
}

TEST(ZipHeaderInfoTest, LocalHeaderKeepsCopiedExtraLength) {
  // An entry copied from another archive: the header announces the old extra field, whose bytes the
  // caller copies after it.
  TZipHeaderInfo h = Named("", "copied");
  h.SetLocalExtraLength(9);
  TMemoryStream out;
  h.WriteLocal(out);
  EXPECT_EQ(out.Size(), 36);
  EXPECT_EQ(GetU16(&out.Bytes()[28]), 9);
  EXPECT_EQ(h.LocalSize(), 45);

  // The same for an entry whose header this writer wrote before, with its own time block: copied again,
  // that block is part of the copied bytes and is not written a second time.
  TZipHeaderInfo again = Named("", "copied");
  again.SetUnixTime(1'700'000'000);
  TMemoryStream first;
  again.WriteLocal(first);
  const std::uint16_t old_extra = again.LocalExtraLength();
  ASSERT_GT(old_extra, 0);
  again.SetLocalExtraLength(old_extra);
  TMemoryStream copy;
  again.WriteLocal(copy);
  EXPECT_EQ(copy.Size(), 36);
  EXPECT_EQ(GetU16(&copy.Bytes()[28]), old_extra);
  EXPECT_EQ(again.LocalSize(), 36 + old_extra);
}

TEST(ZipHeaderInfoTest, FieldLimits) {
  TZipHeaderInfo h = Named("", std::string(70000, 'n'));
  TMemoryStream out;
  EXPECT_EQ(ErrorOf([&] { h.WriteLocal(out); }), "File name too long");
  EXPECT_EQ(ErrorOf([&] { h.SetFileComment(std::string(65536, 'c')); }), "Comment too long");
  h.SetFileComment(std::string(65535, 'c'));
  EXPECT_EQ(h.FileCommentLength(), 65535);
  h.SetFileComment(std::nullopt);
  EXPECT_FALSE(h.HasComment());
}

TEST(ZipHeaderInfoTest, CommentLengthWithoutTextIsNotWritten) {
  // A length without the text would announce bytes that never follow.
  TZipHeaderInfo h = Named("", "a");
  h.SetFileCommentLength(10);
  TMemoryStream out;
  h.WriteCentral(out);
  EXPECT_EQ(out.Size(), 47);
  EXPECT_EQ(GetU16(&out.Bytes()[32]), 0);
  EXPECT_EQ(h.CentralSize(), 47);
}

}  // namespace
}  // namespace kzb::zip

namespace kzb::zip {
namespace {

// The AES block goes into the central header always and into the local header of an entry written here
// (also beside a Zip64 block, and unchanged by a patch); an entry copied with its own local extra field
// does not get a second one. Both readers take the block back.
TEST(ZipHeaderInfoAesTest, AesBlockInBothHeaders) {
  struct Case {
    bool reserve_zip64;
    std::uint16_t copied_extra;
    int local_extra;  // expected local extra length
  };
  for (const Case& c :
       {Case{false, 0, kAesExtraSize}, Case{true, 0, kZip64LocalExtraSize + kAesExtraSize}, Case{false, 15, 15}}) {
    SCOPED_TRACE(c.local_extra);
    TZipHeaderInfo h;
    h.SetFileName("secret.txt");
    h.SetCompressionMethod(kMethodAes);
    h.SetAes(kAesStrength256, kAesVersionAe1, kMethodDeflated);
    h.SetLocalExtraLength(c.copied_extra);
    TMemoryStream out;
    h.WriteLocal(out, c.reserve_zip64);
    EXPECT_EQ(h.LocalExtraLength(), c.local_extra);
    EXPECT_EQ(out.Size(), 30 + 10 + c.local_extra - c.copied_extra);
    if (c.copied_extra == 0) {
      h.SetAes(kAesStrength256, kAesVersionAe2, kMethodStored);
      h.SetCompressedSize(1234);
      h.PatchLocal(out);
      EXPECT_EQ(out.Size(), 30 + 10 + c.local_extra);
      out.Seek(0, kSeekBegin);
      TZipHeaderInfo local;
      ASSERT_TRUE(local.ReadLocal(out));
      EXPECT_TRUE(local.IsAes());
      EXPECT_EQ(local.AesVendorVersion(), kAesVersionAe2);
      EXPECT_EQ(local.DataMethod(), kMethodStored);
    }
    TMemoryStream central;
    h.WriteCentral(central);
    EXPECT_EQ(central.Size(), h.CentralSize());
    central.Seek(0, kSeekBegin);
    TZipHeaderInfo back;
    ASSERT_TRUE(back.ReadCentral(central));
    EXPECT_TRUE(back.IsAes());
    EXPECT_EQ(back.AesStrength(), kAesStrength256);
    EXPECT_EQ(back.AesMethod(), h.AesMethod());
    EXPECT_EQ(back.AesVendorVersion(), h.AesVendorVersion());
  }
  // A block with another vendor id or an unknown strength is not AES.
  TZipHeaderInfo h;
  h.SetFileName("x");
  h.SetCompressionMethod(kMethodAes);
  h.SetAes(4, kAesVersionAe1, kMethodDeflated);
  TMemoryStream central;
  h.WriteCentral(central);
  central.Seek(0, kSeekBegin);
  TZipHeaderInfo back;
  ASSERT_TRUE(back.ReadCentral(central));
  EXPECT_FALSE(back.IsAes());
  EXPECT_EQ(back.DataMethod(), kMethodAes);
}

// An NTFS extra block: 4 reserved bytes, then the given tag with its data.
std::vector<std::uint8_t> NtfsBlock(std::uint16_t tag, std::vector<std::uint8_t> data) {
  std::vector<std::uint8_t> b(8 + 4 + data.size());
  PutU16(b.data(), kNtfsExtraId);
  PutU16(b.data() + 2, static_cast<std::uint16_t>(b.size() - 4));
  PutU16(b.data() + 8, tag);
  PutU16(b.data() + 10, static_cast<std::uint16_t>(data.size()));
  std::copy(data.begin(), data.end(), b.begin() + 12);
  return b;
}

std::vector<std::uint8_t> NtfsTimes(std::int64_t unix_seconds) {
  std::vector<std::uint8_t> data(24, 0);
  PutU64(data.data(), static_cast<std::uint64_t>((unix_seconds + kNtfsEpochToUnix) * kNtfsTicksPerSecond + 1234567));
  return data;
}

TEST(ZipHeaderInfoTimeTest, TimeBlocksOfOtherTools) {
  struct Case {
    const char* label;
    std::vector<std::uint8_t> extra;
    std::optional<std::int64_t> want;
  };
  const std::vector<std::uint8_t> ut = {0x55, 0x54, 5, 0, 1, 0x80, 0x3B, 0xA5, 0x65};  // 2024-01-15 14:04:48 UTC
  const std::vector<std::uint8_t> ut_access_only = {0x55, 0x54, 5, 0, 2, 1, 2, 3, 4};
  const std::vector<std::uint8_t> ut_cut = {0x55, 0x54, 1, 0, 1};
  const std::vector<std::uint8_t> ut_late = {0x55, 0x54, 5, 0, 1, 0xF0, 0xFF, 0xFF, 0xFF};  // past 2038
  const Case cases[] = {
      {"extended timestamp", ut, 1705327488},
      {"access time only", ut_access_only, std::nullopt},
      {"cut short", ut_cut, std::nullopt},
      {"past 2038 read unsigned", ut_late, 0xFFFFFFF0},
      {"ntfs times", NtfsBlock(kNtfsTimesTag, NtfsTimes(1721038833)), 1721038833},
      {"ntfs times in a second block", Concat({NtfsBlock(7, {1, 2}), NtfsBlock(kNtfsTimesTag, NtfsTimes(5))}), 5},
      {"ntfs short times", NtfsBlock(kNtfsTimesTag, std::vector<std::uint8_t>(8, 1)), std::nullopt},
      {"extended timestamp wins over ntfs", Concat({NtfsBlock(kNtfsTimesTag, NtfsTimes(99)), ut}), 1705327488},
      {"none", {}, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TMemoryStream in(ForeignCentral("n.txt", c.extra, 1, 2, 3));
    TZipHeaderInfo h;
    ASSERT_TRUE(h.ReadCentral(in));
    EXPECT_EQ(h.UnixTime(), c.want);
  }
  // The times attribute after another attribute of the same NTFS block.
  std::vector<std::uint8_t> two = NtfsBlock(7, {1, 2});
  std::vector<std::uint8_t> times = NtfsBlock(kNtfsTimesTag, NtfsTimes(77));
  two.insert(two.end(), times.begin() + 12 - 4, times.end());  // the times tag inside the same block
  PutU16(two.data() + 2, static_cast<std::uint16_t>(two.size() - 4));
  TMemoryStream in(ForeignCentral("n.txt", two, 1, 2, 3));
  TZipHeaderInfo h;
  ASSERT_TRUE(h.ReadCentral(in));
  EXPECT_EQ(h.UnixTime(), 77);
}

// The time block beside the Zip64 and AES blocks: sizes, PatchLocal, and both headers read back.
TEST(ZipHeaderInfoTimeTest, TimeBlockBesideZip64AndAes) {
  struct Case {
    const char* label;
    bool reserve_zip64;
    bool aes;
    std::optional<std::int64_t> time;
    bool written;
  };
  const Case cases[] = {
      {"time alone", false, false, 1705314031, true},
      {"with zip64", true, false, 1705314031, true},
      {"with aes", false, true, 1721038833, true},
      {"with zip64 and aes", true, true, 1721038833, true},
      {"epoch", false, false, 0, true},
      {"before 1970: dos fields only", false, true, -1, false},
      {"past 2038: dos fields only", true, false, 0x80000000LL, false},
      {"no time", false, false, std::nullopt, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TZipHeaderInfo h = Named("", "file.txt");
    h.SetUnixTime(c.time);
    if (c.aes) {
      h.SetCompressionMethod(kMethodAes);
      h.SetAes(kAesStrength256, kAesVersionAe1, kMethodDeflated);
    }
    TMemoryStream out;
    h.WriteLocal(out, c.reserve_zip64);
    const int want_local = (c.reserve_zip64 ? kZip64LocalExtraSize : 0) + (c.written ? kExtTimeExtraSize : 0) +
                           (c.aes ? kAesExtraSize : 0);
    EXPECT_EQ(h.LocalExtraLength(), want_local);
    EXPECT_EQ(out.Size(), h.LocalSize());
    h.SetCompressedSize(5'000'000'000LL * (c.reserve_zip64 ? 1 : 0) + 77);
    h.SetUncompressedSize(99);
    h.PatchLocal(out);
    out.Seek(0, kSeekBegin);
    TZipHeaderInfo local;
    ASSERT_TRUE(local.ReadLocal(out));
    EXPECT_EQ(local.CompressedSize(), h.CompressedSize());
    EXPECT_EQ(local.IsAes(), c.aes);
    EXPECT_EQ(local.UnixTime(), c.written ? c.time : std::nullopt);

    TMemoryStream central;
    h.WriteCentral(central);
    EXPECT_EQ(central.Size(), h.CentralSize());
    central.Seek(0, kSeekBegin);
    TZipHeaderInfo back;
    ASSERT_TRUE(back.ReadCentral(central));
    EXPECT_EQ(back.CompressedSize(), h.CompressedSize());
    EXPECT_EQ(back.IsAes(), c.aes);
    EXPECT_EQ(back.UnixTime(), c.written ? c.time : std::nullopt);
  }
}

TEST(ZipHeaderInfoTimeTest, UnixModeByHost) {
  struct Case {
    const char* label;
    std::uint16_t made_by;
    std::uint32_t external;
    std::uint32_t want;
  };
  const Case cases[] = {
      {"unix file", 0x0314, (0100755u << 16) | 0x20, 0100755},
      {"unix folder", 0x031E, (040700u << 16) | 0x10, 040700},
      {"os x", 0x1314, 0100600u << 16, 0100600},
      {"unix without mode", 0x0314, 0x20, 0},
      {"dos host: high half ignored", 0x0014, (0100755u << 16) | 0x20, 0},
      {"dos host, unix half marked", 0x003F, (0100755u << 16) | 0x8020, 0100755},
      {"marked without a file type", 0x003F, (0755u << 16) | 0x8020, 0},
      {"ntfs host", 0x0A14, (0100755u << 16) | 0x20, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    TZipHeaderInfo h;
    h.SetVersionMadeBy(c.made_by);
    h.SetExternalAttributes(c.external);
    EXPECT_EQ(h.UnixMode(), c.want);
  }
}

}  // namespace
}  // namespace kzb::zip
