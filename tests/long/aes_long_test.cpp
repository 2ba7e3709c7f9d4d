// An AES-256 entry over 4 GiB (a sparse file): Zip64 and AES blocks side by side in both headers, a
// counter that runs past 2^28 blocks, and peers that agree.
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

TEST(LongTest, AesEntryOverFourGiBWithPeers) {
  ScratchDir dir;
  constexpr std::int64_t kSize = (4LL << 30) + (256LL << 20);
  if (platform::DiskFreeSpace(dir.Path()) < 2 * kSize + (1LL << 30)) GTEST_SKIP() << "needs 10 GiB free";
  fs::create_directories(dir / "src");
  const std::string big = dir / "src/big.bin";
  {
    std::ofstream out(big, std::ios::binary);
    out << "start of the big file";
  }
  fs::resize_file(big, kSize);
  {
    std::fstream out(big, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp((4LL << 30) + 777);
    out << "data beyond four gibibytes";
  }
  test::WriteFileText(dir / "src/small.txt", "small");

  // Stored, so the archive itself passes 4 GiB and its data is all encrypted bytes.
  const std::string archive = dir / "big.zip";
  TVCLZip zip;
  zip.SetZipName(archive);
  zip.SetPackLevel(0);
  zip.SetPassword("long pw");
  zip.SetEncryption(TZipEncryption::zeAes256);
  zip.SetRootDir(dir / "src/");
  zip.SetRelativePaths(true);
  zip.SetFilesList({big, dir / "src/small.txt"});
  ASSERT_EQ(zip.Zip(), 2);
  EXPECT_GT(fs::file_size(archive), static_cast<std::uintmax_t>(kSize));

  std::string output;
  if (test::HaveTool("7zz")) {
    EXPECT_EQ(RunCommand("7zz t -p'long pw' " + ShellQuote(archive) + " | tail -5", &output), 0) << output;
  }
  if (test::HaveTool("bsdtar")) {
    EXPECT_EQ(RunCommand(
                  "bsdtar -xO --passphrase 'long pw' -f " + ShellQuote(archive) + " big.bin | cmp - " + ShellQuote(big),
                  &output),
              0)
        << output;
  }
  TVCLUnZip reader;
  reader.SetZipName(archive);
  reader.SetDoAll(true);
  reader.SetPassword("long pw");
  EXPECT_EQ(reader.Test(), 2);
  ASSERT_EQ(reader.Count(), 2);
  EXPECT_TRUE(reader.EntryInfo(0).IsAes());
  EXPECT_EQ(reader.EntryUncompressedSize(0), kSize);

  // A 7-Zip archive of the same file (deflated, so it stays small) extracts here to the same bytes.
  if (test::HaveTool("7zz")) {
    const std::string peer = dir / "peer.zip";
    ASSERT_EQ(RunCommand("cd " + ShellQuote(dir / "src") + " && 7zz a -tzip -mx=1 -mem=AES256 -p'long pw' " +
                             ShellQuote(peer) + " big.bin >/dev/null",
                         &output),
              0)
        << output;
    fs::remove(archive);
    TVCLUnZip peer_reader;
    peer_reader.SetZipName(peer);
    peer_reader.SetDoAll(true);
    peer_reader.SetPassword("long pw");
    peer_reader.SetDestDir(dir / "out");
    EXPECT_EQ(peer_reader.UnZip(), 1);
    EXPECT_EQ(RunCommand("cmp " + ShellQuote(dir / "out/big.bin") + " " + ShellQuote(big), &output), 0) << output;
  }
}

}  // namespace
}  // namespace kzb::zip
