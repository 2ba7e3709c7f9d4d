// The extraction run: selection, destinations, overwrite rules, passwords, CRC failures, progress, safety
// against hostile entry names, and agreement with Info-ZIP unzip on archives made by zip and 7-Zip.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/extract/safe_path.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

namespace fs = std::filesystem;
using test::ScratchDir;
using test::ShellQuote;

void RunPython(const std::string& path, const std::string& body) {
  ScratchDir script_dir;
  const std::string script = "import zipfile,sys,time\nz=zipfile.ZipFile(sys.argv[1],'w')\n" + body + "\nz.close()\n";
  test::WriteFileText(script_dir / "make.py", script);
  std::string output;
  ASSERT_EQ(test::RunCommand("python3 " + ShellQuote(script_dir / "make.py") + " " + ShellQuote(path), &output), 0)
      << output;
}

// Collects every event of a run.
struct Recorder {
  std::vector<std::pair<int, std::string>> skipped;  // reason, name
  std::vector<std::string> ended;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> bad_crc;
  std::vector<int> file_percent;
  std::vector<int> total_percent;
  int complete = -1;
  int info_files = -1;
  std::int64_t info_bytes = -1;

  void Attach(TVCLUnZip& reader) {
    reader.OnSkippingFile = [this](TVCLUnZip&, TSkipReason reason, const std::string& fname, int, bool&) {
      skipped.emplace_back(static_cast<int>(reason), fname);
    };
    reader.OnEndUnZip = [this](TVCLUnZip&, int, const std::string& fname) { ended.push_back(fname); };
    reader.OnBadCRC = [this](TVCLUnZip&, std::uint32_t calc, std::uint32_t stored, int) {
      bad_crc.emplace_back(calc, stored);
    };
    reader.OnFilePercentDone = [this](TVCLUnZip&, int p) { file_percent.push_back(p); };
    reader.OnTotalPercentDone = [this](TVCLUnZip&, int p) { total_percent.push_back(p); };
    reader.OnUnZipComplete = [this](TVCLUnZip&, int count) { complete = count; };
    reader.OnStartUnZipInfo = [this](TVCLUnZip&, int files, std::int64_t bytes, bool&) {
      info_files = files;
      info_bytes = bytes;
    };
  }
};

void Prepare(TVCLUnZip& reader, const std::string& archive, const std::string& dest) {
  reader.SetZipName(archive);
  reader.SetDestDir(dest);
  reader.SetDoAll(true);
  reader.SetRecreateDirs(true);
}

TEST(SafePathTest, StoredFoldersStayRelative) {
  struct Case {
    const char* stored;
    const char* expected;
  } cases[] = {
      {"", ""},
      {"docs/", "docs/"},
      {"../", ""},
      {"a/../../x/", "a/x/"},
      {"/etc/", "etc/"},
      {"//server/share/", "server/share/"},
      {"C:/data/", "data/"},
      {"./a/./b/", "a/b/"},
      {"bad\x01name/", "bad%01name/"},
  };
  for (const Case& c : cases) EXPECT_EQ(SafeRelativeFolder(c.stored), test::Native(c.expected)) << c.stored;
  EXPECT_EQ(SafeFileName(".."), "%2E%2E");
  EXPECT_EQ(SafeFileName("PK\x06\x07"), "PK%06%07");
}

