// AES-encrypted archives end to end: what the writer makes, 7-Zip and bsdtar read; what they make, the
// reader extracts; a wrong password costs no output and a tampered entry is reported as damaged and not
// kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/records/zip_format.h"
#include "zip/writer/vcl_zip.h"

namespace kzb::zip {
namespace {

namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::ReadTree;
using test::RunCommand;
using test::ScratchDir;
using test::ShellQuote;
using test::WriteFileBytes;

using Bytes = std::vector<std::uint8_t>;
using FileMap = std::map<std::string, Bytes>;

// 7-Zip refuses passwords outside ASCII for ZIP archives; the UTF-8 one goes to bsdtar, which passes the
// bytes through as the format asks.
const std::string kPassword = "correct horse battery";
const std::string kUtf8Password = "cl\xc3\xa9 \xc3\xa9t\xc3\xa9";

// Text that deflates, bytes that do not, an empty file, and sizes on both sides of the AE-1 / AE-2 limit.
FileMap SampleFiles() {
  FileMap files;
  std::string text;
  for (int i = 0; i < 4000; ++i) text += "line " + std::to_string(i) + " of a text that repeats itself\n";
  files["docs/text.txt"] = Bytes(text.begin(), text.end());
  files["random.bin"] = test::RandomBytes(70001, 3);
  files["empty.dat"] = {};
  files["tiny.txt"] = Bytes(19, 'x');
  files["twenty.txt"] = Bytes(20, 'y');
  return files;
}

struct Outcome {
  int extracted = 0;
  std::vector<std::pair<TSkipReason, std::string>> skips;
  int bad_crc = 0;
  FileMap files;
};

// Extracts everything with the engine's reader.
Outcome ExtractWithReader(const std::string& archive, const std::string& password, const std::string& dest,
                          std::function<void(TVCLUnZip&)> configure = nullptr) {
  TVCLUnZip reader;
  reader.SetZipName(archive);
  reader.SetDestDir(dest);
  reader.SetRecreateDirs(true);
  reader.SetDoAll(true);
  reader.SetOverwriteMode(TUZOverwriteMode::Always);
  reader.SetPassword(password);
  Outcome outcome;
  reader.OnSkippingFile = [&](TVCLUnZip&, TSkipReason reason, const std::string& name, int, bool&) {
    outcome.skips.emplace_back(reason, name);
  };
  reader.OnBadCRC = [&](TVCLUnZip&, std::uint32_t, std::uint32_t, int) { ++outcome.bad_crc; };
  if (configure) configure(reader);
  outcome.extracted = reader.UnZip();
  outcome.files = ReadTree(dest);
  return outcome;
}

std::map<std::string, TZipHeaderInfo> Entries(const std::string& archive) {
  TVCLUnZip reader;
  reader.SetZipName(archive);
  reader.ReadZip();
  std::map<std::string, TZipHeaderInfo> entries;
  for (int i = 0; i < reader.Count(); ++i) entries[reader.EntryInfo(i).FullName()] = reader.EntryInfo(i);
  return entries;
}

bool HavePeers() {
  return test::HaveTool("7zz") && test::HaveTool("bsdtar");
}

class AesArchiveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src_ = scratch_ / "src/";
    files_ = SampleFiles();
    for (const auto& [name, bytes] : files_) WriteFileBytes(src_ + name, bytes);
  }

  // Writes src_ with the engine's writer.
  std::string WriteArchive(const std::string& name, int level, TZipEncryption encryption) {
    const std::string archive = scratch_ / name;
    TVCLZip zip;
    zip.SetZipName(archive);
    zip.SetRootDir(src_);
    zip.SetRelativePaths(true);
    zip.SetFilesList({src_ + "*"});
    zip.SetPackLevel(level);
    zip.SetPassword(kPassword);
    zip.SetEncryption(encryption);
    EXPECT_EQ(zip.Zip(), static_cast<int>(files_.size()));
    return archive;
  }

  ScratchDir scratch_;
  std::string src_;
  FileMap files_;
};

