// The archive reader: opening, the directory cache, incomplete and damaged archives, listings, comments,
// volumes.
#include "zip/reader/vcl_unzip.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;

// Builds an archive with Python's zipfile: body is Python code that uses z (an open ZipFile for writing).
void MakeZip(const std::string& path, const std::string& body) {
  ScratchDir script_dir;
  const std::string script = "import zipfile,sys,time\nz=zipfile.ZipFile(sys.argv[1],'w')\n" + body + "\nz.close()\n";
  test::WriteFileText(script_dir / "make.py", script);
  std::string output;
  ASSERT_EQ(
      test::RunCommand("python3 " + test::ShellQuote(script_dir / "make.py") + " " + test::ShellQuote(path), &output),
      0)
      << output;
}

// Three entries, written in this order: b.txt, A/c.txt, a.txt.
void MakeThreeEntries(const std::string& path) {
  MakeZip(path,
          "z.writestr(zipfile.ZipInfo('b.txt',(2020,1,2,3,4,6)),'bbbb')\n"
          "z.writestr(zipfile.ZipInfo('A/c.txt',(2021,1,2,3,4,6)),'c'*100)\n"
          "z.writestr(zipfile.ZipInfo('a.txt',(2019,1,2,3,4,6)),'aa')\n"
          "z.comment=b'archive note'");
}

TEST(ReaderTest, DefaultsAndNormalisedFolders) {
  TVCLUnZip reader;
  EXPECT_EQ(reader.SortMode(), TZipSortMode::ByNone);
  EXPECT_EQ(reader.OverwriteMode(), TUZOverwriteMode::Prompt);
  EXPECT_EQ(reader.IncompleteZipMode(), TIncompleteZipMode::izAssumeMulti);
  EXPECT_TRUE(reader.DoProcessMessages());
  EXPECT_TRUE(reader.RetainAttributes());
  EXPECT_EQ(reader.ThisVersion(), 222);
  reader.SetThisVersion(5);
  EXPECT_EQ(reader.ThisVersion(), 222);
  EXPECT_EQ(reader.Count(), 0);
  reader.SetDestDir("/tmp/out/");
  EXPECT_EQ(reader.DestDir(), "/tmp/out");
  reader.SetRootDir("backup");
  EXPECT_EQ(reader.RootDir(), test::Native("backup/"));
  reader.SetRootDir("");
  EXPECT_EQ(reader.RootDir(), "");
}

TEST(ReaderTest, DialogNamesWithoutChooserCancel) {
  TVCLUnZip reader;
  reader.SetZipName("/tmp/first.zip");
  try {
    reader.SetZipName("/tmp/?");
    FAIL() << "no error";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled setting zip file name.");
  }
  EXPECT_EQ(reader.ZipName(), "/tmp/first.zip");
  try {
    reader.SetDestDir("?");
    FAIL() << "no error";
  } catch (const EUserCanceled& e) {
    EXPECT_STREQ(e.what(), "User canceled Set Desination Directory");
  }
  // A chooser answers the dialog.
  reader.OnChooseFile = [](TVCLUnZip&, const std::string& title, const std::string&, const std::string&,
                           std::string& chosen) {
    EXPECT_EQ(title, "Open a Zip File");
    chosen = "/tmp/chosen.zip";
    return true;
  };
  reader.SetZipName("?");
  EXPECT_EQ(reader.ZipName(), "/tmp/chosen.zip");
}

TEST(ReaderTest, EmptyFileIsAnEmptyArchive) {
  ScratchDir dir;
  test::WriteFileText(dir / "empty.zip", "");
  TVCLUnZip reader;
  reader.SetZipName(dir / "empty.zip");
  reader.ReadZip();
  EXPECT_EQ(reader.Count(), 0);
  int completed = -1;
  reader.OnUnZipComplete = [&](TVCLUnZip&, int count) { completed = count; };
  reader.SetDoAll(true);
  reader.SetDestDir(dir / "out");
  EXPECT_EQ(reader.UnZip(), 0);
  EXPECT_EQ(completed, 0);
}

