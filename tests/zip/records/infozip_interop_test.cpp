// The record code against real archives: what Info-ZIP zip writes (made at test time) and the shared
// fixtures are parsed through FindEndRecord + ReadCentral; what our records and cipher write, Info-ZIP
// unzip (and Python's zipfile, when present) accept.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/date_time.h"
#include "support/test_support.h"
#include "zip/crypt/zip_crypt.h"
#include "zip/records/crc32.h"
#include "zip/records/end_central.h"
#include "zip/records/name_codec.h"
#include "zip/records/zip_format.h"
#include "zip/records/zip_header_info.h"
#include "zip/stream/buffer_stream.h"

namespace kzb::zip {
namespace {

using test::ScratchDir;

struct Directory {
  TEndCentral end;
  std::vector<TZipHeaderInfo> entries;
  std::string comment;

  const TZipHeaderInfo* Find(const std::string& full_name) const {
    for (const auto& e : entries) {
      if (e.FullName() == full_name) return &e;
    }
    return nullptr;
  }
};

// Walks an archive's directory the way the reader does, with the prepended-data correction.
Directory ReadDirectory(const std::string& path) {
  Directory d;
  TLFNFileStream s(path, kFmOpenRead | kFmShareDenyWrite);
  EXPECT_TRUE(d.end.FindEndRecord(s)) << path;
  s.Seek(d.end.CentralDirOffset() + d.end.PrependedBytes(), kSeekBegin);
  for (std::int64_t i = 0; i < d.end.TotalEntries(); ++i) {
    TZipHeaderInfo h;
    if (!h.ReadCentral(s)) {
      ADD_FAILURE() << path << ": central header " << i << " unreadable";
      break;
    }
    d.entries.push_back(h);
  }
  if (d.end.HasComment()) d.comment = d.end.ReadZipComment(s);
  return d;
}

std::uint32_t CrcOfFile(const std::string& path) {
  const auto bytes = test::ReadFileBytes(path);
  return Crc32Of(bytes.data(), bytes.size());
}

bool HaveZip() {
  return test::HaveTool("zip") && test::HaveTool("unzip");
}

class InfoZipArchiveTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!HaveZip()) GTEST_SKIP() << test::MissingTools("Info-ZIP zip/unzip");
    std::string text;
    for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i) + " of a compressible text file\n";
    test::WriteFileText(dir_ / "a.txt", "hello\n");
    test::WriteFileText(dir_ / "big.txt", text);
    test::WriteFileBytes(dir_ / "sub/rand.bin", test::RandomBytes(70000, 1));
    test::WriteFileText(dir_ / "sub/deeper/c.txt", "world\n");
    Run("touch -d '2021-03-04 05:06:08' a.txt big.txt sub/rand.bin sub/deeper/c.txt sub sub/deeper");
  }
  void Run(const std::string& command) {
    std::string output;
    ASSERT_EQ(test::RunCommand("cd " + test::ShellQuote(dir_.Path()) + " && " + command, &output), 0) << output;
  }
  // 2021-03-04 05:06:08 local time, packed.
  static std::uint32_t ExpectedDos() { return platform::DateTime::FromParts({2021, 3, 4, 5, 6, 8, 0}).ToDos(); }

  ScratchDir dir_;
};

TEST_F(InfoZipArchiveTest, PlainArchive) {
  Run("zip -q -X plain.zip a.txt big.txt sub/rand.bin");
  const Directory d = ReadDirectory(dir_ / "plain.zip");
  ASSERT_EQ(d.entries.size(), 3u);
  EXPECT_EQ(d.end.TotalEntries(), 3);
  EXPECT_FALSE(d.end.HasComment());
  for (const char* name : {"a.txt", "big.txt", "sub/rand.bin"}) {
    SCOPED_TRACE(name);
    const TZipHeaderInfo* e = d.Find(name);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->UncompressedSize(), test::ReadFileBytes(dir_ / name).size());
    EXPECT_EQ(e->Crc32(), CrcOfFile(dir_ / name));
    EXPECT_EQ(e->FileDateTime(), ExpectedDos());
    EXPECT_FALSE(e->IsEncrypted());
  }
  EXPECT_EQ(d.Find("big.txt")->CompressionMethod(), kMethodDeflated);
  EXPECT_LT(d.Find("big.txt")->CompressedSize(), d.Find("big.txt")->UncompressedSize());
  EXPECT_EQ(d.Find("sub/rand.bin")->Directory(), "sub/");
  // Local headers agree with the central ones.
  TLFNFileStream s(dir_ / "plain.zip", kFmOpenRead);
  for (const auto& central : d.entries) {
    s.Seek(central.LocalHeaderOffset(), kSeekBegin);
    TZipHeaderInfo local;
    ASSERT_TRUE(local.ReadLocal(s));
    EXPECT_EQ(local.FullName(), central.FullName());
    EXPECT_EQ(local.Crc32(), central.Crc32());
    EXPECT_EQ(local.CompressedSize(), central.CompressedSize());
    EXPECT_EQ(local.FileDateTime(), central.FileDateTime());
  }
}

