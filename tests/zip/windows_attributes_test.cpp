// What the engine does with the Windows file system's own fields: short (8.3) stored names, the archive
// bit cleared after a backup, and the DOS attributes given back on extraction.
#include <gtest/gtest.h>

#include <string>

#include "platform/file_system.h"
#include "platform/path.h"
#include "support/test_support.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::zip {
namespace {

#ifndef _WIN32

TEST(WindowsAttributesTest, RunsOnWindowsOnly) {
  GTEST_SKIP() << "Windows only: short names, the archive bit and hidden or system attributes";
}

#else

class WindowsAttributesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src_ = scratch_ / "A long folder name\\";
    test::WriteFileText(src_ + "a long file name.text", "long");
    test::WriteFileText(src_ + "hidden.txt", "hidden");
    ASSERT_TRUE(platform::SetFileAttributes(src_ + "hidden.txt", platform::kFaHidden | platform::kFaArchive));
    zip_name_ = scratch_ / "out.zip";
  }

  int Pack(bool store83, bool reset_archive_bit) {
    TVCLZip zip;
    zip.SetZipName(zip_name_);
    zip.SetRootDir(scratch_.Path());
    zip.SetRelativePaths(true);
    zip.SetStore83Names(store83);
    zip.SetResetArchiveBitOnZip(reset_archive_bit);
    zip.SetFilesList({src_ + "*.*"});
    return zip.Zip();
  }

  std::vector<std::string> StoredNames() {
    TVCLUnZip reader;
    reader.SetZipName(zip_name_);
    reader.ReadZip();
    std::vector<std::string> names;
    for (int i = 0; i < reader.Count(); ++i) names.push_back(reader.EntryInfo(i).FullName());
    return names;
  }

  test::ScratchDir scratch_;
  std::string src_;
  std::string zip_name_;
};

TEST_F(WindowsAttributesTest, Store83NamesStoresTheShortForm) {
  const std::string short_folder =
      platform::ExtractFileName(platform::ExcludeTrailingSeparator(platform::ToShortPath(src_)));
  if (short_folder == "A long folder name") GTEST_SKIP() << "this volume keeps no short names";
  ASSERT_EQ(Pack(true, false), 2);
  const std::string short_file = platform::ExtractFileName(platform::ToShortPath(src_ + "a long file name.text"));
  // A name that is already a valid short name has no alternate one and stays as written.
  EXPECT_EQ(StoredNames(), (std::vector<std::string>{short_folder + "\\" + short_file, short_folder + "\\hidden.txt"}))
      << short_folder << " " << short_file;
  ASSERT_TRUE(platform::DeleteFile(zip_name_));
  ASSERT_EQ(Pack(false, false), 2);
  EXPECT_EQ(StoredNames(),
            (std::vector<std::string>{"A long folder name\\a long file name.text", "A long folder name\\hidden.txt"}));
}

TEST_F(WindowsAttributesTest, ArchiveBitIsClearedOnlyWhenAsked) {
  if (test::RunningUnderWine()) GTEST_SKIP() << "Wine keeps no archive bit: it reports every file as changed";
  ASSERT_EQ(Pack(false, false), 2);
  EXPECT_EQ(platform::GetFileAttributes(src_ + "hidden.txt") & platform::kFaArchive, platform::kFaArchive);
  ASSERT_TRUE(platform::DeleteFile(zip_name_));
  ASSERT_EQ(Pack(false, true), 2);
  EXPECT_EQ(platform::GetFileAttributes(src_ + "hidden.txt") & 0x3F, platform::kFaHidden);
  EXPECT_EQ(platform::GetFileAttributes(src_ + "a long file name.text") & platform::kFaArchive, 0);
}

TEST_F(WindowsAttributesTest, ExtractionGivesBackTheDosAttributes) {
  ASSERT_EQ(Pack(false, false), 2);
  TVCLUnZip reader;
  reader.SetZipName(zip_name_);
  reader.SetDestDir(scratch_ / "x");
  reader.SetDoAll(true);
  reader.SetRecreateDirs(true);
  reader.SetRetainAttributes(true);
  ASSERT_EQ(reader.UnZip(), 2);
  const std::string out = scratch_ / "x\\A long folder name\\";
  EXPECT_EQ(platform::GetFileAttributes(out + "hidden.txt") & platform::kFaHidden, platform::kFaHidden);
  EXPECT_EQ(platform::GetFileAttributes(out + "a long file name.text") & platform::kFaHidden, 0);
  EXPECT_EQ(test::ReadFileText(out + "hidden.txt"), "hidden");
}

#endif

}  // namespace
}  // namespace kzb::zip
