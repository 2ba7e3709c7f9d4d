#include "app/project/project_store.h"

#include <gtest/gtest.h>

#include "app/project/project_password.h"
#include "platform/path.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

using platform::DateTime;
using test::ReadFileText;
using test::WriteFileText;

class ProjectStoreTest : public ::testing::Test {
 protected:
  ProjectStoreTest() : clock_(DateTime::ParseDateTime("2024-03-01 18:05:09")), panel_(settings_, clock_) {}

  std::string IniPath() const { return dir_ / "project.ini"; }
  platform::IniFile Ini() const { return platform::IniFile(IniPath()); }
  void Load(const std::string& name) { LoadProject(Ini(), name, panel_); }
  void Save(const std::string& name) {
    platform::IniFile ini = Ini();
    WriteProjectSection(ini, name, panel_.MutableFields());
  }
  // A project that passes every check.
  void MakeValid(const std::string& prefix = "Docs") {
    panel_.SetSavePath("/backup/");
    panel_.SetPrefix(prefix);
    panel_.MutableFields().include_entries = {"/data/*.doc"};
  }
  const ProjectFields& F() const { return panel_.Fields(); }

  test::ScratchDir dir_;
  AppSettings settings_;
  ManualClock clock_;
  ProjectPanel panel_;
};

TEST_F(ProjectStoreTest, SectionWithoutKeysLoadsDefaults) {
  WriteFileText(IniPath(), "[Docs]\n");
  Load("Docs");
  EXPECT_EQ(F().prefix, "");
  EXPECT_EQ(F().suffix_kind, SuffixKind::kNumber);
  EXPECT_EQ(F().number_step, 1);
  EXPECT_EQ(F().next_number, 2);
  EXPECT_EQ(F().save_path, "c:\\");
  EXPECT_EQ(F().archive_name, test::DefaultArchiveFolder() + "2.zip");
  EXPECT_TRUE(F().include_entries.empty());
  EXPECT_TRUE(F().exclude_entries.empty());
  EXPECT_TRUE(F().recurse);
  EXPECT_TRUE(F().use_password);
  EXPECT_EQ(F().password, "");
  EXPECT_EQ(F().confirm_password, "");
  EXPECT_EQ(F().encryption, EncryptionKind::kZipCrypto);
  EXPECT_TRUE(F().store_paths);
  EXPECT_TRUE(F().use_comment);
  EXPECT_EQ(F().comment, "");
  EXPECT_EQ(F().schedule_kind, ScheduleKind::kNone);
  EXPECT_EQ(F().pack_level, 6);
  EXPECT_EQ(F().keep_count, 50);
  EXPECT_FALSE(F().newer_than);
  EXPECT_FALSE(F().threshold_follows_last_backup);
  EXPECT_EQ(F().Threshold().FormatDateTime(), "2024-03-01 18:05:09");
}

TEST_F(ProjectStoreTest, MissingFileLoadsDefaultsAndFirstSaveCreatesIt) {
  Load("Docs");
  EXPECT_EQ(F().next_number, 2);
  MakeValid();
  Save("Docs");
  EXPECT_TRUE(platform::IniFile(IniPath()).SectionExists("Docs"));
}