TEST(ReaderTest, TextFileUnderEachIncompleteMode) {
  ScratchDir dir;
  const std::string path = dir / "notes.zip";
  test::WriteFileText(path, "This is just some text, not an archive at all.\n");
  {
    // Default: no error, nothing read; extracting then says the archive is incomplete.
    TVCLUnZip reader;
    reader.SetZipName(path);
    EXPECT_NO_THROW(reader.ReadZip());
    EXPECT_EQ(reader.Count(), 0);
    bool completed = false;
    reader.OnUnZipComplete = [&](TVCLUnZip&, int) { completed = true; };
    reader.SetDoAll(true);
    reader.SetDestDir(dir / "out");
    EXPECT_THROW(reader.UnZip(), EIncompleteZip);
    EXPECT_FALSE(completed);
  }
  {
    TVCLUnZip reader;
    reader.SetZipName(path);
    reader.SetIncompleteZipMode(TIncompleteZipMode::izAssumeNotAZip);
    try {
      reader.ReadZip();
      FAIL() << "no error";
    } catch (const ENotAZipFile& e) {
      EXPECT_STREQ(e.what(), "Not a valid zip file!");
    }
    EXPECT_EQ(reader.ZipName(), "");
  }
  {
    TVCLUnZip reader;
    reader.SetZipName(path);
    reader.SetIncompleteZipMode(TIncompleteZipMode::izAssumeBad);
    EXPECT_THROW(reader.ReadZip(), EBadZipFile);
    EXPECT_EQ(reader.ZipName(), "");
  }
  {
    // A handler that changes nothing is not asked forever.
    TVCLUnZip reader;
    reader.SetZipName(path);
    int calls = 0;
    reader.OnInCompleteZip = [&](TVCLUnZip&, TIncompleteZipMode&) { ++calls; };
    reader.ReadZip();
    EXPECT_EQ(reader.Count(), 0);
    EXPECT_EQ(calls, 1);
    // A handler that asks for the scan gets it.
    reader.OnInCompleteZip = [&](TVCLUnZip&, TIncompleteZipMode& mode) { mode = TIncompleteZipMode::izAssumeNotAZip; };
    EXPECT_THROW(reader.ReadZip(), ENotAZipFile);
  }
}

TEST(ReaderTest, MissingArchiveRaisesAndClears) {
  TVCLUnZip reader;
  reader.SetZipName("/nonexistent/folder/x.zip");
  EXPECT_THROW(reader.ReadZip(), std::exception);
  EXPECT_EQ(reader.ZipName(), "");
}

TEST(ReaderTest, CutOffArchiveIsRebuiltFromLocalHeadersInFileOrder) {
  ScratchDir dir;
  const std::string full = dir / "full.zip";
  MakeThreeEntries(full);
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(full);
  // Cut the archive where its central directory starts.
  std::size_t cut = 0;
  for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (bytes[i] == 'P' && bytes[i + 1] == 'K' && bytes[i + 2] == 1 && bytes[i + 3] == 2) {
      cut = i;
      break;
    }
  }
  ASSERT_GT(cut, 0u);
  bytes.resize(cut);
  const std::string damaged = dir / "cut.zip";
  test::WriteFileBytes(damaged, bytes);

  TVCLUnZip reader;
  reader.SetZipName(damaged);
  reader.SetIncompleteZipMode(TIncompleteZipMode::izAssumeBad);
  reader.ReadZip();
  ASSERT_EQ(reader.Count(), 3);
  EXPECT_TRUE(reader.RepairMode());
  EXPECT_EQ(reader.EntryName(0), "b.txt");
  EXPECT_EQ(reader.EntryPath(1), "A/");
  EXPECT_EQ(reader.EntryName(2), "a.txt");
  reader.SetDoAll(true);
  EXPECT_EQ(reader.Test(), 3);
}

TEST(ReaderTest, DirectoryIsCachedUntilTheArchiveChanges) {
  ScratchDir dir;
  const std::string path = dir / "cache.zip";
  MakeThreeEntries(path);
  TVCLUnZip reader;
  reader.SetZipName(path);
  reader.ReadZip();
  ASSERT_EQ(reader.Count(), 3);
  const TZipHeaderInfo* first = &reader.EntryInfo(0);
  reader.ReadZip();
  EXPECT_EQ(&reader.EntryInfo(0), first) << "read again although nothing changed";

  // Replace the archive with a different one, and give it another date.
  MakeZip(path, "z.writestr('only.txt','x')");
  fs::last_write_time(path, fs::last_write_time(path) + std::chrono::hours(1));
  reader.ReadZip();
  ASSERT_EQ(reader.Count(), 1);
  EXPECT_EQ(reader.EntryName(0), "only.txt");
}

