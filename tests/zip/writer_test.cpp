// The archive writer: what it writes must pass the peer tools (Info-ZIP unzip, 7-Zip, Python's zipfile)
// and extract to the original bytes; updates, failures and cancellations never damage an existing archive.
#include "zip/writer/vcl_zip.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#ifndef _WIN32
#include <sys/mount.h>
#include <sys/stat.h>
#endif
#include <vector>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/records/zip_format.h"
#include "zip/writer/stored_path.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::ReadTree;
using test::RunCommand;
using test::ScratchDir;
using test::ShellQuote;
using test::WriteFileBytes;
using test::WriteFileText;

using Bytes = std::vector<std::uint8_t>;
using FileMap = std::map<std::string, Bytes>;

Bytes TextBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

std::vector<std::string> Names(const FileMap& files) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : files) names.push_back(name);
  return names;
}

// Tests the archive with unzip, 7-Zip and Python, and extracts it with each of them; every extraction must
// give exactly the expected files.
void ExpectPeersAccept(const std::string& archive, const FileMap& expected, const std::string& password = "") {
  std::string output;
  const std::string quoted = ShellQuote(archive);
  const std::string unzip_pw = password.empty() ? "" : "-P " + ShellQuote(password) + " ";
  const std::string seven_pw = password.empty() ? "" : "-p" + ShellQuote(password) + " ";
  EXPECT_EQ(RunCommand("unzip -t " + unzip_pw + quoted, &output), 0) << output;
  EXPECT_EQ(RunCommand("7zz t " + seven_pw + quoted, &output), 0) << output;
  ScratchDir out;
  const std::string py =
      "import zipfile,sys\n"
      "z=zipfile.ZipFile(sys.argv[1])\n"
      "pwd=sys.argv[3].encode() if len(sys.argv)>3 else None\n"
      "bad=z.testzip() if pwd is None else (z.setpassword(pwd) or z.testzip())\n"
      "assert bad is None, bad\n"
      "z.extractall(sys.argv[2], pwd=pwd)\n";
  WriteFileText(out / "check.py", py);
  EXPECT_EQ(RunCommand("python3 " + ShellQuote(out / "check.py") + " " + quoted + " " + ShellQuote(out / "py") +
                           (password.empty() ? "" : " " + ShellQuote(password)),
                       &output),
            0)
      << output;
  EXPECT_EQ(RunCommand("unzip -q -o " + unzip_pw + quoted + " -d " + ShellQuote(out / "unzip"), &output), 0) << output;
  EXPECT_EQ(RunCommand("7zz x -y " + seven_pw + "-o" + ShellQuote(out / "7z") + " " + quoted, &output), 0) << output;
  for (const char* tool : {"py", "unzip", "7z"}) {
    const std::string folder = out / tool;
    const FileMap got = fs::exists(folder) ? ReadTree(folder) : FileMap();
    EXPECT_EQ(Names(got), Names(expected)) << tool;
    EXPECT_TRUE(got == expected) << tool << " extracted different bytes";
  }
}

struct Skip {
  int reason;
  std::string name;
};

class WriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src_ = scratch_ / "src/";
    // Text that compresses, random bytes that do not, an empty file, a long run, nested folders.
    std::string text;
    for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + " of some text that repeats\n";
    files_["notes.txt"] = TextBytes(text);
    files_["sub/random.bin"] = test::RandomBytes(150000, 7);
    files_["sub/empty.dat"] = {};
    files_["sub/deep/zeros.bin"] = Bytes(300000, 0);
    files_["photo.JPG"] = test::RandomBytes(5000, 8);
    for (const auto& [name, bytes] : files_) WriteFileBytes(src_ + name, bytes);
    zip_name_ = scratch_ / "out/archive.zip";
    fs::create_directories(scratch_ / "out");
  }

  // A writer for src_, storing paths relative to it.
  void Configure(TVCLZip& zip) {
    zip.SetZipName(zip_name_);
    zip.SetRootDir(src_);
    zip.SetRelativePaths(true);
    zip.SetFilesList({src_ + "*"});
    zip.OnSkippingFile = [this](TVCLUnZip&, TSkipReason reason, const std::string& name, int, bool&) {
      skips_.push_back({static_cast<int>(reason), name});
    };
  }

  // The archive's entries as the engine's reader sees them, by name (native separators).
  std::map<std::string, TZipHeaderInfo> Entries(const std::string& archive) {
    TVCLUnZip reader;
    reader.SetZipName(archive);
    reader.ReadZip();
    std::map<std::string, TZipHeaderInfo> entries;
    for (int i = 0; i < reader.Count(); ++i) {
      const TZipHeaderInfo& info = reader.EntryInfo(i);
      entries[info.FullName()] = info;
    }
    return entries;
  }

  // Files left in the archive's folder besides the archive (temporary files must never remain).
  std::vector<std::string> OutFolder() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(scratch_ / "out"))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  ScratchDir scratch_;
  std::string src_;
  std::string zip_name_;
  FileMap files_;
  std::vector<Skip> skips_;
};

