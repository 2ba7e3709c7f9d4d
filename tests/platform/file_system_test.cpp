#include "platform/file_system.h"

#ifndef _WIN32
#include <fcntl.h>
#endif
#include <gtest/gtest.h>
#include <string>
#ifndef _WIN32
#include <sys/stat.h>
#endif
#ifndef _WIN32
#include <unistd.h>
#endif
#include <vector>

#include "platform/path.h"
#include "platform/system.h"
#include "support/test_support.h"
#ifdef _WIN32
#include "platform/windows/win_util.h"
#endif

namespace kzb::platform {
namespace {

using kzb::test::ReadFileText;
using kzb::test::ScratchDir;
using kzb::test::WriteFileText;

std::vector<std::string> FindNames(const std::string& pattern, std::uint32_t attr) {
  std::vector<std::string> names;
  FileFinder finder;
  SearchRec rec;
  for (bool ok = finder.FindFirst(pattern, attr, rec); ok; ok = finder.FindNext(rec)) names.push_back(rec.name);
  return names;
}

TEST(MatchesFindMaskTest, Table) {
  struct Case {
    const char* name;
    const char* mask;
    bool match;
  };
  const Case cases[] = {
      {"report.txt", "*.txt", true},
      {"REPORT.TXT", "*.txt", true},
      {"report.txt", "*.TXT", true},
      {"report.txt2", "*.txt", false},
      {"report", "*.*", true},
      {"report", "*", true},
      {".hidden", "*.*", true},
      {"a.b.c", "*.c", true},
      {"abc", "a?c", true},
      {"ac", "a?c", false},
      {"aXYc", "a*c", true},
      {"aXYd", "a*c", false},
      {"readme", "readme.*", true},
      {"readme.md", "readme.*", true},
      {"readme.md", "read", false},
      {"read", "read", true},
      {"", "*", true},
      {"x.zip", "*.zip", true},
      {"é.txt", "?.txt", true},
      {"Ü.txt", "ü.txt", false},
      {"abcabc", "*abc", true},
      {"ab", "*?*?*", true},
      {"a", "*?*?*", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesFindMask(c.name, c.mask), c.match) << c.name << " ~ " << c.mask;
  }
}

class FileFinderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileText(dir_ / "b.txt", "bb");
    WriteFileText(dir_ / "A.TXT", "a");
    WriteFileText(dir_ / "noext", "");
    WriteFileText(dir_ / ".hidden.txt", "h");
    WriteFileText(dir_ / "sub/inner.txt", "i");
    WriteFileText(dir_ / "ro.txt", "r");
    ASSERT_TRUE(SetFileAttributes(dir_ / "ro.txt", kFaReadOnly));
  }
  ScratchDir dir_;
};

TEST_F(FileFinderTest, MasksAndByteOrder) {
  EXPECT_EQ(FindNames(dir_ / "*.txt", 0), (std::vector<std::string>{"A.TXT", "b.txt", "ro.txt"}));
  EXPECT_EQ(FindNames(dir_ / "*.*", 0), (std::vector<std::string>{"A.TXT", "b.txt", "noext", "ro.txt"}));
  EXPECT_EQ(FindNames(dir_ / "?.txt", 0), (std::vector<std::string>{"A.TXT", "b.txt"}));
  EXPECT_EQ(FindNames(dir_ / "B.TXT", 0), (std::vector<std::string>{"b.txt"}));
  EXPECT_TRUE(FindNames(dir_ / "*.zip", kFaAnyFile).empty());
  EXPECT_TRUE(FindNames(dir_ / "missing/*.*", kFaAnyFile).empty());
  EXPECT_TRUE(FindNames(dir_.Path(), kFaAnyFile).empty());  // no name part
}

TEST_F(FileFinderTest, AttributeMaskDecidesFoldersAndHiddenEntries) {
  EXPECT_EQ(FindNames(dir_ / "*", kFaHidden),
            (std::vector<std::string>{".hidden.txt", "A.TXT", "b.txt", "noext", "ro.txt"}));
  EXPECT_EQ(FindNames(dir_ / "*", kFaDirectory),
            (std::vector<std::string>{".", "..", "A.TXT", "b.txt", "noext", "ro.txt", "sub"}));
  EXPECT_EQ(FindNames(dir_ / "*", kFaAnyFile & ~kFaVolumeId).size(), 8u);
  EXPECT_EQ(FindNames(dir_ / "*", kFaReadOnly | kFaArchive).size(), 4u);  // plain files only
}

