#include "zip/records/sorted_zip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kzb::zip {
namespace {

struct EntrySetup {
  std::string directory;
  std::string file;
  std::uint32_t date_time;
  std::int64_t compressed;
  std::int64_t uncompressed;
  std::int64_t offset;
  std::uint32_t disk;
};

// Fills a list in the given order and returns the file names in list order.
std::vector<std::string> Order(TZipSortMode mode, const std::vector<EntrySetup>& setups,
                               TDuplicatePolicy policy = TDuplicatePolicy::kAccept) {
  TSortedZip list(policy);
  list.SetSortMode(mode);
  for (const auto& s : setups) {
    auto* h = new TZipHeaderInfo;
    h->SetDirectory(s.directory);
    h->SetFileName(s.file);
    h->SetFileDateTime(s.date_time);
    h->SetCompressedSize(s.compressed);
    h->SetUncompressedSize(s.uncompressed);
    h->SetLocalHeaderOffset(s.offset);
    h->SetDiskNumberStart(s.disk);
    if (list.Add(h) < 0) delete h;
  }
  std::vector<std::string> names;
  for (const TZipHeaderInfo* h : list) names.push_back(h->FileName());
  return names;
}

constexpr std::uint32_t Dos(int y, int mo, int d, int h = 0, int mi = 0) {
  return (static_cast<std::uint32_t>(((y - 1980) << 9) | (mo << 5) | d) << 16) |
         static_cast<std::uint32_t>((h << 11) | (mi << 5));
}

const std::vector<EntrySetup> kEntries = {
    {"b/", "Zeta.txt", Dos(2020, 1, 1), 50, 100, 300, 0},
    {"A/", "alpha.txt", Dos(2022, 5, 5), 10, 100, 100, 1},
    {"a/", "Beta.txt", Dos(2021, 3, 3), 90, 100, 200, 0},
    {"", "gamma", Dos(2019, 9, 9), 70, 1000, 0, 0},
};

TEST(SortedZipTest, Orders) {
  struct Case {
    TZipSortMode mode;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      // "A/alpha" < "a/Beta" (case-insensitive) < "b/Zeta" < "gamma"
      {TZipSortMode::ByName, {"alpha.txt", "Beta.txt", "Zeta.txt", "gamma"}},
      {TZipSortMode::ByFileName, {"alpha.txt", "Beta.txt", "gamma", "Zeta.txt"}},
      {TZipSortMode::ByDate, {"alpha.txt", "Beta.txt", "Zeta.txt", "gamma"}},
      {TZipSortMode::ByCompressedSize, {"Beta.txt", "gamma", "Zeta.txt", "alpha.txt"}},
      // equal sizes keep their insertion order
      {TZipSortMode::ByUnCompressedSize, {"gamma", "Zeta.txt", "alpha.txt", "Beta.txt"}},
      // rates 50, 10, 90, 7: highest first
      {TZipSortMode::ByRate, {"Beta.txt", "Zeta.txt", "alpha.txt", "gamma"}},
      // disk 0 by offset, then disk 1
      {TZipSortMode::ByNone, {"gamma", "Beta.txt", "Zeta.txt", "alpha.txt"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Order(c.mode, kEntries), c.expected) << static_cast<int>(c.mode);
  }
}

TEST(SortedZipTest, EqualDatesAndSizesKeepInsertionOrder) {
  const std::vector<EntrySetup> same = {
      {"", "first", Dos(2020, 1, 1), 5, 5, 0, 0},
      {"", "second", Dos(2020, 1, 1), 5, 5, 1, 0},
      {"", "third", Dos(2020, 1, 1), 5, 5, 2, 0},
  };
  const std::vector<std::string> inserted = {"first", "second", "third"};
  EXPECT_EQ(Order(TZipSortMode::ByDate, same), inserted);
  EXPECT_EQ(Order(TZipSortMode::ByCompressedSize, same), inserted);
  // Never "found", so even the error policy accepts them.
  EXPECT_EQ(Order(TZipSortMode::ByDate, same, TDuplicatePolicy::kError), inserted);
}

TEST(SortedZipTest, InvalidDateCountsAsZero) {
  const std::vector<EntrySetup> setups = {
      {"", "valid", Dos(1990, 1, 1), 0, 0, 0, 0},
      {"", "feb31", Dos(2020, 2, 31), 0, 0, 1, 0},
  };
  EXPECT_EQ(Order(TZipSortMode::ByDate, setups), (std::vector<std::string>{"valid", "feb31"}));
}

TEST(SortedZipTest, ByNoneRejectsSameDiskAndOffsetWithErrorPolicy) {
  TSortedZip list(TDuplicatePolicy::kError);
  auto* a = new TZipHeaderInfo;
  a->SetLocalHeaderOffset(10);
  list.Add(a);
  TZipHeaderInfo b;
  b.SetLocalHeaderOffset(10);
  EXPECT_THROW(list.Add(&b), EListError);
  EXPECT_EQ(list.Count(), 1);
}

TEST(SortedZipTest, CompareText) {
  EXPECT_EQ(CompareText("abc", "ABC"), 0);
  EXPECT_LT(CompareText("abc", "abd"), 0);
  EXPECT_GT(CompareText("abcd", "ABC"), 0);
  EXPECT_GT(CompareText("a_", "ab"), 0);  // letters fold to upper case, and '_' (0x5F) follows 'B'
  EXPECT_LT(CompareText("", "a"), 0);
}

}  // namespace
}  // namespace kzb::zip
