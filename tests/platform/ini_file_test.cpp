#include "platform/ini_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <csignal>
#include <cstdio>
#include <random>
#include <string>
#ifndef _WIN32
#include <sys/stat.h>
#endif
#ifndef _WIN32
#include <sys/wait.h>
#endif
#ifndef _WIN32
#include <unistd.h>
#endif

#include "platform/file_system.h"
#include "support/test_support.h"

namespace kzb::platform {
namespace {

using kzb::test::ReadFileText;
using kzb::test::ScratchDir;
using kzb::test::WriteFileText;

class IniFileTest : public ::testing::Test {
 protected:
  ScratchDir dir_;
  std::string path_ = dir_ / "project.ini";
};

// A file as a person leaves it after editing by hand: CRLF line ends, odd letter case, blanks around keys,
// comments, unknown keys and lines, and no line break at the end.
TEST_F(IniFileTest, HandEditedFileIsReadAndKeptOnSave) {
  const std::string original =
      "; settings written by hand\r\n"
      "\r\n"
      "[common]\r\n"
      "project count=2\r\n"
      "  COUNT0 = Docs\r\n"
      "Count1=Photos\r\n"
      "Unknown Key=keep me\r\n"
      "just some text\r\n"
      "\r\n"
      "[Docs]\r\n"
      "PackLevel=9";
  WriteFileText(path_, original);
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadInteger("Common", "Project Count", 0), 2);
  EXPECT_EQ(ini.ReadString("COMMON", "Count0", ""), "Docs");  // blanks around "=" belong to neither side
  EXPECT_EQ(ini.ReadString("Common", "count1", ""), "Photos");
  EXPECT_EQ(ini.ReadInteger("docs", "packlevel", 6), 9);
  EXPECT_TRUE(ini.SectionExists("DOCS"));
  EXPECT_FALSE(ini.ValueExists("Docs", "Suffix"));
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"common", "Docs"}));
  EXPECT_EQ(ini.ReadSectionKeys("Common"),
            (std::vector<std::string>{"project count", "COUNT0", "Count1", "Unknown Key"}));

  ini.WriteInteger("Common", "Project Count", 3);
  ini.WriteString("Common", "Count2", "Music");
  ini.WriteString("Docs", "Suffix", "1");
  EXPECT_EQ(ReadFileText(path_),
            "; settings written by hand\r\n"
            "\r\n"
            "[common]\r\n"
            "project count=3\r\n"
            "  COUNT0 = Docs\r\n"
            "Count1=Photos\r\n"
            "Unknown Key=keep me\r\n"
            "Count2=Music\r\n"
            "just some text\r\n"
            "\r\n"
            "[Docs]\r\n"
            "PackLevel=9\n"
            "Suffix=1\r\n");
  EXPECT_EQ(ini.ReadString("Docs", "PackLevel", ""), "9");
  EXPECT_EQ(ini.ReadString("Docs", "Suffix", ""), "1");
}

TEST_F(IniFileTest, MissingFileGivesDefaultsAndFirstWriteCreatesItPrivate) {
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("Common", "Last Project", "none"), "none");
  EXPECT_EQ(ini.ReadInteger("Common", "Width", 2), 2);
  EXPECT_TRUE(ini.ReadBool("Common", "Enable schedule", true));
  EXPECT_TRUE(ini.ReadSections().empty());
  ini.EraseSection("Common");  // nothing to erase: no file appears
  ini.DeleteKey("Common", "Width");
  EXPECT_FALSE(FileExists(path_));

  ini.WriteBool("Common", "IsOverWrite", true);
  ini.WriteBool("Common", "Sort", false);
  EXPECT_EQ(ReadFileText(path_), "[Common]\nIsOverWrite=1\nSort=0\n");
#ifndef _WIN32
  struct stat st {};
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