TEST_F(FileFinderTest, RecordFields) {
  FileFinder finder;
  SearchRec rec;
  std::vector<SearchRec> all;
  for (bool ok = finder.FindFirst(dir_ / "*", kFaAnyFile, rec); ok; ok = finder.FindNext(rec)) all.push_back(rec);
  auto find = [&](const std::string& name) {
    for (const SearchRec& r : all) {
      if (r.name == name) return r;
    }
    ADD_FAILURE() << name << " not found";
    return SearchRec{};
  };
  EXPECT_EQ(find("b.txt").size, 2);
  EXPECT_EQ(find("b.txt").attr, kFaArchive);
  EXPECT_EQ(find("ro.txt").attr, kFaArchive | kFaReadOnly);
  EXPECT_EQ(find(".hidden.txt").attr, kFaArchive | kFaHidden);
  EXPECT_EQ(find("sub").attr, kFaDirectory);
  EXPECT_EQ(find("sub").size, 0);
  EXPECT_EQ(find(".").attr, kFaDirectory);
  EXPECT_EQ(find("..").attr & kFaHidden, 0u);
  const SearchRec b = find("b.txt");
  EXPECT_EQ(b.time.FormatDateTime(), DateTime::FromUnixTime(b.unix_time).FormatDateTime());
  EXPECT_LT(std::abs(b.time.Value() - DateTime::Now().Value()), 1.0 / 24);
}

TEST_F(FileFinderTest, LinksAreFollowedAndDanglingOnesSkipped) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: symbolic links";
#else
  ASSERT_EQ(symlink((dir_ / "sub").c_str(), (dir_ / "linkdir").c_str()), 0);
  ASSERT_EQ(symlink((dir_ / "b.txt").c_str(), (dir_ / "linkfile").c_str()), 0);
  ASSERT_EQ(symlink((dir_ / "gone").c_str(), (dir_ / "dangling").c_str()), 0);
  EXPECT_EQ(FindNames(dir_ / "link*", kFaDirectory), (std::vector<std::string>{"linkdir", "linkfile"}));
  EXPECT_EQ(FindNames(dir_ / "link*", 0), (std::vector<std::string>{"linkfile"}));
  EXPECT_TRUE(FindNames(dir_ / "dangling", kFaAnyFile).empty());
#endif
}

TEST_F(FileFinderTest, SpecialFilesAreNotListed) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: named pipes in a folder";
#else
  ASSERT_EQ(mkfifo((dir_ / "pipe.txt").c_str(), 0600), 0);
  EXPECT_EQ(FindNames(dir_ / "*.txt", kFaAnyFile),
            (std::vector<std::string>{".hidden.txt", "A.TXT", "b.txt", "ro.txt"}));
#endif
}

TEST_F(FileFinderTest, TimesAndIdentity) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: hard links and the identity of files (Windows reports the identity of folders, which "
                  "the loop checks use)";
#else
  ASSERT_TRUE(SetFileTime(dir_ / "b.txt", DateTime::ParseDateTime("2022-02-02 02:02:02")));
  ASSERT_EQ(link((dir_ / "b.txt").c_str(), (dir_ / "hard.txt").c_str()), 0);
  FileFinder finder;
  SearchRec b, hard, a;
  ASSERT_TRUE(finder.FindFirst(dir_ / "b.txt", 0, b));
  ASSERT_TRUE(finder.FindFirst(dir_ / "hard.txt", 0, hard));
  ASSERT_TRUE(finder.FindFirst(dir_ / "A.TXT", 0, a));
  EXPECT_EQ(b.time.FormatDateTime(), "2022-02-02 02:02:02");
  EXPECT_GT(b.creation_time.Value(), b.time.Value());  // made now, back-dated afterwards
  EXPECT_GT(b.access_time.Value(), 0.0);
  EXPECT_EQ(b.device, hard.device);
  EXPECT_EQ(b.inode, hard.inode);
  EXPECT_NE(b.inode, a.inode);
#endif
}