TEST(ReaderTest, SortModesAndIndexRange) {
  ScratchDir dir;
  const std::string path = dir / "sort.zip";
  MakeThreeEntries(path);
  TVCLUnZip reader;
  reader.SetZipName(path);
  reader.ReadZip();
  EXPECT_EQ(reader.EntryName(0), "b.txt");  // physical order
  reader.SetSortMode(TZipSortMode::ByName);
  EXPECT_EQ(reader.EntryPath(0) + reader.EntryName(0), "a.txt");
  EXPECT_EQ(reader.EntryPath(1) + reader.EntryName(1), "A/c.txt");
  reader.SetSortMode(TZipSortMode::ByDate);
  EXPECT_EQ(reader.EntryName(0), "c.txt");  // newest first
  reader.SetSortMode(TZipSortMode::ByUnCompressedSize);
  EXPECT_EQ(reader.EntryUncompressedSize(0), 100);
  try {
    reader.EntryName(reader.Count());
    FAIL() << "no error";
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "Index 3 is out of range");
  }
  EXPECT_THROW(reader.EntryName(-1), EListError);
  const platform::DateTime when = reader.EntryDateTime(0);
  EXPECT_EQ(when.FormatDateTime(), "2021-01-02 03:04:06");
}

TEST(ReaderTest, CommentsAreReadOnDemandAndChangesAreMarked) {
  ScratchDir dir;
  const std::string path = dir / "comments.zip";
  MakeZip(path,
          "i=zipfile.ZipInfo('x.txt',(2020,1,1,0,0,0)); i.comment=b'entry note'\n"
          "z.writestr(i,'x')\nz.writestr('y.txt','y')\nz.comment=b'archive note'");
  TVCLUnZip reader;
  reader.SetZipName(path);
  reader.ReadZip();
  EXPECT_EQ(reader.ZipComment(), "archive note");
  EXPECT_EQ(reader.EntryComment(0), "entry note");
  EXPECT_EQ(reader.EntryComment(1), "");
  EXPECT_FALSE(reader.EndCentral().CommentModified());
  reader.SetZipComment("archive note");
  EXPECT_FALSE(reader.EndCentral().CommentModified());
  reader.SetZipComment("new note");
  EXPECT_TRUE(reader.EndCentral().CommentModified());
  EXPECT_EQ(reader.ZipComment(), "new note");
}

TEST(ReaderTest, CentralExtraBytesThatWereNeverWritten) {
  ScratchDir dir;
  const std::string path = dir / "extra.zip";
  MakeZip(path, "z.writestr('one.txt','1111')\nz.writestr('two.txt','2222')\nz.writestr('three.txt','33')");
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(path);
  // Declare 12 extra bytes in the first central header without adding them.
  for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (bytes[i] == 'P' && bytes[i + 1] == 'K' && bytes[i + 2] == 1 && bytes[i + 3] == 2) {
      bytes[i + 30] = 12;
      break;
    }
  }
  test::WriteFileBytes(path, bytes);
  TVCLUnZip reader;
  reader.SetZipName(path);
  reader.ReadZip();
  ASSERT_EQ(reader.Count(), 3);
  EXPECT_EQ(reader.EntryName(1), "two.txt");
  EXPECT_EQ(reader.EntryName(2), "three.txt");
}

TEST(ReaderTest, PrependedDataAndTrailingJunk) {
  ScratchDir dir;
  const std::string path = dir / "plain.zip";
  MakeThreeEntries(path);
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(path);
  // Built with assign/resize rather than insert: g++ 12 at -O2 misreads the insert as out of bounds.
  std::vector<std::uint8_t> stub;
  stub.reserve(5000 + bytes.size() + 100);
  stub.resize(5000, 'S');
  for (std::uint8_t b : bytes) stub.push_back(b);
  stub.resize(stub.size() + 100, 'J');
  test::WriteFileBytes(dir / "sfx.zip", stub);
  TVCLUnZip reader;
  reader.SetZipName(dir / "sfx.zip");
  reader.ReadZip();
  ASSERT_EQ(reader.Count(), 3);
  reader.SetDoAll(true);
  EXPECT_EQ(reader.Test(), 3);
}

