#include "app/backup/retention.h"

#include <gtest/gtest.h>

#include "platform/file_system.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

using test::ReadFileText;
using test::WriteFileText;

class RetentionTest : public ::testing::Test {
 protected:
  RetentionTest() {
    project_.name = "Docs";
    project_.suffix_kind = SuffixKind::kNumber;
    project_.keep_count = 3;
    project_.destination = dir_ / "out/";
    project_.prefix = "Docs";
  }
  std::string StorePath() const { return dir_ / "StoreNumber.txt"; }
  platform::IniFile Store() const { return platform::IniFile(StorePath()); }
  // Writes an archive file of the project and returns its path.
  std::string Archive(const std::string& suffix) {
    std::string path = dir_ / ("out/Docs" + suffix + ".zip");
    WriteFileText(path, "zip");
    return path;
  }
  std::vector<std::string> Backup(const std::string& path) {
    platform::IniFile store = Store();
    return ApplyRetention(store, project_, path);
  }
  std::string Slot(int k) const { return Store().ReadString("Docs", "N" + std::to_string(k), ""); }

  test::ScratchDir dir_;
  RetentionProject project_;
};

TEST_F(RetentionTest, FirstBackupCreatesTheSection) {
  std::string a = Archive("A");
  Backup(a);
  EXPECT_EQ(ReadFileText(StorePath()), "[Docs]\nMax=3\nHead=1\nN1=" + a + "\n");
}

TEST_F(RetentionTest, FourthBackupWithKeepThreeDeletesTheFirst) {
  std::string a = Archive("A"), b = Archive("B"), c = Archive("C"), d = Archive("D");
  EXPECT_TRUE(Backup(a).empty());
  EXPECT_TRUE(Backup(b).empty());
  EXPECT_TRUE(Backup(c).empty());
  EXPECT_EQ(Backup(d), std::vector<std::string>{a});
  EXPECT_FALSE(platform::FileExists(a));
  EXPECT_TRUE(platform::FileExists(b));
  EXPECT_EQ(ReadFileText(StorePath()), "[Docs]\nMax=3\nHead=1\nN1=" + d + "\nN2=" + b + "\nN3=" + c + "\n");
}

TEST_F(RetentionTest, LoweredKeepCountCompactsTheRingFirst) {
  std::vector<std::string> old;
  for (const char* s : {"A", "B", "C", "D", "E"}) old.push_back(Archive(s));
  project_.keep_count = 5;
  for (const auto& path : old) Backup(path);
  ASSERT_EQ(Store().ReadInteger("Docs", "Head", 0), 5);

  project_.keep_count = 3;
  std::string f = Archive("F");
  EXPECT_EQ(Backup(f), (std::vector<std::string>{old[0], old[1], old[2]}));
  EXPECT_EQ(Store().ReadInteger("Docs", "Max", 0), 3);
  EXPECT_EQ(Store().ReadInteger("Docs", "Head", 0), 1);
  EXPECT_EQ(Slot(1), f);
  EXPECT_EQ(Slot(2), old[3]);
  EXPECT_EQ(Slot(3), old[4]);
  EXPECT_TRUE(platform::FileExists(old[3]));
  EXPECT_TRUE(platform::FileExists(old[4]));
  // Slots above the new size stay in the section and are ignored.
  EXPECT_EQ(Slot(5), old[4]);
}

TEST_F(RetentionTest, CompactionCopiesMarkersOfNeverWrittenSlots) {
  std::string a = Archive("A"), b = Archive("B");
  project_.keep_count = 5;
  Backup(a);
  Backup(b);  // Head 2; slots 3 to 5 never written
  project_.keep_count = 2;
  std::string c = Archive("C");
  Backup(c);
  // Ring oldest first: NoFile3, NoFile4, NoFile5, A, B -> keep A, B; then C reuses A's slot.
  EXPECT_FALSE(platform::FileExists(a));
  EXPECT_TRUE(platform::FileExists(b));
  EXPECT_EQ(Store().ReadInteger("Docs", "Head", 0), 1);
  EXPECT_EQ(Slot(1), c);
  EXPECT_EQ(Slot(2), b);
}

TEST_F(RetentionTest, RaisedKeepCountGrowsTheRingAsHeadPassesTheNewSlots) {
  std::string a = Archive("A"), b = Archive("B"), c = Archive("C"), d = Archive("D");
  for (const auto& path : {a, b, c, d}) Backup(path);  // Head 1: N1 = D, N2 = B, N3 = C
  project_.keep_count = 5;
  std::string e = Archive("E"), f = Archive("F"), g = Archive("G"), h = Archive("H");
  EXPECT_EQ(Backup(e), std::vector<std::string>{b});
  EXPECT_EQ(Backup(f), std::vector<std::string>{c});
  EXPECT_TRUE(Backup(g).empty());
  EXPECT_TRUE(Backup(h).empty());
  EXPECT_EQ(Store().ReadInteger("Docs", "Head", 0), 5);
  for (const auto& kept : {d, e, f, g, h}) EXPECT_TRUE(platform::FileExists(kept)) << kept;
}