TEST_F(ProjectStoreTest, SaveWritesEveryKeyInOrder) {
  MakeValid();
  ProjectFields& f = panel_.MutableFields();
  f.exclude_entries = {"/data/tmp/*.*"};
  f.use_password = true;
  f.password = f.confirm_password = " pw ";
  f.encryption = EncryptionKind::kAes256;
  f.comment = "  two leading blanks";
  panel_.SetScheduleKind(ScheduleKind::kDailyOnce);
  f.schedule_time = DateTime::FromTime(8, 0, 0);
  f.pack_level = 9;
  f.keep_count = 3;
  f.newer_than = true;
  f.SetThreshold(DateTime::ParseDateTime("2024-03-01 12:00:00"));
  panel_.SetNumberStep(3);
  panel_.SetNextNumber(7);
  Save("Docs");
  EXPECT_EQ(ReadFileText(IniPath()),
            "[Docs]\n"
            "Filename prefix=Docs\n"
            "Suffix=2\n"
            "Increase Value=3\n"
            "Value=4\n"
            "Save Path=/backup/\n"
            "Backup Directory Count=1\n"
            "Backup0=/data/*.doc\n"
            "No Backup Directory Count=1\n"
            "NoBackup0=/data/tmp/*.*\n"
            "Whether include Subdirectory=1\n"
            "Whether password Project=1\n"
            "Password=" +
                EncodeProjectPassword("pw", "Docs") +
                "\n"
                "Encryption=1\n"
                "Whether store path in Zip=1\n"
                "Whether store comment in Zip=1\n"
                "Comment=\"  two leading blanks\"\n"  // quoted: blanks around a value are not read
                "BackupMode=0\n"
                "StartTime_or_Increase=08:00:00\n"
                "PackLevel=9\n"
                "Store Number=3\n"
                "isUseNew=1\n"
                "isUseToday=0\n"
                "NewDateTime=2024-03-01 12:00:00\n");

  // And it loads back as it was shown.
  ProjectPanel other(settings_, clock_);
  LoadProject(Ini(), "Docs", other);
  EXPECT_EQ(other.Fields().next_number, 7);
  EXPECT_EQ(other.Fields().number_step, 3);
  EXPECT_EQ(other.Fields().password, "pw");
  EXPECT_EQ(other.Fields().encryption, EncryptionKind::kAes256);
  EXPECT_EQ(other.Fields().comment, "  two leading blanks");
  EXPECT_EQ(other.Fields().schedule_time.FormatTime(), "08:00:00");
  EXPECT_EQ(other.Fields().archive_name, "/backup/Docs7.zip");
}

// Projects saved before the cipher could be chosen have no "Encryption" key and keep the traditional
// cipher; a code this version does not know never falls back to it.
TEST_F(ProjectStoreTest, EncryptionCodes) {
  struct Case {
    const char* line;
    EncryptionKind expected;
  };
  for (const Case& c :
       {Case{"", EncryptionKind::kZipCrypto}, Case{"Encryption=0\n", EncryptionKind::kZipCrypto},
        Case{"Encryption=1\n", EncryptionKind::kAes256}, Case{"encryption=1\n", EncryptionKind::kAes256},
        Case{"Encryption=7\n", EncryptionKind::kAes256}, Case{"Encryption=x\n", EncryptionKind::kZipCrypto}}) {
    SCOPED_TRACE(c.line);
    WriteFileText(IniPath(), std::string("[Docs]\nPassword=") + EncodeProjectPassword("pw", "Docs") + "\n" + c.line);
    panel_.MutableFields().encryption =
        c.expected == EncryptionKind::kAes256 ? EncryptionKind::kZipCrypto : EncryptionKind::kAes256;
    Load("Docs");
    EXPECT_EQ(F().encryption, c.expected);
  }
}

TEST_F(ProjectStoreTest, EmptyPasswordWritesNoKeyAndOlderPasswordSurvives) {
  WriteFileText(IniPath(), "[Docs]\nPassword=" + EncodeProjectPassword("old", "Docs") + "\n");
  MakeValid();
  ProjectFields& f = panel_.MutableFields();
  f.use_password = true;
  f.password = f.confirm_password = "   ";
  Save("Docs");
  EXPECT_EQ(F().password, "");
  EXPECT_EQ(F().confirm_password, "");
  std::string text = ReadFileText(IniPath());
  EXPECT_NE(text.find("Whether password Project=1\n"), std::string::npos);
  EXPECT_NE(text.find("Password=" + EncodeProjectPassword("old", "Docs")), std::string::npos);
  Load("Docs");
  EXPECT_EQ(F().password, "old");
  EXPECT_EQ(F().confirm_password, "old");
}

TEST_F(ProjectStoreTest, CommentAndPasswordOffLeaveTheirKeysAndClearTheFields) {
  WriteFileText(IniPath(), "[Docs]\nComment=kept\nPassword=#1\n");
  MakeValid();
  ProjectFields& f = panel_.MutableFields();
  f.use_comment = false;
  f.comment = "typed";
  f.use_password = false;
  f.password = f.confirm_password = "typed";
  Save("Docs");
  EXPECT_EQ(F().comment, "");
  EXPECT_EQ(F().password, "");
  std::string text = ReadFileText(IniPath());
  EXPECT_NE(text.find("Comment=kept\n"), std::string::npos);
  EXPECT_NE(text.find("Password=#1\n"), std::string::npos);
  // With use password off nothing is decoded on load.
  Load("Docs");
  EXPECT_EQ(F().password, "");
  EXPECT_EQ(F().comment, "kept");
}

