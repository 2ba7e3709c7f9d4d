#include "zip/records/end_central.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

TEndCentral Record(std::int64_t entries, std::int64_t size, std::int64_t offset,
                   std::optional<std::string> comment = std::nullopt) {
  TEndCentral e;
  e.SetEntriesThisDisk(entries);
  e.SetTotalEntries(entries);
  e.SetCentralDirSize(size);
  e.SetCentralDirOffset(offset);
  e.SetZipComment(std::move(comment));
  return e;
}

TEST(EndCentralTest, ShortFiles) {
  TEndCentral e;
  TMemoryStream empty;
  EXPECT_TRUE(e.FindEndRecord(empty));  // an empty file is an empty archive
  EXPECT_EQ(e.TotalEntries(), 0);
  TMemoryStream ten(std::vector<std::uint8_t>(10, 'P'));
  EXPECT_FALSE(e.FindEndRecord(ten));
  TMemoryStream no_signature(std::vector<std::uint8_t>(5000, 'P'));
  EXPECT_FALSE(e.FindEndRecord(no_signature));
  // A record with its last byte missing is not found either.
  TMemoryStream cut;
  Record(1, 2, 3).WriteEndRecord(cut);
  cut.SetSize(21);
  EXPECT_FALSE(e.FindEndRecord(cut));
}

TEST(EndCentralTest, ClassicRoundTripWithComment) {
  TMemoryStream s;
  s.Write(std::string(1000, 'x').data(), 1000);
  const TEndCentral written = Record(3, 150, 850, std::string("archive comment"));
  EXPECT_FALSE(written.NeedsZip64());
  EXPECT_EQ(written.EndRecordSize(), 22 + 15);
  written.WriteEndRecord(s);
  EXPECT_EQ(s.Size(), 1000 + written.EndRecordSize());
  TEndCentral e;
  ASSERT_TRUE(e.FindEndRecord(s));
  EXPECT_EQ(e.TotalEntries(), 3);
  EXPECT_EQ(e.EntriesThisDisk(), 3);
  EXPECT_EQ(e.CentralDirSize(), 150);
  EXPECT_EQ(e.CentralDirOffset(), 850);
  EXPECT_EQ(e.ZipCommentLength(), 15);
  EXPECT_FALSE(e.ZipCommentText().has_value());  // read on demand
  EXPECT_EQ(e.EndRecordPosition(), 1000);
  EXPECT_EQ(e.ZipCommentPosition(), 1022);
  EXPECT_FALSE(e.IsZip64());
  EXPECT_EQ(e.PrependedBytes(), 0);
  EXPECT_EQ(e.ReadZipComment(s), "archive comment");
  EXPECT_FALSE(e.CommentModified());
}

TEST(EndCentralTest, SignatureInsideCommentLaterOccurrenceWins) {
  // The comment holds a complete fake record; the scan from the end meets it first.
  std::vector<std::uint8_t> fake(22, 0);
  PutU32(fake.data(), kEndCentralSignature);
  PutU16(fake.data() + 10, 77);
  std::string comment = "before ";
  comment.append(fake.begin(), fake.end());
  TMemoryStream s;
  Record(1, 10, 20, comment).WriteEndRecord(s);
  TEndCentral e;
  ASSERT_TRUE(e.FindEndRecord(s));
  EXPECT_EQ(e.EndRecordPosition(), 22 + 7);
  EXPECT_EQ(e.TotalEntries(), 77);
}

TEST(EndCentralTest, MaximumCommentStillFound) {
  TMemoryStream s;
  s.Write("lead", 4);
  Record(2, 3, 4, std::string(65535, 'c')).WriteEndRecord(s);
  TEndCentral e;
  ASSERT_TRUE(e.FindEndRecord(s));
  EXPECT_EQ(e.EndRecordPosition(), 4);
  EXPECT_EQ(e.TotalEntries(), 2);
  EXPECT_THROW(e.SetZipComment(std::string(65536, 'c')), EZipGeneralError);
}