// Our archives: the records say AES with the right strength, AE-1 with the CRC from 20 bytes up and AE-2
// with CRC 0 below; 7-Zip and bsdtar test and extract them to the original bytes, and so does our reader.
TEST_F(AesArchiveTest, OurArchivesAreReadByPeersAndByUs) {
  if (!HavePeers()) GTEST_SKIP() << test::MissingTools("7zz or bsdtar");
  struct Case {
    int level;
    TZipEncryption encryption;
    int strength;
  };
  for (const Case& c : {Case{0, TZipEncryption::zeAes256, 3}, Case{6, TZipEncryption::zeAes256, 3},
                        Case{6, TZipEncryption::zeAes128, 1}}) {
    SCOPED_TRACE("level " + std::to_string(c.level) + " strength " + std::to_string(c.strength));
    const std::string archive =
        WriteArchive("ours" + std::to_string(c.level) + std::to_string(c.strength) + ".zip", c.level, c.encryption);
    for (const auto& [name, entry] : Entries(archive)) {
      SCOPED_TRACE(name);
      EXPECT_TRUE(entry.IsAes());
      EXPECT_EQ(entry.CompressionMethod(), kMethodAes);
      EXPECT_EQ(entry.GeneralFlags() & kFlagEncrypted, kFlagEncrypted);
      EXPECT_EQ(entry.VersionNeeded(), kVersionAes);
      EXPECT_EQ(entry.AesStrength(), c.strength);
      const std::size_t size = files_.at(name).size();
      EXPECT_EQ(entry.AesVendorVersion(), size < 20 ? kAesVersionAe2 : kAesVersionAe1);
      if (size < 20) {
        EXPECT_EQ(entry.Crc32(), 0u);
      }
      if (c.level == 0) {
        EXPECT_EQ(entry.AesMethod(), kMethodStored);
        EXPECT_EQ(entry.CompressedSize(), static_cast<std::int64_t>(size) + 4 * c.strength + 4 + 2 + 10);
      }
    }
    if (c.level == 6) {
      EXPECT_EQ(Entries(archive).at("docs/text.txt").AesMethod(), kMethodDeflated);
    }

    std::string output;
    const std::string quoted = ShellQuote(archive);
    EXPECT_EQ(RunCommand("7zz t -p" + ShellQuote(kPassword) + " " + quoted, &output), 0) << output;
    const std::string seven = scratch_ / ("7z-" + std::to_string(c.level) + std::to_string(c.strength));
    EXPECT_EQ(RunCommand("7zz x -y -p" + ShellQuote(kPassword) + " -o" + ShellQuote(seven) + " " + quoted, &output), 0)
        << output;
    EXPECT_TRUE(ReadTree(seven) == files_) << "7zz extracted other bytes";
    const std::string tar = scratch_ / ("tar-" + std::to_string(c.level) + std::to_string(c.strength));
    fs::create_directories(tar);
    EXPECT_EQ(RunCommand("bsdtar -x --passphrase " + ShellQuote(kPassword) + " -f " + quoted + " -C " + ShellQuote(tar),
                         &output),
              0)
        << output;
    EXPECT_TRUE(ReadTree(tar) == files_) << "bsdtar extracted other bytes";
    EXPECT_NE(RunCommand("7zz t -pwrong " + quoted, &output), 0);

    const Outcome ours = ExtractWithReader(archive, kPassword, scratch_ / ("kzb-" + std::to_string(c.level)));
    EXPECT_EQ(ours.extracted, static_cast<int>(files_.size()));
    EXPECT_TRUE(ours.skips.empty());
    EXPECT_TRUE(ours.files == files_);
  }
}