TEST_F(WriterTest, NewArchivePassesPeersAtEveryKindOfLevel) {
  for (int level : {0, 1, 6, 9}) {
    SCOPED_TRACE(level);
    fs::remove(zip_name_);
    TVCLZip zip;
    Configure(zip);
    zip.SetPackLevel(level);
    int completed = -1;
    zip.OnZipComplete = [&](TVCLZip&, int count) { completed = count; };
    EXPECT_EQ(zip.Zip(), 5);
    EXPECT_EQ(completed, 5);
    EXPECT_TRUE(zip.FilesList().empty());
    EXPECT_EQ(zip.Count(), 5);  // the reader side shows the new archive
    ExpectPeersAccept(zip_name_, files_);
    for (const auto& [name, entry] : Entries(zip_name_)) {
      // Version 2.0, made on this system's host (Unix on POSIX, with the file's mode; MS-DOS on Windows).
      EXPECT_EQ(entry.VersionMadeBy(), (platform::kArchiveHostSystem << 8) | 20) << name;
      if (platform::kArchiveHostSystem == kHostUnix) {
        EXPECT_EQ(entry.UnixMode() & kUnixTypeMask, kUnixRegular) << name;
      }
      EXPECT_TRUE(entry.UnixTime().has_value()) << name;
      EXPECT_EQ(entry.GeneralFlags() & (kFlagEncrypted | kFlagDataDescriptor), 0) << name;
      if (level == 0) {
        EXPECT_EQ(entry.CompressionMethod(), kMethodStored) << name;
        EXPECT_EQ(entry.InternalAttributes(), 0) << name;
        EXPECT_EQ(entry.CompressedSize(), entry.UncompressedSize()) << name;
      }
    }
    if (level == 9) {
      const auto entries = Entries(zip_name_);
      EXPECT_EQ(entries.at("notes.txt").CompressionMethod(), kMethodDeflated);
      EXPECT_EQ(entries.at("notes.txt").GeneralFlags() & 0x6, kFlagDeflateMaximum);
      EXPECT_EQ(entries.at("notes.txt").InternalAttributes(), 1);  // text
    }
  }
  EXPECT_EQ(OutFolder(), std::vector<std::string>{"archive.zip"});
}

TEST_F(WriterTest, PasswordArchivePassesPeers) {
  for (int level : {0, 6}) {
    SCOPED_TRACE(level);
    fs::remove(zip_name_);
    TVCLZip zip;
    Configure(zip);
    zip.SetPackLevel(level);
    zip.SetPassword("s3cret pw");
    EXPECT_EQ(zip.Zip(), 5);
    ExpectPeersAccept(zip_name_, files_, "s3cret pw");
    for (const auto& [name, entry] : Entries(zip_name_)) {
      EXPECT_EQ(entry.GeneralFlags() & kFlagEncrypted, kFlagEncrypted) << name;
      if (level == 0) {
        EXPECT_EQ(entry.CompressedSize(), entry.UncompressedSize() + 12) << name;
      }
    }
    std::string output;
    EXPECT_NE(RunCommand("unzip -t -P wrong " + ShellQuote(zip_name_), &output), 0);
  }
}

TEST_F(WriterTest, NonAsciiNamesAreUtf8WithFlag) {
  const FileMap files = {{"Grüße.txt", TextBytes("grüße")}, {"日本/テスト.txt", TextBytes("x")}, {"plain.txt", {}}};
  ScratchDir dir;
  for (const auto& [name, bytes] : files) WriteFileBytes(dir / name, bytes);
  TVCLZip zip;
  zip.SetZipName(zip_name_);
  zip.SetRootDir(dir.Path());
  zip.SetRelativePaths(true);
  zip.SetFilesList({dir.Path() + "*"});
  EXPECT_EQ(zip.Zip(), 3);
  ExpectPeersAccept(zip_name_, files);
  const auto entries = Entries(zip_name_);
  EXPECT_EQ(entries.at("Grüße.txt").GeneralFlags() & kFlagUtf8, kFlagUtf8);
  EXPECT_EQ(entries.at("plain.txt").GeneralFlags() & kFlagUtf8, 0);
  std::string listing;
  ASSERT_EQ(RunCommand("unzip -Z1 " + ShellQuote(zip_name_), &listing), 0);
  EXPECT_EQ(listing, "Grüße.txt\nplain.txt\n日本/テスト.txt\n");
  ASSERT_EQ(RunCommand("7zz l -slt " + ShellQuote(zip_name_) + " | grep '^Path = ' | LC_ALL=C sort", &listing), 0);
  EXPECT_EQ(listing, "Path = " + zip_name_ + "\nPath = Grüße.txt\nPath = plain.txt\nPath = 日本/テスト.txt\n");
}