TEST_F(InfoZipArchiveTest, ArchiveComment) {
  Run("printf 'Backup of the day' | zip -q -X -z commented.zip a.txt");
  const Directory d = ReadDirectory(dir_ / "commented.zip");
  ASSERT_EQ(d.entries.size(), 1u);
  EXPECT_EQ(d.comment, "Backup of the day");
  EXPECT_EQ(d.end.ZipCommentLength(), 17);
}

TEST_F(InfoZipArchiveTest, RecursedFolderWithExtraFields) {
  Run("zip -q -r tree.zip sub");  // with Info-ZIP's extra fields (UT, ux) in every header
  const Directory d = ReadDirectory(dir_ / "tree.zip");
  std::vector<std::string> names;
  for (const auto& e : d.entries) names.push_back(e.FullName());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"sub/", "sub/deeper/", "sub/deeper/c.txt", "sub/rand.bin"}));
  EXPECT_TRUE(d.Find("sub/")->IsDirectoryEntry());
  EXPECT_GT(d.Find("sub/")->CentralExtraLength(), 0);
  EXPECT_EQ(d.Find("sub/deeper/c.txt")->Crc32(), CrcOfFile(dir_ / "sub/deeper/c.txt"));
  EXPECT_EQ(d.Find("sub/deeper/c.txt")->FileName(), "c.txt");
  EXPECT_EQ(d.Find("sub/deeper/c.txt")->Directory(), "sub/deeper/");
}

// Decrypts an entry written by zip -P with our cipher; deflated data is inflated with zlib.
TEST_F(InfoZipArchiveTest, EncryptedEntriesDecryptWithOurCipher) {
  Run("zip -q -X -P 'sécret pw' enc.zip a.txt big.txt && zip -q -X -0 -P 'sécret pw' enc0.zip big.txt");
  for (const char* archive : {"enc.zip", "enc0.zip"}) {
    const Directory d = ReadDirectory(dir_ / archive);
    TLFNFileStream s(dir_ / archive, kFmOpenRead);
    for (const auto& e : d.entries) {
      SCOPED_TRACE(std::string(archive) + " " + e.FullName());
      ASSERT_TRUE(e.IsEncrypted());
      s.Seek(e.LocalHeaderOffset(), kSeekBegin);
      TZipHeaderInfo local;
      ASSERT_TRUE(local.ReadLocal(s));
      s.Seek(local.LocalExtraLength(), kSeekCurrent);

      TZipCrypt crypt;
      ASSERT_EQ(crypt.CheckHeader("sécret pw", s), ExpectedCheckByte(e));
      std::vector<std::uint8_t> data(static_cast<std::size_t>(e.CompressedSize() - kEncryptionHeaderSize));
      s.ReadBuffer(data.data(), static_cast<std::int64_t>(data.size()));
      crypt.DecryptBuffer(data.data(), data.size());

      std::vector<std::uint8_t> plain;
      if (e.CompressionMethod() == kMethodStored) {
        plain = data;
      } else {
        ASSERT_EQ(e.CompressionMethod(), kMethodDeflated);
        plain.resize(static_cast<std::size_t>(e.UncompressedSize()));
        z_stream z{};
        ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
        z.next_in = data.data();
        z.avail_in = static_cast<uInt>(data.size());
        z.next_out = plain.data();
        z.avail_out = static_cast<uInt>(plain.size());
        EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END);
        inflateEnd(&z);
      }
      EXPECT_EQ(plain, test::ReadFileBytes(dir_ / e.FullName()));
      EXPECT_EQ(Crc32Of(plain.data(), plain.size()), e.Crc32());
    }
  }
}

// --- Archives made with our records ---------------------------------------------------------------------

struct NewEntry {
  std::string name;  // ends in "/" for a folder
  std::string data;
  std::string password;
  bool reserve_zip64 = false;
  std::optional<std::string> comment;
};

