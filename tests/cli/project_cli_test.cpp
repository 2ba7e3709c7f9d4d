// kzb projects, show, add, edit, rename, copy, delete and log, run as a separate process against a fresh
// data folder.
#include <gtest/gtest.h>

#include "app/common/data_dir.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/system.h"
#include "support/test_support.h"

namespace kzb {
namespace {

#ifdef _WIN32

TEST(ProjectCliTest, RunsThroughAPosixShell) {
  GTEST_SKIP() << "POSIX only: these tests drive kzb through a POSIX shell with Info-ZIP as the oracle; "
                  "kzb.exe is driven the same way from the host by tests/windows/wine_cli_test.sh";
}

#else

using test::ReadFileText;
using test::ShellQuote;

class ProjectCliTest : public ::testing::Test {
 protected:
  ProjectCliTest() {
    source_ = dir_ / "src/";
    EXPECT_TRUE(platform::ForceDirectories(source_));
  }

  // Runs kzb with the arguments (already quoted where needed) and the scratch data folder; stdin is empty.
  int Kzb(const std::string& args, std::string* output = nullptr) {
    std::string out;
    int status = test::RunCommand(
        ShellQuote(test::CliPath()) + " " + args + " --data-dir " + ShellQuote(DataDir()) + " </dev/null", &out);
    if (output != nullptr) *output = out;
    return status;
  }
  std::string DataDir() const { return dir_ / "data/"; }
  std::string IniPath() const { return DataDir() + "project.ini"; }
  std::string Ini() const { return platform::FileExists(IniPath()) ? ReadFileText(IniPath()) : ""; }
  platform::IniFile IniFile() const { return platform::IniFile(IniPath()); }
  // Adds a valid project.
  void AddDocs() {
    EXPECT_TRUE(platform::ForceDirectories(DataDir()));
    ASSERT_EQ(Kzb("add Docs --include " + ShellQuote(source_ + "*.txt") + " --dest " + ShellQuote(dir_ / "out") +
                  " --password secret --daily 08:00:00 --keep 3"),
              0);
  }

