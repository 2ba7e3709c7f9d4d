// kzb pack, run as a user would run it.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace kzb::cli {
namespace {

#ifdef _WIN32

TEST(PackCliTest, RunsThroughAPosixShell) {
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

// Runs a command in folder; returns its exit status and its standard output (and, separately, standard
// error).
int RunIn(const std::string& folder, const std::string& command, std::string* out, std::string* err = nullptr) {
  ScratchDir logs;
  const int status =
      RunCommand("(cd " + ShellQuote(folder) + " && " + command + " 2>" + ShellQuote(logs / "err") + ")", out);
  if (err != nullptr) *err = test::ReadFileText(logs / "err");
  return status;
}

// Names in an archive, one a line, as Info-ZIP lists them.
std::string Listing(const std::string& archive) {
  std::string out;
  RunCommand("unzip -Z1 " + ShellQuote(archive), &out);
  return out;
}

class PackCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::WriteFileText(dir_ / "docs/a.txt", std::string(5000, 'a'));
    test::WriteFileText(dir_ / "docs/b.log", "log");
    test::WriteFileText(dir_ / "docs/sub/c.txt", "c");
    test::WriteFileText(dir_ / "docs/pic.jpg", "jpeg bytes");
  }
  ScratchDir dir_;
};

TEST_F(PackCliTest, FolderAloneMeansAllItsFilesAndRecurseGoesDeeper) {
  std::string out, err;
  ASSERT_EQ(RunIn(dir_.Path(), Kzb("pack flat.zip docs"), &out, &err), 0) << err;
  EXPECT_EQ(out, "3 files added to flat.zip\n");  // no progress line when stdout is not a terminal
  EXPECT_EQ(Listing(dir_ / "flat.zip"), "docs/a.txt\ndocs/b.log\ndocs/pic.jpg\n");
  ASSERT_EQ(RunIn(dir_.Path(), Kzb("pack deep.zip --recurse docs/"), &out, &err), 0) << err;
  EXPECT_EQ(Listing(dir_ / "deep.zip"), "docs/a.txt\ndocs/b.log\ndocs/pic.jpg\ndocs/sub/c.txt\n");
  EXPECT_EQ(RunCommand("unzip -tq " + ShellQuote(dir_ / "deep.zip"), &out), 0) << out;
}

// A folder that cannot be read is reported like a file that cannot be read, and the status says so.
TEST_F(PackCliTest, UnreadableFolderIsReported) {
  const std::string prefix = test::WithoutPermissionOverridePrefix();
  if (prefix == "-") GTEST_SKIP() << "cannot drop root's file permission override (no setpriv)";
  test::WriteFileText(dir_ / "docs/locked/secret.txt", "secret");
  ASSERT_EQ(::chmod((dir_ / "docs/locked").c_str(), 0), 0);
  std::string out, err;
  const int status = RunIn(dir_.Path(), prefix + Kzb("pack r.zip --recurse docs"), &out, &err);
  ASSERT_EQ(::chmod((dir_ / "docs/locked").c_str(), 0755), 0);
  EXPECT_EQ(status, 1) << err;
  EXPECT_NE(err.find("kzb pack: warning: docs/locked/: folder cannot be read, nothing in it added\n"),
            std::string::npos)
      << err;
  EXPECT_NE(err.find("kzb pack: 1 file or folder could not be added"), std::string::npos) << err;
  EXPECT_EQ(Listing(dir_ / "r.zip"), "docs/a.txt\ndocs/b.log\ndocs/pic.jpg\ndocs/sub/c.txt\n");
}

TEST_F(PackCliTest, MasksPathsExcludesAndStoredNames) {
  std::string out, err;
  ASSERT_EQ(RunIn(dir_.Path(),
                  Kzb("pack m.zip --recurse --exclude '*.log' --store '*.jpg' --relative-to docs 'docs/*' ") +
                      ShellQuote(dir_ / "docs/a.txt"),
                  &out, &err),
            1)
      << err;
  // a.txt named twice: the second is skipped with a warning, and the exit status says so.
  EXPECT_NE(err.find("already in the archive"), std::string::npos) << err;
  EXPECT_NE(err.find("1 file or folder could not be added"), std::string::npos) << err;
  EXPECT_EQ(Listing(dir_ / "m.zip"), "a.txt\npic.jpg\nsub/c.txt\n");
  ASSERT_EQ(RunCommand("unzip -Zv " + ShellQuote(dir_ / "m.zip") + " | grep 'compression method'", &out), 0);
  EXPECT_NE(out.find("none (stored)"), std::string::npos) << out;

  ASSERT_EQ(RunIn(dir_.Path(), Kzb("pack n.zip --no-paths --recurse 'docs/*.txt'"), &out, &err), 0) << err;
  EXPECT_EQ(Listing(dir_ / "n.zip"), "a.txt\nc.txt\n");
}

TEST_F(PackCliTest, PasswordLevelAndComment) {
  std::string out, err;
  ASSERT_EQ(RunIn(dir_.Path(), Kzb("pack p.zip --level 0 --password 'p w' --comment 'my note' docs"), &out, &err), 0)
      << err;
  EXPECT_EQ(RunCommand("unzip -tq -P 'p w' " + ShellQuote(dir_ / "p.zip"), &out), 0) << out;
  EXPECT_NE(RunCommand("unzip -tq -P wrong " + ShellQuote(dir_ / "p.zip"), &out), 0);
  ASSERT_EQ(RunCommand("unzip -z " + ShellQuote(dir_ / "p.zip"), &out), 0);
  EXPECT_NE(out.find("my note"), std::string::npos) << out;
}

