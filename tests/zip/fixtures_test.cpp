// Every shared fixture archive, driven from MANIFEST.json: it lists with the manifest's entry count and
// extracts byte-identical to expected/<name>/; the damaged ones fail or recover as their notes say.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

namespace fs = std::filesystem;
using test::FixturesDir;
using test::ScratchDir;

struct FixtureRow {
  std::string key;        // manifest key
  std::string open_name;  // the file the reader is given
  std::string password;
  std::string expected_dir;  // "" for none
  int entries = 0;
};

// The manifest as a simple table, produced by python3 (the manifest is JSON).
std::vector<FixtureRow> LoadManifest(const std::string& dir) {
  const std::string script =
      "import json,sys\n"
      "d=json.load(open(sys.argv[1]+'MANIFEST.json'))\n"
      "for k,v in d.items():\n"
      "  if v.get('kind')=='xz': continue\n"
      "  parts=[p['name'] for p in v.get('parts') or []]\n"
      "  name=k\n"
      "  if parts:\n"
      "    zips=[p for p in parts if p.endswith('.zip')]\n"
      "    name=zips[0] if zips else parts[0]\n"
      "  print('\\t'.join([k,name,v.get('password') or '-',v.get('expected_dir') or '-',"
      "str(v.get('entries_total') or 0)]))\n";
  const std::string script_path = dir + "manifest.py";
  test::WriteFileText(script_path, script);
  std::string output;
  const int rc =
      test::RunCommand("python3 " + test::ShellQuote(script_path) + " " + test::ShellQuote(FixturesDir()), &output);
  std::vector<FixtureRow> rows;
  if (rc != 0) return rows;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream cells(line);
    std::string cell;
    while (std::getline(cells, cell, '\t')) fields.push_back(cell);
    if (fields.size() != 5) continue;
    FixtureRow row{fields[0], fields[1], fields[2] == "-" ? "" : fields[2], fields[3] == "-" ? "" : fields[3],
                   std::stoi(fields[4])};
    rows.push_back(row);
  }
  return rows;
}

// Relative path -> bytes of every regular file below root.
std::map<std::string, std::vector<std::uint8_t>> FilesBelow(const std::string& root) {
  std::map<std::string, std::vector<std::uint8_t>> files;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (!item.is_regular_file()) continue;
    files[fs::relative(item.path(), root).string()] = test::ReadFileBytes(item.path().string());
  }
  return files;
}

struct RunResult {
  int count = -1;
  int extracted = -1;
  int failures = 0;
  std::string error;
};

RunResult Extract(const std::string& archive, const std::string& password, const std::string& dest,
                  TIncompleteZipMode mode = TIncompleteZipMode::izAssumeMulti) {
  RunResult result;
  try {
    TVCLUnZip reader;
    reader.SetZipName(archive);
    reader.SetPassword(password);
    reader.SetIncompleteZipMode(mode);
    reader.SetDestDir(dest);
    reader.SetRecreateDirs(true);
    reader.SetDoAll(true);
    reader.SetOverwriteMode(TUZOverwriteMode::Always);
    reader.OnBadCRC = [&](TVCLUnZip&, std::uint32_t, std::uint32_t, int) { ++result.failures; };
    reader.OnSkippingFile = [&](TVCLUnZip&, TSkipReason, const std::string&, int, bool&) { ++result.failures; };
    reader.ReadZip();
    result.count = reader.Count();
    result.extracted = reader.UnZip();
  } catch (const std::exception& e) {
    result.error = e.what();
  }
  return result;
}

// Fixtures without an expected folder: what the reader must make of them.
struct DamagedCase {
  const char* key;
  TIncompleteZipMode mode;
  const char* error;    // expected error text, or "" for none
  int extracted;        // entries extracted intact
  int failures;         // entries reported as failed
  const char* same_as;  // expected folder the extracted files must match ("" = no check)
};

