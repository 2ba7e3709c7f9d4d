// Archives in every method the peers write, extracted by the reader: 7-Zip's Deflate64, BZip2, LZMA and XZ
// entries (BZip2 also inside AES encryption) and Python zipfile's BZip2 and LZMA entries come back byte
// for byte; a Zstandard entry as well (7-Zip and Python here do not write one, so the archive is built in
// the test from libzstd's output); PPMd entries (and methods nobody reads) are skipped with a message
// that names the entry and the method. Damaged, cut-off and over-long entries of the new methods fail
// alone and the run goes on; a failing output device ends the run. A build without the libraries
// (KZB_LIBRARY_CODECS=0) skips the peers' BZip2, LZMA and XZ entries by name instead.
#include <gtest/gtest.h>
#include <zlib.h>
#if KZB_LIBRARY_CODECS
#include <bzlib.h>
#include <zstd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/records/zip_format.h"
#include "zip/stream/stream.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using test::ShellQuote;

// Text for two bzip2 blocks of 900 kB, and data with repeats 32 to 64 KiB back.
Bytes LongText() {
  std::string text;
  for (int i = 0; text.size() < 1'000'000; ++i) {
    text += "entry " + std::to_string(i * 7919 % 100003) + " of the backup of project " + std::to_string(i % 17) +
            (i % 5 == 0 ? " (kept)\n" : "\n");
  }
  return Bytes(text.begin(), text.end());
}

Bytes FarRepeats() {
  Bytes out = test::RandomBytes(40000, 21);
  std::uint32_t x = 1;
  while (out.size() < 300000) {
    x = x * 1103515245u + 12345u;
    const std::size_t back = 32768 + (x >> 8) % 32000;
    for (std::size_t i = 0; i < 300 && back <= out.size(); ++i) out.push_back(out[out.size() - back]);
    out.push_back(static_cast<std::uint8_t>(x >> 24));
  }
  return out;
}

// The tree every peer archives: an empty file, a tiny one, and two large ones in a folder.
struct Tree {
  std::vector<std::pair<std::string, Bytes>> files = {
      {"empty.txt", {}}, {"tiny.txt", {'h', 'i', '\n'}}, {"sub/text.txt", LongText()}, {"sub/far.bin", FarRepeats()}};

  void WriteTo(const std::string& folder) const {
    for (const auto& [name, bytes] : files) test::WriteFileBytes(folder + "/" + name, bytes);
  }
};

// Collects what a run reports.
struct Events {
  std::vector<std::string> alerts;
  std::vector<std::string> failed;  // CRC failures and skips
  std::vector<std::string> skips;   // "<stored name>: <reason>" of every skipped entry
  std::vector<std::string> ended;
  int complete = -1;

  void Attach(TVCLUnZip& reader) {
    reader.OnAlert = [this](TVCLUnZip&, const std::string& text, const std::string&) { alerts.push_back(text); };
    reader.OnBadCRC = [this](TVCLUnZip& r, std::uint32_t, std::uint32_t, int index) {
      failed.push_back(r.EntryPath(index) + r.EntryName(index));
    };
    reader.OnSkippingFile = [this](TVCLUnZip& r, TSkipReason reason, const std::string& fname, int index, bool&) {
      failed.push_back(fname);
      skips.push_back(r.EntryPath(index) + r.EntryName(index) + ": " + SkipReasonText(r, reason, index));
    };
    reader.OnEndUnZip = [this](TVCLUnZip& r, int index, const std::string&) {
      ended.push_back(r.EntryPath(index) + r.EntryName(index));
    };
    reader.OnUnZipComplete = [this](TVCLUnZip&, int count) { complete = count; };
  }
};

int Extract(const std::string& archive, const std::string& dest, Events& events, const std::string& password = "") {
  TVCLUnZip reader;
  events.Attach(reader);
  reader.SetZipName(archive);
  reader.SetPassword(password);
  reader.SetDestDir(dest);
  reader.SetDoAll(true);
  reader.SetRecreateDirs(true);
  return reader.UnZip();
}

std::uint16_t MethodOf(const std::string& archive, const std::string& name) {
  TVCLUnZip reader;
  reader.SetZipName(archive);
  reader.ReadZip();
  for (int i = 0; i < reader.Count(); ++i) {
    if (reader.EntryPath(i) + reader.EntryName(i) == name) return reader.EntryInfo(i).DataMethod();
  }
  return 0xFFFF;
}