TEST_F(ProjectStoreTest, SamePasswordStoredDifferentlyForAAndAB) {
  for (const char* name : {"A", "AB"}) {
    MakeValid();
    panel_.MutableFields().password = panel_.MutableFields().confirm_password = "same";
    Save(name);
  }
  platform::IniFile ini = Ini();
  EXPECT_NE(ini.ReadString("A", "Password", ""), ini.ReadString("AB", "Password", ""));
  EXPECT_EQ(ini.ReadString("A", "Password", ""), EncodeProjectPassword("same", "A"));
}

TEST_F(ProjectStoreTest, StoredPasswordWithoutHashIsRead) {
  // Scrambled with the key "A1": "xy" gives "9H"; "ab" gives " S", whose blank needs the quotes.
  WriteFileText(IniPath(), "[A]\nPassword=9H\n");
  Load("A");
  EXPECT_EQ(F().password, "xy");
  WriteFileText(IniPath(), "[A]\nPassword=\" S\"\n");
  Load("A");
  EXPECT_EQ(F().password, "ab");
}

// A file written by hand: keys in other letter cases, keys missing, a hexadecimal value, entries beyond
// the counts and empty entries.
TEST_F(ProjectStoreTest, HandWrittenSectionLoadsWithDefaultsAndSaveTouchesOnlyItsKeys) {
  const std::string original =
      "; my projects\n"
      "[common]\n"
      "Project Count=1\n"
      "Count0=docs\n"
      "[DOCS]\n"
      "filename PREFIX=Docs\n"
      "Increase value=0x2\n"
      "VALUE=5\n"
      "backup directory count=3\n"
      "Backup0=/a/*.txt\n"
      "Backup1=\n"
      "BACKUP2=/c/file.txt\n"
      "Backup3=/beyond/the/count\n"
      "Backup01=/leading/zero\n"
      "Unknown Key=stays\n"
      "packlevel=abc\n"
      "BackupMode=1\n"
      "StartTime_or_Increase=x\n";
  WriteFileText(IniPath(), original);
  Load("Docs");
  EXPECT_EQ(F().prefix, "Docs");
  EXPECT_EQ(F().number_step, 2);
  EXPECT_EQ(F().next_number, 7);
  EXPECT_EQ(F().include_entries, (std::vector<std::string>{"/a/*.txt", "/c/file.txt"}));
  EXPECT_EQ(F().pack_level, 6);
  EXPECT_EQ(F().schedule_kind, ScheduleKind::kEveryMinutes);
  EXPECT_EQ(F().schedule_minutes, 5);
  EXPECT_EQ(F().keep_count, 50);

  panel_.MutableFields().SetThreshold(DateTime::ParseDateTime("2024-01-02 03:04:05"));
  Save("Docs");
  const std::string saved = ReadFileText(IniPath());
  // Lines outside the written keys are untouched, the found keys keep their spelling and place, and the
  // count written is the number of entries actually shown.
  EXPECT_EQ(saved,
            "; my projects\n"
            "[common]\n"
            "Project Count=1\n"
            "Count0=docs\n"
            "[DOCS]\n"
            "filename PREFIX=Docs\n"
            "Increase value=2\n"
            "VALUE=5\n"
            "backup directory count=2\n"
            "Backup0=/a/*.txt\n"
            "Backup1=/c/file.txt\n"
            "BACKUP2=/c/file.txt\n"
            "Backup3=/beyond/the/count\n"
            "Backup01=/leading/zero\n"
            "Unknown Key=stays\n"
            "packlevel=6\n"
            "BackupMode=1\n"
            "StartTime_or_Increase=5\n"
            "Suffix=2\n"
            "Save Path=" +
                test::DefaultArchiveFolder() +
                "\n"
                "No Backup Directory Count=0\n"
                "Whether include Subdirectory=1\n"
                "Whether password Project=1\n"
                "Encryption=0\n"
                "Whether store path in Zip=1\n"
                "Whether store comment in Zip=1\n"
                "Store Number=50\n"
                "isUseNew=0\n"
                "isUseToday=0\n"
                "NewDateTime=2024-01-02 03:04:05\n");
}