TEST_F(RetentionTest, SuffixNoneNeverTouchesTheFile) {
  project_.suffix_kind = SuffixKind::kNone;
  Backup(Archive(""));
  EXPECT_FALSE(platform::FileExists(StorePath()));
}

TEST_F(RetentionTest, TheArchiveJustWrittenSurvivesWhenTheNumberStaysAtItsMaximum) {
  project_.keep_count = 2;
  std::string top = Archive("1000");
  for (int i = 0; i < 4; ++i) Backup(top);
  EXPECT_TRUE(platform::FileExists(top));
}

// A stale or hand-edited StoreNumber.txt never makes retention delete a file that is not one of the
// project's archives.
TEST_F(RetentionTest, SlotsNamingOtherFilesAreNotDeleted) {
  std::string outside = dir_ / "elsewhere/Docs1.zip";
  std::string other_prefix = dir_ / "out/Mail1.zip";
  std::string not_zip = dir_ / "out/Docs1.txt";
  std::string sub_folder = dir_ / "out/deeper/Docs1.zip";
  std::string dotdot = dir_ / "out/../Docs1.zip";
  std::string important = dir_ / "important.doc";
  for (const auto& path : {outside, other_prefix, not_zip, sub_folder, important}) WriteFileText(path, "keep me");
  WriteFileText(dir_ / "Docs1.zip", "keep me");
  const std::string original = "[Docs]\nMax=7\nHead=7\nN1=" + outside + "\nN2=" + other_prefix + "\nN3=" + not_zip +
                               "\nN4=" + sub_folder + "\nN5=" + dotdot + "\nN6=" + important +
                               "\nN7=relative/Docs1.zip\n";
  WriteFileText(StorePath(), original);
  project_.keep_count = 2;  // compaction deletes five, the reused slot a sixth
  std::string a = Archive("A");
  EXPECT_TRUE(Backup(a).empty());
  for (const auto& path : {outside, other_prefix, not_zip, sub_folder, important, dir_ / "Docs1.zip"}) {
    EXPECT_TRUE(platform::FileExists(path)) << path;
  }
  EXPECT_TRUE(platform::FileExists(a));
}

TEST_F(RetentionTest, ProjectArchiveCheck) {
  std::string mine = Archive("7");
  EXPECT_TRUE(IsProjectArchive(mine, project_));
  EXPECT_FALSE(IsProjectArchive(dir_ / "out/Docs8.zip", project_));  // does not exist
  EXPECT_FALSE(IsProjectArchive(dir_ / "out/", project_));
  project_.prefix = "sub/Docs";
  std::string nested = dir_ / "out/sub/Docs1.zip";
  WriteFileText(nested, "zip");
  EXPECT_TRUE(IsProjectArchive(nested, project_));
}

TEST_F(RetentionTest, HandEditedRingValuesDoNotCrash) {
  WriteFileText(StorePath(), "[Docs]\nMax=-4\nHead=-9\n");
  std::string a = Archive("A");
  Backup(a);
  EXPECT_EQ(Store().ReadInteger("Docs", "Head", 0), 1);
  WriteFileText(StorePath(), "[Docs]\nMax=2000000000\nHead=3\n");
  Backup(a);
  EXPECT_EQ(Store().ReadInteger("Docs", "Max", 0), 3);
  EXPECT_TRUE(platform::FileExists(a));
}

TEST_F(RetentionTest, MarkerRecognition) {
  EXPECT_TRUE(IsRetentionMarker("NoFile7"));
  EXPECT_TRUE(IsRetentionMarker("NoFile123"));
  EXPECT_FALSE(IsRetentionMarker("NoFile"));
  EXPECT_FALSE(IsRetentionMarker("NoFile7.zip"));
  EXPECT_FALSE(IsRetentionMarker("nofile7"));
}

TEST_F(RetentionTest, RenameMovesTheRingAndDeleteErasesIt) {
  WriteFileText(StorePath(),
                "[Docs]\nMax=5\nHead=3\nN1=/a/1.zip\nN2=/a/2.zip\nN3=/a/3.zip\nN4=\nN9=/beyond\n[Other]\nMax=2\n");
  platform::IniFile store = Store();
  MoveRetentionSection(store, "Docs", "Mail");
  EXPECT_EQ(ReadFileText(StorePath()),
            "[Other]\nMax=2\n[Mail]\nMax=5\nHead=3\nN1=/a/1.zip\nN2=/a/2.zip\nN3=/a/3.zip\n");
  EraseRetentionSection(store, "Mail");
  EXPECT_EQ(ReadFileText(StorePath()), "[Other]\nMax=2\n");
}

}  // namespace
}  // namespace kzb::app