TEST_F(WriterTest, EmptyListWritesAnEmptyArchive) {
  TVCLZip zip;
  zip.SetZipName(zip_name_);
  zip.SetZipComment("nothing here");
  int completed = -1;
  zip.OnZipComplete = [&](TVCLZip&, int count) { completed = count; };
  EXPECT_EQ(zip.Zip(), 0);
  EXPECT_EQ(completed, 0);
  EXPECT_EQ(fs::file_size(zip_name_), 22u + 12u);
  std::string output;
  EXPECT_EQ(RunCommand("7zz t " + ShellQuote(zip_name_), &output), 0) << output;
  EXPECT_EQ(RunCommand("python3 -c \"import zipfile,sys;z=zipfile.ZipFile(sys.argv[1]);assert z.testzip() is None;"
                       "assert z.namelist()==[];assert z.comment==b'nothing here'\" " +
                           ShellQuote(zip_name_),
                       &output),
            0)
      << output;
  // Nothing matched at all: the same.
  fs::remove(zip_name_);
  zip.SetFilesList({src_ + "*.none"});
  EXPECT_EQ(zip.Zip(), 0);
  EXPECT_TRUE(fs::exists(zip_name_));
}

TEST_F(WriterTest, BlankZipNameDoesNothing) {
  TVCLZip zip;
  zip.SetZipName("  ");
  zip.SetFilesList({src_ + "*"});
  int completed = -1;
  zip.OnZipComplete = [&](TVCLZip&, int count) { completed = count; };
  EXPECT_EQ(zip.Zip(), 0);
  EXPECT_EQ(completed, 0);
  EXPECT_TRUE(zip.FilesList().empty());
}

TEST_F(WriterTest, DuplicateStoredNamesAreSkippedWithReasonOne) {
  WriteFileText(src_ + "other/notes.txt", "another notes file");
  TVCLZip zip;
  Configure(zip);
  // The same file twice, and a namesake from another folder with paths off.
  zip.SetStorePaths(false);
  zip.SetFilesList({src_ + "notes.txt", src_ + "notes.txt", src_ + "other/notes.txt"});
  EXPECT_EQ(zip.Zip(), 1);
  ASSERT_EQ(skips_.size(), 2u);
  EXPECT_EQ(skips_[0].reason, 1);
  EXPECT_EQ(skips_[0].name, src_ + "notes.txt");
  EXPECT_EQ(skips_[1].reason, 1);
  EXPECT_EQ(skips_[1].name, src_ + "other/notes.txt");
  ExpectPeersAccept(zip_name_, {{"notes.txt", files_["notes.txt"]}});
}

// Nothing is left out without a word: a folder of the walk that cannot be listed and a file that cannot be
// opened are skipped with their reasons (3 and 2), a file deleted after the list was made fires
// OnNoSuchFile; everything else is written.
TEST_F(WriterTest, FilesAndFoldersThatCannotBeReadAreReported) {
  WriteFileText(src_ + "locked/secret.txt", "secret");
  WriteFileText(src_ + "unreadable.txt", "unreadable");
  TVCLZip zip;
  Configure(zip);
  std::vector<std::string> gone;
  zip.OnNoSuchFile = [&](TVCLZip&, const std::string& name) { gone.push_back(name); };
  // Deleted once the list is made: the first file read (notes.txt) deletes a later one.
  zip.OnStartZip = [&](TVCLZip&, const std::string&, TZipHeaderInfo&, bool&) {
    if (fs::exists(src_ + "photo.JPG")) fs::remove(src_ + "photo.JPG");
  };
  test::WithoutPermissionOverride no_override;
  if (!no_override.Active()) GTEST_SKIP() << "cannot drop the file permission override here";
  ASSERT_EQ(chmod((src_ + "locked").c_str(), 0), 0);
  ASSERT_EQ(chmod((src_ + "unreadable.txt").c_str(), 0), 0);

  const int added = zip.Zip();
  ASSERT_EQ(chmod((src_ + "locked").c_str(), 0755), 0);

  EXPECT_EQ(added, static_cast<int>(files_.size()) - 1);
  ASSERT_EQ(skips_.size(), 2u);
  EXPECT_EQ(skips_[0].reason, 3);
  EXPECT_EQ(skips_[0].name, src_ + "locked/");
  EXPECT_EQ(skips_[1].reason, 2);
  EXPECT_EQ(skips_[1].name, src_ + "unreadable.txt");
  EXPECT_EQ(gone, std::vector<std::string>{src_ + "photo.JPG"});
}