TEST(PeerMethods, PeerArchivesExtractByteForByte) {
  const bool have_7zz = test::HaveTool("7zz");
  const bool have_python = test::HaveTool("python3");
  if (!have_7zz && !have_python) GTEST_SKIP() << "neither 7zz nor python3 installed";
  test::ScratchDir dir;
  const Tree tree;
  tree.WriteTo(dir / "src");
  const std::string python_make =
      "import sys,zipfile\n"
      "z=zipfile.ZipFile(sys.argv[1],'w',compression=getattr(zipfile,sys.argv[2]))\n"
      "for n in ['empty.txt','tiny.txt','sub/text.txt','sub/far.bin']: z.write(n)\n"
      "z.close()\n";
  test::WriteFileText(dir / "make.py", python_make);
  struct Maker {
    const char* name;
    const char* command;   // run inside src; writes ../<name>
    std::uint16_t method;  // of the large entries
    bool python;
    const char* password = "";
  } makers[] = {
      {"7zz-deflate64.zip", "7zz a -tzip -bso0 -bsp0 -mm=Deflate64 ../7zz-deflate64.zip .", kMethodDeflate64, false},
      {"7zz-bzip2.zip", "7zz a -tzip -bso0 -bsp0 -mm=BZip2 -mx=9 ../7zz-bzip2.zip .", kMethodBzip2, false},
      {"7zz-lzma.zip", "7zz a -tzip -bso0 -bsp0 -mm=LZMA ../7zz-lzma.zip .", kMethodLzma, false},
      {"7zz-xz.zip", "7zz a -tzip -bso0 -bsp0 -mm=XZ ../7zz-xz.zip .", kMethodXz, false},
      {"7zz-bzip2-aes.zip", "7zz a -tzip -bso0 -bsp0 -mm=BZip2 -mem=AES256 -ppw ../7zz-bzip2-aes.zip .", kMethodBzip2,
       false, "pw"},
      {"py-bzip2.zip", "python3 ../make.py ../py-bzip2.zip ZIP_BZIP2", kMethodBzip2, true},
      {"py-lzma.zip", "python3 ../make.py ../py-lzma.zip ZIP_LZMA", kMethodLzma, true},
  };
  for (const Maker& m : makers) {
    SCOPED_TRACE(m.name);
    if (!(m.python ? have_python : have_7zz)) {
      std::cout << "skipped " << m.name << ": " << (m.python ? "python3" : "7zz") << " not installed\n";
      continue;
    }
    std::string log;
    ASSERT_EQ(test::RunCommand("cd " + ShellQuote(dir / "src") + " && " + m.command, &log), 0) << log;
    const std::string archive = dir / m.name;
    ASSERT_EQ(MethodOf(archive, "sub/text.txt"), m.method);
    ASSERT_EQ(MethodOf(archive, "sub/far.bin"), m.method);
    const std::string out = dir / (std::string("out-") + m.name);
    Events events;
    Extract(archive, out, events, m.password);
    EXPECT_TRUE(events.alerts.empty());
    if (!KZB_LIBRARY_CODECS && m.method != kMethodDeflate64) {
      // Every entry of the library's method is skipped by name; the stored ones still come out.
      for (const std::string& skip : events.skips) {
        EXPECT_NE(skip.find(": compression method " + std::to_string(m.method) + " (" +
                            CompressionMethodName(m.method) + ") is not supported"),
                  std::string::npos)
            << skip;
      }
      EXPECT_NE(std::find(events.skips.begin(), events.skips.end(),
                          "sub/text.txt: compression method " + std::to_string(m.method) + " (" +
                              CompressionMethodName(m.method) + ") is not supported"),
                events.skips.end());
      EXPECT_FALSE(fs::exists(out + "/sub/text.txt"));
      continue;
    }
    EXPECT_TRUE(events.failed.empty()) << events.failed.front();
    for (const auto& [name, bytes] : tree.files) {
      ASSERT_TRUE(fs::exists(out + "/" + name)) << name;
      EXPECT_TRUE(test::ReadFileBytes(out + "/" + name) == bytes) << name;
    }
  }
}