  test::ScratchDir dir_;
  std::string source_;
};

TEST_F(ProjectCliTest, AddShowAndListInAFreshDataFolder) {
  std::string out;
  ASSERT_EQ(Kzb("add Docs --include " + ShellQuote(source_ + "*.txt") + " --exclude " + ShellQuote(source_ + "tmp") +
                    " --dest " + ShellQuote(dir_ / "out") + " --suffix number --next 7 --step 3 --password secret" +
                    " --comment '  note' --no-paths --no-recurse --level 9 --keep 3" +
                    " --newer-than '2024-03-01 12:00:00' --every 90",
                &out),
            0)
      << out;
  EXPECT_NE(out.find("Project 'Docs' added: " + dir_ / "out/Docs7.zip"), std::string::npos) << out;
  platform::IniFile ini = IniFile();
  EXPECT_EQ(ini.ReadString("Common", "Project Count", ""), "1");
  EXPECT_EQ(ini.ReadString("Common", "Count0", ""), "Docs");
  EXPECT_EQ(ini.ReadString("Common", "Last Project", ""), "Docs");
  EXPECT_EQ(ini.ReadString("Docs", "Value", ""), "4");
  EXPECT_EQ(ini.ReadString("Docs", "Save Path", ""), dir_ / "out/");
  EXPECT_EQ(ini.ReadString("Docs", "Comment", ""), "  note");
  EXPECT_EQ(ini.ReadString("Docs", "BackupMode", ""), "1");
  EXPECT_EQ(ini.ReadString("Docs", "StartTime_or_Increase", ""), "90");
  EXPECT_EQ(ini.ReadString("Docs", "NewDateTime", ""), "2024-03-01 12:00:00");
  EXPECT_EQ(ini.ReadString("Docs", "PackLevel", ""), "9");
  EXPECT_EQ(ini.ReadString("Docs", "Whether include Subdirectory", ""), "0");
  EXPECT_EQ(ini.ReadString("Docs", "Whether store path in Zip", ""), "0");
  EXPECT_NE(ini.ReadString("Docs", "Password", ""), "");

  ASSERT_EQ(Kzb("show docs", &out), 0) << out;
  for (const std::string& line : std::vector<std::string>{
           "Project: Docs\n", "Prefix: Docs\n", "Suffix: number\n", "Next number: 7\n", "Next increase: 3\n",
           "Filename: " + dir_ / "out/Docs7.zip\n", "Include: " + source_ + "*.txt\n", "Exclude: " + source_ + "tmp\n",
           "Include subdirectories: no\n", "Only files newer than: yes\n", "Threshold: 2024-03-01 12:00:00\n",
           "Use password: yes\n", "Password: (set)\n", "Comment:   note\n", "Compression level: 9\n",
           "Keep the last: 3\n", "Schedule: every 90 minutes\n"}) {
    EXPECT_NE(out.find(line), std::string::npos) << line << "in\n" << out;
  }

  ASSERT_EQ(Kzb("add Mail --include " + ShellQuote(source_) + " --weekly friday", &out), 0) << out;
  ASSERT_EQ(Kzb("add Alpha --include " + ShellQuote(source_)), 0);
  ASSERT_EQ(Kzb("projects", &out), 0);
  // Sorted without regard to case, one line each: name, schedule, next due time.
  ASSERT_EQ(out.substr(0, out.find('\n')), "Alpha\tnone\t-");
  EXPECT_NE(out.find("\nDocs\tevery 90 minutes\t20"), std::string::npos) << out;
  EXPECT_NE(out.find("\nMail\tweekly on Friday\t20"), std::string::npos) << out;
  EXPECT_NE(out.find(" 12:00:00\n"), std::string::npos) << out;
}

TEST_F(ProjectCliTest, AddRefusesWhatTheWizardRefuses) {
  AddDocs();
  struct Case {
    std::string args;
    std::string message;
  } cases[] = {
      {"add docs --include x", "Project 'docs' exists,please input another name!"},
      {"add '  ' --include x", "Please input a new project name!"},
      {"add Mail", "Please select files to backup"},
      {"add Mail --include x --prefix '  '", "Please enter the prefix of backup filename"},
  };
  const std::string before = Ini();
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(Kzb(c.args, &out), 1) << c.args;
    EXPECT_NE(out.find(c.message), std::string::npos) << c.args << ": " << out;
    EXPECT_EQ(Ini(), before) << c.args;
  }
}

// Paths that do not exist (yet) are only warned about: a folder may be mounted later. A prefix that would
// put the archives into another folder, or holds a control character, is refused.
TEST_F(ProjectCliTest, AddWarnsAboutMissingPathsAndRefusesAPrefixThatLeavesTheFolder) {
  EXPECT_TRUE(platform::ForceDirectories(DataDir()));
  std::string out;
  ASSERT_EQ(Kzb("add Docs --include " + ShellQuote(dir_ / "gone/*.txt") + " --include " + ShellQuote(dir_ / "nofile") +
                    " --include " + ShellQuote(source_) + " --dest " + ShellQuote(dir_ / "out"),
                &out),
            0)
      << out;
  EXPECT_NE(out.find("kzb add: warning: include entry '" + dir_ / "gone/*.txt" + "' does not exist"), std::string::npos)
      << out;
  EXPECT_NE(out.find("kzb add: warning: include entry '" + dir_ / "nofile" + "' does not exist"), std::string::npos);
  EXPECT_EQ(out.find("include entry '" + source_), std::string::npos) << out;
  EXPECT_NE(out.find("kzb add: warning: destination folder '" + dir_ / "out/" + "' does not exist"), std::string::npos);

  const std::string before = Ini();
  struct Case {
    std::string args;
    std::string message;
  } cases[] = {
      {"add Sub --include x --prefix 'a/b'", "kzb add: The prefix 'a/b' holds a '/'"},
      {"add 'x/y' --include x", "kzb add: The prefix 'x/y' holds a '/'"},  // the prefix defaults to the name
      {"add Tab --include x --prefix \"$(printf 'a\\tb')\"", "kzb add: The prefix holds a control character"},
      {"edit Docs --prefix '../up'", "kzb edit: The prefix '../up' holds a '/'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Kzb(c.args, &out), 1) << c.args;
    EXPECT_NE(out.find(c.message), std::string::npos) << c.args << ": " << out;
    EXPECT_EQ(Ini(), before) << c.args;
  }
}

TEST_F(ProjectCliTest, BadInputIsAUsageErrorAndChangesNoFile) {
  AddDocs();
  const std::string before = Ini();
  struct Case {
    std::string args;
    std::string message;
  } cases[] = {
      {"edit Docs --level 12", "--level"},
      {"edit Docs --keep 1", "--keep"},
      {"edit Docs --daily 25:00", "'25:00' is not a valid time"},
      {"edit Docs --newer-than '2024-13-01 10:00:00'", "'2024-13-01 10:00:00' is not a valid date and time"},
      {"edit Docs --weekly Funday", "'Funday' is not a weekday"},
      {"edit Docs --every 1", "--every"},
      {"edit Docs --suffix tomorrow", "--suffix"},
      {"edit Docs --daily 08:00:00 --every 5", "excludes"},
      {"add Mail --include x --next 0", "--next"},
      {"rename Docs", "NEW"},
  };
  for (const auto& c : cases) {
    std::string out;
    EXPECT_EQ(Kzb(c.args, &out), 2) << c.args << ": " << out;
    EXPECT_NE(out.find(c.message), std::string::npos) << c.args << ": " << out;
    EXPECT_EQ(Ini(), before) << c.args;
  }
}

TEST_F(ProjectCliTest, UnknownProjectIsAnErrorAndChangesNoFile) {
  AddDocs();
  const std::string before = Ini();
  for (const std::string args :
       {"show Nope", "edit Nope --level 1", "rename Nope New", "copy Nope New", "delete Nope --yes"}) {
    std::string out;
    EXPECT_EQ(Kzb(args, &out), 1) << args;
    EXPECT_NE(out.find("Project 'Nope' not found"), std::string::npos) << out;
    EXPECT_EQ(Ini(), before) << args;
  }
}

TEST_F(ProjectCliTest, EditChangesOnlyWhatIsGivenAndValidates) {
  AddDocs();
  std::string out;
  ASSERT_EQ(Kzb("edit Docs --level 2 --no-schedule --prefix Daily --suffix none", &out), 0) << out;
  platform::IniFile ini = IniFile();
  EXPECT_EQ(ini.ReadString("Docs", "PackLevel", ""), "2");
  EXPECT_EQ(ini.ReadString("Docs", "BackupMode", ""), "3");
  EXPECT_EQ(ini.ReadString("Docs", "StartTime_or_Increase", ""), "08:00:00");  // kept, not used
  EXPECT_EQ(ini.ReadString("Docs", "Filename prefix", ""), "Daily");
  EXPECT_EQ(ini.ReadString("Docs", "Store Number", ""), "3");
  ASSERT_EQ(Kzb("show Docs", &out), 0);
  EXPECT_NE(out.find("Filename: " + dir_ / "out/Daily.zip\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Password: (set)\n"), std::string::npos) << out;

  const std::string before = Ini();
  ASSERT_EQ(Kzb("edit Docs --prefix ' '", &out), 1);
  EXPECT_NE(out.find("Please enter the prefix of backup filename"), std::string::npos) << out;
  EXPECT_EQ(Ini(), before);
}

// A new project with a password encrypts with AES-256; edit switches the cipher; each backup's entries
// carry the cipher chosen when it ran, and list, test and extract handle both.
TEST_F(ProjectCliTest, EncryptionChoiceReachesTheArchives) {
  test::WriteFileText(source_ + "a.txt", std::string(3000, 'a'));
  ASSERT_TRUE(platform::ForceDirectories(dir_ / "out"));
  AddDocs();
  EXPECT_EQ(IniFile().ReadString("Docs", "Encryption", ""), "1");
  std::string out;
  // The archive commands take no data folder.
  auto archive_command = [](const std::string& args, std::string* output) {
    return test::RunCommand(ShellQuote(test::CliPath()) + " " + args + " </dev/null", output);
  };
  ASSERT_EQ(Kzb("show Docs", &out), 0);
  EXPECT_NE(out.find("Encryption: AES-256\n"), std::string::npos) << out;
  ASSERT_EQ(Kzb("backup Docs", &out), 0) << out;
  const std::string first = dir_ / "out/Docs1.zip";
  ASSERT_EQ(archive_command("list " + ShellQuote(first), &out), 0) << out;
  EXPECT_NE(out.find("deflate+AES256"), std::string::npos) << out;

  ASSERT_EQ(Kzb("edit Docs --encryption zipcrypto", &out), 0) << out;
  EXPECT_EQ(IniFile().ReadString("Docs", "Encryption", ""), "0");
  ASSERT_EQ(Kzb("show Docs", &out), 0);
  EXPECT_NE(out.find("Encryption: traditional (ZipCrypto)\n"), std::string::npos) << out;
  ASSERT_EQ(Kzb("backup Docs", &out), 0) << out;
  const std::string second = dir_ / "out/Docs2.zip";
  ASSERT_EQ(archive_command("list " + ShellQuote(second), &out), 0) << out;
  EXPECT_NE(out.find("deflate+ZipCrypto"), std::string::npos) << out;

  for (const std::string& archive : {first, second}) {
    EXPECT_EQ(archive_command("test " + ShellQuote(archive) + " --password secret", &out), 0) << out;
    EXPECT_EQ(archive_command("test " + ShellQuote(archive) + " --password nope", &out), 1) << out;
    EXPECT_NE(out.find("a.txt: wrong password"), std::string::npos) << out;
    const std::string dest = archive + ".out";
    ASSERT_EQ(
        archive_command("extract " + ShellQuote(archive) + " --password secret --no-folders --dest " + ShellQuote(dest),
                        &out),
        0)
        << out;
    EXPECT_EQ(ReadFileText(dest + "/a.txt"), std::string(3000, 'a'));
  }
  EXPECT_EQ(Kzb("edit Docs --encryption des", &out), 2);
}

TEST_F(ProjectCliTest, RenameCopyAndDelete) {
  AddDocs();
  ASSERT_EQ(Kzb("add Mail --include " + ShellQuote(source_)), 0);
  test::WriteFileText(DataDir() + "StoreNumber.txt", "[Docs]\nMax=5\nHead=1\nN1=/b/Docs1.zip\n");
  std::string out;

  const std::string before = Ini();
  EXPECT_EQ(Kzb("rename Docs mail", &out), 1);
  EXPECT_NE(out.find("Project Name exists,Rename fail!"), std::string::npos) << out;
  EXPECT_EQ(Kzb("rename Docs DOCS", &out), 0);
  EXPECT_EQ(Kzb("copy Docs '   '", &out), 1);
  EXPECT_NE(out.find("Please enter project name"), std::string::npos) << out;
  EXPECT_EQ(Ini(), before);

  ASSERT_EQ(Kzb("rename Docs Archive", &out), 0) << out;
  platform::IniFile ini = IniFile();
  EXPECT_FALSE(ini.SectionExists("Docs"));
  EXPECT_EQ(ini.ReadString("Archive", "Filename prefix", ""), "Docs");
  EXPECT_EQ(ReadFileText(DataDir() + "StoreNumber.txt"), "[Archive]\nMax=5\nHead=1\nN1=/b/Docs1.zip\n");
  // The password was stored again under the new name and still reads back.
  ASSERT_EQ(Kzb("show Archive", &out), 0);
  EXPECT_NE(out.find("Password: (set)\n"), std::string::npos) << out;

  ASSERT_EQ(Kzb("copy Archive 'Copy of Archive'", &out), 0) << out;
  EXPECT_EQ(ini.ReadString("Copy of Archive", "Filename prefix", ""), "Docs");
  EXPECT_EQ(ini.ReadString("Common", "Project Count", ""), "3");

  // Delete asks; without a terminal and without --yes it refuses.
  const std::string before_delete = Ini();
  EXPECT_EQ(Kzb("delete Mail", &out), 1);
  EXPECT_NE(out.find("Do you want to delete 'Mail' project?"), std::string::npos) << out;
  EXPECT_EQ(Ini(), before_delete);
  ASSERT_EQ(Kzb("delete Mail --yes", &out), 0) << out;
  EXPECT_FALSE(ini.SectionExists("Mail"));
  EXPECT_EQ(ini.ReadString("Common", "Project Count", ""), "2");
  ASSERT_EQ(Kzb("projects", &out), 0);
  EXPECT_EQ(out.find("Mail"), std::string::npos) << out;
}

TEST_F(ProjectCliTest, ChangingCommandsRefuseWhileTheWindowRuns) {
  AddDocs();
  const std::string before = Ini();
  platform::FileLock window(app::WindowLockPath(DataDir()));
  ASSERT_TRUE(window.Held());
  for (const std::string args : {"add Mail --include x", "edit Docs --level 1", "rename Docs New", "copy Docs New",
                                 "delete Docs --yes", "log --clear"}) {
    std::string out;
    EXPECT_EQ(Kzb(args, &out), 1) << args;
    EXPECT_NE(out.find("window is running"), std::string::npos) << out;
  }
  EXPECT_EQ(Ini(), before);
  // Reading works.
  EXPECT_EQ(Kzb("projects"), 0);
  EXPECT_EQ(Kzb("show Docs"), 0);
  EXPECT_EQ(Kzb("log"), 0);
}

TEST_F(ProjectCliTest, LogNewestFirstAndClear) {
  EXPECT_TRUE(platform::ForceDirectories(DataDir()));
  test::WriteFileText(
      DataDir() + "log.txt",
      "[Common]\nLog Total=2\n"
      "[Log1]\nDate=2024-03-01 10:00:00\nOperate=Backup\nStatus=Succeeds\nProject=Docs\nInformation=a\n"
      "[Log2]\nDate=2024-03-02 10:00:00\nOperate=Backup\nStatus=Interrupt\nProject=Docs\nInformation=b\n");
  std::string out;
  ASSERT_EQ(Kzb("log", &out), 0);
  EXPECT_EQ(out,
            "2024-03-02 10:00:00\tBackup\tInterrupt\tDocs\tb\n"
            "2024-03-01 10:00:00\tBackup\tSucceeds\tDocs\ta\n");
  ASSERT_EQ(Kzb("log --clear", &out), 0);
  ASSERT_EQ(Kzb("log", &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(platform::IniFile(DataDir() + "log.txt").ReadInteger("Common", "Log Total", -1), 0);
}

TEST_F(ProjectCliTest, EnvironmentVariableNamesTheDataFolder) {
  std::string out;
  std::string env_dir = dir_ / "from-env/";
  EXPECT_TRUE(platform::ForceDirectories(env_dir));
  int status = test::RunCommand(
      "KZB_DATA_DIR=" + ShellQuote(env_dir) + " " + ShellQuote(test::CliPath()) + " add Docs --include /x </dev/null",
      &out);
  ASSERT_EQ(status, 0) << out;
  EXPECT_TRUE(platform::IniFile(env_dir + "project.ini").SectionExists("Docs"));
}

#endif  // _WIN32

}  // namespace
}  // namespace kzb
