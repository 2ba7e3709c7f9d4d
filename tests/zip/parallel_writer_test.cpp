// The writer with worker threads: the archive is the same byte for byte whatever the number of threads,
// encryption, cancellation and files that change while they are read all keep their single-thread
// behaviour. These tests also run under the thread sanitizer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/writer/pack_ahead.h"
#include "zip/writer/vcl_zip.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::ReadFileBytes;
using test::RunCommand;
using test::ScratchDir;
using test::ShellQuote;
using test::WriteFileBytes;

// Text-like bytes that compress about 3:1, with a little noise so no two pieces are alike.
Bytes Compressible(std::size_t size, std::uint32_t seed) {
  Bytes out;
  out.reserve(size);
  const Bytes noise = test::RandomBytes(4096, seed);
  std::uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    const std::string word = "word" + std::to_string((x >> 16) % 300) + ((x & 7) == 0 ? "\n" : " ");
    out.insert(out.end(), word.begin(), word.end());
    if ((x >> 8) % 97 == 0) out.insert(out.end(), noise.begin(), noise.begin() + (x >> 4) % 64);
  }
  out.resize(size);
  return out;
}

// Small files under many/: more than extraction hands its workers at once.
constexpr int kManyFiles = 100;

class ParallelWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    src_ = scratch_ / "src/";
    // A file cut into pieces (one byte past a whole number of them), files around the whole-file limit,
    // many small ones, an empty one and one stored by name.
    files_["big.log"] = Compressible(static_cast<std::size_t>(kWholeFileLimit + kPieceSize / 2 + 1), 1);
    files_["limit.bin"] = Compressible(static_cast<std::size_t>(kWholeFileLimit), 2);
    files_["sub/random.bin"] = test::RandomBytes(200000, 3);
    files_["sub/empty.txt"] = {};
    files_["photo.jpg"] = test::RandomBytes(70000, 4);
    for (int i = 0; i < kManyFiles; ++i) {
      files_["many/f" + std::to_string(i) + ".txt"] = Compressible(100 + (i % 40) * 997, 10 + i);
    }
    for (const auto& [name, bytes] : files_) WriteFileBytes(src_ + name, bytes);
    fs::create_directories(scratch_ / "out");
  }

  void Configure(TVCLZip& zip, const std::string& name, int threads) {
    zip.SetZipName(scratch_ / ("out/" + name));
    zip.SetRootDir(src_);
    zip.SetRelativePaths(true);
    zip.SetRecurse(true);
    zip.SetFilesList({src_ + "*"});
    zip.SetNoCompressList({"*.jpg"});
    zip.SetThreads(threads);
  }

  // The source tree packed on two threads into out/x.zip; returns its path.
  std::string PackWithTwoThreads() {
    TVCLZip zip;
    Configure(zip, "x.zip", 2);
    zip.Zip();
    return scratch_ / "out/x.zip";
  }

  // Every entry of archive into dest, with its folders, on this many threads.
  static void ConfigureReader(TVCLUnZip& reader, const std::string& archive, const std::string& dest, int threads) {
    reader.SetZipName(archive);
    reader.SetDestDir(dest);
    reader.SetRecreateDirs(true);
    reader.SetDoAll(true);
    reader.SetThreads(threads);
  }

  // unzip tests the archive and extracts it; the tree must equal what was packed.
  void ExpectExtractsTo(const std::string& archive, const std::map<std::string, Bytes>& expected,
                        const std::string& password = "") {
    if (!test::HaveTool("unzip")) GTEST_SKIP() << "unzip not installed";
    ScratchDir out;
    const std::string pw = password.empty() ? "" : "-P " + ShellQuote(password) + " ";
    std::string output;
    ASSERT_EQ(RunCommand("unzip -qq -o " + pw + ShellQuote(archive) + " -d " + ShellQuote(out.Path()), &output), 0)
        << output;
    for (const auto& [name, bytes] : expected) EXPECT_TRUE(ReadFileBytes(out / name) == bytes) << name;
  }

  ScratchDir scratch_;
  std::string src_;
  std::map<std::string, Bytes> files_;
};