TEST_F(IniFileTest, ExistingPermissionsSurviveAWrite) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: POSIX permission bits";
#else
  WriteFileText(path_, "[A]\nx=1\n");
  ASSERT_EQ(chmod(path_.c_str(), 0640), 0);
  IniFile(path_).WriteString("A", "x", "2");
  struct stat st {};
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
#endif
}

TEST_F(IniFileTest, IntegerForms) {
  WriteFileText(path_,
                "[N]\ndec=42\nneg=-7\nhex=0x1F\nHEX=0XfF\nblank= 12 \nbad=12a\nempty=\nhuge=99999999999999999999\n"
                "big=0xFFFFFFFF\nbool0=0\nbool2=2\n");
  IniFile ini(path_);
  struct Case {
    const char* key;
    std::int64_t expected;
  };
  const Case cases[] = {{"dec", 42},   {"neg", -7},  {"hex", 31},     {"blank", 12},        {"bad", -1},
                        {"empty", -1}, {"huge", -1}, {"missing", -1}, {"big", 4294967295LL}};
  for (const Case& c : cases) EXPECT_EQ(ini.ReadInteger("N", c.key, -1), c.expected) << c.key;
  EXPECT_EQ(ini.ReadInteger("N", "hex", -1), 31);  // "HEX" is the same key; the first one wins
  EXPECT_FALSE(ini.ReadBool("N", "bool0", true));
  EXPECT_TRUE(ini.ReadBool("N", "bool2", false));
  EXPECT_TRUE(ini.ReadBool("N", "bad", true));  // unparsable: default
  ini.WriteInteger("N", "neg", -123456789012LL);
  EXPECT_EQ(ini.ReadInteger("N", "neg", 0), -123456789012LL);
}

TEST_F(IniFileTest, ValuesRoundTripExactly) {
  IniFile ini(path_);
  const std::string values[] = {
      "  two leading blanks", "trailing blank ", "a=b=c", "[not a section]", "; not a comment", "", "\ttab", "Grüße ✓"};
  int i = 0;
  for (const std::string& v : values) ini.WriteString("S", test::Numbered("k", i++), v);
  i = 0;
  for (const std::string& v : values) EXPECT_EQ(ini.ReadString("S", test::Numbered("k", i++), "?"), v);
  // Rewriting a value keeps the line's key spelling.
  ini.WriteString("s", "K0", "new");
  EXPECT_EQ(ini.ReadSectionKeys("S").front(), "k0");
  EXPECT_EQ(ini.ReadString("S", "k0", ""), "new");
}

// What a person types around "=" is not part of the value; what a program stored is given back exactly,
// blanks and quotes of its own included.
TEST_F(IniFileTest, BlanksAroundValuesAndQuotedValues) {
  WriteFileText(path_,
                "[Common]\n"
                "Count0 = Docs\n"
                "Count1=\tPhotos \t\n"
                "Quoted=\"  kept  \"\n"
                "Inner=a \"b\" c\n"
                "OneQuote=\"\n"
                "Width = 4 \n");
  IniFile ini(path_);
  struct Case {
    const char* key;
    const char* expected;
  } cases[] = {
      {"Count0", "Docs"}, {"Count1", "Photos"}, {"Quoted", "  kept  "}, {"Inner", "a \"b\" c"}, {"OneQuote", "\""}};
  for (const Case& c : cases) EXPECT_EQ(ini.ReadString("Common", c.key, "?"), c.expected) << c.key;
  EXPECT_EQ(ini.ReadInteger("Common", "Width", 0), 4);

  const std::string stored[] = {"\"quoted\"", "\"\"", " \"x\" ", "\"open", "plain"};
  int i = 0;
  for (const std::string& v : stored) ini.WriteString("S", "q" + std::to_string(i++), v);
  i = 0;
  for (const std::string& v : stored) EXPECT_EQ(ini.ReadString("S", "q" + std::to_string(i++), "?"), v);
  EXPECT_NE(ReadFileText(path_).find("q4=plain\n"), std::string::npos);  // nothing to protect: no quotes
}