// --encryption aes256 writes WinZip AES entries that 7-Zip reads; the default stays the traditional cipher.
TEST_F(PackCliTest, EncryptionChoice) {
  std::string out, err;
  ASSERT_EQ(RunIn(dir_.Path(), Kzb("pack a.zip --password 'p w' --encryption aes256 docs"), &out, &err), 0) << err;
  ASSERT_EQ(RunCommand(Kzb("list " + ShellQuote(dir_ / "a.zip")), &out), 0) << out;
  EXPECT_NE(out.find("deflate+AES256"), std::string::npos) << out;
  EXPECT_NE(out.find("stored+AES256"), std::string::npos) << out;  // b.log, 3 bytes: stored
  if (test::HaveTool("7zz")) {
    EXPECT_EQ(RunCommand("7zz t -p'p w' " + ShellQuote(dir_ / "a.zip"), &out), 0) << out;
  }
  ASSERT_EQ(RunIn(dir_.Path(), Kzb("pack z.zip --password 'p w' docs"), &out, &err), 0) << err;
  EXPECT_EQ(RunCommand("unzip -tq -P 'p w' " + ShellQuote(dir_ / "z.zip"), &out), 0) << out;
  EXPECT_EQ(RunIn(dir_.Path(), Kzb("pack x.zip --password 'p w' --encryption rot13 docs"), &out, &err), 2);
}

TEST_F(PackCliTest, UpdateFreshenAndVolumes) {
  std::string out, err;
  ASSERT_EQ(RunIn(dir_.Path(), Kzb("pack u.zip docs/a.txt"), &out, &err), 0) << err;
  ASSERT_EQ(RunIn(dir_.Path(), Kzb("pack u.zip --freshen docs"), &out, &err), 0) << err;
  EXPECT_EQ(out, "0 files added to u.zip\n");
  EXPECT_EQ(Listing(dir_ / "u.zip"), "docs/a.txt\n");
  ASSERT_EQ(RunIn(dir_.Path(), Kzb("pack u.zip --update docs"), &out, &err), 0) << err;
  EXPECT_EQ(out, "2 files added to u.zip\n");
  ASSERT_EQ(RunIn(dir_.Path(), Kzb("pack u.zip --replace docs/a.txt"), &out, &err), 0) << err;
  EXPECT_EQ(out, "1 file added to u.zip\n");
  EXPECT_EQ(RunCommand("unzip -tq " + ShellQuote(dir_ / "u.zip"), &out), 0) << out;

  test::WriteFileBytes(dir_ / "big/r.bin", test::RandomBytes(200000, 3));
  ASSERT_EQ(RunIn(dir_.Path(), Kzb("pack v.zip --level 0 --volume-size 65536 big"), &out, &err), 0) << err;
  EXPECT_TRUE(fs::exists(dir_ / "v.001"));
  EXPECT_TRUE(fs::exists(dir_ / "v.004"));
  EXPECT_NE(out.find("1 file added to "), std::string::npos);
}

TEST_F(PackCliTest, UsageErrorsExitTwoAndFailuresExitOne) {
  std::string out, err;
  EXPECT_EQ(RunIn(dir_.Path(), Kzb("pack x.zip --level 12 docs"), &out, &err), 2);
  EXPECT_EQ(RunIn(dir_.Path(), Kzb("pack x.zip"), &out, &err), 2);
  EXPECT_EQ(RunIn(dir_.Path(), Kzb("pack x.zip --update --freshen docs"), &out, &err), 2);
  EXPECT_EQ(RunIn(dir_.Path(), Kzb("pack x.zip --volume-size 100 docs"), &out, &err), 2);
  EXPECT_FALSE(fs::exists(dir_ / "x.zip"));
  // The archive name is a folder: the engine's message on standard error.
  EXPECT_EQ(RunIn(dir_.Path(), Kzb("pack docs docs/a.txt"), &out, &err), 1);
  EXPECT_NE(err.find("docs"), std::string::npos) << err;
  // Not an archive: updating it fails, names it and leaves the file alone.
  test::WriteFileText(dir_ / "text.zip", "just text");
  EXPECT_EQ(RunIn(dir_.Path(), Kzb("pack text.zip docs"), &out, &err), 1);
  EXPECT_EQ(test::ReadFileText(dir_ / "text.zip"), "just text");
  EXPECT_EQ(err, "kzb pack: text.zip: Incomplete Zip File\n");
  // A missing input: the others are archived, a warning is shown and the status is 1.
  EXPECT_EQ(RunIn(dir_.Path(), Kzb("pack some.zip nothere docs/b.log"), &out, &err), 1);
  EXPECT_EQ(out, "1 file added to some.zip\n");
  EXPECT_NE(err.find("nothere: no such file"), std::string::npos) << err;
}

TEST_F(PackCliTest, HelpDescribesEveryOption) {
  std::string out;
  ASSERT_EQ(RunCommand(Kzb("pack --help"), &out), 0);
  for (const char* option :
       {"--level", "--password", "--encryption", "--recurse", "--no-paths", "--relative-to", "--exclude", "--store",
        "--comment", "--update", "--freshen", "--replace", "--volume-size", "ARCHIVE", "PATH"}) {
    EXPECT_NE(out.find(option), std::string::npos) << option;
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace kzb::cli