TEST_F(FileFinderTest, SizesAbove4GiB) {
  const std::string big = dir_ / "big.bin";
  File(big, File::Mode::kCreate).Truncate(5'000'000'000LL);  // sparse: no disk space used
  FileFinder finder;
  SearchRec rec;
  ASSERT_TRUE(finder.FindFirst(big, 0, rec));
  EXPECT_EQ(rec.size, 5'000'000'000LL);
  EXPECT_EQ(FileSize(big), 5'000'000'000LL);
}

TEST(FileSystemTest, ExistsDeleteRename) {
  ScratchDir dir;
  const std::string a = dir / "a.txt", b = dir / "b.txt";
  WriteFileText(a, "A");
  WriteFileText(b, "B");
  EXPECT_TRUE(FileExists(a));
  EXPECT_FALSE(FileExists(dir.Path()));
  EXPECT_TRUE(DirectoryExists(dir.Path()));
  EXPECT_FALSE(DirectoryExists(a));
  EXPECT_FALSE(RenameFile(a, b));  // the target exists
  EXPECT_EQ(ReadFileText(b), "B");
  EXPECT_TRUE(RenameFile(a, dir / "c.txt"));
  EXPECT_FALSE(FileExists(a));
  EXPECT_TRUE(ReplaceFile(dir / "c.txt", b));
  EXPECT_EQ(ReadFileText(b), "A");
  EXPECT_FALSE(DeleteFile(dir / "missing"));
  EXPECT_FALSE(DeleteFile(dir.Path()));
  EXPECT_TRUE(DeleteFile(b));
  EXPECT_FALSE(FileExists(b));
  EXPECT_TRUE(ForceDirectories(dir / "x/y/z/"));
  EXPECT_TRUE(DirectoryExists(dir / "x/y/z"));
  EXPECT_TRUE(ForceDirectories(dir / "x/y/z"));
  EXPECT_FALSE(RemoveDirectory(dir / "x"));  // not empty
  EXPECT_TRUE(RemoveDirectory(dir / "x/y/z"));
  WriteFileText(dir / "file", "");
  EXPECT_FALSE(ForceDirectories(dir / "file/sub"));
}

TEST(FileSystemTest, CopyKeepsBytesTimesAndPermissions) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: POSIX permission bits (Windows has its own test of these services)";
#else
  ScratchDir dir;
  const std::string src = dir / "src.bin", dst = dir / "dst.bin";
  const auto bytes = kzb::test::RandomBytes(300'000, 7);
  kzb::test::WriteFileBytes(src, bytes);
  chmod(src.c_str(), 0640);
  const DateTime when = DateTime::ParseDateTime("2021-06-15 10:20:30");
  ASSERT_TRUE(SetFileTime(src, when));
  ASSERT_TRUE(CopyFile(src, dst, true));
  EXPECT_EQ(kzb::test::ReadFileBytes(dst), bytes);
  EXPECT_EQ(GetFileTime(dst), when);
  struct stat st {};
  ASSERT_EQ(stat(dst.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  WriteFileText(dst, "old");
  EXPECT_FALSE(CopyFile(src, dst, true));
  EXPECT_EQ(ReadFileText(dst), "old");
  EXPECT_TRUE(CopyFile(src, dst, false));
  EXPECT_EQ(kzb::test::ReadFileBytes(dst), bytes);
  EXPECT_FALSE(CopyFile(dir / "missing", dir / "x", false));
  EXPECT_FALSE(CopyFile(src, dir.Path(), false));  // onto a folder
  // Nothing but the two files is left behind.
  EXPECT_EQ(FindNames(dir / "*", kFaAnyFile & ~kFaDirectory).size(), 2u);
#endif
}

TEST(FileSystemTest, AttributesAndTimes) {
  ScratchDir dir;
  const std::string f = dir / "f.txt";
  WriteFileText(f, "12345");
  EXPECT_EQ(FileSize(f), 5);
  EXPECT_EQ(FileSize(dir / "none"), -1);
  EXPECT_EQ(GetFileAttributes(f), kFaArchive);
  EXPECT_EQ(GetFileAttributes(dir / "none"), -1);
  EXPECT_EQ(GetFileAttributes(dir.Path()), kFaDirectory);
  WriteFileText(dir / ".dot", "");
  EXPECT_EQ(GetFileAttributes(dir / ".dot"), kFaArchive | kFaHidden);
  EXPECT_TRUE(SetFileAttributes(f, kFaReadOnly | kFaArchive));
  EXPECT_EQ(GetFileAttributes(f), kFaArchive | kFaReadOnly);
  EXPECT_TRUE(SetFileAttributes(f, kFaArchive));
  EXPECT_EQ(GetFileAttributes(f), kFaArchive);

  const DateTime when = DateTime::FromParts({2019, 12, 31, 23, 59, 58, 250});
  ASSERT_TRUE(SetFileTime(f, when));
  EXPECT_EQ(GetFileTime(f).FormatDateTime(), "2019-12-31 23:59:58");
  EXPECT_EQ(GetFileTime(f).Parts().millisecond, 250);
  EXPECT_THROW(GetFileTime(dir / "none"), EFileError);
  EXPECT_FALSE(SetFileTime(dir / "none", when));
  EXPECT_GT(DiskFreeSpace(dir.Path()), 0);
  EXPECT_EQ(DiskFreeSpace(dir / "none"), -1);
  EXPECT_TRUE(IsDirectoryWritable(dir.Path()));
  EXPECT_FALSE(IsDirectoryWritable(dir / "none"));
}

TEST(FileSystemTest, TempFilesAreUniqueAndPrivate) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: POSIX permission bits (Windows has its own test of these services)";
#else
  ScratchDir dir;
  const std::string a = CreateTempFile(dir.Path(), "kzb");
  const std::string b = CreateTempFile(dir.Path(), "kzb");
  EXPECT_NE(a, b);
  EXPECT_EQ(a.rfind(dir / "kzb", 0), 0u);
  EXPECT_EQ(a.substr(a.size() - 4), ".tmp");
  EXPECT_EQ(FileSize(a), 0);
  struct stat st {};
  ASSERT_EQ(stat(a.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_THROW(CreateTempFile(dir / "missing", "x"), EFCreateError);
#endif
}

// Temporary names carry the maker's process id: a name of a process that has ended is abandoned; one of a
// running process (this one, or pid 1), one without an id, or one of another pattern is not.
TEST(FileSystemTest, TemporaryNamesTellTheirOwner) {
  ScratchDir dir;
  const std::string own = std::to_string(kzb::platform::CurrentProcessId());
  EXPECT_EQ(ExtractFileName(CreateTempFile(dir.Path(), "kzb")).rfind("kzb" + own + "-", 0), 0u);
  const std::string ended = std::to_string(kzb::test::EndedProcessId());
  struct Case {
    std::string name;
    const char* prefix;
    const char* suffix;
    bool abandoned;
  } cases[] = {
      {"kzb" + ended + "-a1B2c3.tmp", "kzb", ".tmp", true},
      {".log.txt." + ended + "-a1B2c3", ".log.txt.", "", true},
      {"kzb" + own + "-a1B2c3.tmp", "kzb", ".tmp", false},
#ifndef _WIN32
      {"kzb1-a1B2c3.tmp", "kzb", ".tmp", false},  // init runs as long as the system does
#endif
      {"kzba1B2c3.tmp", "kzb", ".tmp", false},
      {"kzb" + ended + "-a1B2c.tmp", "kzb", ".tmp", false},
      {"kzb" + ended + "-a1B2c3.zip", "kzb", ".tmp", false},
      {"kzbx" + ended + "-a1B2c3.tmp", "kzb", ".tmp", false},
      {"kzb-" + ended + "-a1B2c3.tmp", "kzb", ".tmp", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsAbandonedTempName(c.name, c.prefix, c.suffix), c.abandoned) << c.name;
}

TEST(FileSystemTest, WriteFileAtomic) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: POSIX permission bits (Windows has its own test of these services)";
#else
  ScratchDir dir;
  const std::string f = dir / "state.txt";
  WriteFileAtomic(f, "one", 0600);
  EXPECT_EQ(ReadFileText(f), "one");
  struct stat st {};
  ASSERT_EQ(stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  chmod(f.c_str(), 0664);
  WriteFileAtomic(f, "two", 0600);
  ASSERT_EQ(stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0664u);
  std::string content;
  ASSERT_TRUE(ReadFileContent(f, content));
  EXPECT_EQ(content, "two");
  EXPECT_FALSE(ReadFileContent(dir / "none", content));
  EXPECT_THROW(WriteFileAtomic(dir / "none/x", "x"), EFCreateError);
  EXPECT_EQ(FindNames(dir / "*", kFaAnyFile & ~kFaDirectory), std::vector<std::string>{"state.txt"});
#endif
}

TEST(FileTest, ReadWriteSeekTruncate) {
  ScratchDir dir;
  const std::string path = dir / "data.bin";
  {
    File f(path, File::Mode::kCreate);
    EXPECT_EQ(f.Write("hello world", 11), 11);
    EXPECT_EQ(f.Size(), 11);
    EXPECT_EQ(f.Seek(6, 0), 6);
    char buf[16] = {};
    EXPECT_EQ(f.Read(buf, 16), 5);  // short only at the end
    EXPECT_EQ(std::string(buf, 5), "world");
    EXPECT_EQ(f.Seek(-5, 2), 6);
    EXPECT_EQ(f.Seek(1, 1), 7);
    f.Truncate(5);
    EXPECT_EQ(f.Size(), 5);
    f.FlushToDisk();
  }
  EXPECT_EQ(ReadFileText(path), "hello");
  File r(path, File::Mode::kRead);
  char c;
  EXPECT_EQ(r.Read(&c, 1), 1);
  EXPECT_EQ(r.Path(), path);
  // Beyond 4 GiB offsets (sparse).
  File big(dir / "big.bin", File::Mode::kCreate);
  EXPECT_EQ(big.Seek(6'000'000'000LL, 0), 6'000'000'000LL);
  EXPECT_EQ(big.Write("x", 1), 1);
  EXPECT_EQ(big.Size(), 6'000'000'001LL);
}

TEST(FileTest, OpenErrorsNameTheFileAndCause) {
  ScratchDir dir;
#ifdef _WIN32
  // The cause is the system's own text for the error code, in the system's language.
  const std::string missing_file = win::ErrorText(ERROR_FILE_NOT_FOUND);
  const std::string missing_path = win::ErrorText(ERROR_PATH_NOT_FOUND);
#else
  const std::string missing_file = "No such file or directory", missing_path = missing_file;
#endif
  try {
    File f(dir / "missing.zip", File::Mode::kRead);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + dir / "missing.zip" + "\". " + missing_file);
  }
  try {
    File f(dir / "no/dir/x.zip", File::Mode::kCreate);
    FAIL();
  } catch (const EFCreateError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + dir / "no/dir/x.zip" + "\". " + missing_path);
  }
  EXPECT_THROW(File(dir.Path(), File::Mode::kRead), EFOpenError);
  EXPECT_THROW(File(dir / "missing", File::Mode::kReadWrite), EFOpenError);
}

// A new file is made only where nothing is: an existing file keeps its bytes, and a link put at the name
// (even one leading nowhere) is not followed.
TEST(FileTest, CreateNewNeverReplacesOrFollows) {
  ScratchDir dir;
  WriteFileText(dir / "taken.txt", "keep");
  EXPECT_THROW(File(dir / "taken.txt", File::Mode::kCreateNew), EFCreateError);
  EXPECT_EQ(ReadFileText(dir / "taken.txt"), "keep");
  EXPECT_THROW(File(dir.Path(), File::Mode::kCreateNew), EFCreateError);
#ifndef _WIN32
  ASSERT_EQ(::symlink((dir / "elsewhere.txt").c_str(), (dir / "link.tmp").c_str()), 0);
  EXPECT_THROW(File(dir / "link.tmp", File::Mode::kCreateNew), EFCreateError);
  EXPECT_FALSE(FileExists(dir / "elsewhere.txt"));
#endif
  {
    File f(dir / "new.txt", File::Mode::kCreateNew);
    EXPECT_EQ(f.Write("new", 3), 3);
  }
  EXPECT_EQ(ReadFileText(dir / "new.txt"), "new");
}

TEST(FileTest, FullDeviceGivesShortWrite) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: /dev/full";
#else
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  File f("/dev/full", File::Mode::kReadWrite);
  EXPECT_EQ(f.Write("abc", 3), 0);
#endif
}

TEST(FileTest, NewFilePermissions) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: POSIX permission bits (Windows has its own test of these services)";
#else
  ScratchDir dir;
  const mode_t old_mask = umask(022);
  { File f(dir / "p.bin", File::Mode::kCreate, 0600); }
  umask(old_mask);
  struct stat st {};
  ASSERT_EQ(stat((dir / "p.bin").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif
}

}  // namespace
}  // namespace kzb::platform