// Archives made by the peers: 7-Zip with AES-128, -192 and -256, stored and deflated; bsdtar with AES-256
// (its AES-128 too), stored and deflated. Every one extracts to the original bytes.
TEST_F(AesArchiveTest, PeerArchivesAreReadByUs) {
  if (!HavePeers()) GTEST_SKIP() << test::MissingTools("7zz or bsdtar");
  struct Case {
    std::string name;
    std::string command;  // run in src_, writing ARCHIVE
    int strength;
    std::string password = kPassword;
  };
  const std::string pw = ShellQuote(kPassword);
  const Case cases[] = {
      {"7z-aes256-stored", "7zz a -tzip -mx=0 -mem=AES256 -p" + pw + " ARCHIVE .", 3},
      {"7z-aes256-deflated", "7zz a -tzip -mx=5 -mem=AES256 -p" + pw + " ARCHIVE .", 3},
      {"7z-aes128-deflated", "7zz a -tzip -mx=5 -mem=AES128 -p" + pw + " ARCHIVE .", 1},
      {"7z-aes192-stored", "7zz a -tzip -mx=0 -mem=AES192 -p" + pw + " ARCHIVE .", 2},
      {"bsdtar-aes256-deflated",
       "bsdtar --format zip --options zip:encryption=aes256 --passphrase " + pw + " -cf ARCHIVE *", 3},
      {"bsdtar-aes256-stored",
       "bsdtar --format zip --options zip:encryption=aes256,zip:compression=store --passphrase " + pw +
           " -cf ARCHIVE *",
       3},
      {"bsdtar-aes128-deflated",
       "bsdtar --format zip --options zip:encryption=aes128 --passphrase " + pw + " -cf ARCHIVE *", 1},
      {"bsdtar-aes256-utf8-password",
       "bsdtar --format zip --options zip:encryption=aes256 --passphrase " + ShellQuote(kUtf8Password) +
           " -cf ARCHIVE *",
       3, kUtf8Password},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string archive = scratch_ / (c.name + ".zip");
    std::string command = c.command;
    command.replace(command.find("ARCHIVE"), 7, ShellQuote(archive));
    std::string output;
    ASSERT_EQ(RunCommand("cd " + ShellQuote(src_) + " && " + command, &output), 0) << output;
    int aes_files = 0;
    for (const auto& [name, entry] : Entries(archive)) {
      if (entry.IsDirectoryEntry() || (entry.UncompressedSize() == 0 && !entry.IsEncrypted())) continue;
      EXPECT_TRUE(entry.IsAes()) << name;
      EXPECT_EQ(entry.AesStrength(), c.strength) << name;
      ++aes_files;
    }
    EXPECT_GE(aes_files, 4);
    const Outcome ours = ExtractWithReader(archive, c.password, scratch_ / ("out-" + c.name));
    EXPECT_TRUE(ours.skips.empty());
    EXPECT_TRUE(ours.files == files_) << "extracted other bytes";

    // A wrong password is refused by the verifier: every encrypted entry skipped, no file written.
    const Outcome wrong = ExtractWithReader(archive, "wrong", scratch_ / ("wrong-" + c.name));
    EXPECT_EQ(static_cast<int>(wrong.skips.size()), aes_files);
    for (const auto& [reason, name] : wrong.skips) EXPECT_EQ(reason, TSkipReason::srBadPassword) << name;
    for (const auto& [name, bytes] : wrong.files) EXPECT_TRUE(bytes.empty()) << name << " written";
  }
}

// A wrong password followed by the right one from OnBadPassword: each entry is extracted once; a handler
// that gives up leaves the entry skipped.
TEST_F(AesArchiveTest, BadPasswordHandlerSuppliesTheRightOne) {
  const std::string archive = WriteArchive("retry.zip", 6, TZipEncryption::zeAes256);
  int asked = 0;
  const Outcome outcome = ExtractWithReader(archive, "first guess", scratch_ / "retry", [&](TVCLUnZip& reader) {
    reader.OnBadPassword = [&](TVCLUnZip&, int, std::string& new_password) {
      ++asked;
      new_password = kPassword;
    };
  });
  EXPECT_EQ(asked, 1);  // the new password stays for the following entries
  EXPECT_EQ(outcome.extracted, static_cast<int>(files_.size()));
  EXPECT_TRUE(outcome.files == files_);
}

// Any changed byte of an AES entry (salt, data, authentication code) is caught: the entry is reported as
// damaged (or, for the salt and verifier, as a wrong password) and nothing of it is kept on disk; the other
// entries still extract. Test runs report the same.
TEST_F(AesArchiveTest, TamperedEntryIsDamagedAndNotKept) {
  for (int level : {0, 6}) {
    SCOPED_TRACE(level);
    const std::string archive =
        WriteArchive("tamper" + std::to_string(level) + ".zip", level, TZipEncryption::zeAes256);
    const TZipHeaderInfo target = Entries(archive).at("random.bin");
    const Bytes original = ReadFileBytes(archive);
    // Offset of the entry's data: the local header's fixed part, name and extra field.
    const std::size_t data = static_cast<std::size_t>(target.LocalHeaderOffset()) + kLocalHeaderSize +
                             GetU16(&original[target.LocalHeaderOffset() + 26]) +
                             GetU16(&original[target.LocalHeaderOffset() + 28]);
    const std::size_t size = static_cast<std::size_t>(target.CompressedSize());
    struct Flip {
      std::size_t offset;
      TSkipReason reason;
    };
    for (const Flip& flip :
         {Flip{data + 3, TSkipReason::srBadPassword}, Flip{data + 18 + 1000, TSkipReason::srBadData},
          Flip{data + size - 11, TSkipReason::srBadData}, Flip{data + size - 1, TSkipReason::srBadData}}) {
      SCOPED_TRACE(flip.offset - data);
      Bytes bytes = original;
      bytes[flip.offset] ^= 0x20;
      WriteFileBytes(archive, bytes);
      const std::string dest = scratch_ / ("t" + std::to_string(level) + "-" + std::to_string(flip.offset));
      const Outcome outcome = ExtractWithReader(archive, kPassword, dest);
      EXPECT_EQ(outcome.extracted, static_cast<int>(files_.size()) - 1);
      ASSERT_EQ(outcome.skips.size(), 1u);
      EXPECT_EQ(outcome.skips[0].first, flip.reason);
      EXPECT_FALSE(fs::exists(dest + "/random.bin"));
      EXPECT_EQ(outcome.files.size(), files_.size() - 1);

      TVCLUnZip tester;
      tester.SetZipName(archive);
      tester.SetDoAll(true);
      tester.SetPassword(kPassword);
      EXPECT_EQ(tester.Test(), static_cast<int>(files_.size()) - 1);
    }
    WriteFileBytes(archive, original);
  }
}

