// Damaged and hostile archives: cut archives, counts that disagree with the directory, overlapping
// entries, sizes and offsets past the end of the file. Each is a crafted fixture built in code.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/crafted_archive.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/writer/vcl_zip.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

using crafted::CentralOnly;
using crafted::CraftArchive;
using crafted::CraftedEnd;
using crafted::CraftedEntry;
using crafted::Entry;
using kzb::test::ScratchDir;
namespace test = kzb::test;

std::vector<CraftedEntry> FiveEntries() {
  std::vector<CraftedEntry> entries;
  for (int i = 0; i < 5; ++i) {
    entries.push_back(
        Entry("file" + std::to_string(i) + ".txt", std::string(200 + 37 * i, static_cast<char>('a' + i))));
  }
  return entries;
}

// A reader that rebuilds what it can, as the command line sets it up.
void OpenRepairing(TVCLUnZip& reader, const std::string& path) {
  reader.SetZipName(path);
  reader.OnInCompleteZip = [](TVCLUnZip&, TIncompleteZipMode& mode) { mode = TIncompleteZipMode::izAssumeBad; };
  reader.ReadZip();
}

bool Mentions(const std::vector<std::string>& lines, const std::string& text) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
}

// An archive cut anywhere (also by one byte, and to nothing) is never read as a sound one: either it is
// refused, or the reader reports it damaged and every entry it keeps tests good.
TEST(DamagedArchiveTest, CutArchivesAreReportedDamaged) {
  ScratchDir dir;
  const std::vector<std::uint8_t> whole = CraftArchive(FiveEntries());
  std::vector<std::size_t> cuts = {0, 1, 21, 22, whole.size() - 22, whole.size() - 1};
  for (std::size_t cut = 7; cut < whole.size(); cut += whole.size() / 45) cuts.push_back(cut);
  for (const std::size_t cut : cuts) {
    SCOPED_TRACE(cut);
    const std::string path = dir / ("cut" + std::to_string(cut) + ".zip");
    test::WriteFileBytes(path, std::vector<std::uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut)));
    TVCLUnZip reader;
    try {
      OpenRepairing(reader, path);
    } catch (const EBadZipFile&) {
      continue;  // nothing recognisable left
    }
    EXPECT_TRUE(reader.ArchiveDamaged());
    EXPECT_FALSE(reader.Report().Lines(reader.Count()).empty());
    EXPECT_LE(reader.Count(), 5);
    int failures = 0;
    reader.OnBadCRC = [&](TVCLUnZip&, std::uint32_t, std::uint32_t, int) { ++failures; };
    reader.OnSkippingFile = [&](TVCLUnZip&, TSkipReason, const std::string&, int, bool&) { ++failures; };
    reader.SetDoAll(true);
    EXPECT_EQ(reader.Test(), reader.Count());
    EXPECT_EQ(failures, 0);
    // What is missing is named: the entries kept plus those reported truncated or lost account for the cut
    // ones that had begun.
    if (cut > 0 && cut < whole.size() - 22) {
      EXPECT_TRUE(reader.Report().rebuilt);
    }
  }
}

TEST(DamagedArchiveTest, EntryCutShortIsNamedTruncated) {
  ScratchDir dir;
  const std::vector<std::uint8_t> whole = CraftArchive(FiveEntries());
  // Cut inside the third entry's data.
  const std::size_t third_data = 2 * 30 + 2 * 9 + 200 + 237 + 30 + 9 + 10;
  test::WriteFileBytes(dir / "cut.zip", std::vector<std::uint8_t>(whole.begin(), whole.begin() + third_data));
  TVCLUnZip reader;
  OpenRepairing(reader, dir / "cut.zip");
  EXPECT_EQ(reader.Count(), 2);
  ASSERT_EQ(reader.Report().truncated, std::vector<std::string>{"file2.txt"});
  EXPECT_TRUE(Mentions(reader.Report().Lines(2), "file2.txt: truncated"));
  EXPECT_TRUE(Mentions(reader.Report().Lines(2), "2 entries were recovered"));
}

TEST(DamagedArchiveTest, AnEmptyFileIsAnEmptyArchiveReportedDamaged) {
  ScratchDir dir;
  test::WriteFileText(dir / "empty.zip", "");
  TVCLUnZip reader;
  reader.SetZipName(dir / "empty.zip");
  reader.ReadZip();
  EXPECT_EQ(reader.Count(), 0);
  EXPECT_TRUE(reader.ArchiveDamaged());
  EXPECT_TRUE(Mentions(reader.Report().Lines(0), "the file is empty"));
}

// The directory is read by its recorded size and offset: the end record's count does not decide how many
// entries there are. A count stored modulo 65536 is a known writer habit and not damage.
TEST(DamagedArchiveTest, TheCountOfTheEndRecordDoesNotDecide) {
  ScratchDir dir;
  test::WriteFileBytes(dir / "claims2.zip", CraftArchive(FiveEntries(), CraftedEnd{2}));
  TVCLUnZip reader;
  reader.SetZipName(dir / "claims2.zip");
  reader.ReadZip();
  EXPECT_EQ(reader.Count(), 5);
  EXPECT_EQ(reader.Report().declared_entries, 2);
  EXPECT_TRUE(reader.ArchiveDamaged());
  EXPECT_TRUE(Mentions(reader.Report().Lines(5), "declares 2 entries; the central directory holds 5"));
  reader.SetDoAll(true);
  EXPECT_EQ(reader.Test(), 5);

  std::vector<CraftedEntry> many(100000);
  for (std::size_t i = 0; i < many.size(); ++i) many[i].name = test::Numbered("e", static_cast<long long>(i));
  test::WriteFileBytes(dir / "wrapped.zip", CraftArchive(many));  // the count is written modulo 65536
  TVCLUnZip wrapped;
  wrapped.SetZipName(dir / "wrapped.zip");
  wrapped.ReadZip();
  EXPECT_EQ(wrapped.Count(), 100000);
  EXPECT_EQ(wrapped.Report().declared_entries, 100000 % 65536);
  EXPECT_FALSE(wrapped.ArchiveDamaged());
  EXPECT_TRUE(Mentions(wrapped.Report().Lines(100000), "modulo 65536"));
}

