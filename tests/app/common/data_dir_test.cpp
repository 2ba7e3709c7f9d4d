#include "app/common/data_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "platform/path.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

// Restores KZB_DATA_DIR when the test ends.
class DataDirTest : public ::testing::Test {
 protected:
  DataDirTest() {
    const char* value = std::getenv(kDataDirEnvironmentVariable);
    if (value != nullptr) saved_ = value;
    kzb::test::UnsetEnv(kDataDirEnvironmentVariable);
  }
  ~DataDirTest() override {
    if (saved_) {
      kzb::test::SetEnv(kDataDirEnvironmentVariable, saved_->c_str());
    } else {
      kzb::test::UnsetEnv(kDataDirEnvironmentVariable);
    }
  }
  std::optional<std::string> saved_;
};

TEST_F(DataDirTest, OverrideWinsThenEnvironmentThenProgramFolder) {
  test::ScratchDir dir;
  kzb::test::SetEnv(kDataDirEnvironmentVariable, (dir / "env").c_str());
  EXPECT_EQ(ResolveDataDir(dir / "given"), dir / "given/");
  EXPECT_EQ(ResolveDataDir(""), dir / "env/");
  kzb::test::SetEnv(kDataDirEnvironmentVariable, "");
  std::string fallback = ResolveDataDir("");
  EXPECT_TRUE(fallback == ProgramDir() || fallback == platform::UserConfigDir()) << fallback;
}

TEST_F(DataDirTest, RelativeOverrideIsMadeAbsolute) {
  EXPECT_EQ(ResolveDataDir(test::Native("some/dir/../data")),
            platform::IncludeTrailingSeparator(platform::CurrentDir()) + test::Native("some/data/"));
}

// An installed program's folder is no place for data, even for root, who may write there.
TEST(SystemProgramDir, TheSystemsProgramFoldersOnly) {
#ifdef _WIN32
  EXPECT_FALSE(IsSystemProgramDir("C:\\Program Files\\Kestrova\\"));
#else
  for (const char* dir : {"/usr/bin/", "/usr/bin", "/usr/local/bin/", "/bin/", "/usr/sbin/"}) {
    EXPECT_TRUE(IsSystemProgramDir(dir)) << dir;
  }
  for (const char* dir : {"/opt/kzb/", "/home/alice/kzb/", "/usr/bin/kzb/", "/work/build/bin/"}) {
    EXPECT_FALSE(IsSystemProgramDir(dir)) << dir;
  }
#endif
}

TEST(WindowLockPath, LiesInTheDataFolder) {
  using test::Native;
  EXPECT_EQ(WindowLockPath(Native("/d")), Native("/d/.kzb-window.lock"));
  EXPECT_EQ(WindowLockPath(Native("/d/")), Native("/d/.kzb-window.lock"));
  EXPECT_NE(BackupRunLockPath(Native("/d/")), WindowLockPath(Native("/d/")));
}

}  // namespace
}  // namespace kzb::app