// A minimal stored-only archive writer built from the record classes and the cipher.
void WriteStoredArchive(TStream& out, const std::vector<NewEntry>& entries,
                        const std::optional<std::string>& archive_comment) {
  std::vector<TZipHeaderInfo> written;
  const std::uint32_t dos = platform::DateTime::FromParts({2022, 7, 8, 9, 10, 12, 0}).ToDos();
  for (const auto& n : entries) {
    TZipHeaderInfo h;
    std::string directory, file;
    SplitStoredName(n.name, directory, file);
    h.SetDirectory(directory);
    h.SetFileName(file);
    h.SetFileDateTime(dos);
    h.SetCompressionMethod(kMethodStored);
    h.SetInternalAttributes(0);
    const bool folder = file.empty();
    if (folder) h.SetExternalAttributes(0x10);
    h.SetCrc32(Crc32Of(n.data.data(), n.data.size()));
    h.SetUncompressedSize(static_cast<std::int64_t>(n.data.size()));
    h.SetCompressedSize(static_cast<std::int64_t>(n.data.size()));
    h.SetFileComment(n.comment);
    h.WriteLocal(out, n.reserve_zip64);
    if (!n.password.empty()) {
      TZipCrypt crypt;
      crypt.WriteHeader(n.password, h.Crc32(), out);
      std::vector<std::uint8_t> cipher(n.data.size());
      crypt.EncryptBuffer(reinterpret_cast<const std::uint8_t*>(n.data.data()), cipher.data(), cipher.size());
      out.WriteBuffer(cipher.data(), static_cast<std::int64_t>(cipher.size()));
      h.SetGeneralFlags(h.GeneralFlags() | kFlagEncrypted);
      h.SetCompressedSize(h.CompressedSize() + kEncryptionHeaderSize);
    } else {
      out.WriteBuffer(n.data.data(), static_cast<std::int64_t>(n.data.size()));
    }
    h.PatchLocal(out);
    written.push_back(h);
  }
  TEndCentral end;
  end.SetCentralDirOffset(out.Position());
  for (const auto& h : written) h.WriteCentral(out);
  end.SetCentralDirSize(out.Position() - end.CentralDirOffset());
  end.SetEntriesThisDisk(static_cast<std::int64_t>(written.size()));
  end.SetTotalEntries(static_cast<std::int64_t>(written.size()));
  end.SetZipComment(archive_comment);
  end.WriteEndRecord(out);
}

TEST(OurRecordsTest, AcceptedByUnzipAndPython) {
  if (!HaveZip()) GTEST_SKIP() << test::MissingTools("Info-ZIP unzip");
  ScratchDir dir;
  const std::string path = dir / "ours.zip";
  const std::string unicode_name = "Grüße/日本語.txt";
  {
    TLFNFileStream out(path, kFmCreate);
    WriteStoredArchive(out,
                       {
                           {"plain.txt", "plain text\n", "", false, std::string("entry comment")},
                           {"folder/", "", "", false, std::nullopt},
                           {unicode_name, "unicode name\n", "", false, std::nullopt},
                           {"secret.txt", std::string(5000, 'S'), "pässword", false, std::nullopt},
                           {"reserved.bin", std::string(300, '\x01'), "", true, std::nullopt},
                       },
                       std::string("our archive comment"));
    ASSERT_TRUE(out.Close());
  }
  std::string output;
  EXPECT_EQ(test::RunCommand("unzip -t -P 'pässword' " + test::ShellQuote(path), &output), 0) << output;
  EXPECT_NE(output.find("No errors detected"), std::string::npos) << output;
  EXPECT_EQ(test::RunCommand("unzip -P 'wrong' -p " + test::ShellQuote(path) + " secret.txt", &output) != 0 ||
                output.find(std::string(100, 'S')) == std::string::npos,
            true);
  ASSERT_EQ(test::RunCommand("unzip -Z1 " + test::ShellQuote(path), &output), 0) << output;
  EXPECT_NE(output.find(unicode_name), std::string::npos) << output;
  // Extracted under its real name.
  ASSERT_EQ(test::RunCommand("cd " + test::ShellQuote(dir.Path()) + " && unzip -q -P 'pässword' ours.zip", &output), 0)
      << output;
  EXPECT_EQ(test::ReadFileText(dir / unicode_name), "unicode name\n");

  if (test::HaveTool("python3")) {
    const std::string script =
        "import zipfile,sys\n"
        "z=zipfile.ZipFile(sys.argv[1])\n"
        "z.setpassword('pässword'.encode())\n"
        "assert z.testzip() is None\n"
        "assert z.comment==b'our archive comment'\n"
        "assert z.getinfo('plain.txt').comment==b'entry comment'\n"
        "assert z.read('secret.txt')==b'S'*5000\n"
        "print('|'.join(i.filename for i in z.infolist()))\n";
    test::WriteFileText(dir / "check.py", script);
    ASSERT_EQ(test::RunCommand("python3 " + test::ShellQuote(dir / "check.py") + " " + test::ShellQuote(path), &output),
              0)
        << output;
    EXPECT_NE(output.find("plain.txt|folder/|" + unicode_name + "|secret.txt|reserved.bin"), std::string::npos)
        << output;
  }

  // And our own reading of it.
  const Directory d = ReadDirectory(path);
  ASSERT_EQ(d.entries.size(), 5u);
  EXPECT_EQ(d.comment, "our archive comment");
  EXPECT_TRUE(d.Find("folder/")->IsDirectoryEntry());
  EXPECT_EQ(d.Find(unicode_name)->GeneralFlags() & kFlagUtf8, kFlagUtf8);
  EXPECT_EQ(d.Find(unicode_name)->VersionMadeBy(), (kHostVfat << 8) | 20);
  EXPECT_EQ(d.Find("plain.txt")->VersionMadeBy(), 20);
  EXPECT_EQ(d.Find("plain.txt")->GeneralFlags() & kFlagUtf8, 0);
  EXPECT_EQ(d.Find("secret.txt")->CompressedSize(), 5012);
}

