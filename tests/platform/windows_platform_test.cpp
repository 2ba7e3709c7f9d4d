// The Windows implementation of the platform services: drives and shares, wide-character and long names,
// attributes with the archive bit, times, short names, atomic replacement, the Run key and locks held by
// another process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/date_time.h"
#include "platform/file_system.h"
#include "platform/path.h"
#include "platform/system.h"
#include "support/test_support.h"

#ifdef _WIN32
#include "platform/windows/win_util.h"
#endif

namespace kzb::platform {
namespace {

#ifndef _WIN32

TEST(WindowsPlatformTest, RunsOnWindowsOnly) {
  GTEST_SKIP() << "Windows only: drive letters, UNC shares, wide-character names, the archive bit, short names "
                  "and the registry";
}

#else

using test::ScratchDir;

std::vector<std::string> Names(const std::string& pattern, std::uint32_t attr) {
  std::vector<std::string> names;
  FileFinder finder;
  SearchRec rec;
  for (bool ok = finder.FindFirst(pattern, attr, rec); ok; ok = finder.FindNext(rec)) names.push_back(rec.name);
  return names;
}

TEST(WindowsPathTest, DrivesSharesAndParts) {
  struct Case {
    const char* path;
    const char* drive;
    bool absolute;
    const char* folder;
    const char* name;
  };
  const Case cases[] = {
      {"C:\\data\\a.txt", "C:", true, "C:\\data\\", "a.txt"},
      {"c:/data/a.txt", "c:", true, "c:/data/", "a.txt"},
      {"C:a.txt", "C:", false, "C:", "a.txt"},
      {"\\\\server\\share\\dir\\b.doc", "\\\\server\\share", true, "\\\\server\\share\\dir\\", "b.doc"},
      {"\\\\server\\share", "\\\\server\\share", true, "\\\\server\\", "share"},
      {"\\\\server", "", true, "\\\\", "server"},
      {"\\root.zip", "", false, "\\", "root.zip"},
      {"dir\\sub\\c", "", false, "dir\\sub\\", "c"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(ExtractFileDrive(c.path), c.drive);
    EXPECT_EQ(IsAbsolutePath(c.path), c.absolute);
    EXPECT_EQ(ExtractFilePath(c.path), c.folder);
    EXPECT_EQ(ExtractFileName(c.path), c.name);
  }
  EXPECT_EQ(IncludeTrailingSeparator("C:\\data"), "C:\\data\\");
  EXPECT_EQ(ExcludeTrailingSeparator("C:\\data\\"), "C:\\data");
  EXPECT_EQ(ToNativeSeparators("a/b/c"), "a\\b\\c");
  EXPECT_EQ(ToForwardSlashes("a\\b\\c"), "a/b/c");
  EXPECT_EQ(ExpandFileName("C:\\a\\.\\b\\..\\c\\d"), "C:\\a\\c\\d");
  EXPECT_EQ(ExpandFileName("C:/a/b/"), "C:\\a\\b\\");
  EXPECT_TRUE(SameFileName("C:\\Data\\Backup.ZIP", "c:\\data\\backup.zip"));
  EXPECT_FALSE(SameFileName("C:\\data\\a.zip", "C:\\data\\b.zip"));
}

TEST(WindowsPathTest, FoldersOfTheUserAndTheProgram) {
  EXPECT_EQ(TempDir().back(), '\\');
  EXPECT_EQ(HomeDir().back(), '\\');
  const std::string config = UserConfigDir();
  EXPECT_EQ(config.substr(config.size() - 20), "Kestrova ZIP Backup\\") << config;
  EXPECT_TRUE(IsAbsolutePath(config)) << config;
  EXPECT_EQ(ExtractFileName(ExecutablePath()), "platform_tests.exe");
  EXPECT_EQ(ExecutableDir(), ExtractFilePath(ExecutablePath()));
  const std::vector<std::string> args = CommandLineArguments(0, nullptr);
  EXPECT_TRUE(args.empty());  // a count that does not match the command line keeps what was given
}

TEST(WindowsFileTest, NamesOutsideTheAnsiCodePage) {
  ScratchDir dir;
  // "café Ωμέγα 日本.txt": Latin, Greek and Japanese, more than any single ANSI code page holds.
  const std::string name = "caf\xC3\xA9 \xCE\xA9\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1 \xE6\x97\xA5\xE6\x9C\xAC.txt";
  const std::string path = dir / name;
  WriteFileAtomic(path, "content");
  EXPECT_TRUE(FileExists(path));
  EXPECT_EQ(FileSize(path), 7);
  EXPECT_EQ(Names(dir / "*.txt", 0), std::vector<std::string>{name});
  std::string content;
  ASSERT_TRUE(ReadFileContent(path, content));
  EXPECT_EQ(content, "content");
  const std::string copy = dir / ("\xE6\x97\xA5\xE6\x9C\xAC\\" + name);
  ASSERT_TRUE(ForceDirectories(ExtractFilePath(copy)));
  ASSERT_TRUE(CopyFile(path, copy, true));
  EXPECT_FALSE(CopyFile(path, copy, true));  // exists
  ASSERT_TRUE(RenameFile(path, path + ".old"));
  EXPECT_FALSE(FileExists(path));
  File file(copy, File::Mode::kRead);
  char buffer[16];
  EXPECT_EQ(file.Read(buffer, sizeof buffer), 7);
}

TEST(WindowsFileTest, PathsLongerThanMaxPath) {
  ScratchDir dir;
  std::string folder = dir.Path();
  while (folder.size() < 400) folder += "a-rather-long-folder-name-for-deep-trees\\";
  ASSERT_TRUE(ForceDirectories(folder));
  EXPECT_TRUE(DirectoryExists(folder));
  const std::string path = folder + "file.bin";
  WriteFileAtomic(path, "0123456789");
  EXPECT_EQ(FileSize(path), 10);
  EXPECT_GE(GetFileAttributes(path), 0);
  EXPECT_EQ(Names(folder + "*.bin", 0), std::vector<std::string>{"file.bin"});
  {
    File file(path, File::Mode::kReadWrite);
    file.Seek(0, 2);
    EXPECT_EQ(file.Write("ab", 2), 2);
  }
  EXPECT_EQ(FileSize(path), 12);
  const DateTime when = DateTime::ParseDateTime("2020-02-29 10:20:30");
  ASSERT_TRUE(SetFileTime(path, when));
  EXPECT_EQ(GetFileTime(path), when);
  EXPECT_TRUE(DeleteFile(path));
  EXPECT_FALSE(FileExists(path));
}

TEST(WindowsFileTest, AttributesAndTheArchiveBit) {
  ScratchDir dir;
  const std::string path = dir / "doc.txt";
  test::WriteFileText(path, "x");
  // A file just written carries the archive bit: it has changed since the last backup.
  EXPECT_EQ(GetFileAttributes(path) & kFaArchive, kFaArchive);
  ASSERT_TRUE(ClearArchiveAttribute(path));
  EXPECT_FALSE(ClearArchiveAttribute(dir / "missing.txt"));
  ASSERT_TRUE(SetFileAttributes(path, kFaReadOnly | kFaHidden | kFaArchive));
  EXPECT_EQ(GetFileAttributes(path) & 0x3F, kFaReadOnly | kFaHidden | kFaArchive);
  // Hidden entries are listed only when asked for, as folders are.
  EXPECT_TRUE(Names(dir / "*", 0).empty());
  EXPECT_EQ(Names(dir / "*.txt", kFaHidden), std::vector<std::string>{"doc.txt"});
  FileStatus status;
  ASSERT_TRUE(GetFileStatus(path, status));
  EXPECT_EQ(status.unix_mode, 0100444u);
  ASSERT_TRUE(SetFileAttributes(path, kFaArchive));
  EXPECT_EQ(GetFileAttributes(path) & 0x3F, kFaArchive);
  ASSERT_TRUE(GetFileStatus(path, status));
  EXPECT_EQ(status.unix_mode, 0100644u);
  ASSERT_TRUE(GetFileStatus(dir.Path(), status));
  EXPECT_EQ(status.attr & kFaDirectory, kFaDirectory);
  EXPECT_EQ(status.unix_mode, 040755u);
}

TEST(WindowsFileTest, ArchiveBitIsCleared) {
  if (test::RunningUnderWine()) GTEST_SKIP() << "Wine keeps no archive bit: it reports every file as changed";
  ScratchDir dir;
  const std::string path = dir / "doc.txt";
  test::WriteFileText(path, "x");
  ASSERT_TRUE(SetFileAttributes(path, kFaHidden | kFaArchive));
  ASSERT_TRUE(ClearArchiveAttribute(path));
  EXPECT_EQ(GetFileAttributes(path) & 0x3F, kFaHidden);  // the other bits stay
  ASSERT_TRUE(ClearArchiveAttribute(path));              // already clear
  test::WriteFileText(path, "changed");
  EXPECT_EQ(GetFileAttributes(path) & kFaArchive, kFaArchive);
}

TEST(WindowsFileTest, LocalTimesAndUtcSeconds) {
  ScratchDir dir;
  const std::string path = dir / "t.txt";
  test::WriteFileText(path, "t");
  // One date in summer and one in winter: each is converted with the rules of its own date.
  for (const char* text : {"2021-07-01 12:34:56", "2021-12-24 18:00:02", "1985-03-04 05:06:08"}) {
    SCOPED_TRACE(text);
    const DateTime when = DateTime::ParseDateTime(text);
    ASSERT_TRUE(SetFileTime(path, when));
    EXPECT_EQ(GetFileTime(path).FormatDateTime(), text);
    FileStatus status;
    ASSERT_TRUE(GetFileStatus(path, status));
    EXPECT_EQ(status.unix_time, static_cast<std::int64_t>(when.ToUnixTime()));
    EXPECT_EQ(DateTime::FromUnixTime(static_cast<std::time_t>(status.unix_time)).FormatDateTime(), text);
    SearchRec rec;
    FileFinder finder;
    ASSERT_TRUE(finder.FindFirst(path, 0, rec));
    EXPECT_EQ(rec.time.FormatDateTime(), text);
  }
}

TEST(WindowsFileTest, ShortNames) {
  ScratchDir dir;
  const std::string path = dir / "A long folder name/a long file name.text";
  test::WriteFileText(path, "s");
  const std::string short_path = ToShortPath(path);
  const std::string short_name = ExtractFileName(short_path);
  if (short_name == "a long file name.text") GTEST_SKIP() << "this volume keeps no short names";
  EXPECT_TRUE(FileExists(short_path)) << short_path;
  EXPECT_LE(short_name.size(), 12u) << short_name;
  EXPECT_EQ(short_name.find(' '), std::string::npos) << short_name;
  EXPECT_EQ(ExtractFileDrive(short_path), ExtractFileDrive(path));
  // A folder keeps its trailing separator; a name that is already short stays as it is.
  const std::string short_folder = ToShortPath(dir / "A long folder name\\");
  EXPECT_EQ(short_folder.back(), '\\');
  EXPECT_TRUE(DirectoryExists(short_folder));
  test::WriteFileText(dir / "SHORT.TXT", "s");
  EXPECT_EQ(ExtractFileName(ToShortPath(dir / "SHORT.TXT")), "SHORT.TXT");
  // A component that does not exist stays as written.
  EXPECT_EQ(ExtractFileName(ToShortPath(dir / "missing name.txt")), "missing name.txt");
}

TEST(WindowsFileTest, AtomicReplaceKeepsAttributesAndLeavesNoTemporaryFile) {
  ScratchDir dir;
  const std::string path = dir / "project.ini";
  WriteFileAtomic(path, "[Common]\n");
  ASSERT_TRUE(SetFileAttributes(path, kFaHidden | kFaArchive));
  WriteFileAtomic(path, "[Common]\nWidth=3\n");
  EXPECT_EQ(test::ReadFileText(path), "[Common]\nWidth=3\n");
  EXPECT_EQ(GetFileAttributes(path) & kFaHidden, kFaHidden);
  EXPECT_EQ(Names(dir / "*", kFaHidden), std::vector<std::string>{"project.ini"});
  // A file that cannot be replaced (read-only) is reported and kept.
  ASSERT_TRUE(SetFileAttributes(path, kFaReadOnly));
  EXPECT_THROW(WriteFileAtomic(path, "lost"), EFCreateError);
  EXPECT_EQ(test::ReadFileText(path), "[Common]\nWidth=3\n");
  EXPECT_EQ(Names(dir / "*", kFaHidden), std::vector<std::string>{"project.ini"});
  ASSERT_TRUE(SetFileAttributes(path, 0));
  // ReplaceFile renames over an existing target.
  test::WriteFileText(dir / "new.tmp", "new");
  ASSERT_TRUE(ReplaceFile(dir / "new.tmp", path));
  EXPECT_EQ(test::ReadFileText(path), "new");
}

TEST(WindowsSystemTest, RunKeyValue) {
  EXPECT_STREQ(kAutostartName, "Kestrova Veririvi Backup");
  // A value of its own, so that the test never changes the real setting.
  const std::string name = std::string(kAutostartName) + " test " + std::to_string(GetCurrentProcessId());
  const std::string program = ExecutablePath();
  ASSERT_TRUE(SetAutostart(name, program, true));
  EXPECT_TRUE(IsAutostartEnabled(name));
  EXPECT_EQ(AutostartCommand(name), program);
  ASSERT_TRUE(SetAutostart(name, program, false));
  EXPECT_FALSE(IsAutostartEnabled(name));
  EXPECT_EQ(AutostartCommand(name), "");
  EXPECT_TRUE(SetAutostart(name, program, false));  // a missing value is no error
}

TEST(WindowsSystemTest, LocksAcrossProcessesLeaveTheFileReadable) {
  ScratchDir dir;
  const std::string path = dir / ".kzb-window.lock";
  {
    test::OtherProcessLock other(path);
    ASSERT_TRUE(other.Held());
    EXPECT_TRUE(IsLockedByOtherProcess(path));
    EXPECT_FALSE(FileLock(path).Held());
    EXPECT_FALSE(FileLock(path, 100).Held());  // waits, then gives up
    std::string content;
    EXPECT_TRUE(ReadFileContent(path, content));
  }
  EXPECT_FALSE(IsLockedByOtherProcess(path));
  FileLock mine(path);
  ASSERT_TRUE(mine.Held());
  EXPECT_FALSE(IsLockedByOtherProcess(path));  // our own
  EXPECT_FALSE(FileLock(path).Held());         // one holder at a time, in this process too
  test::OtherProcessLock other(path);
  EXPECT_FALSE(other.Held());
}

TEST(WindowsSystemTest, ThreadPriorities) {
  const int self = CurrentThreadId();
  EXPECT_TRUE(SetThreadPriority(self, 2));
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_BELOW_NORMAL);
  EXPECT_TRUE(SetThreadPriority(self, 3));
  EXPECT_EQ(GetThreadPriority(GetCurrentThread()), THREAD_PRIORITY_NORMAL);
  EXPECT_FALSE(OpenWithDefaultProgram(""));
}

#endif

}  // namespace
}  // namespace kzb::platform