// Level 0 takes the files opened ahead by another thread; levels 1 and 6 compress on the workers.
TEST_F(ParallelWriterTest, ArchiveIsTheSameForAnyNumberOfThreads) {
  for (int level : {0, 1, 6}) {
    SCOPED_TRACE(level);
    Bytes reference;
    for (int threads : {1, 2, 8}) {
      SCOPED_TRACE(threads);
      const std::string name = "t" + std::to_string(threads) + "_" + std::to_string(level) + ".zip";
      TVCLZip zip;
      Configure(zip, name, threads);
      zip.SetPackLevel(level);
      EXPECT_EQ(zip.Zip(), static_cast<int>(files_.size()));
      const Bytes bytes = ReadFileBytes(scratch_ / ("out/" + name));
      if (threads == 1) {
        reference = bytes;
        ExpectExtractsTo(scratch_ / ("out/" + name), files_);
      } else {
        EXPECT_TRUE(bytes == reference) << "differs from the single-thread archive";
      }
    }
  }
}

// Storing with files opened ahead: files a handler skips, and a file deleted before the run, give the same
// events and the same archive as on one thread.
TEST_F(ParallelWriterTest, StoringWithFilesOpenedAheadKeepsTheEvents) {
  std::vector<std::string> reference_events;
  Bytes reference;
  for (int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    const std::string name = "s" + std::to_string(threads) + ".zip";
    TVCLZip zip;
    Configure(zip, name, threads);
    zip.SetPackLevel(0);
    std::vector<std::string> files;
    for (int i = 0; i < 40; ++i) files.push_back(src_ + "many/f" + std::to_string(i) + ".txt");
    files.push_back(src_ + "many/never-there.txt");
    zip.SetFilesList(files);
    std::vector<std::string> events;
    int started = 0;
    zip.OnStartZip = [&](TVCLZip&, const std::string& path, TZipHeaderInfo&, bool& skip) {
      events.push_back("start " + path);
      skip = ++started % 3 == 0;
    };
    zip.OnEndZip = [&](TVCLZip&, const std::string& path, std::int64_t size, std::int64_t, std::int64_t) {
      events.push_back("end " + path + " " + std::to_string(size));
    };
    zip.Zip();
    const Bytes bytes = ReadFileBytes(scratch_ / ("out/" + name));
    if (threads == 1) {
      reference_events = events;
      reference = bytes;
      EXPECT_EQ(
          std::count_if(events.begin(), events.end(), [](const std::string& e) { return e.rfind("end", 0) == 0; }), 27);
    } else {
      EXPECT_EQ(events, reference_events);
      EXPECT_TRUE(bytes == reference) << "differs from the single-thread archive";
    }
  }
}

// An update pass (entries copied, one replaced, one added) with workers gives the same archive as without.
TEST_F(ParallelWriterTest, UpdateIsTheSameForAnyNumberOfThreads) {
  Bytes reference;
  for (int threads : {1, 4}) {
    SCOPED_TRACE(threads);
    fs::remove(scratch_ / "out/u.zip");
    TVCLZip first;
    Configure(first, "u.zip", threads);
    first.SetFilesList({src_ + "many/*"});
    first.Zip();
    TVCLZip second;
    Configure(second, "u.zip", threads);
    second.SetZipAction(TZipAction::zaReplace);
    second.SetFilesList({src_ + "big.log", src_ + "many/f3.txt"});
    EXPECT_EQ(second.Zip(), 2);
    EXPECT_EQ(second.Count(), kManyFiles + 1);
    const Bytes bytes = ReadFileBytes(scratch_ / "out/u.zip");
    if (threads == 1)
      reference = bytes;
    else
      EXPECT_TRUE(bytes == reference);
  }
}