// More than 65534 entries: the Zip64 end record and locator, accepted by the peers and read back.
TEST(OurRecordsTest, Zip64EndRecordForManyEntries) {
  if (!HaveZip()) GTEST_SKIP() << test::MissingTools("Info-ZIP unzip");
  ScratchDir dir;
  const std::string path = dir / "many.zip";
  constexpr int kEntries = 65536;
  {
    TLFNFileStream out(path, kFmCreate);
    std::vector<NewEntry> entries;
    entries.reserve(kEntries);
    for (int i = 0; i < kEntries; ++i) entries.push_back({test::Numbered("e", i), "", "", false, std::nullopt});
    WriteStoredArchive(out, entries, std::nullopt);
    ASSERT_TRUE(out.Close());
  }
  const Directory d = ReadDirectory(path);
  EXPECT_TRUE(d.end.IsZip64());
  EXPECT_EQ(d.end.TotalEntries(), kEntries);
  ASSERT_EQ(d.entries.size(), static_cast<std::size_t>(kEntries));
  EXPECT_EQ(d.entries.back().FileName(), "e65535");
  std::string output;
  EXPECT_EQ(test::RunCommand("unzip -tqq " + test::ShellQuote(path), &output), 0) << output;
}

// --- Shared fixtures ------------------------------------------------------------------------------------

TEST(FixtureDirectoryTest, Zip64AndNameFixtures) {
  const std::string fixtures = test::FixturesDir();
  if (fixtures.empty()) GTEST_SKIP() << "shared fixtures not present";
  struct Case {
    const char* file;
    std::int64_t entries;
    bool zip64_end;
    std::string first_name;
    std::int64_t first_size;
    std::uint32_t first_crc;
    std::int64_t prepended;
  };
  const Case cases[] = {
      {"zip64-go.zip", 1, true, "README", 36, 0x69ffe77e, 0},
      {"zip64-2-go.zip", 1, true, "README", 36, 0x69ffe77e, 0},
      {"zip64-eocd-ffff-libarchive.zip", 2, true, "test1.txt", 0, 0, 0},
      {"zip64-dup-extra-dotnetzip.zip", 1, true, "test/test.txt", 15, 0xc6c3c95d, 0},
      {"zip64-magic-in-filename-1-zip2.zip", 1, false, "", -1, 0, 0},
      {"zip64-leading-junk-zip2.zip", 1, true, "", -1, 0, 14},
      {"names-utf8-noflag-osx-go.zip", 1, false, "世界", 0, 0, 0},
      {"names-cp437-python.zip", -1, false, "", -1, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string path = fixtures + c.file;
    if (platform::FileSize(path) < 0) continue;
    const Directory d = ReadDirectory(path);
    if (c.entries >= 0) {
      EXPECT_EQ(d.end.TotalEntries(), c.entries);
    }
    EXPECT_EQ(static_cast<std::int64_t>(d.entries.size()), d.end.TotalEntries());
    EXPECT_EQ(d.end.IsZip64(), c.zip64_end);
    EXPECT_EQ(d.end.PrependedBytes(), c.prepended);
    ASSERT_FALSE(d.entries.empty());
    if (!c.first_name.empty()) {
      EXPECT_EQ(d.entries[0].FullName(), test::Native(c.first_name));
    }
    if (c.first_size >= 0) {
      EXPECT_EQ(d.entries[0].UncompressedSize(), c.first_size);
      EXPECT_EQ(d.entries[0].Crc32(), c.first_crc);
    }
    for (const auto& e : d.entries) EXPECT_TRUE(IsValidUtf8(e.FullName())) << e.FullName();
  }
}

}  // namespace
}  // namespace kzb::zip