TEST(PeerMethods, PpmdEntriesAreRefusedByName) {
  if (!test::HaveTool("7zz")) GTEST_SKIP() << "7zz not installed";
  test::ScratchDir dir;
  const Tree tree;
  tree.WriteTo(dir / "src");
  ASSERT_EQ(test::RunCommand("cd " + ShellQuote(dir / "src") + " && 7zz a -tzip -bso0 -bsp0 -mm=PPMd ../ppmd.zip ."),
            0);
  ASSERT_EQ(MethodOf(dir / "ppmd.zip", "sub/text.txt"), kMethodPpmd);
  Events events;
  const int extracted = Extract(dir / "ppmd.zip", dir / "out", events);
  EXPECT_TRUE(events.alerts.empty());
  EXPECT_EQ(events.skips, (std::vector<std::string>{"sub/far.bin: compression method 98 (PPMd) is not supported",
                                                    "sub/text.txt: compression method 98 (PPMd) is not supported"}));
  EXPECT_FALSE(fs::exists(dir / "out/sub/text.txt"));
  EXPECT_FALSE(fs::exists(dir / "out/sub/far.bin"));
  // 7-Zip stores the empty and the tiny file; those and the folder still come out.
  EXPECT_TRUE(test::ReadFileBytes(dir / "out/tiny.txt") == tree.files[1].second);
  EXPECT_EQ(extracted, 3);
}

// --- Archives built here, entry by entry, so that each entry can be made faulty.

struct RawEntry {
  std::string name;
  std::uint16_t method;
  std::uint16_t flags;
  Bytes data;                         // the entry's compressed bytes
  Bytes original;                     // for the CRC and the size
  std::int64_t declared_size = -1;    // uncompressed size written to the headers; -1: the original's
  std::int64_t compressed_size = -1;  // compressed size written to the headers; -1: the data's
};

Bytes BuildArchive(const std::vector<RawEntry>& entries) {
  Bytes zip;
  Bytes central;
  auto u16 = [](Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  };
  auto u32 = [&](Bytes& b, std::uint32_t v) {
    u16(b, v & 0xFFFF);
    u16(b, v >> 16);
  };
  auto header = [&](Bytes& b, const RawEntry& e) {
    u16(b, 63);  // version needed
    u16(b, e.flags);
    u16(b, e.method);
    u32(b, 0x5A8A6000);  // 2025-04-10 12:00:00
    u32(b, static_cast<std::uint32_t>(crc32(0, e.original.data(), static_cast<uInt>(e.original.size()))));
    u32(b, static_cast<std::uint32_t>(e.compressed_size >= 0 ? e.compressed_size : std::int64_t(e.data.size())));
    u32(b, static_cast<std::uint32_t>(e.declared_size >= 0 ? e.declared_size : std::int64_t(e.original.size())));
    u16(b, static_cast<std::uint32_t>(e.name.size()));
    u16(b, 0);  // extra field
  };
  for (const RawEntry& e : entries) {
    const auto offset = static_cast<std::uint32_t>(zip.size());
    u32(zip, kLocalHeaderSignature);
    header(zip, e);
    zip.insert(zip.end(), e.name.begin(), e.name.end());
    zip.insert(zip.end(), e.data.begin(), e.data.end());
    u32(central, kCentralHeaderSignature);
    u16(central, 63);  // made by
    header(central, e);
    u16(central, 0);  // comment
    u16(central, 0);  // disk
    u16(central, 0);  // internal attributes
    u32(central, 0);  // external attributes
    u32(central, offset);
    central.insert(central.end(), e.name.begin(), e.name.end());
  }
  const auto central_offset = static_cast<std::uint32_t>(zip.size());
  zip.insert(zip.end(), central.begin(), central.end());
  u32(zip, kEndCentralSignature);
  u16(zip, 0);
  u16(zip, 0);
  u16(zip, static_cast<std::uint32_t>(entries.size()));
  u16(zip, static_cast<std::uint32_t>(entries.size()));
  u32(zip, static_cast<std::uint32_t>(central.size()));
  u32(zip, central_offset);
  u16(zip, 0);
  return zip;
}

#if KZB_LIBRARY_CODECS
Bytes Zstd(const Bytes& data) {
  Bytes out(ZSTD_compressBound(data.size()));
  const std::size_t size = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), 3);
  EXPECT_FALSE(ZSTD_isError(size));
  out.resize(size);
  return out;
}

Bytes Bzip2(const Bytes& data) {
  auto size = static_cast<unsigned>(data.size() + data.size() / 100 + 600);
  Bytes out(size);
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &size,
                                     const_cast<char*>(reinterpret_cast<const char*>(data.data())),
                                     static_cast<unsigned>(data.size()), 1, 0, 0),
            BZ_OK);
  out.resize(size);
  return out;
}
#endif

