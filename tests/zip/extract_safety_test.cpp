// The extraction run against failing devices and entries it cannot read: the device's own error reaches
// the caller, an existing file survives every failure, no temporary file is left behind, and what cannot
// be read is named once with its reason.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/crafted_archive.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/stream/stream.h"
#include "zip/writer/vcl_zip.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

namespace fs = std::filesystem;
using kzb::test::ScratchDir;
namespace test = kzb::test;

// An output device that takes limit bytes and then fails: by throwing its own error, or by taking fewer
// bytes than asked (a full disk).
class FailingDevice : public TStream {
 public:
  enum class Mode { kThrows, kShortWrites };
  FailingDevice(const std::string& path, std::int64_t limit, Mode mode)
      : file_(path, platform::File::Mode::kCreate), limit_(limit), mode_(mode) {}
  std::int64_t Read(void* buffer, std::int64_t count) override { return file_.Read(buffer, count); }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    const std::int64_t room = std::max<std::int64_t>(0, limit_ - written_);
    if (count > room && mode_ == Mode::kThrows) throw platform::EFileError("Device on fire after the limit");
    const std::int64_t done = file_.Write(buffer, std::min(count, room));
    written_ += done;
    return done;
  }
  std::int64_t Seek(std::int64_t offset, int origin) override { return file_.Seek(offset, origin); }

 private:
  TFileStream file_;
  std::int64_t limit_;
  Mode mode_;
  std::int64_t written_ = 0;
};

// An archive written by the engine: one file of size bytes, stored or deflated.
std::string MakeArchive(const ScratchDir& dir, int pack_level, std::size_t size) {
  const std::string source = dir / "src/data.bin";
  fs::create_directories(dir / "src");
  std::vector<std::uint8_t> bytes = test::RandomBytes(size / 2, 7);
  bytes.resize(size, 'z');  // half random, half compressible
  test::WriteFileBytes(source, bytes);
  const std::string archive = dir / ("level" + std::to_string(pack_level) + ".zip");
  TVCLZip zip;
  zip.SetZipName(archive);
  zip.SetPackLevel(pack_level);
  zip.FilesList().push_back(source);
  EXPECT_EQ(zip.Zip(), 1);
  return archive;
}

std::vector<std::string> Temporaries(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& item : fs::directory_iterator(folder)) {
    const std::string name = item.path().filename().string();
    if (name.rfind(".kzb-", 0) == 0) found.push_back(name);
  }
  return found;
}

TEST(ExtractSafetyTest, DeviceErrorEndsTheRunAndTheOldFileSurvives) {
  // With two threads a large entry is written by a thread of its own: its device's failure must still
  // end the run the same way.
  struct Case {
    int pack_level;
    FailingDevice::Mode mode;
    const char* error;
    int threads;
    std::size_t size;
  };
  const Case cases[] = {
      {0, FailingDevice::Mode::kThrows, "Device on fire after the limit", 1, 300000},
      {6, FailingDevice::Mode::kThrows, "Device on fire after the limit", 1, 300000},
      {0, FailingDevice::Mode::kShortWrites, "Cant write uncompressed file", 1, 300000},
      {6, FailingDevice::Mode::kShortWrites, "Cant write uncompressed file", 1, 300000},
      {0, FailingDevice::Mode::kThrows, "Device on fire after the limit", 2, 5000000},
      {6, FailingDevice::Mode::kThrows, "Device on fire after the limit", 2, 5000000},
      {0, FailingDevice::Mode::kShortWrites, "Cant write uncompressed file", 2, 5000000},
      {6, FailingDevice::Mode::kShortWrites, "Cant write uncompressed file", 2, 5000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pack_level);
    SCOPED_TRACE(c.error);
    SCOPED_TRACE(c.threads);
    ScratchDir dir;
    const std::string archive = MakeArchive(dir, c.pack_level, c.size);
    const std::string out = dir / "out";
    fs::create_directories(out);
    test::WriteFileText(out + "/data.bin", "the user's own file");
    TVCLUnZip reader;
    reader.SetZipName(archive);
    reader.SetDestDir(out);
    reader.SetDoAll(true);
    reader.SetOverwriteMode(TUZOverwriteMode::Always);
    reader.SetThreads(c.threads);
    reader.SetOutputDeviceFactory([&c](const std::string& path) -> std::unique_ptr<TStream> {
      return std::make_unique<FailingDevice>(path, static_cast<std::int64_t>(c.size / 3), c.mode);
    });
    int bad_crc = 0;
    int complete = -1;
    reader.OnBadCRC = [&](TVCLUnZip&, std::uint32_t, std::uint32_t, int) { ++bad_crc; };
    reader.OnUnZipComplete = [&](TVCLUnZip&, int count) { complete = count; };
    try {
      reader.UnZip();
      ADD_FAILURE() << "the run went on after the device failed";
    } catch (const std::exception& error) {
      EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << error.what();
    }
    EXPECT_EQ(bad_crc, 0);
    EXPECT_EQ(complete, 0);
    EXPECT_EQ(test::ReadFileText(out + "/data.bin"), "the user's own file");
    EXPECT_TRUE(Temporaries(out).empty());
  }
}