// Entries that share bytes (the zip-bomb shape) make the archive be refused, naming two of them.
TEST(DamagedArchiveTest, OverlappingEntriesAreRefused) {
  ScratchDir dir;
  struct Case {
    const char* name;
    std::vector<CraftedEntry> entries;
  };
  std::vector<CraftedEntry> bomb = {Entry("payload.txt", std::string(1000, 'x'))};
  for (int i = 1; i < 1000; ++i) bomb.push_back(CentralOnly("copy" + std::to_string(i), std::string(1000, 'x'), 0));
  CraftedEntry same = Entry("two.txt", "2222");
  same.central_offset = 0;
  CraftedEntry inside = Entry("two.txt", "2222");
  inside.central_offset = 50;
  const std::vector<Case> cases = {
      {"same local header", {Entry("one.txt", "1111"), same}},
      {"inside the previous data", {Entry("one.txt", std::string(100, '1')), inside}},
      {"a thousand names for one header", bomb},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / "overlap.zip";
    test::WriteFileBytes(path, CraftArchive(c.entries));
    TVCLUnZip reader;
    reader.SetZipName(path);
    try {
      reader.ReadZip();
      ADD_FAILURE() << "read without error";
    } catch (const EBadZipFile& error) {
      EXPECT_NE(std::string(error.what()).find("overlapping entries"), std::string::npos) << error.what();
    }
    EXPECT_EQ(reader.Count(), 0);
  }
}

// A Zip64 end record whose offsets cannot be file positions, to put in front of a classic end record.
std::vector<std::uint8_t> WithZip64End(std::vector<std::uint8_t> bytes, std::uint64_t dir_offset,
                                       std::uint64_t dir_size, std::uint64_t entries) {
  bytes.resize(bytes.size() - kEndCentralSize);  // the classic record is written anew below
  const auto record = static_cast<std::uint64_t>(bytes.size());
  crafted::Put32(bytes, kZip64EndCentralSignature);
  crafted::Put64(bytes, kZip64EndCentralSize - 12);
  crafted::Put16(bytes, kVersionZip64);
  crafted::Put16(bytes, kVersionZip64);
  crafted::Put32(bytes, 0);
  crafted::Put32(bytes, 0);
  crafted::Put64(bytes, entries);
  crafted::Put64(bytes, entries);
  crafted::Put64(bytes, dir_size);
  crafted::Put64(bytes, dir_offset);
  crafted::Put32(bytes, kZip64EndLocatorSignature);
  crafted::Put32(bytes, 0);
  crafted::Put64(bytes, record);
  crafted::Put32(bytes, 1);
  crafted::Put32(bytes, kEndCentralSignature);
  crafted::Put16(bytes, 0);
  crafted::Put16(bytes, 0);
  crafted::Put16(bytes, 0xFFFF);
  crafted::Put16(bytes, 0xFFFF);
  crafted::Put32(bytes, 0xFFFFFFFF);
  crafted::Put32(bytes, 0xFFFFFFFF);
  crafted::Put16(bytes, 0);
  return bytes;
}

// Sizes and offsets are bounded where they are read; what is out of range is named, and the rest of the
// archive is still read (the local headers serve when the directory itself cannot be found).
TEST(DamagedArchiveTest, OutOfRangeFieldsAreNamed) {
  ScratchDir dir;
  constexpr std::uint64_t kHuge = 0x7FFFFFFFFFFFFFF0;
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* reported;
    int count;
  };
  std::vector<CraftedEntry> big_size = FiveEntries();
  big_size[1].central_compressed = 0xFFFFFFFF;
  big_size[1].central_extra = crafted::Zip64Extra({kHuge});
  std::vector<CraftedEntry> far_offset = FiveEntries();
  far_offset[3].central_offset = 0xFFFFFFFF;
  far_offset[3].central_extra = crafted::Zip64Extra({kHuge});
  const std::vector<CraftedEntry> five = FiveEntries();
  const std::vector<Case> cases = {
      {"compressed size", CraftArchive(big_size), "file1.txt: its compressed size", 4},
      {"local header offset", CraftArchive(far_offset), "file3.txt: its local header offset", 4},
      {"directory offset", CraftArchive(five, CraftedEnd{-1, 0x7FFFFFF0}), "central directory offset", 5},
      {"directory size", CraftArchive(five, CraftedEnd{-1, -1, 0x7FFFFFF0}), "central directory size", 5},
      {"Zip64 directory offset", WithZip64End(CraftArchive(five), 0xFFFFFFFFFFFFFFF0, 100, 5), "out of range", 5},
      {"Zip64 directory past the end", WithZip64End(CraftArchive(five), kHuge, kHuge, 5), "lies beyond", 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir / "field.zip";
    test::WriteFileBytes(path, c.bytes);
    TVCLUnZip reader;
    OpenRepairing(reader, path);
    EXPECT_EQ(reader.Count(), c.count);
    EXPECT_TRUE(reader.ArchiveDamaged());
    EXPECT_TRUE(Mentions(reader.Report().Lines(reader.Count()), c.reported));
    reader.SetDoAll(true);
    EXPECT_EQ(reader.Test(), c.count);
  }
}

}  // namespace
}  // namespace kzb::zip