TEST(ExtractTest, HostileNamesStayInsideTheDestination) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX only: symbolic links in the destination";
#else
  ScratchDir dir;
  const std::string archive = dir / "hostile.zip";
  const std::string outside = dir / "outside.txt";
  RunPython(archive,
            "z.writestr('../x1.txt','one')\n"
            "z.writestr('/tmp/kzb-hostile-abs.txt','two')\n"
            "z.writestr('a/../../x3.txt','three')\n"
            "z.writestr('C:/x4.txt','four')\n"
            "i=zipfile.ZipInfo('link'); i.create_system=3; i.external_attr=(0o120777<<16)\n"
            "z.writestr(i," +
                std::string("'") + outside +
                "')\n"
                "z.writestr('link','through the link?')\n");
  test::WriteFileText(outside, "untouched");
  // An existing link in the destination must not be written through either.
  fs::create_directories(dir / "dest");
  fs::create_symlink(outside, dir / "dest/link");
  fs::create_symlink(dir.Path(), dir / "dest/up");
  fs::create_directories(dir / "dest/sub");
  fs::create_symlink(dir.Path(), dir / "dest/sub/up2");
  // Each link lies in a folder already used by the run, whose own folders are taken without a walk from
  // the destination: a link among them must still be seen.
  RunPython(dir / "second.zip",
            "z.writestr('first.txt','in the destination')\n"
            "z.writestr('up/escaped.txt','via a folder link')\n"
            "z.writestr('sub/ok.txt','in a folder')\n"
            "z.writestr('sub/up2/escaped2.txt','via a deeper folder link')\n");

  TVCLUnZip reader;
  Recorder events;
  events.Attach(reader);
  Prepare(reader, archive, dir / "dest");
  reader.SetOverwriteMode(TUZOverwriteMode::Always);
  EXPECT_EQ(reader.UnZip(), 6);
  EXPECT_EQ(test::ReadFileText(outside), "untouched");
  EXPECT_FALSE(fs::exists(dir / "x1.txt"));
  EXPECT_FALSE(fs::exists("/tmp/kzb-hostile-abs.txt"));
  EXPECT_EQ(test::ReadFileText(dir / "dest/x1.txt"), "one");
  EXPECT_EQ(test::ReadFileText(dir / "dest/tmp/kzb-hostile-abs.txt"), "two");
  EXPECT_EQ(test::ReadFileText(dir / "dest/a/x3.txt"), "three");
  EXPECT_EQ(test::ReadFileText(dir / "dest/x4.txt"), "four");
  // The symbolic-link entry (and the later entry of the same name) became a regular file.
  EXPECT_FALSE(fs::is_symlink(dir / "dest/link"));
  EXPECT_TRUE(fs::is_regular_file(dir / "dest/link"));

  TVCLUnZip second;
  Recorder second_events;
  second_events.Attach(second);
  Prepare(second, dir / "second.zip", dir / "dest");
  EXPECT_EQ(second.UnZip(), 2);
  EXPECT_FALSE(fs::exists(dir / "escaped.txt"));
  EXPECT_FALSE(fs::exists(dir / "escaped2.txt"));
  ASSERT_EQ(second_events.skipped.size(), 2u);
  for (const auto& skipped : second_events.skipped) {
    EXPECT_EQ(skipped.first, static_cast<int>(TSkipReason::srUnsafePath));
  }
#endif
}

TEST(ExtractTest, StoredEntryOfHundredThousandBytesInFourBlocks) {
  ScratchDir dir;
  const std::string archive = dir / "big.zip";
  RunPython(archive, "z.writestr(zipfile.ZipInfo('big.bin'), bytes(range(256))*390+bytes(160))");
  TVCLUnZip reader;
  Recorder events;
  events.Attach(reader);
  Prepare(reader, archive, dir / "out");
  EXPECT_EQ(reader.UnZip(), 1);
  EXPECT_EQ(events.file_percent, (std::vector<int>{33, 66, 98, 100}));
  EXPECT_EQ(events.total_percent.back(), 100);
  EXPECT_EQ(events.info_files, 1);
  EXPECT_EQ(events.info_bytes, 100000);
  EXPECT_EQ(fs::file_size(dir / "out/big.bin"), 100000u);
}

TEST(ExtractTest, OverwriteModes) {
  ScratchDir dir;
  const std::string archive = dir / "ow.zip";
  RunPython(archive, "z.writestr(zipfile.ZipInfo('f.txt',(2020,6,1,12,0,0)),'from archive')");
  const std::string target = dir / "out/f.txt";
  const auto entry_time = platform::DateTime::FromParts({2020, 6, 1, 12, 0, 0, 0});

  struct Case {
    TUZOverwriteMode mode;
    double file_days_offset;  // existing file's time relative to the entry's
    bool replaced;
  } cases[] = {
      {TUZOverwriteMode::Always, 0, true},   {TUZOverwriteMode::Never, -10, false},
      {TUZOverwriteMode::ifNewer, 0, false},  // equal times: kept
      {TUZOverwriteMode::ifNewer, -1, true},  // file older than the entry
      {TUZOverwriteMode::ifNewer, 1, false}, {TUZOverwriteMode::ifOlder, 0, false},
      {TUZOverwriteMode::ifOlder, 1, true},  // file newer than the entry
      {TUZOverwriteMode::Prompt, 0, false},  // no handler: kept
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode) * 100 + static_cast<int>(c.file_days_offset));
    test::WriteFileText(target, "existing");
    EXPECT_TRUE(platform::SetFileTime(target, entry_time.AddDays(c.file_days_offset)));
    TVCLUnZip reader;
    Recorder events;
    events.Attach(reader);
    Prepare(reader, archive, dir / "out");
    reader.SetOverwriteMode(c.mode);
    EXPECT_EQ(reader.UnZip(), c.replaced ? 1 : 0);
    EXPECT_EQ(test::ReadFileText(target), c.replaced ? "from archive" : "existing");
    if (!c.replaced) {
      ASSERT_EQ(events.skipped.size(), 1u);
      EXPECT_EQ(events.skipped[0].first, 1);
      EXPECT_EQ(events.skipped[0].second, target);
    }
  }
  // Prompt with a handler that agrees, and restored modification time.
  TVCLUnZip reader;
  Prepare(reader, archive, dir / "out");
  int asked = 0;
  reader.OnPromptForOverwrite = [&](TVCLUnZip&, bool& overwrite, int, std::string& fname) {
    ++asked;
    EXPECT_EQ(fname, target);
    overwrite = true;
  };
  EXPECT_EQ(reader.UnZip(), 1);
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(platform::GetFileTime(target), entry_time);
}