TEST_F(WriterTest, NoCompressListStoresMatchingNamesOnly) {
  TVCLZip zip;
  Configure(zip);
  zip.SetRecurse(true);
  zip.SetNoCompressList({"*.jpg", src_ + "*.txt"});  // a pattern with a folder never matches a bare name
  EXPECT_EQ(zip.Zip(), 5);
  const auto entries = Entries(zip_name_);
  EXPECT_EQ(entries.at("photo.JPG").CompressionMethod(), kMethodStored);
  EXPECT_EQ(entries.at("notes.txt").CompressionMethod(), kMethodDeflated);
  EXPECT_EQ(entries.at(test::Native("sub/deep/zeros.bin")).CompressionMethod(), kMethodDeflated);
}

TEST_F(WriterTest, FolderEntriesAndStoredNames) {
  TVCLZip zip;
  Configure(zip);
  zip.SetRecurse(true);
  zip.SetAddDirEntriesOnRecurse(true);
  EXPECT_EQ(zip.Zip(), 7);  // five files, sub/ and sub/deep/
  const auto entries = Entries(zip_name_);
  const std::string deep = test::Native("sub/deep/");
  ASSERT_TRUE(entries.count(deep));
  EXPECT_EQ(entries.at(deep).CompressionMethod(), kMethodStored);
  EXPECT_EQ(entries.at(deep).UncompressedSize(), 0);
  EXPECT_EQ(entries.at(deep).Crc32(), 0u);
  ExpectPeersAccept(zip_name_, files_);

  // Paths off: a folder entry would have no name and is left out.
  fs::remove(zip_name_);
  TVCLZip flat;
  flat.SetZipName(zip_name_);
  flat.SetFilesList({src_ + "sub/", src_ + "notes.txt"});
  EXPECT_EQ(flat.Zip(), 1);
  EXPECT_EQ(Entries(zip_name_).size(), 1u);
}

TEST(StoredPathRuleTest, Table) {
  struct Case {
    const char* path;
    bool store_paths, relative_paths;
    const char* root;
    const char* expected;
  } cases[] = {
      {"/data/sub/a.txt", false, false, "", ""},
      {"/data/sub/a.txt", true, false, "", "data/sub/"},
      {"/data/sub/a.txt", true, true, "/data/", "sub/"},
      {"/other/b.txt", true, true, "/data/", "other/"},
      {"/data/a.txt", true, true, "/data/", ""},
      {"/data/sub/", true, true, "/data/", "sub/"},
      {"rel/x/a.txt", true, false, "", "rel/x/"},
      {"./rel/../../x/a.txt", true, false, "", "x/"},
      {"a.txt", true, false, "", ""},
  };
  for (const auto& c : cases) {
    StoredPathOptions options;
    options.store_paths = c.store_paths;
    options.relative_paths = c.relative_paths;
    options.root_dir = test::Native(c.root);
    EXPECT_EQ(StoredPathRule(test::Native(c.path), options), test::Native(c.expected)) << c.path;
  }
}

TEST(WriterSettingsTest, InterlockedPathSettingsAndDefaults) {
  TVCLZip zip;
  EXPECT_EQ(zip.PackLevel(), 6);
  EXPECT_EQ(zip.ZipAction(), TZipAction::zaUpdate);
  EXPECT_EQ(zip.MultiZipInfo().block_size, 1457600);
  zip.SetRelativePaths(true);
  EXPECT_TRUE(zip.StorePaths());
  EXPECT_TRUE(zip.Recurse());
  zip.SetStoreVolumes(true);
  zip.SetStorePaths(false);
  EXPECT_FALSE(zip.RelativePaths());
  EXPECT_FALSE(zip.StoreVolumes());
  zip.SetPackLevel(12);
  EXPECT_EQ(zip.PackLevel(), 9);
  zip.SetPackLevel(-1);
  EXPECT_EQ(zip.PackLevel(), 0);
}

// --- Updating --------------------------------------------------------------------------------------------

class UpdateTest : public WriterTest {
 protected:
  // An archive holding notes.txt and photo.JPG, with file times an hour in the past.
  void MakeBase() {
    for (const char* name : {"notes.txt", "photo.JPG"}) {
      fs::last_write_time(src_ + name, fs::last_write_time(src_ + name) - std::chrono::hours(1));
    }
    TVCLZip zip;
    Configure(zip);
    zip.SetFilesList({src_ + "notes.txt", src_ + "photo.JPG"});
    ASSERT_EQ(zip.Zip(), 2);
    base_ = ReadFileBytes(zip_name_);
  }
  // Makes a file newer than its entry, with new content.
  void Touch(const std::string& name, const std::string& content) {
    WriteFileText(src_ + name, content);
    files_[name] = TextBytes(content);
  }
  Bytes base_;
};