// Info-ZIP's split form (name.z01, name.z02, name.zip) renamed to numbered blocks (name.001, ...).
TEST(ReaderTest, MultiVolumeBlockSet) {
  if (!test::HaveTool("zip")) GTEST_SKIP() << test::MissingTools("zip");
  ScratchDir dir;
  test::WriteFileBytes(dir / "src/data.bin", test::RandomBytes(200000, 7));
  test::WriteFileText(dir / "src/small.txt", "small file\n");
  ASSERT_EQ(
      test::RunCommand("cd " + test::ShellQuote(dir / "src") + " && zip -q -0 -s 64k ../set.zip data.bin small.txt"),
      0);
  std::vector<std::string> parts;
  for (int n = 1;; ++n) {
    char ext[32];
    std::snprintf(ext, sizeof ext, ".z%02d", n);
    if (!fs::exists(dir / ("set" + std::string(ext)))) break;
    parts.push_back(dir / ("set" + std::string(ext)));
  }
  parts.push_back(dir / "set.zip");
  ASSERT_GE(parts.size(), 3u);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    char ext[32];
    std::snprintf(ext, sizeof ext, ".%03zu", i + 1);
    fs::rename(parts[i], dir / ("blocks" + std::string(ext)));
  }
  char last[48];
  std::snprintf(last, sizeof last, "blocks.%03zu", parts.size());
  {
    TVCLUnZip reader;
    reader.SetZipName(dir / last);
    reader.ReadZip();
    ASSERT_EQ(reader.Count(), 2);
    EXPECT_EQ(reader.VolumeKind(), TVolumeKind::vkBlocks);
    reader.SetDoAll(true);
    reader.SetDestDir(dir / "out");
    EXPECT_EQ(reader.UnZip(), 2);
    EXPECT_EQ(test::ReadFileBytes(dir / "out/data.bin"), test::RandomBytes(200000, 7));
  }
  // A missing block file ends the run with the cancel error instead of asking forever.
  fs::remove(dir / "blocks.001");
  {
    TVCLUnZip reader;
    reader.SetZipName(dir / last);
    reader.SetDoAll(true);
    reader.SetDestDir(dir / "out2");
    reader.SetOverwriteMode(TUZOverwriteMode::Always);
    try {
      reader.ReadZip();
      reader.UnZip();
      FAIL() << "no error";
    } catch (const EUserCanceled& e) {
      EXPECT_STREQ(e.what(), "User canceled loading new disk.");
    }
  }
}

// A ".zfc" side file holding the central directory and end record of an archive that lacks them.
TEST(ReaderTest, SideFileSuppliesTheDirectory) {
  ScratchDir dir;
  const std::string full = dir / "full.zip";
  MakeThreeEntries(full);
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(full);
  std::size_t cut = 0;
  for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (bytes[i] == 'P' && bytes[i + 1] == 'K' && bytes[i + 2] == 1 && bytes[i + 3] == 2) {
      cut = i;
      break;
    }
  }
  ASSERT_GT(cut, 0u);
  test::WriteFileBytes(dir / "side.zip", std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut));
  test::WriteFileBytes(dir / "side.zfc", std::vector<std::uint8_t>(bytes.begin() + cut, bytes.end()));
  TVCLUnZip reader;
  reader.SetZipName(dir / "side.zip");
  reader.ReadZip();
  ASSERT_EQ(reader.Count(), 3);
  EXPECT_FALSE(reader.RepairMode());
  EXPECT_EQ(reader.EntryName(2), "a.txt");
  reader.SetDoAll(true);
  EXPECT_EQ(reader.Test(), 3);
}

TEST(ReaderTest, AssignCopiesSettingsAndHandlers) {
  TVCLUnZip source;
  source.SetZipName("/tmp/a.zip");
  source.SetDestDir("/tmp/d");
  source.SetRecreateDirs(true);
  source.SetOverwriteMode(TUZOverwriteMode::Never);
  source.SetFilesList({"*.txt"});
  int called = 0;
  source.OnUnZipComplete = [&](TVCLUnZip&, int) { ++called; };
  TVCLUnZip copy;
  copy.Assign(source);
  EXPECT_EQ(copy.ZipName(), "/tmp/a.zip");
  EXPECT_EQ(copy.DestDir(), "/tmp/d");
  EXPECT_TRUE(copy.RecreateDirs());
  EXPECT_EQ(copy.OverwriteMode(), TUZOverwriteMode::Never);
  EXPECT_EQ(copy.FilesList(), std::vector<std::string>{"*.txt"});
  ASSERT_TRUE(copy.OnUnZipComplete);
  copy.OnUnZipComplete(copy, 0);
  EXPECT_EQ(called, 1);
}

}  // namespace
}  // namespace kzb::zip
