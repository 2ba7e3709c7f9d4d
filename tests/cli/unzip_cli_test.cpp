// kzb list / test / extract, run as a user would run them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace kzb::cli {
namespace {

#ifdef _WIN32

TEST(UnzipCliTest, RunsThroughAPosixShell) {
  GTEST_SKIP() << "POSIX only: these tests drive kzb through a POSIX shell with Info-ZIP as the oracle; "
                  "kzb.exe is driven the same way from the host by tests/windows/wine_cli_test.sh";
}

#else

namespace fs = std::filesystem;
using test::RunCommand;
using test::ScratchDir;
using test::ShellQuote;

std::string Kzb(const std::string& args) {
  return ShellQuote(test::CliPath()) + " " + args;
}

// Two files (one in a folder) and an archive comment, made with Python's zipfile.
std::string MakeArchive(const ScratchDir& dir, const std::string& extra = "") {
  const std::string path = dir / "sample.zip";
  test::WriteFileText(dir / "make.py",
                      "import zipfile,sys\n"
                      "z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_DEFLATED)\n"
                      "z.writestr(zipfile.ZipInfo('docs/a.txt',(2024,6,1,12,0,0)),'alpha '*100)\n"
                      "z.writestr(zipfile.ZipInfo('b.bin',(2023,1,2,3,4,6)),bytes(range(256)))\n" +
                          extra + "z.comment=b'nightly backup'\nz.close()\n");
  EXPECT_EQ(RunCommand("python3 " + ShellQuote(dir / "make.py") + " " + ShellQuote(path)), 0);
  return path;
}

TEST(UnzipCliTest, ListShowsEntriesTotalsAndComment) {
  ScratchDir dir;
  const std::string archive = MakeArchive(dir);
  std::string out;
  ASSERT_EQ(RunCommand(Kzb("list " + ShellQuote(archive)), &out), 0) << out;
  EXPECT_NE(out.find("stored            256          256  29058c73  2023-01-02 03:04:06  b.bin"), std::string::npos)
      << out;
  EXPECT_NE(out.find("2024-06-01 12:00:00  docs/a.txt"), std::string::npos) << out;
  EXPECT_NE(out.find("2 entries"), std::string::npos);
  EXPECT_NE(out.find("nightly backup"), std::string::npos);
}

TEST(UnzipCliTest, TestPassesAndFails) {
  ScratchDir dir;
  const std::string archive = MakeArchive(dir);
  std::string out;
  EXPECT_EQ(RunCommand(Kzb("test " + ShellQuote(archive)), &out), 0) << out;
  // Damage the stored entry's data: the test reports it and exits non-zero.
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(archive);
  const std::string needle = "b.bin";
  auto it = std::search(bytes.begin(), bytes.end(), needle.begin(), needle.end());
  ASSERT_NE(it, bytes.end());
  *(it + static_cast<std::ptrdiff_t>(needle.size()) + 10) ^= 0x55;
  test::WriteFileBytes(archive, bytes);
  EXPECT_EQ(RunCommand(Kzb("test " + ShellQuote(archive)), &out), 1);
  EXPECT_NE(out.find("b.bin: CRC error"), std::string::npos) << out;
}

// Entries of every method show their method's name; an entry whose method is not read is named with its
// method when it fails.
TEST(UnzipCliTest, MethodNamesInListAndTest) {
  ScratchDir dir;
  const std::string archive = MakeArchive(dir,
                                          "z.writestr('c.txt','gamma '*50,zipfile.ZIP_BZIP2)\n"
                                          "z.writestr('d.txt','delta '*50,zipfile.ZIP_LZMA)\n");
  std::string out;
  ASSERT_EQ(RunCommand(Kzb("list " + ShellQuote(archive)), &out), 0) << out;
  EXPECT_NE(out.find("\nbzip2 "), std::string::npos) << out;
  EXPECT_NE(out.find("\nlzma "), std::string::npos) << out;
  if (KZB_LIBRARY_CODECS) {
    EXPECT_EQ(RunCommand(Kzb("test " + ShellQuote(archive)), &out), 0) << out;
    EXPECT_NE(out.find("All 4 entries OK"), std::string::npos) << out;
  } else {  // a build without libbz2 and liblzma names what it cannot read
    EXPECT_EQ(RunCommand(Kzb("test " + ShellQuote(archive)), &out), 1) << out;
    EXPECT_NE(out.find("c.txt: compression method 12 (BZip2) is not supported"), std::string::npos) << out;
    EXPECT_NE(out.find("d.txt: compression method 14 (LZMA) is not supported"), std::string::npos) << out;
  }
  if (!test::HaveTool("7zz")) GTEST_SKIP() << "7zz not installed";
  std::string notes;
  for (int i = 0; i < 200; ++i) notes += "note " + std::to_string(i) + "\n";
  test::WriteFileText(dir / "src/notes.txt", notes);
  const std::string ppmd = dir / "ppmd.zip";
  ASSERT_EQ(RunCommand("cd " + ShellQuote(dir / "src") + " && 7zz a -tzip -bso0 -bsp0 -mm=PPMd -mx=9 " +
                       ShellQuote(ppmd) + " notes.txt"),
            0);
  ASSERT_EQ(RunCommand(Kzb("list " + ShellQuote(ppmd)), &out), 0) << out;
  EXPECT_EQ(out.rfind("ppmd ", 0), 0u) << out;
  EXPECT_EQ(RunCommand(Kzb("test " + ShellQuote(ppmd)), &out), 1) << out;
  EXPECT_NE(out.find("notes.txt: compression method 98 (PPMd) is not supported"), std::string::npos) << out;
}

TEST(UnzipCliTest, ExtractWithPatternsFoldersAndOverwrite) {
  ScratchDir dir;
  const std::string archive = MakeArchive(dir);
  const std::string dest = dir / "out";
  std::string out;
  ASSERT_EQ(RunCommand(Kzb("extract " + ShellQuote(archive) + " --dest " + ShellQuote(dest) + " '*.txt'"), &out), 0)
      << out;
  EXPECT_EQ(test::ReadFileText(dest + "/docs/a.txt").size(), 600u);
  EXPECT_FALSE(fs::exists(dest + "/b.bin"));

  test::WriteFileText(dest + "/docs/a.txt", "mine");
  // Prompt without a terminal answers no; never keeps; always replaces.
  EXPECT_EQ(RunCommand(Kzb("extract " + ShellQuote(archive) + " --dest " + ShellQuote(dest) + " </dev/null"), &out), 0);
  EXPECT_EQ(test::ReadFileText(dest + "/docs/a.txt"), "mine");
  EXPECT_EQ(
      RunCommand(Kzb("extract " + ShellQuote(archive) + " --dest " + ShellQuote(dest) + " --overwrite never"), &out),
      0);
  EXPECT_EQ(test::ReadFileText(dest + "/docs/a.txt"), "mine");
  EXPECT_EQ(
      RunCommand(Kzb("extract " + ShellQuote(archive) + " --dest " + ShellQuote(dest) + " --overwrite always"), &out),
      0);
  EXPECT_EQ(test::ReadFileText(dest + "/docs/a.txt").size(), 600u);
  // A file an extraction made read-only is replaced all the same.
  test::WriteFileText(dest + "/docs/a.txt", "mine");
  fs::permissions(dest + "/docs/a.txt", fs::perms::owner_read);
  EXPECT_EQ(
      RunCommand(Kzb("extract " + ShellQuote(archive) + " --dest " + ShellQuote(dest) + " --overwrite always"), &out),
      0)
      << out;
  EXPECT_EQ(test::ReadFileText(dest + "/docs/a.txt").size(), 600u);

  ASSERT_EQ(
      RunCommand(Kzb("extract " + ShellQuote(archive) + " --no-folders --dest " + ShellQuote(dir / "flat")), &out), 0);
  EXPECT_TRUE(fs::exists(dir / "flat/a.txt"));
}

TEST(UnzipCliTest, ErrorsAndUsage) {
  ScratchDir dir;
  test::WriteFileText(dir / "text.zip", "not an archive, just text\n");
  std::string out;
  EXPECT_EQ(RunCommand(Kzb("list " + ShellQuote(dir / "text.zip")), &out), 1);
  EXPECT_NE(out.find("Not a valid zip file!"), std::string::npos) << out;
  EXPECT_EQ(RunCommand(Kzb("test " + ShellQuote(dir / "missing.zip")), &out), 1);
  EXPECT_EQ(RunCommand(Kzb("list"), &out), 2);
  EXPECT_EQ(RunCommand(Kzb("extract x.zip --overwrite sometimes"), &out), 2);
}

TEST(UnzipCliTest, PasswordProtectedArchive) {
  if (!test::HaveTool("zip")) GTEST_SKIP() << test::MissingTools("zip");
  ScratchDir dir;
  test::WriteFileText(dir / "src/secret.txt", "the secret");
  ASSERT_EQ(RunCommand("cd " + ShellQuote(dir / "src") + " && zip -q -P pw ../enc.zip secret.txt"), 0);
  std::string out;
  EXPECT_EQ(RunCommand(Kzb("test " + ShellQuote(dir / "enc.zip") + " --password pw"), &out), 0) << out;
  EXPECT_EQ(RunCommand(Kzb("test " + ShellQuote(dir / "enc.zip") + " --password nope"), &out), 1);
  EXPECT_NE(out.find("secret.txt: wrong password"), std::string::npos) << out;
  EXPECT_EQ(
      RunCommand(Kzb("extract " + ShellQuote(dir / "enc.zip") + " --password pw --dest " + ShellQuote(dir / "out")),
                 &out),
      0);
  EXPECT_EQ(test::ReadFileText(dir / "out/secret.txt"), "the secret");
}

#endif  // _WIN32

}  // namespace
}  // namespace kzb::cli