TEST(ExtractSafetyTest, AFailedEntryLeavesTheOldFileAndNoTemporary) {
  ScratchDir dir;
  std::vector<crafted::CraftedEntry> entries = {crafted::Entry("bad.txt", "new content"),
                                                crafted::Entry("good.txt", "fine")};
  entries[0].central_crc = 0x12345678;
  test::WriteFileBytes(dir / "crc.zip", crafted::CraftArchive(entries));
  const std::string out = dir / "out";
  fs::create_directories(out);
  test::WriteFileText(out + "/bad.txt", "old content");
  TVCLUnZip reader;
  reader.SetZipName(dir / "crc.zip");
  reader.SetDestDir(out);
  reader.SetDoAll(true);
  reader.SetOverwriteMode(TUZOverwriteMode::Always);
  int bad_crc = 0;
  reader.OnBadCRC = [&](TVCLUnZip&, std::uint32_t, std::uint32_t stored, int) {
    EXPECT_EQ(stored, 0x12345678u);
    ++bad_crc;
  };
  EXPECT_EQ(reader.UnZip(), 1);
  EXPECT_EQ(bad_crc, 1);
  EXPECT_EQ(test::ReadFileText(out + "/bad.txt"), "old content");
  EXPECT_EQ(test::ReadFileText(out + "/good.txt"), "fine");
  EXPECT_TRUE(Temporaries(out).empty());
}

// Methods without a decoder, and encrypted entries without a password, are named once with their reason:
// no alert, no CRC line, no file; the run goes on.
TEST(ExtractSafetyTest, EntriesThatCannotBeReadAreNamedOnce) {
  ScratchDir dir;
  std::vector<crafted::CraftedEntry> entries = {crafted::Entry("notes.ppmd", "not really PPMd"),
                                                crafted::Entry("secret.txt", std::string(40, 's')),
                                                crafted::Entry("plain.txt", "plain")};
  entries[0].method = kMethodPpmd;
  entries[1].flags = kFlagEncrypted;
  test::WriteFileBytes(dir / "mixed.zip", crafted::CraftArchive(entries));
  for (const bool testing : {false, true}) {
    SCOPED_TRACE(testing);
    TVCLUnZip reader;
    reader.SetZipName(dir / "mixed.zip");
    reader.SetDestDir(dir / "out");
    reader.SetDoAll(true);
    std::vector<std::pair<TSkipReason, std::string>> skipped;
    int alerts = 0;
    int bad_crc = 0;
    reader.OnSkippingFile = [&](TVCLUnZip&, TSkipReason reason, const std::string& fname, int, bool&) {
      skipped.emplace_back(reason, fname);
    };
    reader.OnAlert = [&](TVCLUnZip&, const std::string&, const std::string&) { ++alerts; };
    reader.OnBadCRC = [&](TVCLUnZip&, std::uint32_t, std::uint32_t, int) { ++bad_crc; };
    EXPECT_EQ(testing ? reader.Test() : reader.UnZip(), 1);
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_EQ(skipped[0].first, TSkipReason::srUnsupportedMethod);
    EXPECT_NE(skipped[0].second.find("notes.ppmd"), std::string::npos);
    EXPECT_EQ(skipped[1].first, TSkipReason::srPasswordNeeded);
    EXPECT_EQ(alerts, 0);
    EXPECT_EQ(bad_crc, 0);
  }
  EXPECT_FALSE(fs::exists(dir / "out/notes.ppmd"));
  EXPECT_FALSE(fs::exists(dir / "out/secret.txt"));
  EXPECT_TRUE(Temporaries(dir / "out").empty());
}

TEST(ExtractSafetyTest, NotEnoughFreeSpaceRefusesBeforeWriting) {
  ScratchDir dir;
  std::vector<crafted::CraftedEntry> entries = {crafted::Entry("small.txt", "small"),
                                                crafted::Entry("huge.bin", "claims an exbibyte")};
  entries[1].central_uncompressed = 0xFFFFFFFF;
  entries[1].central_extra = crafted::Zip64Extra({std::uint64_t{1} << 60});
  test::WriteFileBytes(dir / "huge.zip", crafted::CraftArchive(entries));
  TVCLUnZip reader;
  reader.SetZipName(dir / "huge.zip");
  reader.SetDestDir(dir / "out");
  reader.SetDoAll(true);
  int complete = -1;
  reader.OnUnZipComplete = [&](TVCLUnZip&, int count) { complete = count; };
  try {
    reader.UnZip();
    ADD_FAILURE() << "extracted without room";
  } catch (const ENotEnoughSpace& error) {
    EXPECT_NE(std::string(error.what()).find("Not enough free space in"), std::string::npos);
  }
  EXPECT_EQ(complete, 0);
  EXPECT_FALSE(fs::exists(dir / "out/small.txt"));
}

}  // namespace
}  // namespace kzb::zip
