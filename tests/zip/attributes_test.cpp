// What a file is besides its bytes: permission bits, modification times in UTC and names that are not
// UTF-8, written by the engine and given back by its extraction (and taken from other tools' blocks).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#endif

#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/records/zip_format.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::zip {
namespace {

#ifdef _WIN32

TEST(AttributesTest, PosixModesAndByteNames) {
  GTEST_SKIP() << "POSIX only: permission bits, the creation mask and byte-string names";
}

#else

namespace fs = std::filesystem;
using test::ScratchDir;
using test::ShellQuote;

// Seconds since 1970 of a UTC date and time.
std::int64_t Utc(int year, int month, int day, int hour, int minute, int second) {
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<std::int64_t>(timegm(&t));
}

struct FileState {
  unsigned mode = 0;  // permission bits and set-id / sticky bits
  std::int64_t mtime = 0;
};

FileState StateOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return {static_cast<unsigned>(st.st_mode & 07777), static_cast<std::int64_t>(st.st_mtim.tv_sec)};
}

void SetState(const std::string& path, unsigned mode, std::int64_t mtime) {
  ASSERT_EQ(::chmod(path.c_str(), mode), 0) << path;
  timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(mtime), 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

// Sets the time zone (and the creation mask) of this process for the scope of the object.
class ScopedZoneAndMask {
 public:
  ScopedZoneAndMask(const char* zone, mode_t mask) : mask_(::umask(mask)) {
    const char* old = std::getenv("TZ");
    had_zone_ = old != nullptr;
    if (had_zone_) zone_ = old;
    test::SetEnv("TZ", zone);
    tzset();
  }
  ~ScopedZoneAndMask() {
    if (had_zone_) {
      test::SetEnv("TZ", zone_);
    } else {
      test::UnsetEnv("TZ");
    }
    tzset();
    ::umask(mask_);
  }

 private:
  mode_t mask_;
  bool had_zone_ = false;
  std::string zone_;
};

constexpr const char* kBerlin = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char* kNewYork = "EST5EDT,M3.2.0,M11.1.0";

struct TreeFile {
  const char* name;
  unsigned mode;
  std::int64_t mtime;
};

// Odd seconds throughout: the DOS fields (two-second steps, local time) could not give them back.
const std::vector<TreeFile>& Tree() {
  static const std::vector<TreeFile> tree = {
      {"run.sh", 0755, Utc(2023, 11, 2, 9, 15, 7)},
      {"readonly.txt", 0444, Utc(2022, 5, 5, 5, 5, 5)},
      {"winter.txt", 0644, Utc(2024, 1, 15, 10, 20, 31)},
      {"summer.txt", 0640, Utc(2024, 7, 15, 10, 20, 33)},
      {"Gr\xC3\xBC\xC3\x9F"
       "e.txt",
       0600, Utc(2021, 3, 28, 1, 30, 1)},                   // UTF-8
      {"caf\xE9.txt", 0664, Utc(2021, 10, 31, 2, 30, 59)},  // Latin-1: not UTF-8
      {"private/note.txt", 0600, Utc(2020, 2, 29, 23, 59, 59)},
  };
  return tree;
}
const TreeFile kPrivateFolder = {"private", 0700, Utc(2024, 3, 10, 8, 0, 5)};

void MakeTree(const std::string& root) {
  for (const TreeFile& f : Tree()) {
    test::WriteFileText(root + f.name, f.name);
    SetState(root + f.name, f.mode, f.mtime);
  }
  SetState(root + kPrivateFolder.name, kPrivateFolder.mode, kPrivateFolder.mtime);
}

void PackTree(const std::string& root, const std::string& archive) {
  ScopedZoneAndMask zone(kBerlin, 022);
  TVCLZip zip;
  zip.SetZipName(archive);
  zip.SetRootDir(root);
  zip.SetRelativePaths(true);
  zip.SetRecurse(true);
  zip.SetAddDirEntriesOnRecurse(true);
  zip.SetFilesList({root + "*"});
  ASSERT_EQ(zip.Zip(), static_cast<int>(Tree().size()) + 1);
}

int Extract(const std::string& archive, const std::string& dest, TUZOverwriteMode mode = TUZOverwriteMode::Always) {
  TVCLUnZip reader;
  reader.SetZipName(archive);
  reader.SetDestDir(dest);
  reader.SetDoAll(true);
  reader.SetRecreateDirs(true);
  reader.SetOverwriteMode(mode);
  reader.SetReplaceReadOnly(true);
  return reader.UnZip();
}

// Packed in one time zone, extracted in another under two creation masks: new files get the stored bits
// through the mask, files that replace others get them as stored; times are exact to the second and names
// keep their bytes.
TEST(AttributesTest, ModesTimesAndNamesComeBack) {
  ScratchDir dir;
  MakeTree(dir / "src/");
  const std::string archive = dir / "tree.zip";
  PackTree(dir / "src/", archive);

  struct Run {
    const char* label;
    mode_t mask;
    bool replaces;  // the destination already holds the tree
  };
  for (const Run& run : {Run{"new files, mask 022", 022, false}, Run{"new files, mask 027", 027, false},
                         Run{"replaced files, mask 077", 077, true}}) {
    SCOPED_TRACE(run.label);
    const std::string dest = dir / (std::string("out-") + std::to_string(run.mask) + "/");
    if (run.replaces) {
      ASSERT_EQ(Extract(archive, dest), static_cast<int>(Tree().size()) + 1);
    }
    ScopedZoneAndMask zone(kNewYork, run.mask);
    ASSERT_EQ(Extract(archive, dest), static_cast<int>(Tree().size()) + 1);
    const unsigned keep = run.replaces ? 07777 : (07777 & ~run.mask);
    for (const TreeFile& f : Tree()) {
      SCOPED_TRACE(test::ShellQuote(f.name));
      ASSERT_TRUE(fs::exists(fs::path(dest + f.name)));  // the very bytes of the name
      const FileState state = StateOf(dest + f.name);
      EXPECT_EQ(state.mode, f.mode & keep);
      EXPECT_EQ(state.mtime, f.mtime);
    }
    const FileState folder = StateOf(dest + kPrivateFolder.name);
    // A folder that was there keeps being one the user has; its stored bits apply as they are.
    EXPECT_EQ(folder.mode, kPrivateFolder.mode & keep);
    EXPECT_EQ(folder.mtime, kPrivateFolder.mtime);  // set after its file was written
  }
}

// Archives from other tools: set-id and sticky bits are never given back, links and devices get no mode,
// a DOS host's read-only bit still counts, and the time comes from the NTFS block when there is no
// extended timestamp.
TEST(AttributesTest, ForeignModesAndTimeBlocks) {
  if (!test::HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  ScratchDir dir;
  const std::string archive = dir / "foreign.zip";
  const std::int64_t ntfs_time = Utc(2019, 6, 1, 12, 0, 1);
  const std::int64_t ut_time = Utc(2018, 12, 24, 18, 30, 3);
  const std::string script =
      "import zipfile,struct,sys\n"
      "z=zipfile.ZipFile(sys.argv[1],'w')\n"
      "def add(name,made_by,attr,extra=b'',data=b'x'):\n"
      "  i=zipfile.ZipInfo(name,(2001,1,1,0,0,0)); i.create_system=made_by; i.external_attr=attr; i.extra=extra\n"
      "  z.writestr(i,data)\n"
      "ntfs=struct.pack('<HHIHHQQQ',10,32,0,1,24,(" +
      std::to_string(ntfs_time) +
      "+11644473600)*10**7,0,0)\n"
      "ut=struct.pack('<HHBI',0x5455,5,1," +
      std::to_string(ut_time) +
      ")\n"
      "add('setuid',3,0o104755<<16)\n"
      "add('sticky/',3,(0o41777<<16)|0x10,data=b'')\n"
      "add('link',3,0o120777<<16)\n"
      "add('dosro.txt',0,0x21)\n"
      "add('marked',0,(0o100750<<16)|0x8020)\n"
      "add('ntfs',0,0x20,ntfs)\n"
      "add('both',3,0o100644<<16,ntfs+ut)\n"
      "z.close()\n";
  test::WriteFileText(dir / "make.py", script);
  std::string output;
  ASSERT_EQ(test::RunCommand("python3 " + ShellQuote(dir / "make.py") + " " + ShellQuote(archive), &output), 0)
      << output;
  ScopedZoneAndMask zone(kNewYork, 022);
  const std::string dest = dir / "out/";
  ASSERT_EQ(Extract(archive, dest), 7);
  struct Want {
    const char* name;
    unsigned mode;
  };
  for (const Want& w : {Want{"setuid", 0755}, Want{"sticky", 0755}, Want{"link", 0644}, Want{"dosro.txt", 0444},
                        Want{"marked", 0750}, Want{"ntfs", 0644}, Want{"both", 0644}}) {
    EXPECT_EQ(StateOf(dest + w.name).mode, w.mode) << w.name;
  }
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(fs::path(dest + "link"))));
  EXPECT_EQ(StateOf(dest + "ntfs").mtime, ntfs_time);
  EXPECT_EQ(StateOf(dest + "both").mtime, ut_time);
}