TEST_F(ProjectStoreTest, NumberFieldsAreHeldInRangeAndOnlyReadForKindNumber) {
  WriteFileText(IniPath(), "[Big]\nIncrease Value=5000\nValue=999\n[Date]\nSuffix=1\nIncrease Value=9\nValue=9\n");
  Load("Big");
  EXPECT_EQ(F().number_step, 1000);
  EXPECT_EQ(F().next_number, 1000);
  panel_.SetNextNumber(3);
  panel_.SetNumberStep(4);
  Load("Date");
  EXPECT_EQ(F().suffix_kind, SuffixKind::kDate);
  EXPECT_EQ(F().next_number, 3);
  EXPECT_EQ(F().number_step, 4);
}

TEST_F(ProjectStoreTest, UnknownSuffixAndScheduleKindsLeaveTheSelection) {
  WriteFileText(IniPath(), "[Odd]\nSuffix=7\nBackupMode=9\n");
  panel_.SetSuffixKind(SuffixKind::kDate);
  panel_.SetScheduleKind(ScheduleKind::kEveryMinutes);
  Load("Odd");
  EXPECT_EQ(F().suffix_kind, SuffixKind::kDate);
  EXPECT_EQ(F().schedule_kind, ScheduleKind::kEveryMinutes);
}

TEST_F(ProjectStoreTest, ScheduleValuesFallBack) {
  WriteFileText(IniPath(),
                "[Daily]\nBackupMode=0\nStartTime_or_Increase=25:99\n"
                "[Weekly]\nBackupMode=2\nStartTime_or_Increase=monday\n"
                "[NoDay]\nBackupMode=2\nStartTime_or_Increase=Funday\n");
  Load("Daily");
  EXPECT_EQ(F().schedule_kind, ScheduleKind::kDailyOnce);
  EXPECT_EQ(F().schedule_time.FormatTime(), "12:00:00");
  Load("Weekly");
  EXPECT_EQ(F().schedule_kind, ScheduleKind::kWeekly);
  EXPECT_EQ(F().schedule_weekday, 1);  // the editor's list finds "Monday" without regard to case
  Load("NoDay");
  EXPECT_FALSE(F().schedule_weekday.has_value());
}

TEST_F(ProjectStoreTest, BadThresholdEndsTheLoadAfterTheFieldsBeforeIt) {
  WriteFileText(IniPath(), "[Docs]\nFilename prefix=Docs\nPackLevel=2\nisUseNew=1\nNewDateTime=2024-13-01 10:00:00\n");
  panel_.MutableFields().SetThreshold(DateTime::ParseDateTime("2000-01-01 00:00:00"));
  EXPECT_THROW(Load("Docs"), platform::EConvertError);
  EXPECT_EQ(F().prefix, "Docs");
  EXPECT_EQ(F().pack_level, 2);
  EXPECT_TRUE(F().newer_than);
  EXPECT_EQ(F().Threshold().FormatDateTime(), "2000-01-01 00:00:00");
}

TEST_F(ProjectStoreTest, CheckProjectReportsTheFirstFailedCheck) {
  ProjectFields f;
  EXPECT_EQ(CheckProject(f), "Please enter the backup filename");
  f.archive_name = " x.zip ";
  EXPECT_EQ(CheckProject(f), "Please enter the prefix of backup filename");
  f.prefix = "Docs";
  f.use_password = true;
  f.password = " Pw ";
  f.confirm_password = "pw";
  EXPECT_EQ(CheckProject(f), "Confirm password is not matching");
  f.confirm_password = "Pw  ";
  EXPECT_EQ(CheckProject(f), "Please select files to backup");
  f.include_entries = {"/x"};
  EXPECT_EQ(CheckProject(f), std::nullopt);
  // Without use password the fields are not compared; empty passwords match.
  f.confirm_password = "other";
  f.use_password = false;
  EXPECT_EQ(CheckProject(f), std::nullopt);
  f.use_password = true;
  f.password = f.confirm_password = "";
  EXPECT_EQ(CheckProject(f), std::nullopt);
}

}  // namespace
}  // namespace kzb::app