TEST(ExtractTest, SkippedEntriesLowerTheByteTotal) {
  ScratchDir dir;
  const std::string archive = dir / "total.zip";
  RunPython(archive, "z.writestr('kept.txt','k'*5000)\nz.writestr('new.txt','n'*3000)");
  test::WriteFileText(dir / "out/kept.txt", "existing");
  TVCLUnZip reader;
  Recorder events;
  events.Attach(reader);
  Prepare(reader, archive, dir / "out");
  reader.SetOverwriteMode(TUZOverwriteMode::Never);
  EXPECT_EQ(reader.UnZip(), 1);
  EXPECT_EQ(events.info_bytes, 8000);
  ASSERT_FALSE(events.total_percent.empty());
  EXPECT_EQ(events.total_percent.back(), 100);
  EXPECT_EQ(test::ReadFileText(dir / "out/kept.txt"), "existing");
}

TEST(ExtractTest, ReadOnlyTargetNeedsReplaceReadOnly) {
  ScratchDir dir;
  const std::string archive = dir / "ro.zip";
  RunPython(archive, "z.writestr('f.txt','new')");
  const std::string target = dir / "out/f.txt";
  for (bool replace : {false, true}) {
    test::WriteFileText(target, "old");
    EXPECT_TRUE(platform::SetFileAttributes(target, platform::kFaReadOnly));
    TVCLUnZip reader;
    Recorder events;
    events.Attach(reader);
    Prepare(reader, archive, dir / "out");
    reader.SetOverwriteMode(TUZOverwriteMode::Always);
    reader.SetReplaceReadOnly(replace);
    EXPECT_EQ(reader.UnZip(), replace ? 1 : 0);
    EXPECT_EQ(test::ReadFileText(target), replace ? "new" : "old");
    if (!replace) {
      ASSERT_EQ(events.skipped.size(), 1u);
      EXPECT_EQ(events.skipped[0].first, 3);
    }
    EXPECT_TRUE(platform::SetFileAttributes(target, 0));
  }
}

TEST(ExtractTest, PasswordChecksAndRetries) {
  if (!test::HaveTool("zip")) GTEST_SKIP() << test::MissingTools("zip");
  ScratchDir dir;
  test::WriteFileText(dir / "src/secret.txt", std::string(5000, 's'));
  test::WriteFileText(dir / "src/plain.txt", "plain");
  ASSERT_EQ(test::RunCommand("cd " + ShellQuote(dir / "src") + " && zip -q -P right ../enc.zip secret.txt plain.txt"),
            0);
  {
    // Wrong password, no handler: skipped with reason 0, no file, the run goes on.
    TVCLUnZip reader;
    Recorder events;
    events.Attach(reader);
    Prepare(reader, dir / "enc.zip", dir / "out1");
    reader.SetPassword("wrong");
    const int extracted = reader.UnZip();
    EXPECT_EQ(extracted, 0);
    ASSERT_GE(events.skipped.size(), 1u);
    EXPECT_EQ(events.skipped[0].first, 0);
    EXPECT_EQ(events.skipped[0].second, "secret.txt");
    EXPECT_FALSE(fs::exists(dir / "out1/secret.txt"));
  }
  {
    // A handler that gives the right password at its first call.
    TVCLUnZip reader;
    Recorder events;
    events.Attach(reader);
    Prepare(reader, dir / "enc.zip", dir / "out2");
    reader.SetPassword("wrong");
    int calls = 0;
    reader.OnBadPassword = [&](TVCLUnZip&, int, std::string& password) {
      ++calls;
      password = "right";
    };
    EXPECT_EQ(reader.UnZip(), 2);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(reader.Password(), "right");
    EXPECT_EQ(events.complete, 2);
    EXPECT_EQ(test::ReadFileText(dir / "out2/secret.txt"), std::string(5000, 's'));
  }
  {
    // A handler that aborts: the run still reports completion, then the error reaches the caller.
    TVCLUnZip reader;
    Recorder events;
    events.Attach(reader);
    Prepare(reader, dir / "enc.zip", dir / "out3");
    reader.SetPassword("wrong");
    reader.OnBadPassword = [](TVCLUnZip&, int, std::string&) { throw EUserCanceled("stop"); };
    EXPECT_THROW(reader.UnZip(), EUserCanceled);
    EXPECT_EQ(events.complete, 0);
  }
}