const DamagedCase kDamaged[] = {
    // No end record and no central directory: nothing to read unless the scan is asked for.
    {"corrupt-no-eocd-commons.zip", TIncompleteZipMode::izAssumeMulti, "Incomplete Zip File", 0, 0, ""},
    {"corrupt-no-eocd-commons.zip", TIncompleteZipMode::izAssumeBad, "Not a valid zip file!", 0, 0, ""},
    {"corrupt-malformed1-libarchive.zip", TIncompleteZipMode::izAssumeBad, "Not a valid zip file!", 0, 0, ""},
    {"corrupt-malformed1-libarchive.zip", TIncompleteZipMode::izAssumeNotAZip, "Not a valid zip file!", 0, 0, ""},
    {"corrupt-notzip-go.zip", TIncompleteZipMode::izAssumeMulti, "Incomplete Zip File", 0, 0, ""},
    // Rebuilt from the local headers.
    {"recovery-no-cd-go-derived.zip", TIncompleteZipMode::izAssumeBad, "", 2, 0, "expected/comment-go"},
    {"recovery-cd-zeroed-go-derived.zip", TIncompleteZipMode::izAssumeMulti, "", 2, 0, "expected/comment-go"},
    {"recovery-no-cd-shrink-derived.zip", TIncompleteZipMode::izAssumeBad, "", 3, 0,
     "expected/shrink-partialclear-sharpcompress"},
    {"corrupt-invalid-offset-zip2.zip", TIncompleteZipMode::izAssumeMulti, "", 4, 0, ""},
    {"corrupt-baddirsz-go.zip", TIncompleteZipMode::izAssumeMulti, "", 2, 0, "expected/comment-go"},
    // Output longer than declared, or a stored size that disagrees: that entry fails, the other is kept.
    {"corrupt-size-exceeds-declared-deflate-libarchive.zip", TIncompleteZipMode::izAssumeMulti, "", 1, 1, ""},
    {"corrupt-size-exceeds-declared-stored-libarchive.zip", TIncompleteZipMode::izAssumeMulti, "", 1, 1, ""},
    // Readable despite broken extra fields or comments.
    {"corrupt-bad-local-extra-libarchive.zip", TIncompleteZipMode::izAssumeMulti, "", 5, 0, ""},
    {"corrupt-bad-local-extra-sharpcompress.zip", TIncompleteZipMode::izAssumeMulti, "", 1, 0, ""},
    {"corrupt-cd-extra-zip2.zip", TIncompleteZipMode::izAssumeMulti, "", 2, 0, ""},
    {"corrupt-comment-garbage-zip2.zip", TIncompleteZipMode::izAssumeMulti, "", 0, 0, ""},
    {"zip64-dup-extra-dotnetzip.zip", TIncompleteZipMode::izAssumeMulti, "", 1, 0, ""},
};

TEST(FixturesTest, EveryFixtureExtractsAsExpected) {
  const std::string dir = FixturesDir();
  if (dir.empty()) GTEST_SKIP() << "shared fixtures folder not present";
  ScratchDir scratch;
  const std::vector<FixtureRow> rows = LoadManifest(scratch.Path());
  ASSERT_FALSE(rows.empty()) << "MANIFEST.json could not be read (python3 missing?)";
  int checked = 0;
  for (const FixtureRow& row : rows) {
    if (row.expected_dir.empty()) continue;
    SCOPED_TRACE(row.key);
    const std::string dest = scratch / ("out-" + std::to_string(checked));
    const RunResult result = Extract(dir + row.open_name, row.password, dest);
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.count, row.entries);
    EXPECT_EQ(result.failures, 0);
    const auto expected = FilesBelow(dir + row.expected_dir);
    const auto actual = fs::exists(dest) ? FilesBelow(dest) : decltype(expected){};
    EXPECT_EQ(actual.size(), expected.size());
    if (row.key == "names-utf8-noflag-osx-go.zip" || row.key == "names-cp866-libarchive.zip") {
      // Names without bit 11 from a Unix host: the name codec keeps their bytes (valid UTF-8 or not, as
      // Info-ZIP's unzip does), where the expected folder reads them as code page 437. The names are the
      // stored bytes; the contents are compared as a set.
      ASSERT_EQ(actual.size(), expected.size());
      std::multiset<std::vector<std::uint8_t>> want, got;
      for (const auto& entry : expected) want.insert(entry.second);
      for (const auto& entry : actual) got.insert(entry.second);
      EXPECT_EQ(got, want);
      if (row.key == "names-cp866-libarchive.zip") {
        EXPECT_EQ(actual.count("\x8F\x90\x88\x82\x85\x92"), 1u);
        EXPECT_EQ(actual.count("\xAF\xE0\xA8\xA2\xA5\xE2"), 1u);
      }
      fs::remove_all(dest);
      ++checked;
      continue;
    }
    for (const auto& [name, bytes] : expected) {
      auto it = actual.find(name);
      if (it == actual.end()) {
        ADD_FAILURE() << "missing " << name;
      } else if (it->second != bytes) {
        ADD_FAILURE() << "content differs: " << name;
      }
    }
    fs::remove_all(dest);
    ++checked;
  }
  EXPECT_GT(checked, 60);
}