// Deflate (and Deflate64) stored blocks: a header byte, LEN, NLEN, the bytes.
Bytes StoredBlocks(const Bytes& data) {
  Bytes out;
  std::size_t pos = 0;
  do {
    const std::size_t n = std::min<std::size_t>(65535, data.size() - pos);
    out.push_back(pos + n == data.size() ? 1 : 0);
    for (const std::size_t v : {n, ~n & 0xFFFF}) {
      out.push_back(static_cast<std::uint8_t>(v));
      out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
    out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(pos),
               data.begin() + static_cast<std::ptrdiff_t>(pos + n));
    pos += n;
  } while (pos < data.size());
  return out;
}

TEST(PeerMethods, ZstandardEntries) {
#if !KZB_LIBRARY_CODECS
  GTEST_SKIP() << "built without libzstd (KZB_LIBRARY_CODECS=OFF)";
#else
  const Bytes text = LongText();
  const Bytes far = FarRepeats();
  const Bytes empty;
  // Python's zipfile writes Zstandard entries from 3.14 on; the one here may be older.
  const std::vector<RawEntry> entries = {
      {"text.txt", kMethodZstd, 0, Zstd(text), text},
      {"sub/far.bin", kMethodZstd, 0, Zstd(far), far},
      {"empty.txt", kMethodZstd, 0, Zstd(empty), empty},
  };
  test::ScratchDir dir;
  test::WriteFileBytes(dir / "zstd.zip", BuildArchive(entries));
  Events events;
  EXPECT_EQ(Extract(dir / "zstd.zip", dir / "out", events), 3);
  EXPECT_TRUE(events.failed.empty());
  for (const RawEntry& e : entries) EXPECT_TRUE(test::ReadFileBytes(dir / ("out/" + e.name)) == e.original) << e.name;
  if (test::HaveTool("python3")) {
    std::string log;
    const int status =
        test::RunCommand("python3 -c \"import zipfile,sys; sys.exit(0 if hasattr(zipfile,'ZIP_ZSTANDARD') else 3)\"");
    if (status == 0) {
      EXPECT_EQ(test::RunCommand("python3 -m zipfile -t " + ShellQuote(dir / "zstd.zip"), &log), 0) << log;
    } else {
      std::cout << "Python's zipfile cannot read Zstandard entries here; not compared\n";
    }
  }
#endif
}

// Methods without a decoder are skipped before any byte is written, named by number and name; the entry
// after them still comes out.
TEST(PeerMethods, UnreadMethodsAreSkippedByName) {
  const Bytes data = {'d', 'a', 't', 'a'};
  std::vector<RawEntry> entries = {
      {"a.ppmd", kMethodPpmd, 0, data, data},
      {"b.tok", 7, 0, data, data},
      {"c.dcl", 10, 0, data, data},
      {"d.odd", 77, 0, data, data},
      {"e.txt", kMethodStored, 0, data, data},
  };
  std::vector<std::string> expected = {
      "a.ppmd: compression method 98 (PPMd) is not supported",
      "b.tok: compression method 7 (Tokenized) is not supported",
      "c.dcl: compression method 10 (PKWARE DCL Imploded) is not supported",
      "d.odd: compression method 77 (unknown) is not supported",
  };
  if (!KZB_LIBRARY_CODECS) {  // the methods of the libraries join them
    for (const std::uint16_t method : {kMethodBzip2, kMethodLzma, kMethodZstd, kMethodXz}) {
      const std::string name = "lib" + std::to_string(method) + ".bin";
      entries.insert(entries.end() - 1, RawEntry{name, method, 0, data, data});
      expected.push_back(name + ": compression method " + std::to_string(method) + " (" +
                         CompressionMethodName(method) + ") is not supported");
    }
  }
  test::ScratchDir dir;
  test::WriteFileBytes(dir / "odd.zip", BuildArchive(entries));
  Events events;
  EXPECT_EQ(Extract(dir / "odd.zip", dir / "out", events), 1);
  EXPECT_TRUE(events.alerts.empty());
  EXPECT_EQ(events.skips, expected);
  EXPECT_EQ(test::ReadFileBytes(dir / "out/e.txt"), data);
  for (const RawEntry& e : entries) {
    if (e.method != kMethodStored) {
      EXPECT_FALSE(fs::exists(dir / ("out/" + e.name))) << e.name;
    }
  }
}