TEST(ExtractTest, CrcFailureDeletesTheFileAndTheRunGoesOn) {
  ScratchDir dir;
  const std::string archive = dir / "crc.zip";
  RunPython(archive, "z.writestr('first.txt','A'*1000)\nz.writestr('second.txt','B'*10)");
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(archive);
  bytes[30 + 9 + 500] ^= 0xFF;  // inside first.txt's stored data
  test::WriteFileBytes(archive, bytes);
  TVCLUnZip reader;
  Recorder events;
  events.Attach(reader);
  Prepare(reader, archive, dir / "out");
  EXPECT_EQ(reader.UnZip(), 1);
  ASSERT_EQ(events.bad_crc.size(), 1u);
  EXPECT_NE(events.bad_crc[0].first, events.bad_crc[0].second);
  EXPECT_FALSE(fs::exists(dir / "out/first.txt"));
  EXPECT_EQ(test::ReadFileText(dir / "out/second.txt"), "BBBBBBBBBB");
  EXPECT_EQ(events.complete, 1);
  // Test finds the same failure without writing anything.
  TVCLUnZip tester;
  Recorder test_events;
  test_events.Attach(tester);
  tester.SetZipName(archive);
  tester.SetDoAll(true);
  tester.SetDestDir(dir / "never");
  EXPECT_EQ(tester.Test(), 1);
  EXPECT_EQ(test_events.bad_crc.size(), 1u);
  EXPECT_FALSE(fs::exists(dir / "never"));
}

TEST(ExtractTest, DamagedSizesFailOnlyThatEntry) {
  ScratchDir dir;
  const std::string archive = dir / "sizes.zip";
  RunPython(archive, "z.writestr('a.txt','A'*100)\nz.writestr('b.txt','B'*100)");
  std::vector<std::uint8_t> bytes = test::ReadFileBytes(archive);
  // The first central header declares 200 bytes uncompressed; only 100 are stored.
  for (std::size_t i = 0; i + 4 <= bytes.size(); ++i) {
    if (bytes[i] == 'P' && bytes[i + 1] == 'K' && bytes[i + 2] == 1 && bytes[i + 3] == 2) {
      bytes[i + 24] = 200;  // declares 200 bytes: more than the stored data holds
      break;
    }
  }
  test::WriteFileBytes(archive, bytes);
  TVCLUnZip reader;
  Recorder events;
  events.Attach(reader);
  Prepare(reader, archive, dir / "out");
  EXPECT_EQ(reader.UnZip(), 1);
  EXPECT_FALSE(fs::exists(dir / "out/a.txt"));
  EXPECT_TRUE(fs::exists(dir / "out/b.txt"));
}

TEST(ExtractTest, SelectionFoldersAndRootDir) {
  ScratchDir dir;
  const std::string archive = dir / "sel.zip";
  RunPython(archive,
            "z.writestr('backup/','')\n"
            "z.writestr('backup/docs/','')\n"
            "z.writestr('backup/docs/Read.TXT','r')\n"
            "z.writestr('backup/docs/data.bin','d')\n"
            "z.writestr('notes.txt','n')\n");
  {
    TVCLUnZip reader;
    Recorder events;
    events.Attach(reader);
    Prepare(reader, archive, dir / "sel");
    reader.SetDoAll(false);
    reader.SetFilesList({"*.txt"});
    EXPECT_EQ(reader.UnZip(), 2);
    EXPECT_TRUE(reader.FilesList().empty());
    EXPECT_TRUE(fs::exists(dir / "sel/backup/docs/Read.TXT"));
    EXPECT_TRUE(fs::exists(dir / "sel/notes.txt"));
    EXPECT_FALSE(fs::exists(dir / "sel/backup/docs/data.bin"));
  }
  {
    // DoAll without folders: folder entries are counted but create nothing, and NumFiles leaves them out.
    TVCLUnZip reader;
    Recorder events;
    events.Attach(reader);
    Prepare(reader, archive, dir / "flat");
    reader.SetRecreateDirs(false);
    EXPECT_EQ(reader.UnZip(), 5);
    EXPECT_EQ(events.info_files, 3);
    EXPECT_TRUE(fs::exists(dir / "flat/Read.TXT"));
    EXPECT_FALSE(fs::exists(dir / "flat/backup"));
  }
  {
    TVCLUnZip reader;
    Prepare(reader, archive, dir / "root");
    reader.SetRootDir("backup");
    EXPECT_EQ(reader.UnZip(), 5);
    EXPECT_TRUE(fs::exists(dir / "root/docs/Read.TXT"));
    EXPECT_TRUE(fs::exists(dir / "root/notes.txt"));
  }
}