// A read-only file a restore made is replaced by the next restore under the overwrite rule, but only once
// the new content is complete: a failed entry leaves it as it was, read-only.
TEST(AttributesTest, ReadOnlyFileIsReplacedOnlyByCompleteContent) {
  ScratchDir dir;
  MakeTree(dir / "src/");
  const std::string archive = dir / "tree.zip";
  PackTree(dir / "src/", archive);
  const std::string dest = dir / "out/";
  ASSERT_EQ(Extract(archive, dest), static_cast<int>(Tree().size()) + 1);
  ASSERT_EQ(StateOf(dest + "readonly.txt").mode, 0444u);

  // Damage the stored bytes of readonly.txt: its CRC fails, the old file stays read-only.
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(archive);
  const std::string name = "readonly.txt";
  auto at = std::search(bytes.begin(), bytes.end(), name.begin(), name.end());
  ASSERT_NE(at, bytes.end());
  const std::size_t data = static_cast<std::size_t>(at - bytes.begin()) + name.size() +
                           GetU16(&bytes[static_cast<std::size_t>(at - bytes.begin()) - 2]);
  bytes[data] ^= 0x55;
  test::WriteFileBytes(dir / "bad.zip", bytes);
  test::WriteFileText(dest + "readonly.txt", "kept");
  ASSERT_EQ(::chmod((dest + "readonly.txt").c_str(), 0444), 0);
  Extract(dir / "bad.zip", dest);
  EXPECT_EQ(test::ReadFileText(dest + "readonly.txt"), "kept");
  EXPECT_EQ(StateOf(dest + "readonly.txt").mode, 0444u);

  // The good archive replaces it.
  ASSERT_EQ(Extract(archive, dest), static_cast<int>(Tree().size()) + 1);
  EXPECT_EQ(test::ReadFileText(dest + "readonly.txt"), "readonly.txt");
  EXPECT_EQ(StateOf(dest + "readonly.txt").mode, 0444u);
}

#endif

}  // namespace
}  // namespace kzb::zip