TEST_F(UpdateTest, UpdateCopiesUnchangedEntriesAndAddsNewFiles) {
  MakeBase();
  TVCLZip zip;
  Configure(zip);
  zip.SetZipComment("kept comment");
  zip.SetFilesList({src_ + "notes.txt", src_ + "sub/empty.dat"});
  std::vector<std::pair<int, int>> updates;
  zip.OnUpdate = [&](TVCLZip&, TUpdateAction action, int index) {
    updates.push_back({static_cast<int>(action), index});
  };
  EXPECT_EQ(zip.Zip(), 1);
  EXPECT_EQ(updates, (std::vector<std::pair<int, int>>{{1, 0}}));
  ExpectPeersAccept(zip_name_,
                    {{"notes.txt", files_["notes.txt"]}, {"photo.JPG", files_["photo.JPG"]}, {"sub/empty.dat", {}}});
  // Copied entries are byte for byte the old ones (headers and data at the front of the file).
  const Bytes now = ReadFileBytes(zip_name_);
  const std::size_t copied = static_cast<std::size_t>(Entries(zip_name_).at("sub/empty.dat").LocalHeaderOffset());
  EXPECT_TRUE(std::equal(base_.begin(), base_.begin() + static_cast<std::ptrdiff_t>(copied), now.begin()));
  EXPECT_EQ(OutFolder(), std::vector<std::string>{"archive.zip"});

  // A run without files keeps everything, including the comment.
  TVCLZip again;
  again.SetZipName(zip_name_);
  EXPECT_EQ(again.Zip(), 0);
  EXPECT_EQ(again.Count(), 3);
  EXPECT_EQ(again.ZipComment(), "kept comment");
}

TEST_F(UpdateTest, TheSameObjectUpdatesTheArchiveItWrote) {
  // The second run copies entries whose headers are still in memory from the first run.
  TVCLZip zip;
  Configure(zip);
  zip.SetFilesList({src_ + "notes.txt", src_ + "photo.JPG"});
  ASSERT_EQ(zip.Zip(), 2);
  zip.SetFilesList({src_ + "notes.txt", src_ + "photo.JPG", src_ + "sub/empty.dat"});
  EXPECT_EQ(zip.Zip(), 1);
  ExpectPeersAccept(zip_name_,
                    {{"notes.txt", files_["notes.txt"]}, {"photo.JPG", files_["photo.JPG"]}, {"sub/empty.dat", {}}});
}

TEST_F(UpdateTest, NewerFilesReplaceTheirEntries) {
  MakeBase();
  Touch("notes.txt", "changed notes");
  TVCLZip zip;
  Configure(zip);
  zip.SetFilesList({src_ + "notes.txt", src_ + "photo.JPG"});
  std::vector<std::pair<int, int>> updates;
  zip.OnUpdate = [&](TVCLZip&, TUpdateAction action, int index) {
    updates.push_back({static_cast<int>(action), index});
  };
  EXPECT_EQ(zip.Zip(), 1);
  EXPECT_EQ(updates, (std::vector<std::pair<int, int>>{{0, 0}, {1, 1}}));
  ExpectPeersAccept(zip_name_, {{"notes.txt", files_["notes.txt"]}, {"photo.JPG", files_["photo.JPG"]}});
}

TEST_F(UpdateTest, FreshenAddsNothingNewAndReplacesNewer) {
  MakeBase();
  Touch("notes.txt", "fresh notes");
  TVCLZip zip;
  Configure(zip);
  zip.SetRecurse(true);
  zip.SetZipAction(TZipAction::zaFreshen);
  EXPECT_EQ(zip.Zip(), 1);
  ExpectPeersAccept(zip_name_, {{"notes.txt", files_["notes.txt"]}, {"photo.JPG", files_["photo.JPG"]}});
}

TEST_F(UpdateTest, ReplaceTakesOlderFilesToo) {
  MakeBase();
  WriteFileText(src_ + "photo.JPG", "older but replacing");
  fs::last_write_time(src_ + "photo.JPG", fs::last_write_time(src_ + "photo.JPG") - std::chrono::hours(48));
  TVCLZip zip;
  Configure(zip);
  zip.SetZipAction(TZipAction::zaReplace);
  zip.SetFilesList({src_ + "photo.JPG"});
  EXPECT_EQ(zip.Zip(), 1);
  ExpectPeersAccept(zip_name_, {{"notes.txt", files_["notes.txt"]}, {"photo.JPG", TextBytes("older but replacing")}});
}

TEST_F(UpdateTest, ReplacementThatCannotBeReadKeepsTheOldEntry) {
  MakeBase();
  // A pipe where the newer file should be: it cannot be stored.
  fs::remove(src_ + "notes.txt");
  ASSERT_EQ(RunCommand("mkfifo " + ShellQuote(src_ + "notes.txt")), 0);
  TVCLZip zip;
  Configure(zip);
  zip.SetFilesList({src_ + "notes.txt"});
  EXPECT_EQ(zip.Zip(), 0);
  ASSERT_EQ(skips_.size(), 1u);
  EXPECT_EQ(skips_[0].reason, 2);
  ExpectPeersAccept(zip_name_, {{"notes.txt", files_["notes.txt"]}, {"photo.JPG", files_["photo.JPG"]}});
}