// A byte order mark written by an editor is not part of the first section's name, and it stays.
TEST_F(IniFileTest, ByteOrderMarkIsSkippedAndKept) {
  WriteFileText(path_, "\xEF\xBB\xBF[Common]\nProject Count=1\nCount0=Docs\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadInteger("Common", "Project Count", 0), 1);
  EXPECT_EQ(ini.ReadSections(), std::vector<std::string>{"Common"});
  ini.WriteString("Common", "Count1", "Photos");
  EXPECT_EQ(ReadFileText(path_), "\xEF\xBB\xBF[Common]\nProject Count=1\nCount0=Docs\nCount1=Photos\n");
}

TEST_F(IniFileTest, LineBreaksInAValueCannotBreakTheFile) {
  IniFile ini(path_);
  ini.WriteString("S", "Comment", "first line\n[Evil]\nx=1");
  EXPECT_EQ(ini.ReadString("S", "Comment", ""), "first line");
  EXPECT_FALSE(ini.SectionExists("Evil"));
}

TEST_F(IniFileTest, LongValuesAreCutAt2047Characters) {
  IniFile ini(path_);
  const std::string long_value(5000, 'x');
  ini.WriteString("S", "Long", long_value);
  EXPECT_EQ(ini.ReadString("S", "Long", ""), std::string(2047, 'x'));
  EXPECT_NE(ReadFileText(path_).find(long_value), std::string::npos);  // the file keeps all of it
  // The cut does not split a UTF-8 character.
  std::string utf8(2046, 'y');
  utf8 += "é";  // two bytes straddling the limit
  ini.WriteString("S", "Utf8", utf8);
  EXPECT_EQ(ini.ReadString("S", "Utf8", ""), std::string(2046, 'y'));
  ini.WriteString("S", "Exact", std::string(2047, 'z'));
  EXPECT_EQ(ini.ReadString("S", "Exact", "").size(), 2047u);
}

TEST_F(IniFileTest, DuplicateSectionsFirstWins) {
  WriteFileText(path_, "[A]\nk=first\n[B]\nk=b\n[a]\nk=second\nonly=in second\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("A", "k", ""), "first");
  EXPECT_EQ(ini.ReadString("A", "only", "absent"), "absent");
  EXPECT_EQ(ini.ReadSections(), (std::vector<std::string>{"A", "B"}));
  ini.WriteString("A", "k", "changed");
  EXPECT_EQ(ReadFileText(path_), "[A]\nk=changed\n[B]\nk=b\n[a]\nk=second\nonly=in second\n");
  // Erasing removes every copy, so the older one cannot show through.
  ini.EraseSection("a");
  EXPECT_EQ(ReadFileText(path_), "[B]\nk=b\n");
}

TEST_F(IniFileTest, NewKeyGoesAfterTheLastKeyLineOfItsSection) {
  WriteFileText(path_, "[A]\nx=1\n; note\n\n[B]\ny=2\n");
  IniFile ini(path_);
  ini.WriteString("A", "z", "3");
  ini.WriteString("C", "w", "4");
  EXPECT_EQ(ReadFileText(path_), "[A]\nx=1\nz=3\n; note\n\n[B]\ny=2\n[C]\nw=4\n");
  WriteFileText(path_, "[Empty]\n\n[B]\n");
  ini.WriteString("empty", "k", "v");
  EXPECT_EQ(ReadFileText(path_), "[Empty]\nk=v\n\n[B]\n");
}

TEST_F(IniFileTest, SaveNeverRemovesKeysButDeleteAndEraseDo) {
  IniFile ini(path_);
  ini.WriteSection("P", {{"Backup Directory Count", "3"}, {"Backup0", "a"}, {"Backup1", "b"}, {"Backup2", "c"}});
  ini.WriteSection("P", {{"Backup Directory Count", "1"}, {"Backup0", "z"}});
  EXPECT_EQ(ini.ReadString("P", "Backup2", ""), "c");
  EXPECT_EQ(ini.ReadSectionKeys("P").size(), 4u);
  ini.DeleteKey("P", "backup2");
  EXPECT_FALSE(ini.ValueExists("P", "Backup2"));
  ini.WriteString("Q", "k", "v");
  ini.EraseSection("p");
  EXPECT_EQ(ini.ReadSections(), std::vector<std::string>{"Q"});
}

TEST_F(IniFileTest, SectionNamesWithBracketsAndBlanks) {
  IniFile ini(path_);
  ini.WriteString("My [old] project", "Suffix", "2");
  EXPECT_EQ(ini.ReadString("my [OLD] project", "Suffix", ""), "2");
  WriteFileText(path_, "  [ Padded ]  \nkey = v\n");
  EXPECT_EQ(ini.ReadString("Padded", "key", ""), "v");
}

TEST_F(IniFileTest, KeysBeforeAnySectionBelongToNone) {
  WriteFileText(path_, "k=orphan\n[S]\nother=1\n");
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("S", "k", "none"), "none");
}

TEST_F(IniFileTest, UnchangedWriteLeavesTheFileAlone) {
  WriteFileText(path_, "[A]\nx=1");  // no final line break
  struct stat before {};
  ASSERT_EQ(stat(path_.c_str(), &before), 0);
  IniFile(path_).WriteString("A", "x", "1");
  struct stat after {};
  ASSERT_EQ(stat(path_.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(ReadFileText(path_), "[A]\nx=1");
}

TEST_F(IniFileTest, UnreadableFileIsNeverOverwritten) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: POSIX permission bits";
#else
  kzb::test::WithoutPermissionOverride no_override;
  if (!no_override.Active()) GTEST_SKIP() << "cannot drop root's file permission override here";
  WriteFileText(path_, "[A]\nprecious=1\n");
  ASSERT_EQ(chmod(path_.c_str(), 0200), 0);
  IniFile ini(path_);
  EXPECT_EQ(ini.ReadString("A", "precious", "default"), "default");
  EXPECT_THROW(ini.WriteString("A", "x", "1"), EFileError);
  ASSERT_EQ(chmod(path_.c_str(), 0600), 0);
  EXPECT_EQ(ReadFileText(path_), "[A]\nprecious=1\n");
#endif
}

TEST_F(IniFileTest, WriteIntoMissingFolderFails) {
  IniFile ini(dir_ / "no/such/folder/x.ini");
  EXPECT_THROW(ini.WriteString("A", "k", "v"), EFileError);
}

TEST_F(IniFileTest, SymbolicLinkIsFollowed) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: symbolic links";
#else
  const std::string real = dir_ / "real.ini";
  WriteFileText(real, "[A]\nk=1\n");
  ASSERT_EQ(symlink(real.c_str(), path_.c_str()), 0);
  IniFile(path_).WriteString("A", "k", "2");
  struct stat st {};
  ASSERT_EQ(lstat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFileText(real), "[A]\nk=2\n");
#endif
}

// A child saves a large file over and over; it is killed at random moments. Whatever moment the kill
// hits, the file must hold one complete version, never a truncated or mixed one, and no temporary file
// may pass for the real one.
TEST_F(IniFileTest, KillDuringSaveNeverLeavesATruncatedFile) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: fork and kill";
#else
  auto version = [](int n) {
    std::vector<IniFile::Entry> entries;
    for (int i = 0; i < 400; ++i) {
      entries.push_back(
          {"Key" + std::to_string(i), std::string(100, static_cast<char>('a' + n % 26)) + std::to_string(n)});
    }
    entries.push_back({"Version", std::to_string(n)});
    entries.push_back({"End", "end"});
    return entries;
  };
  IniFile ini(path_);
  ini.WriteSection("Data", version(0));

  auto complete = [&](int* seen_version) {
    const std::string text = ReadFileText(path_);
    if (text.empty() || text.back() != '\n' || text.find("End=end\n") == std::string::npos) return false;
    const int v = static_cast<int>(ini.ReadInteger("Data", "Version", -1));
    if (v < 0) return false;
    for (int i = 0; i < 400; i += 57) {
      const std::string expected = std::string(100, static_cast<char>('a' + v % 26)) + std::to_string(v);
      if (ini.ReadString("Data", "Key" + std::to_string(i), "") != expected) return false;
    }
    *seen_version = v;
    return true;
  };

  std::mt19937 rng(12345);
  int last_seen = 0;
  for (int round = 0; round < 6; ++round) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      IniFile child(path_);
      for (int n = 1;; ++n) child.WriteSection("Data", version(n));
    }
    usleep(5'000 + rng() % 40'000);
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    int seen = -1;
    ASSERT_TRUE(complete(&seen)) << "round " << round;
    EXPECT_GE(seen, 0);
    last_seen = seen;
    // Leftover temporary files of the killed writer are hidden and never the file itself.
    FileFinder finder;
    SearchRec rec;
    int visible = 0;
    for (bool ok = finder.FindFirst(dir_.Path() + "*", kFaArchive, rec); ok; ok = finder.FindNext(rec)) ++visible;
    EXPECT_EQ(visible, 1);
  }
  (void)last_seen;