// Each faulty entry fails alone (its file is removed), and the stored entry after it still comes out.
TEST(PeerMethods, FaultyEntriesFailAlone) {
#if !KZB_LIBRARY_CODECS
  GTEST_SKIP() << "built without libbz2, liblzma, libzstd (KZB_LIBRARY_CODECS=OFF)";
#else
  const Bytes all = LongText();
  const Bytes text(all.begin(), all.begin() + 500000);
  const Bytes bz = Bzip2(text);
  const Bytes zs = Zstd(text);
  Bytes damaged_bz = bz;
  damaged_bz[bz.size() / 2] ^= 0x40;
  const Bytes after = {'a', 'f', 't', 'e', 'r'};
  const RawEntry after_entry{"after.txt", kMethodStored, 0, after, after};
  struct Case {
    const char* name;
    RawEntry entry;
  } cases[] = {
      {"damaged bzip2", {"f.txt", kMethodBzip2, 0, damaged_bz, text}},
      {"bzip2 cut short", {"f.txt", kMethodBzip2, 0, Bytes(bz.begin(), bz.end() - 100), text}},
      {"bzip2 compressed size too small", {"f.txt", kMethodBzip2, 0, bz, text, -1, std::int64_t(bz.size()) - 7}},
      {"bzip2 longer than declared", {"f.txt", kMethodBzip2, 0, bz, text, std::int64_t(text.size()) - 1}},
      {"zstd longer than declared", {"f.txt", kMethodZstd, 0, zs, text, 40000}},
      {"zstd shorter than declared", {"f.txt", kMethodZstd, 0, zs, text, std::int64_t(text.size()) + 1}},
      {"lzma without its header", {"f.txt", kMethodLzma, 0, zs, text}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScratchDir dir;
    test::WriteFileBytes(dir / "a.zip", BuildArchive({c.entry, after_entry}));
    Events events;
    EXPECT_EQ(Extract(dir / "a.zip", dir / "out", events), 1);
    EXPECT_EQ(events.failed.size(), 1u);
    EXPECT_EQ(events.ended, (std::vector<std::string>{"after.txt"}));
    EXPECT_FALSE(fs::exists(dir / "out/f.txt"));
    EXPECT_TRUE(test::ReadFileBytes(dir / "out/after.txt") == after);
  }
#endif
}

// An output device whose every write fails with its own error.
class FailingDevice : public TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t) override { throw platform::EFileError("Device on fire"); }
  std::int64_t Seek(std::int64_t, int) override { return 0; }
};

// A write error of the output device is not bad data: it ends the run with the device's error.
TEST(PeerMethods, FailingOutputDeviceEndsTheRun) {
  const Bytes all = LongText();
  const Bytes text(all.begin(), all.begin() + 300000);
  std::vector<RawEntry> entries = {RawEntry{"f.txt", kMethodDeflate64, 0, StoredBlocks(text), text}};
#if KZB_LIBRARY_CODECS
  entries.push_back(RawEntry{"f.txt", kMethodBzip2, 0, Bzip2(text), text});
  entries.push_back(RawEntry{"f.txt", kMethodZstd, 0, Zstd(text), text});
#endif
  for (const RawEntry& entry : entries) {
    SCOPED_TRACE(entry.method);
    test::ScratchDir dir;
    test::WriteFileBytes(dir / "a.zip", BuildArchive({entry, RawEntry{"after.txt", kMethodStored, 0, {'x'}, {'x'}}}));
    TVCLUnZip reader;
    Events events;
    events.Attach(reader);
    reader.SetZipName(dir / "a.zip");
    reader.SetDestDir(dir / "out");
    reader.SetDoAll(true);
    reader.SetOutputDeviceFactory(
        [](const std::string&) -> std::unique_ptr<TStream> { return std::make_unique<FailingDevice>(); });
    EXPECT_THROW(reader.UnZip(), platform::EFileError);
    EXPECT_EQ(events.complete, 0);
    EXPECT_TRUE(events.failed.empty());
    EXPECT_FALSE(fs::exists(dir / "out/f.txt"));
    EXPECT_FALSE(fs::exists(dir / "out/after.txt"));
  }
}

}  // namespace
}  // namespace kzb::zip