TEST_F(UpdateTest, DiskFullDuringUpdateLeavesTheArchiveUntouched) {
  MakeBase();
  Touch("notes.txt", std::string(200000, 'n'));
  TVCLZip zip;
  Configure(zip);
  zip.SetPackLevel(0);
  zip.SetRecurse(true);
  zip.SetOutputDeviceLimit(100000);
  bool completed = false;
  zip.OnZipComplete = [&](TVCLZip&, int) { completed = true; };
  try {
    zip.Zip();
    FAIL() << "no error";
  } catch (const ENotEnoughRoom& error) {
    EXPECT_STREQ(error.what(), "Not enough room to write archive");
  }
  EXPECT_FALSE(completed);
  EXPECT_TRUE(zip.FilesList().empty());
  EXPECT_EQ(ReadFileBytes(zip_name_), base_);
  EXPECT_EQ(OutFolder(), std::vector<std::string>{"archive.zip"});
  // The reader side still shows the old archive.
  EXPECT_EQ(zip.ZipName(), zip_name_);
  EXPECT_EQ(zip.Count(), 2);
}

TEST_F(UpdateTest, CancelledRunLeavesNothingBehind) {
  MakeBase();
  TVCLZip zip;
  Configure(zip);
  zip.OnStartZipInfo = [](TVCLZip&, int, std::int64_t, TEndCentral&, bool& stop_now) { stop_now = true; };
  EXPECT_THROW(zip.Zip(), EUserCanceled);
  EXPECT_EQ(ReadFileBytes(zip_name_), base_);
  EXPECT_EQ(OutFolder(), std::vector<std::string>{"archive.zip"});

  // A new archive that is cancelled does not appear at all.
  const std::string fresh = scratch_ / "out/fresh.zip";
  TVCLZip other;
  Configure(other);
  other.SetZipName(fresh);
  other.OnStartZip = [](TVCLZip&, const std::string& name, TZipHeaderInfo&, bool&) {
    if (name.find("random") != std::string::npos) throw EUserCanceled("User canceled Zip operation");
  };
  other.SetRecurse(true);
  EXPECT_THROW(other.Zip(), EUserCanceled);
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_EQ(OutFolder(), std::vector<std::string>{"archive.zip"});
}

TEST_F(WriterTest, RealFullDiskLeavesNoPartialArchive) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: a small tmpfs mounted for a real full disk";
#else
  const std::string mount_point = scratch_ / "tiny";
  fs::create_directories(mount_point);
  if (::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=256k") != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  }
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mount_point};
  TVCLZip zip;
  Configure(zip);
  zip.SetZipName(mount_point + "/full.zip");
  zip.SetRecurse(true);
  zip.SetPackLevel(0);
  EXPECT_THROW(zip.Zip(), ENotEnoughRoom);
  EXPECT_TRUE(fs::is_empty(mount_point));
#endif
}

TEST_F(WriterTest, CommentFollowsZipNameChanges) {
  TVCLZip zip;
  Configure(zip);
  zip.SetPassword("pw");
  zip.SetZipComment("first comment");
  ASSERT_EQ(zip.Zip(), 5);
  // The same name again: nothing changes.
  zip.SetZipName(zip_name_);
  EXPECT_EQ(zip.ZipComment(), "first comment");
  // Another name: comment forgotten, password kept, the written archive not touched again.
  const auto written = fs::last_write_time(zip_name_);
  const std::string second = scratch_ / "out/second.zip";
  int completes = 0;
  zip.OnZipComplete = [&](TVCLZip&, int) { ++completes; };
  zip.SetZipName(second);
  EXPECT_EQ(zip.ZipComment(), "");
  EXPECT_EQ(zip.Password(), "pw");
  EXPECT_EQ(fs::last_write_time(zip_name_), written);

  // A comment changed on an existing archive without a run is stored when the name changes.
  zip.SetZipName(zip_name_);
  zip.SetZipComment("second comment");
  zip.SetZipName(second);
  EXPECT_EQ(completes, 0);
  TVCLUnZip reader;
  reader.SetZipName(zip_name_);
  reader.ReadZip();
  EXPECT_EQ(reader.ZipComment(), "second comment");
  EXPECT_EQ(reader.Count(), 5);
  ExpectPeersAccept(zip_name_, files_, "pw");

  // ... and when that archive is gone, one with only the comment is made.
  zip.SetZipName(zip_name_);
  zip.SetZipComment("third");
  fs::remove(zip_name_);
  zip.SetZipName(second);
  reader.SetZipName("");
  reader.SetZipName(zip_name_);
  reader.ReadZip();
  EXPECT_EQ(reader.Count(), 0);
  EXPECT_EQ(reader.ZipComment(), "third");
}

