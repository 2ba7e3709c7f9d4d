#include "app/project/archive_naming.h"

#include <gtest/gtest.h>

#include "platform/path.h"
#include "support/test_support.h"

namespace kzb::app {
namespace {

using platform::DateTime;

DateTime March1At180509() {
  return DateTime::ParseDateTime("2024-03-01 18:05:09");
}

struct NameCase {
  const char* folder;
  SuffixKind kind;
  int next_number;
  bool pad;
  int width;
  const char* expected;
};

TEST(BuildArchiveName, ComposesFolderPrefixAndSuffix) {
  const NameCase cases[] = {
      {"/backup", SuffixKind::kNone, 1, false, 2, "/backup/Docs.zip"},
      {"/backup/", SuffixKind::kNumber, 7, false, 2, "/backup/Docs7.zip"},
      {"/backup/", SuffixKind::kNumber, 7, true, 3, "/backup/Docs007.zip"},
      {"/backup/", SuffixKind::kNumber, 123, true, 2, "/backup/Docs123.zip"},
      {"/backup/", SuffixKind::kDate, 7, false, 2, "/backup/Docs03-01_18h05m09s.zip"},
      {"", SuffixKind::kNone, 1, false, 2, "Docs.zip"},
      {"  /backup  ", SuffixKind::kNone, 1, false, 2, "/backup/Docs.zip"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(BuildArchiveName(test::Native(c.folder), "Docs", c.kind, c.next_number, c.pad, c.width, March1At180509()),
              test::Native(c.expected))
        << c.folder << " kind " << static_cast<int>(c.kind);
  }
}

TEST(BuildArchiveName, PrefixIsTakenAsTypedAndMayNameASubfolder) {
  EXPECT_EQ(BuildArchiveName("/b/", "sub/Docs", SuffixKind::kNone, 1, false, 2, DateTime()), "/b/sub/Docs.zip");
}

TEST(BuildArchiveName, WindowsDefaultFolderMeansHome) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: on Windows the folder c:\\ is itself the destination";
#else
  for (const char* folder : {"c:\\", "C:\\", " c:\\ "}) {
    EXPECT_EQ(BuildArchiveName(folder, "Docs", SuffixKind::kNone, 1, false, 2, DateTime()),
              platform::HomeDir() + "Docs.zip");
  }
#endif
}

TEST(DateStamp, HasNoYearSoTheSameMomentAYearLaterGivesTheSameName) {
  EXPECT_EQ(DateStamp(March1At180509()), "03-01_18h05m09s");
  EXPECT_EQ(DateStamp(DateTime::ParseDateTime("2025-03-01 18:05:09")), "03-01_18h05m09s");
  // Within the same second the stamps agree.
  EXPECT_EQ(DateStamp(March1At180509().AddMinutes(0.5 / 60.0)), "03-01_18h05m09s");
}

TEST(NumberText, PadsButNeverCuts) {
  EXPECT_EQ(NumberText(7, false, 5), "7");
  EXPECT_EQ(NumberText(7, true, 3), "007");
  EXPECT_EQ(NumberText(123, true, 2), "123");
  EXPECT_EQ(NumberText(1000, true, 30), std::string(26, '0') + "1000");
}

TEST(AdvanceNumber, StopsAtOneThousand) {
  EXPECT_EQ(AdvanceNumber(4, 2), 6);
  EXPECT_EQ(AdvanceNumber(998, 2), 1000);
  EXPECT_EQ(AdvanceNumber(1000, 5), 1000);
}

}  // namespace
}  // namespace kzb::app