// Archives made by Info-ZIP zip and 7-Zip extract exactly as Info-ZIP unzip extracts them, times included.
TEST(ExtractTest, PeerArchivesMatchUnzip) {
  if (!test::HaveTool("zip") || !test::HaveTool("unzip")) GTEST_SKIP() << test::MissingTools("zip/unzip");
  ScratchDir dir;
  const std::string src = dir / "src";
  test::WriteFileBytes(src + "/bin/random.dat", test::RandomBytes(70000, 3));
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "line " + std::to_string(i) + " of some text\n";
  test::WriteFileText(src + "/docs/text.txt", text);
  test::WriteFileText(src + "/docs/deeper/empty.txt", "");
  test::WriteFileText(src + "/top.txt", "top");
  const std::string q = ShellQuote(src);
  struct Maker {
    const char* name;
    const char* command;  // run inside src; writes ../<name>
    const char* password;
    bool needs_7zz;
  } makers[] = {
      {"plain.zip", "zip -q -r ../plain.zip .", "", false},
      {"enc.zip", "zip -q -r -e -P pw ../enc.zip .", "pw", false},
      {"comment.zip", "echo 'a comment' | zip -q -r -z ../comment.zip .", "", false},
      {"7z-deflate.zip", "7zz a -tzip -bso0 -bsp0 ../7z-deflate.zip .", "", true},
      {"7z-store.zip", "7zz a -tzip -mx=0 -bso0 -bsp0 ../7z-store.zip .", "", true},
      {"7z-crypto.zip", "7zz a -tzip -ppw -mem=ZipCrypto -bso0 -bsp0 ../7z-crypto.zip .", "pw", true},
  };
  for (const Maker& m : makers) {
    SCOPED_TRACE(m.name);
    if (m.needs_7zz && !test::HaveTool("7zz")) continue;
    ASSERT_EQ(test::RunCommand("cd " + q + " && " + m.command), 0);
    const std::string archive = dir / m.name;
    const std::string theirs = dir / (std::string("unzip-") + m.name);
    const std::string ours = dir / (std::string("kzb-") + m.name);
    ASSERT_EQ(test::RunCommand("unzip -qq -o " + std::string(*m.password ? "-P pw " : "") + ShellQuote(archive) +
                               " -d " + ShellQuote(theirs)),
              0);
    TVCLUnZip reader;
    Recorder events;
    events.Attach(reader);
    Prepare(reader, archive, ours);
    reader.SetPassword(m.password);
    reader.UnZip();
    EXPECT_TRUE(events.skipped.empty());
    EXPECT_TRUE(events.bad_crc.empty());
    if (std::string(m.name) == "comment.zip") {
      EXPECT_EQ(reader.ZipComment(), "a comment");
    }
    for (const auto& item : fs::recursive_directory_iterator(theirs)) {
      const fs::path rel = fs::relative(item.path(), theirs);
      const fs::path mine = fs::path(ours) / rel;
      ASSERT_TRUE(fs::exists(mine)) << rel;
      if (!item.is_regular_file()) continue;
      EXPECT_EQ(test::ReadFileBytes(mine.string()), test::ReadFileBytes(item.path().string())) << rel;
      // DOS times have two-second resolution; unzip may use the extended timestamp.
      const auto delta = fs::last_write_time(mine) - fs::last_write_time(item.path());
      EXPECT_LE(std::chrono::abs(std::chrono::duration_cast<std::chrono::seconds>(delta)).count(), 2) << rel;
    }
  }
}

}  // namespace
}  // namespace kzb::zip