// A stored size that does not fit the entry (a few bytes short or long, or too small for salt, verifier and
// code): the authentication fails or the entry is refused at once; damaged, not kept.
TEST_F(AesArchiveTest, WrongStoredSizeIsDamaged) {
  const std::string archive = WriteArchive("size.zip", 0, TZipEncryption::zeAes256);
  const TZipHeaderInfo target = Entries(archive).at("random.bin");
  const Bytes original = ReadFileBytes(archive);
  const auto size = static_cast<std::uint32_t>(target.CompressedSize());
  for (std::uint32_t declared : {size - 5, size + 7, 20u}) {
    SCOPED_TRACE(declared);
    Bytes bytes = original;
    PutU32(&bytes[static_cast<std::size_t>(target.CentralHeaderPosition()) + 20], declared);
    WriteFileBytes(archive, bytes);
    const std::string dest = scratch_ / ("size-" + std::to_string(declared));
    const Outcome outcome = ExtractWithReader(archive, kPassword, dest);
    EXPECT_EQ(outcome.extracted, static_cast<int>(files_.size()) - 1);
    ASSERT_EQ(outcome.skips.size(), 1u);
    EXPECT_EQ(outcome.skips[0].first, TSkipReason::srBadData);
    EXPECT_FALSE(fs::exists(dest + "/random.bin"));
  }
}

// Updating an AES archive copies its entries byte for byte with their AES blocks, and adds new entries
// with the cipher chosen now; traditional and AES entries live side by side.
TEST_F(AesArchiveTest, UpdateKeepsAesEntriesAndMixesCiphers) {
  const std::string archive = WriteArchive("update.zip", 6, TZipEncryption::zeAes256);
  WriteFileBytes(src_ + "later.txt", Bytes(5000, 'L'));
  TVCLZip zip;
  zip.SetZipName(archive);
  zip.SetRootDir(src_);
  zip.SetRelativePaths(true);
  zip.SetFilesList({src_ + "*"});
  zip.SetPassword(kPassword);
  zip.SetEncryption(TZipEncryption::zeZipCrypto);
  EXPECT_EQ(zip.Zip(), 1);
  files_["later.txt"] = Bytes(5000, 'L');
  const auto entries = Entries(archive);
  EXPECT_FALSE(entries.at("later.txt").IsAes());
  EXPECT_TRUE(entries.at("later.txt").IsEncrypted());
  EXPECT_TRUE(entries.at(test::Native("docs/text.txt")).IsAes());
  const Outcome outcome = ExtractWithReader(archive, kPassword, scratch_ / "updated");
  EXPECT_TRUE(outcome.skips.empty());
  EXPECT_TRUE(outcome.files == files_);
  if (test::HaveTool("7zz")) {
    std::string output;
    EXPECT_EQ(RunCommand("7zz t -p" + ShellQuote(kPassword) + " " + ShellQuote(archive), &output), 0) << output;
  }
}

// A set of block volumes: AES entries whose data crosses from one volume to the next extract to the
// original bytes, read from the set's last volume.
TEST_F(AesArchiveTest, AesEntriesAcrossBlockVolumes) {
  fs::create_directories(scratch_ / "vol");
  TVCLZip zip;
  zip.SetZipName(scratch_ / "vol/set.zip");
  zip.SetRootDir(src_);
  zip.SetRelativePaths(true);
  zip.SetFilesList({src_ + "*"});
  zip.SetPackLevel(0);
  zip.SetPassword(kPassword);
  zip.SetEncryption(TZipEncryption::zeAes256);
  TMultiZipInfo info;
  info.multi_mode = TMultiMode::mmBlocks;
  info.first_block_size = 100000;
  info.block_size = 70000;
  zip.SetMultiZipInfo(info);
  ASSERT_EQ(zip.Zip(), static_cast<int>(files_.size()));
  EXPECT_TRUE(fs::exists(scratch_ / "vol/set.003"));
  const Outcome outcome = ExtractWithReader(zip.ZipName(), kPassword, scratch_ / "vol-out");
  EXPECT_TRUE(outcome.skips.empty());
  EXPECT_TRUE(outcome.files == files_);
}

}  // namespace
}  // namespace kzb::zip