TEST_F(WriterTest, FileThatChangesBetweenPassesIsRewrittenOrSkipped) {
  for (int changes : {1, 1000}) {
    SCOPED_TRACE(changes);
    fs::remove(zip_name_);
    skips_.clear();
    WriteFileText(src_ + "notes.txt", "version 0 of the notes");
    TVCLZip zip;
    Configure(zip);
    zip.SetPassword("pw");
    zip.SetFilesList({src_ + "notes.txt", src_ + "photo.JPG"});
    // The CRC pass lets the application run; the file changes (same size) while it does.
    int changed = 0;
    zip.OnProcessMessages = [&](TVCLUnZip&) {
      if (changed < changes)
        WriteFileText(src_ + "notes.txt", "version " + std::to_string(++changed % 10) + " of the notes");
    };
    const int added = zip.Zip();
    if (changes == 1) {
      EXPECT_EQ(added, 2);
      EXPECT_TRUE(skips_.empty());
      ExpectPeersAccept(zip_name_,
                        {{"notes.txt", ReadFileBytes(src_ + "notes.txt")}, {"photo.JPG", files_["photo.JPG"]}}, "pw");
    } else {
      EXPECT_EQ(added, 1);
      ASSERT_EQ(skips_.size(), 1u);
      EXPECT_EQ(skips_[0].reason, 2);
      ExpectPeersAccept(zip_name_, {{"photo.JPG", files_["photo.JPG"]}}, "pw");
    }
  }
}

TEST_F(WriterTest, FileThatGrowsWhileReadIsStoredAsReadAtOpen) {
  TVCLZip zip;
  Configure(zip);
  zip.SetFilesList({src_ + "notes.txt"});
  zip.OnStartZip = [&](TVCLZip&, const std::string& name, TZipHeaderInfo&, bool&) {
    std::ofstream(name, std::ios::app) << "appended after the file was opened\n";
  };
  EXPECT_EQ(zip.Zip(), 1);
  ExpectPeersAccept(zip_name_, {{"notes.txt", files_["notes.txt"]}});
}

TEST_F(WriterTest, DisposeDeletesAddedFilesUnlessSkipped) {
  TVCLZip zip;
  Configure(zip);
  zip.SetDispose(true);
  zip.SetFilesList({src_ + "notes.txt", src_ + "photo.JPG"});
  zip.OnDisposeFile = [](TVCLZip&, const std::string& name, bool& skip) {
    skip = name.find("photo") != std::string::npos;
  };
  EXPECT_EQ(zip.Zip(), 2);
  EXPECT_FALSE(fs::exists(src_ + "notes.txt"));
  EXPECT_TRUE(fs::exists(src_ + "photo.JPG"));
}

TEST_F(WriterTest, EventsReportProgressAndEveryFile) {
  TVCLZip zip;
  Configure(zip);
  zip.SetRecurse(true);
  std::vector<std::string> started, ended;
  std::vector<int> totals;
  int files_in_info = 0;
  std::int64_t bytes_in_info = 0;
  zip.OnStartZipInfo = [&](TVCLZip&, int num_files, std::int64_t total_bytes, TEndCentral& end, bool&) {
    files_in_info = num_files;
    bytes_in_info = total_bytes;
    end.SetZipComment(std::string("set by the handler"));
  };
  zip.OnStartZip = [&](TVCLZip&, const std::string& name, TZipHeaderInfo&, bool& skip) {
    started.push_back(name);
    skip = name.find("photo") != std::string::npos;
  };
  zip.OnEndZip = [&](TVCLZip&, const std::string& name, std::int64_t, std::int64_t, std::int64_t) {
    ended.push_back(name);
  };
  zip.OnTotalPercentDone = [&](TVCLUnZip&, int percent) { totals.push_back(percent); };
  EXPECT_EQ(zip.Zip(), 4);
  EXPECT_EQ(files_in_info, 5);
  std::int64_t sum = 0;
  for (const auto& [name, bytes] : files_) sum += static_cast<std::int64_t>(bytes.size());
  EXPECT_EQ(bytes_in_info, sum);
  EXPECT_EQ(started.size(), 5u);
  EXPECT_EQ(ended.size(), 4u);
  ASSERT_FALSE(totals.empty());
  EXPECT_TRUE(std::is_sorted(totals.begin(), totals.end()));
  EXPECT_EQ(totals.back(), 100);
  EXPECT_EQ(zip.ZipComment(), "set by the handler");
}

// --- Volumes ---------------------------------------------------------------------------------------------