// Volumes: the same volume files for one and for several threads, and they join into a valid archive.
TEST_F(ParallelWriterTest, VolumesAreTheSameForAnyNumberOfThreads) {
  std::vector<Bytes> reference;
  for (int threads : {1, 3}) {
    SCOPED_TRACE(threads);
    const std::string folder = scratch_ / ("vol" + std::to_string(threads));
    fs::create_directories(folder);
    TVCLZip zip;
    Configure(zip, "unused.zip", threads);
    zip.SetZipName(folder + "/v.zip");
    zip.SetFilesList({src_ + "many/*", src_ + "big.log"});
    TMultiZipInfo info;
    info.multi_mode = TMultiMode::mmBlocks;
    info.first_block_size = 1 << 20;
    info.block_size = 1 << 20;
    zip.SetMultiZipInfo(info);
    EXPECT_EQ(zip.Zip(), kManyFiles + 1);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().string());
    std::sort(names.begin(), names.end());
    std::vector<Bytes> volumes;
    for (const std::string& name : names) volumes.push_back(ReadFileBytes(name));
    EXPECT_GT(volumes.size(), 1u);
    if (threads == 1)
      reference = volumes;
    else
      EXPECT_TRUE(volumes == reference);
  }
}

TEST_F(ParallelWriterTest, PasswordsWithWorkers) {
  for (TZipEncryption cipher : {TZipEncryption::zeZipCrypto, TZipEncryption::zeAes256}) {
    SCOPED_TRACE(static_cast<int>(cipher));
    const std::string name = "pw" + std::to_string(static_cast<int>(cipher)) + ".zip";
    TVCLZip zip;
    Configure(zip, name, 2);
    zip.SetPassword("pw 1");
    zip.SetEncryption(cipher);
    EXPECT_EQ(zip.Zip(), static_cast<int>(files_.size()));
    if (cipher == TZipEncryption::zeZipCrypto) {
      ExpectExtractsTo(scratch_ / ("out/" + name), files_, "pw 1");
    } else if (test::HaveTool("7zz")) {
      std::string output;
      EXPECT_EQ(RunCommand("7zz t -ppw\\ 1 " + ShellQuote(scratch_ / ("out/" + name)), &output), 0) << output;
    }
  }
}

// Cancelling in the middle of a small file or of the large one stops the workers and leaves no archive and
// no temporary file.
TEST_F(ParallelWriterTest, CancelLeavesNothing) {
  for (const char* where : {"f5.txt", "big.log"}) {
    SCOPED_TRACE(where);
    TVCLZip zip;
    Configure(zip, "c.zip", 8);
    std::string current;
    zip.OnStartZip = [&](TVCLZip&, const std::string& path, TZipHeaderInfo&, bool&) { current = path; };
    zip.OnFilePercentDone = [&](TVCLUnZip&, int percent) {
      if (current.find(where) != std::string::npos && percent > 0) throw EUserCanceled("User canceled Zip operation");
    };
    EXPECT_THROW(zip.Zip(), EUserCanceled);
    EXPECT_TRUE(fs::is_empty(scratch_ / "out"));
  }
}

// Files that change while the workers read them: every entry still checks, and a file changed across the
// cut between two pieces is stored either as it was or as it became, never as a mix.
TEST_F(ParallelWriterTest, FilesChangingWhileReadStayConsistent) {
  const Bytes old_big = files_["big.log"];
  Bytes new_big = old_big;
  for (std::size_t i = kPieceSize - 100; i < kPieceSize + 100; ++i) new_big[i] ^= 0x55;
  const std::string big = src_ + "big.log";
  const std::string shrinking = src_ + "limit.bin";
  TVCLZip zip;
  Configure(zip, "ch.zip", 2);
  zip.SetFilesList({src_ + "many/f1.txt", big, shrinking});
  zip.OnStartZip = [&](TVCLZip&, const std::string& path, TZipHeaderInfo&, bool&) {
    if (path != src_ + "many/f1.txt") return;
    WriteFileBytes(big, new_big);
    fs::resize_file(shrinking, 1000);
  };
  EXPECT_EQ(zip.Zip(), 3);
  if (!test::HaveTool("unzip")) GTEST_SKIP() << "unzip not installed";
  std::string output;
  ASSERT_EQ(RunCommand("unzip -tqq " + ShellQuote(scratch_ / "out/ch.zip"), &output), 0) << output;
  ScratchDir out;
  ASSERT_EQ(RunCommand("unzip -qq " + ShellQuote(scratch_ / "out/ch.zip") + " -d " + ShellQuote(out.Path()), &output),
            0);
  const Bytes got = ReadFileBytes(out / "big.log");
  EXPECT_TRUE(got == old_big || got == new_big);
}