#endif
}

}  // namespace
}  // namespace kzb::platform

namespace kzb::platform {
namespace {

// Reads answer from a parse kept between calls; a change of the file, also one that keeps its size, its
// inode and its modification time, is seen by the next read.
TEST(IniFileCacheTest, AChangedFileIsReadAgain) {
  test::ScratchDir dir;
  const std::string path = dir / "cached.ini";
  test::WriteFileText(path, "[A]\nKey=1\n");
  IniFile ini(path);
  EXPECT_EQ(ini.ReadString("A", "Key", ""), "1");

#ifndef _WIN32
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
#endif
  {
    // Rewritten in place with the same size, and (POSIX, where reads are cached) the modification time
    // put back.
    FILE* f = std::fopen(path.c_str(), "r+");
    ASSERT_NE(f, nullptr);
    std::fputs("[A]\nKey=2\n", f);
    std::fclose(f);
#ifndef _WIN32
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
#endif
  }
  EXPECT_EQ(ini.ReadString("A", "Key", ""), "2");

  IniFile other(path);  // a write through another object (a rename over the file)
  other.WriteString("a", "key", "3");
  EXPECT_EQ(ini.ReadInteger("A", "Key", 0), 3);
  ASSERT_TRUE(DeleteFile(path));
  EXPECT_EQ(ini.ReadString("A", "Key", "gone"), "gone");
}

}  // namespace
}  // namespace kzb::platform

namespace kzb::platform {
namespace {

TEST(IniFileCacheTest, ASnapshotKeepsTheStateItWasTakenFrom) {
  test::ScratchDir dir;
  const std::string path = dir / "snap.ini";
  test::WriteFileText(path, "[Log1]\nDate=2024-01-01 10:00:00\nStatus= Fails\n[Common]\nLog Total=0x10\n");
  IniFile ini(path);
  const IniFile::Snapshot snapshot = ini.Read();
  ini.WriteString("Log1", "Status", "Succeeds");
  EXPECT_EQ(snapshot.ReadString("log1", "STATUS", ""), "Fails");  // as it was (blanks around it are no part)
  EXPECT_EQ(snapshot.ReadInteger("Common", "Log Total", 0), 16);
  EXPECT_EQ(snapshot.ReadString("Log2", "Date", "none"), "none");
  EXPECT_EQ(ini.Read().ReadString("Log1", "Status", ""), "Succeeds");
}

}  // namespace
}  // namespace kzb::platform
