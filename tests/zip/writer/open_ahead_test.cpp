// Opening ahead of the writer: what is handed over, what is left to the writer, and the writer passing
// files by. These tests also run under the thread sanitizer.
#include "zip/writer/open_ahead.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace kzb::zip {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;
using test::WriteFileBytes;

// The bytes of an opened file, read through it.
std::string ReadAll(platform::File& file) {
  std::string text(1000, '\0');
  text.resize(static_cast<std::size_t>(file.Read(text.data(), static_cast<std::int64_t>(text.size()))));
  return text;
}

TEST(OpenAheadTest, OnlyRegularFilesThatOpenAreHandedOver) {
  ScratchDir dir;
  WriteFileBytes(dir / "a.txt", {'a', 'b', 'c'});
  WriteFileBytes(dir / "b.txt", {'x'});
  fs::create_directories(dir / "sub");
  const std::vector<std::string> files = {
      dir / "a.txt",
      dir / "sub/",         // a folder as the list names it
      dir / "missing.txt",  // gone since the list was made
      dir / "sub",          // a folder without its separator
      dir / "b.txt",
  };
  TOpenAhead ahead(files);
  auto a = ahead.Take(0);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->status.size, 3);
  EXPECT_EQ(ReadAll(*a->file), "abc");
  for (std::size_t i = 1; i <= 3; ++i) EXPECT_FALSE(ahead.Take(i)) << files[i];
  auto b = ahead.Take(4);
  ASSERT_TRUE(b);
  EXPECT_EQ(ReadAll(*b->file), "x");
}

// The writer may pass files by (skipped, or taken its own way), also far more than are opened ahead; the
// files it then takes are the right ones, and the object can go with files still open.
TEST(OpenAheadTest, WriterPassingFilesByGetsTheRightOnes) {
  ScratchDir dir;
  std::vector<std::string> files;
  for (int i = 0; i < 3 * static_cast<int>(TOpenAhead::kFilesAhead); ++i) {
    files.push_back(dir / ("f" + std::to_string(i)));
    const std::string text = std::to_string(i);
    WriteFileBytes(files.back(), std::vector<std::uint8_t>(text.begin(), text.end()));
  }
  TOpenAhead ahead(files);
  for (std::size_t index : {std::size_t{1}, std::size_t{2}, TOpenAhead::kFilesAhead * 2 + 5, files.size() - 10}) {
    auto opened = ahead.Take(index);
    ASSERT_TRUE(opened) << index;
    EXPECT_EQ(ReadAll(*opened->file), std::to_string(index));
  }
}

}  // namespace
}  // namespace kzb::zip