// Extraction and test with workers: the same files, the same events in the same order, and a damaged entry
// among many reported exactly as on one thread.
TEST_F(ParallelWriterTest, ExtractionWithWorkersMatchesOneThread) {
  const std::string archive = PackWithTwoThreads();
  // Damage the data of one small entry in the middle: flip a byte well inside its compressed bytes.
  std::string damaged_name;
  {
    TVCLUnZip reader;
    reader.SetZipName(archive);
    reader.ReadZip();
    for (int i = 0; i < reader.Count(); ++i) {
      const TZipHeaderInfo& entry = reader.EntryInfo(i);
      // Stored names are shown with the system's separator.
      if (entry.FileName() != "f20.txt") continue;
      damaged_name = "many/f20.txt";
      Bytes bytes = ReadFileBytes(archive);
      const auto local = static_cast<std::size_t>(entry.LocalHeaderOffset());
      const std::size_t data =
          local + 30 + (bytes[local + 26] | bytes[local + 27] << 8) + (bytes[local + 28] | bytes[local + 29] << 8);
      bytes[data + static_cast<std::size_t>(entry.CompressedSize() / 2)] ^= 0xFF;
      WriteFileBytes(archive, bytes);
    }
  }
  ASSERT_FALSE(damaged_name.empty());
  std::vector<std::string> reference_events;
  for (int threads : {1, 4}) {
    for (bool test_only : {false, true}) {
      SCOPED_TRACE(std::to_string(threads) + (test_only ? " test" : " extract"));
      ScratchDir dest;
      TVCLUnZip reader;
      ConfigureReader(reader, archive, dest.Path(), threads);
      std::vector<std::string> events;
      reader.OnEndUnZip = [&](TVCLUnZip&, int index, const std::string&) {
        events.push_back("end " + std::to_string(index));
      };
      reader.OnBadCRC = [&](TVCLUnZip&, std::uint32_t, std::uint32_t, int index) {
        events.push_back("crc " + std::to_string(index));
      };
      reader.OnSkippingFile = [&](TVCLUnZip&, TSkipReason reason, const std::string&, int index, bool&) {
        events.push_back("skip " + std::to_string(static_cast<int>(reason)) + " " + std::to_string(index));
      };
      const int done = test_only ? reader.Test() : reader.UnZip();
      EXPECT_EQ(done, static_cast<int>(files_.size()) - 1);
      if (threads == 1 && !test_only) reference_events = events;
      if (!test_only) {
        EXPECT_EQ(events, reference_events);
        for (const auto& [name, bytes] : files_) {
          if (name == damaged_name) {
            EXPECT_FALSE(fs::exists(dest / name));
          } else {
            EXPECT_TRUE(ReadFileBytes(dest / name) == bytes) << name;
          }
        }
        std::size_t leftovers = 0;
        for (const auto& entry : fs::recursive_directory_iterator(dest.Path())) {
          if (entry.path().filename().string().rfind(".kzb-", 0) == 0) ++leftovers;
        }
        EXPECT_EQ(leftovers, 0u);
      }
    }
  }
}

