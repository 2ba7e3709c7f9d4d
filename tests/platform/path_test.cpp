#include "platform/path.h"

#include <gtest/gtest.h>
#include <cstdlib>
#include <string>
#include "support/test_support.h"

namespace kzb::platform {
namespace {

TEST(PathTest, TrailingSeparator) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: \"/\" paths and XDG folders (Windows paths have their own test)";
#else
  EXPECT_EQ(IncludeTrailingSeparator("dir"), "dir/");
  EXPECT_EQ(IncludeTrailingSeparator("dir/"), "dir/");
  EXPECT_EQ(IncludeTrailingSeparator(""), "");
  EXPECT_EQ(ExcludeTrailingSeparator("dir/"), "dir");
  EXPECT_EQ(ExcludeTrailingSeparator("dir//"), "dir");
  EXPECT_EQ(ExcludeTrailingSeparator("/"), "/");
  EXPECT_EQ(ExcludeTrailingSeparator("dir"), "dir");
#endif
}

TEST(PathTest, PartsOfAPath) {
  struct Case {
    const char* path;
    const char* folder;
    const char* name;
    const char* ext;
  };
  const Case cases[] = {
      {"a/b/c.txt", "a/b/", "c.txt", ".txt"},
      {"c.txt", "", "c.txt", ".txt"},
      {"a/b.c.txt", "a/", "b.c.txt", ".txt"},
      {"a/b", "a/", "b", ""},
      {"a.b/c", "a.b/", "c", ""},
      {"/root.zip", "/", "root.zip", ".zip"},
      {"dir/", "dir/", "", ""},
      {".hidden", "", ".hidden", ".hidden"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ExtractFilePath(c.path), c.folder);
    EXPECT_EQ(ExtractFileName(c.path), c.name);
    EXPECT_EQ(ExtractFileExt(c.path), c.ext);
  }
  EXPECT_EQ(ExtractFileDrive("/a/b"), "");
}

TEST(PathTest, ChangeFileExt) {
  EXPECT_EQ(ChangeFileExt("a/b.zip", ".zfc"), "a/b.zfc");
  EXPECT_EQ(ChangeFileExt("a.d/b", ".zfc"), "a.d/b.zfc");
  EXPECT_EQ(ChangeFileExt("a/b.tar.gz", ""), "a/b.tar");
}

TEST(PathTest, ExpandFileNameFoldsDotsAndSeparators) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: \"/\" paths and XDG folders (Windows paths have their own test)";
#else
  EXPECT_EQ(ExpandFileName("/a/./b/../c//d"), "/a/c/d");
  EXPECT_EQ(ExpandFileName("/a/b/"), "/a/b/");
  EXPECT_EQ(ExpandFileName("/../.."), "/");
  EXPECT_EQ(ExpandFileName("/"), "/");
  const std::string cwd = CurrentDir();
  EXPECT_EQ(ExpandFileName("x/y"), IncludeTrailingSeparator(ExpandFileName(cwd)) + "x/y");
  EXPECT_TRUE(IsAbsolutePath("/x"));
  EXPECT_FALSE(IsAbsolutePath("x"));
  EXPECT_FALSE(IsAbsolutePath(""));
#endif
}

TEST(PathTest, WellKnownFolders) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: \"/\" paths and XDG folders (Windows paths have their own test)";
#else
  EXPECT_EQ(HomeDir().back(), '/');
  EXPECT_EQ(TempDir().back(), '/');
  const std::string exe = ExecutableDir();
  EXPECT_EQ(exe.back(), '/');
  EXPECT_TRUE(IsAbsolutePath(exe));

  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  kzb::test::SetEnv("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ(UserConfigDir(), "/cfg/kestrova-zip-backup/");
  kzb::test::SetEnv("XDG_CONFIG_HOME", "relative");  // ignored, as the XDG rules say
  EXPECT_EQ(UserConfigDir(), HomeDir() + ".config/kestrova-zip-backup/");
  if (old) {
    kzb::test::SetEnv("XDG_CONFIG_HOME", saved.c_str());
  } else {
    kzb::test::UnsetEnv("XDG_CONFIG_HOME");
  }
#endif
}

TEST(PathTest, SeparatorConversionIsIdentityHere) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: \"/\" paths and XDG folders (Windows paths have their own test)";
#else
  EXPECT_EQ(ToForwardSlashes("a/b"), "a/b");
  EXPECT_EQ(ToNativeSeparators("a/b"), "a/b");
  EXPECT_TRUE(IsPathSeparator('/'));
#endif
}

}  // namespace
}  // namespace kzb::platform