// Zip64 records appear exactly when a value does not fit the classic record, and read back.
TEST(EndCentralTest, Zip64OnlyWhenNeeded) {
  struct Case {
    std::int64_t entries, size, offset;
    bool zip64;
  };
  const Case cases[] = {
      {65534, 100, 200, false},           {65535, 100, 200, true},   {200000, 100, 200, true},
      {1, 0xFFFFFFFE, 0xFFFFFFFE, false}, {1, 0xFFFFFFFF, 10, true}, {1, 10, 5'000'000'000, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.entries << " " << c.size << " " << c.offset);
    const TEndCentral written = Record(c.entries, c.size, c.offset, std::string("cmt"));
    EXPECT_EQ(written.NeedsZip64(), c.zip64);
    TMemoryStream s;
    s.Write("0123456789", 10);
    written.WriteEndRecord(s);
    EXPECT_EQ(s.Size(), 10 + written.EndRecordSize());
    TEndCentral e;
    ASSERT_TRUE(e.FindEndRecord(s));
    EXPECT_EQ(e.IsZip64(), c.zip64);
    if (c.zip64) {
      EXPECT_EQ(e.Zip64EndPosition(), 10);
    }
    EXPECT_EQ(e.TotalEntries(), c.entries);
    EXPECT_EQ(e.EntriesThisDisk(), c.entries);
    EXPECT_EQ(e.CentralDirSize(), c.size);
    EXPECT_EQ(e.CentralDirOffset(), c.offset);
    EXPECT_EQ(e.ReadZipComment(s), "cmt");
  }
}

TEST(EndCentralTest, Zip64WithPrependedData) {
  // Central directory of 46 bytes at offset 100 as recorded; 14 bytes of junk put in front afterwards.
  TMemoryStream archive;
  archive.Write(std::string(146, 'd').data(), 146);
  Record(70000, 46, 100).WriteEndRecord(archive);
  TMemoryStream shifted;
  shifted.Write("JUNKJUNKJUNKJU", 14);
  shifted.Write(archive.Bytes().data(), archive.Size());
  TEndCentral e;
  ASSERT_TRUE(e.FindEndRecord(shifted));
  EXPECT_TRUE(e.IsZip64());
  EXPECT_EQ(e.Zip64EndPosition(), 160);
  EXPECT_EQ(e.TotalEntries(), 70000);
  EXPECT_EQ(e.PrependedBytes(), 14);
}

TEST(EndCentralTest, LocatorLookalikeWithoutMarkersIsIgnored) {
  // Bytes in front of a classic record that look like a locator (a name ending in them) change nothing.
  std::vector<std::uint8_t> lookalike(20, 0);
  PutU32(lookalike.data(), kZip64EndLocatorSignature);
  TMemoryStream s;
  s.Write(lookalike.data(), 20);
  Record(5, 6, 7).WriteEndRecord(s);
  TEndCentral e;
  ASSERT_TRUE(e.FindEndRecord(s));
  EXPECT_FALSE(e.IsZip64());
  EXPECT_EQ(e.TotalEntries(), 5);
  // With markers but a locator pointing nowhere, the classic values stay.
  TMemoryStream t;
  t.Write(lookalike.data(), 20);
  TEndCentral markers = Record(5, 6, 7);
  markers.SetCentralDirOffset(0xFFFFFFFF);
  TMemoryStream tmp;
  markers.WriteEndRecord(tmp);  // needs Zip64: take only the classic tail
  t.Write(tmp.Bytes().data() + 76, 22);
  ASSERT_TRUE(e.FindEndRecord(t));
  EXPECT_FALSE(e.IsZip64());
  EXPECT_EQ(e.CentralDirOffset(), 0xFFFFFFFF);
}

TEST(EndCentralTest, AssignKeepsCommentModifiedMark) {
  TEndCentral a = Record(1, 2, 3, std::string("abc"));
  a.SetCommentModified(true);
  TEndCentral b;
  b.Assign(a);
  EXPECT_EQ(b.TotalEntries(), 1);
  EXPECT_EQ(b.ZipCommentText().value_or(""), "abc");
  EXPECT_FALSE(b.CommentModified());
  b.SetCommentModified(true);
  b.Assign(Record(9, 9, 9));
  EXPECT_TRUE(b.CommentModified());
  EXPECT_FALSE(b.HasComment());
}

}  // namespace
}  // namespace kzb::zip