TEST_F(WriterTest, BlockVolumesJoinToAValidArchive) {
  TVCLZip zip;
  Configure(zip);
  zip.SetRecurse(true);
  zip.SetPackLevel(1);
  TMultiZipInfo info;
  info.multi_mode = TMultiMode::mmBlocks;
  info.first_block_size = 100000;
  info.block_size = 70000;
  info.save_zip_info_on_first_disk = true;
  zip.SetMultiZipInfo(info);
  EXPECT_EQ(zip.Zip(), 5);
  // archive.001 ... archive.00N, the last holding the directory; the reader side names the last one.
  std::vector<std::string> names = OutFolder();
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(names.front(), "archive.001");
  EXPECT_EQ(names.back(), "archive.zfc");
  EXPECT_EQ(zip.ZipName(), scratch_ / "out/" + names[names.size() - 2]);
  EXPECT_LE(fs::file_size(scratch_ / "out/archive.001"), 100000u);
  EXPECT_LE(fs::file_size(scratch_ / "out/archive.002"), 70000u);

  // Renamed to the split form name.z01 ... name.zip, Info-ZIP zip joins the set into one archive.
  ScratchDir split;
  const std::size_t volumes = names.size() - 1;
  for (std::size_t i = 0; i < volumes; ++i) {
    std::string ext = ".z" + std::string(i + 1 < 10 ? "0" : "") + std::to_string(i + 1);
    fs::copy_file(scratch_ / "out/" + names[i], split / ("set" + (i + 1 == volumes ? std::string(".zip") : ext)));
  }
  std::string output;
  ASSERT_EQ(RunCommand("cd " + ShellQuote(split.Path()) + " && zip -q -s 0 set.zip --out joined.zip", &output), 0)
      << output;
  ExpectPeersAccept(split / "joined.zip", files_);

  // Our own reader reads the set from its last volume.
  TVCLUnZip reader;
  reader.SetZipName(zip.ZipName());
  reader.ReadZip();
  EXPECT_EQ(reader.Count(), 5);
}

TEST_F(WriterTest, SmallArchiveInBlockModeIsOneFileUnderItsName) {
  TVCLZip zip;
  Configure(zip);
  zip.SetFilesList({src_ + "notes.txt"});
  TMultiZipInfo info;
  info.multi_mode = TMultiMode::mmBlocks;
  zip.SetMultiZipInfo(info);
  EXPECT_EQ(zip.Zip(), 1);
  EXPECT_EQ(OutFolder(), std::vector<std::string>{"archive.zip"});
  ExpectPeersAccept(zip_name_, {{"notes.txt", files_["notes.txt"]}});
}

TEST_F(WriterTest, SpanWithHandlerRepeatingTheNameNeverOverwritesAVolume) {
  TVCLZip zip;
  Configure(zip);
  zip.SetRecurse(true);
  zip.SetPackLevel(0);
  TMultiZipInfo info;
  info.multi_mode = TMultiMode::mmSpan;
  // Every folder reports the same free space, so the first volume ends after about 100,000 bytes
  // whatever else is writing to the disk meanwhile.
  constexpr std::int64_t kFreeSpace = std::int64_t{1} << 30;
  const auto probe = [](const std::string&) { return kFreeSpace; };
  info.save_on_first_disk = kFreeSpace - 100000;
  zip.SetMultiZipInfo(info);
  zip.SetFreeSpaceProbe(probe);
  std::vector<int> asked;
  // A handler that offers the current name again, as a disk-swapping prompt would.
  zip.OnGetNextDisk = [&](TVCLUnZip&, int next_disk, std::string&) { asked.push_back(next_disk); };
  EXPECT_EQ(zip.Zip(), 5);
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.front(), 2);
  EXPECT_GE(OutFolder().size(), 2u);
  TVCLUnZip reader;
  reader.SetZipName(zip.ZipName());
  reader.ReadZip();
  EXPECT_EQ(reader.Count(), 5);

  // Refusing the next disk cancels the run and removes every volume written so far.
  for (const auto& name : OutFolder()) fs::remove(scratch_ / "out/" + name);
  TVCLZip refused;
  Configure(refused);
  refused.SetRecurse(true);
  refused.SetPackLevel(0);
  refused.SetMultiZipInfo(info);
  refused.SetFreeSpaceProbe(probe);
  refused.OnGetNextDisk = [](TVCLUnZip&, int, std::string& name) { name.clear(); };
  EXPECT_THROW(refused.Zip(), EUserCanceled);
  EXPECT_TRUE(OutFolder().empty());
}

// The listing of the archive just written follows the sort mode chosen before the run, as a listing read
// from the file would.
TEST(WriterListingTest, TheNewArchiveIsListedInTheChosenOrder) {
  ScratchDir dir;
  WriteFileText(dir / "b.txt", "b");
  WriteFileText(dir / "a.txt", "a");
  TVCLZip zip;
  zip.SetSortMode(TZipSortMode::ByName);
  zip.SetZipName(dir / "sorted.zip");
  zip.SetFilesList({dir / "b.txt", dir / "a.txt"});
  ASSERT_EQ(zip.Zip(), 2);
  ASSERT_EQ(zip.Count(), 2);
  EXPECT_EQ(zip.EntryName(0), "a.txt");
  EXPECT_EQ(zip.EntryName(1), "b.txt");
}

}  // namespace
}  // namespace kzb::zip