// Extracting with workers, entries are written ahead into temporary files that the run moves into place
// in order. Whatever the run decides about an entry (skip it, keep the old file, put it elsewhere, stop
// altogether), the result is what one thread gives and no temporary file is left.
TEST_F(ParallelWriterTest, FilesWrittenAheadFollowTheRunsDecisions) {
  const std::string archive = PackWithTwoThreads();
  // A folder on another file system than the scratch folders, where the system has one (a file written
  // ahead cannot be renamed there and is written again in place).
  std::string elsewhere;
  std::error_code ec;
  if (fs::is_directory("/dev/shm", ec) && fs::status(scratch_.Path(), ec).type() == fs::file_type::directory) {
    elsewhere = "/dev/shm/kzb-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "/";
  }
  enum class Scenario { kSkipSome, kKeepExisting, kRedirect, kOtherFileSystem, kStopHalfway };
  for (const Scenario scenario : {Scenario::kSkipSome, Scenario::kKeepExisting, Scenario::kRedirect,
                                  Scenario::kOtherFileSystem, Scenario::kStopHalfway}) {
    if (scenario == Scenario::kOtherFileSystem && elsewhere.empty()) continue;
    std::map<std::string, Bytes> results[2];
    std::vector<std::string> events[2];
    for (int run = 0; run < 2; ++run) {
      const int threads = run == 0 ? 1 : 3;
      SCOPED_TRACE(std::to_string(static_cast<int>(scenario)) + " threads " + std::to_string(threads));
      ScratchDir dest;
      // Existing files: every tenth of the small ones.
      for (int i = 0; i < 40; i += 10) WriteFileBytes(dest / ("many/f" + std::to_string(i) + ".txt"), {'o', 'l', 'd'});
      TVCLUnZip reader;
      ConfigureReader(reader, archive, dest.Path(), threads);
      reader.SetOverwriteMode(scenario == Scenario::kKeepExisting ? TUZOverwriteMode::Never : TUZOverwriteMode::Always);
      int started = 0;
      reader.OnStartUnZip = [&](TVCLUnZip&, int index, std::string& fname, bool& skip) {
        ++started;
        if (scenario == Scenario::kSkipSome) skip = index % 3 == 0;
        if (scenario == Scenario::kRedirect && index % 2 == 0) {
          fname = dest / ("moved/" + std::to_string(index) + ".bin");
        }
        if (scenario == Scenario::kOtherFileSystem && index % 2 == 0) {
          fname = elsewhere + std::to_string(index) + ".bin";
        }
      };
      int ended = 0;
      reader.OnEndUnZip = [&](TVCLUnZip&, int index, const std::string& fname) {
        // Scratch folder names differ in length from run to run, so the event keeps the name below its
        // folder.
        std::string where = fname;
        if (where.rfind(dest.Path(), 0) == 0) {
          where = where.substr(dest.Path().size());
        } else if (!elsewhere.empty() && where.rfind(elsewhere, 0) == 0) {
          where = "elsewhere/" + where.substr(elsewhere.size());
        }
        events[run].push_back(std::to_string(index) + " " + where);
        if (scenario == Scenario::kStopHalfway && ++ended == 20) throw std::runtime_error("stopped by the user");
      };
      try {
        reader.UnZip();
        EXPECT_NE(scenario, Scenario::kStopHalfway);
      } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "stopped by the user");
      }
      EXPECT_GT(started, 0);
      for (const auto& entry : fs::recursive_directory_iterator(dest.Path())) {
        if (!entry.is_regular_file()) continue;
        const std::string relative = fs::relative(entry.path(), fs::path(dest.Path())).generic_string();
        EXPECT_NE(entry.path().filename().string().rfind(".kzb-", 0), 0u) << relative;
        results[run][relative] = ReadFileBytes(entry.path().string());
      }
      if (scenario == Scenario::kOtherFileSystem) {
        for (const auto& entry : fs::directory_iterator(elsewhere)) {
          EXPECT_NE(entry.path().filename().string().rfind(".kzb-", 0), 0u);
          results[run]["elsewhere/" + entry.path().filename().string()] = ReadFileBytes(entry.path().string());
        }
        fs::remove_all(elsewhere);
      }
    }
    EXPECT_EQ(events[0], events[1]);
    EXPECT_EQ(results[0].size(), results[1].size());
    EXPECT_TRUE(results[0] == results[1]);
    if (scenario == Scenario::kKeepExisting) {
      EXPECT_EQ(results[1]["many/f10.txt"], (Bytes{'o', 'l', 'd'}));
    }
  }
}

}  // namespace
}  // namespace kzb::zip
