// Archives past the classic ZIP limits: an entry and an archive over 4 GiB, and more than 65535 entries.
// They take minutes and gigabytes, so they carry the ctest label "long" and stay out of the default run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::zip {
namespace {

namespace fs = std::filesystem;
using test::RunCommand;
using test::ScratchDir;
using test::ShellQuote;

void ExpectPeersTestOk(const std::string& archive) {
  std::string output;
  EXPECT_EQ(RunCommand("unzip -tq " + ShellQuote(archive), &output), 0) << output.substr(0, 2000);
  EXPECT_EQ(RunCommand("7zz t " + ShellQuote(archive) + " | tail -5", &output), 0) << output;
}

TEST(LongTest, FiveGiBSparseFileStoredAndDeflated) {
  ScratchDir dir;
  constexpr std::int64_t kSize = 5LL << 30;
  if (platform::DiskFreeSpace(dir.Path()) < kSize + (1LL << 30)) GTEST_SKIP() << "needs 6 GiB free";
  const std::string big = dir / "src/big.bin";
  fs::create_directories(dir / "src");
  {
    std::ofstream out(big, std::ios::binary);
    out << "start of the big file";
  }
  fs::resize_file(big, kSize);
  {
    // Some data past 4 GiB, so a reader that wraps offsets at 32 bits sees wrong bytes.
    std::fstream out(big, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp((4LL << 30) + 12345);
    out << "data beyond four gibibytes";
  }
  test::WriteFileText(dir / "src/small.txt", "a small file after the big one");

  for (int level : {1, 0}) {
    SCOPED_TRACE(level);
    const std::string archive = dir / ("level" + std::to_string(level) + ".zip");
    TVCLZip zip;
    zip.SetZipName(archive);
    zip.SetPackLevel(level);
    zip.SetFilesList({big, dir / "src/small.txt"});
    ASSERT_EQ(zip.Zip(), 2);
    if (level == 0) {
      EXPECT_GT(fs::file_size(archive), static_cast<std::uintmax_t>(kSize));
    }
    ExpectPeersTestOk(archive);
    TVCLUnZip reader;
    reader.SetZipName(archive);
    reader.ReadZip();
    ASSERT_EQ(reader.Count(), 2);
    EXPECT_EQ(reader.EntryUncompressedSize(0), kSize);
    fs::remove(archive);
  }
}

TEST(LongTest, SeventyThousandFilesAndAnUpdate) {
  ScratchDir dir;
  constexpr int kFolders = 70;
  constexpr int kPerFolder = 1000;
  for (int f = 0; f < kFolders; ++f) {
    const std::string folder = dir / ("src/d" + std::to_string(f) + "/");
    fs::create_directories(folder);
    for (int i = 0; i < kPerFolder; ++i) {
      std::ofstream(folder + "f" + std::to_string(i) + ".txt") << "file " << f << "/" << i << "\n";
    }
  }
  const std::string archive = dir / "many.zip";
  TVCLZip zip;
  zip.SetZipName(archive);
  zip.SetRootDir(dir / "src/");
  zip.SetRelativePaths(true);
  zip.SetFilesList({dir / "src/*"});
  ASSERT_EQ(zip.Zip(), kFolders * kPerFolder);
  {
    SCOPED_TRACE("written");
    ExpectPeersTestOk(archive);
  }

  // Updating the large archive: every entry is matched or copied, one file is new.
  test::WriteFileText(dir / "src/d0/new.txt", "new");
  zip.SetFilesList({dir / "src/*"});
  EXPECT_EQ(zip.Zip(), 1);
  EXPECT_EQ(zip.Count(), kFolders * kPerFolder + 1);
  SCOPED_TRACE("updated");
  ExpectPeersTestOk(archive);
}

}  // namespace
}  // namespace kzb::zip
