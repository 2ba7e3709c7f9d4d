// kzb on damaged and hostile archives, run as a user would run it: a damaged archive never passes, names
// never reach the terminal raw, and requests that match nothing are errors.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/crafted_archive.h"

namespace kzb::cli {
namespace {

#ifdef _WIN32

TEST(DamagedCliTest, RunsThroughAPosixShell) {
  GTEST_SKIP() << "POSIX only: these tests drive kzb through a POSIX shell; tests/windows/wine_cli_test.sh "
                  "checks kzb.exe on a damaged archive from the host";
}

#else

namespace fs = std::filesystem;
using test::RunCommand;
using test::ScratchDir;
using test::ShellQuote;

std::string Kzb(const std::string& args) {
  return ShellQuote(test::CliPath()) + " " + args;
}

std::vector<zip::crafted::CraftedEntry> ThreeEntries() {
  return {zip::crafted::Entry("one.txt", std::string(300, '1')), zip::crafted::Entry("two.txt", std::string(300, '2')),
          zip::crafted::Entry("three.txt", std::string(300, '3'))};
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The four reading commands on archives cut short, emptied or lying about their count: exit status 4
// and the damage named; never "All ... OK" or success.
TEST(DamagedCliTest, DamagedArchivesNeverPass) {
  ScratchDir dir;
  const std::vector<std::uint8_t> whole = zip::crafted::CraftArchive(ThreeEntries());
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* said;
  };
  const std::vector<Case> cases = {
      {"cut in the directory", {whole.begin(), whole.end() - 40}, "no end of central directory record"},
      {"cut by one byte", {whole.begin(), whole.end() - 1}, "3 entries were recovered"},
      {"cut in the data", {whole.begin(), whole.begin() + 400}, "two.txt: truncated"},
      {"empty", {}, "the file is empty"},
      {"count says 1", zip::crafted::CraftArchive(ThreeEntries(), zip::crafted::CraftedEnd{1}), "declares 1 entries"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string archive = dir / "damaged.zip";
    test::WriteFileBytes(archive, c.bytes);
    for (const std::string command : {"test ", "list ", "entries ", "extract --overwrite always --dest out "}) {
      SCOPED_TRACE(command);
      std::string out;
      EXPECT_EQ(RunCommand("cd " + ShellQuote(dir.Path()) + " && " + Kzb(command + ShellQuote(archive)), &out), 4)
          << out;
      EXPECT_TRUE(Has(out, c.said)) << out;
      EXPECT_FALSE(Has(out, " OK\n") && !Has(out, "damaged")) << out;
    }
  }
}

TEST(DamagedCliTest, OverlappingEntriesAreRefused) {
  ScratchDir dir;
  std::vector<zip::crafted::CraftedEntry> entries = ThreeEntries();
  entries[2].central_offset = 0;
  test::WriteFileBytes(dir / "bomb.zip", zip::crafted::CraftArchive(entries));
  for (const std::string command : {"test ", "list ", "extract --dest out "}) {
    std::string out;
    EXPECT_EQ(RunCommand(Kzb(command + ShellQuote(dir / "bomb.zip")), &out), 1) << out;
    EXPECT_TRUE(Has(out, "overlapping entries")) << out;
  }
}

TEST(DamagedCliTest, NamesAreEscapedAndMethodsNamed) {
  ScratchDir dir;
  std::vector<zip::crafted::CraftedEntry> entries = {zip::crafted::Entry("evil\x1b[31m\nname.txt", "x"),
                                                     zip::crafted::Entry("notes.ppmd", "y")};
  entries[1].method = 98;
  test::WriteFileBytes(dir / "odd.zip", zip::crafted::CraftArchive(entries));
  std::string out;
  EXPECT_EQ(RunCommand(Kzb("list " + ShellQuote(dir / "odd.zip")), &out), 0) << out;
  EXPECT_TRUE(Has(out, "evil%1B[31m%0Aname.txt")) << out;
  EXPECT_FALSE(Has(out, "\x1b")) << out;
  EXPECT_EQ(RunCommand(Kzb("entries " + ShellQuote(dir / "odd.zip")), &out), 0) << out;
  EXPECT_TRUE(Has(out, "evil%1B[31m%0Aname.txt")) << out;
  EXPECT_EQ(RunCommand(Kzb("test " + ShellQuote(dir / "odd.zip")), &out), 1) << out;
  EXPECT_TRUE(Has(out, "notes.ppmd: compression method 98 (PPMd) is not supported\n")) << out;
  EXPECT_FALSE(Has(out, "CRC")) << out;
  EXPECT_FALSE(Has(out, "Unknown Compression Method")) << out;
}

TEST(DamagedCliTest, RequestsThatMatchNothingAreErrors) {
  ScratchDir dir;
  test::WriteFileBytes(dir / "a.zip", zip::crafted::CraftArchive(ThreeEntries()));
  std::string out;
  EXPECT_EQ(
      RunCommand(Kzb("extract " + ShellQuote(dir / "a.zip") + " '*.doc' --dest " + ShellQuote(dir / "out")), &out), 1)
      << out;
  EXPECT_TRUE(Has(out, "no entry matches '*.doc'")) << out;
  EXPECT_EQ(
      RunCommand(Kzb("extract " + ShellQuote(dir / "a.zip") + " one.txt '*.doc' --dest " + ShellQuote(dir / "out")),
                 &out),
      1)
      << out;
  EXPECT_TRUE(fs::exists(dir / "out/one.txt"));

  test::WriteFileText(dir / "not-a-folder", "x");
  const std::vector<std::string> commands = {"projects", "archives " + ShellQuote(dir.Path()),
                                             "entries " + ShellQuote(dir / "a.zip")};
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    EXPECT_EQ(RunCommand(Kzb(command + " --data-dir " + ShellQuote(dir / "not-a-folder")), &out), 1) << out;
    EXPECT_TRUE(Has(out, "is a file, not a folder")) << out;
  }
}

// A write error of the device (here the file size limit, with SIGXFSZ ignored so the write fails with
// EFBIG) ends the extraction with the write error; the user's existing file is untouched.
TEST(DamagedCliTest, AWriteErrorEndsTheExtractionAndTheOldFileSurvives) {
  ScratchDir dir;
  const std::vector<std::uint8_t> data = test::RandomBytes(400000, 3);
  test::WriteFileBytes(dir / "big.bin", data);
  std::string out;
  ASSERT_EQ(RunCommand("cd " + ShellQuote(dir.Path()) +
                           " && python3 -c \"import zipfile; z=zipfile.ZipFile('big.zip','w',"
                           "zipfile.ZIP_DEFLATED); z.write('big.bin'); z.close()\"",
                       &out),
            0)
      << out;
  fs::create_directories(dir / "out");
  test::WriteFileText(dir / "out/big.bin", "the user's own file");
  const std::string command =
      "trap '' XFSZ; ulimit -f 100; " +
      Kzb("extract " + ShellQuote(dir / "big.zip") + " --overwrite always --dest " + ShellQuote(dir / "out"));
  EXPECT_EQ(RunCommand("bash -c " + ShellQuote(command), &out), 1) << out;
  EXPECT_TRUE(Has(out, "Cant write uncompressed file")) << out;
  EXPECT_FALSE(Has(out, "CRC")) << out;
  EXPECT_EQ(test::ReadFileText(dir / "out/big.bin"), "the user's own file");
  for (const auto& item : fs::directory_iterator(dir / "out")) {
    EXPECT_EQ(item.path().filename().string().rfind(".kzb-", 0), std::string::npos) << item.path();
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace kzb::cli