TEST(FixturesTest, DamagedFixturesFailOrRecover) {
  const std::string dir = FixturesDir();
  if (dir.empty()) GTEST_SKIP() << "shared fixtures folder not present";
  ScratchDir scratch;
  int n = 0;
  for (const DamagedCase& c : kDamaged) {
    SCOPED_TRACE(test::Numbered(std::string(c.key) + " mode ", static_cast<int>(c.mode)));
    const std::string dest = scratch / test::Numbered("d", n++);
    const RunResult result = Extract(dir + c.key, "", dest, c.mode);
    EXPECT_EQ(result.error, c.error);
    if (*c.error == '\0') {
      EXPECT_EQ(result.extracted, c.extracted);
      EXPECT_EQ(result.failures, c.failures);
    }
    if (*c.same_as != '\0') {
      EXPECT_EQ(FilesBelow(dest), FilesBelow(dir + c.same_as));
    }
  }
}

// A byte-split set (pieces of one archive, no disk numbers) read through any of its parts.
TEST(FixturesTest, ByteSplitSetOpensFromFirstOrLastPart) {
  const std::string dir = FixturesDir();
  if (dir.empty()) GTEST_SKIP() << "shared fixtures folder not present";
  for (const char* part : {"split-7zip-blocks.zip.001", "split-7zip-blocks.zip.006"}) {
    SCOPED_TRACE(part);
    TVCLUnZip reader;
    reader.SetZipName(dir + part);
    reader.ReadZip();
    EXPECT_EQ(reader.Count(), 6);
    EXPECT_EQ(reader.VolumeKind(), TVolumeKind::vkNone);
    reader.SetDoAll(true);
    reader.SetRecreateDirs(true);
    EXPECT_EQ(reader.Test(), 6);
  }
}

// The 111,111-entry Zip64 archive: only its directory is read (xz-compressed in the fixtures).
TEST(FixturesTest, Zip64MoreThan65535Entries) {
  const std::string dir = FixturesDir();
  if (dir.empty()) GTEST_SKIP() << "shared fixtures folder not present";
  if (!test::HaveTool("xz")) GTEST_SKIP() << test::MissingTools("xz");
  ScratchDir scratch;
  const std::string archive = scratch / "many.zip";
  ASSERT_EQ(test::RunCommand("xz -dc " + test::ShellQuote(dir + "zip64-100k-files-pkzip.zip.xz") + " > " +
                             test::ShellQuote(archive)),
            0);
  TVCLUnZip reader;
  reader.SetZipName(archive);
  reader.ReadZip();
  EXPECT_EQ(reader.Count(), 111111);
  EXPECT_FALSE(reader.RepairMode());
}

// The 5,000,000,000-byte entries (Zip64 sizes in the central directory, with and without the Zip64 end
// record): decoded in full by Test. Long: runs only with KZB_LONG_TESTS=1.
TEST(FixturesTest, Zip64EntryLargerThanFourGiB) {
  const std::string dir = FixturesDir();
  if (dir.empty()) GTEST_SKIP() << "shared fixtures folder not present";
  if (std::getenv("KZB_LONG_TESTS") == nullptr) GTEST_SKIP() << "long test: set KZB_LONG_TESTS=1";
  if (!test::HaveTool("xz")) GTEST_SKIP() << test::MissingTools("xz");
  ScratchDir scratch;
  for (const char* name : {"zip64-5gb-zeros-infozip.zip.xz", "zip64-5gb-zeros-pkzip.zip.xz"}) {
    SCOPED_TRACE(name);
    const std::string archive = scratch / "huge.zip";
    ASSERT_EQ(test::RunCommand("xz -dc " + test::ShellQuote(dir + name) + " > " + test::ShellQuote(archive)), 0);
    TVCLUnZip reader;
    reader.SetZipName(archive);
    reader.ReadZip();
    ASSERT_GE(reader.Count(), 1);
    std::int64_t largest = 0;
    for (int i = 0; i < reader.Count(); ++i) largest = std::max(largest, reader.EntryUncompressedSize(i));
    EXPECT_EQ(largest, 5000000000LL);
    int failures = 0;
    reader.OnBadCRC = [&](TVCLUnZip&, std::uint32_t, std::uint32_t, int) { ++failures; };
    reader.SetDoAll(true);
    EXPECT_EQ(reader.Test(), reader.Count());
    EXPECT_EQ(failures, 0);
  }
}

}  // namespace
}  // namespace kzb::zip
