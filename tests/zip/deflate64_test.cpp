// Deflate64 (method 9): hand-made streams pin down what differs from deflate (length code 285 with 16
// extra bits, distance codes 30 and 31, 32 distance codes in a dynamic block), and plain deflate still
// refuses them; entries written by 7-Zip decode byte for byte however the input is split; errors of the
// callbacks follow the Deflate64 rule (a failing device passes through).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/decompress/inflate.h"
#include "zip/decompress/inflate_buffer.h"
#include "zip/reader/vcl_unzip.h"
#include "zip/records/deflate_format.h"
#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Writes bits least significant first, as deflate streams are laid out; Huffman codes most significant
// bit first.
class BitWriter {
 public:
  void Bits(std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
  }
  void Code(std::uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  void Align() {
    while (used_ != 0) Bit(0);
  }
  // A stored block holding data (at most 65535 bytes).
  void Stored(const Bytes& data, bool final) {
    Bits(final ? 1 : 0, 1);
    Bits(deflate::kBlockStored, 2);
    Align();
    Bits(static_cast<std::uint32_t>(data.size()), 16);
    Bits(static_cast<std::uint32_t>(~data.size() & 0xFFFF), 16);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  // Symbols of the fixed literal/length code.
  void FixedSymbol(int symbol) {
    if (symbol < 144)
      Code(0x30 + symbol, 8);
    else if (symbol < 256)
      Code(0x190 + symbol - 144, 9);
    else if (symbol < 280)
      Code(symbol - 256, 7);
    else
      Code(0xC0 + symbol - 280, 8);
  }
  Bytes Done() {
    Align();
    return bytes_;
  }

 private:
  void Bit(std::uint32_t bit) {
    if (used_ == 0) bytes_.push_back(0);
    bytes_.back() |= static_cast<std::uint8_t>(bit << used_);
    used_ = (used_ + 1) % 8;
  }
  Bytes bytes_;
  int used_ = 0;
};

struct Decoded {
  DecodeResult result;
  Bytes data;
};

Decoded Decode(const Bytes& stream, InflateFormat format, std::size_t piece = kInputBlockSize) {
  TInflater inflater(format);
  Decoded d;
  d.result = InflateBuffer(inflater, stream, d.data, SIZE_MAX, piece);
  return d;
}

// Copies a match into expected output the way the format defines it (byte by byte, overlaps repeat).
void Match(Bytes& out, std::size_t distance, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) out.push_back(out[out.size() - distance]);
}

TEST(Deflate64, LengthCode285CarriesSixteenExtraBits) {
  struct Case {
    std::uint32_t extra;
    std::size_t length;
  } cases[] = {{0, 3}, {255, 258}, {256, 259}, {65535, 65538}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(deflate::kBlockFixed, 2);
    w.FixedSymbol('a');
    w.FixedSymbol(285);
    w.Bits(c.extra, 16);
    w.Code(0, 5);  // distance 1
    w.FixedSymbol('b');
    w.FixedSymbol(deflate::kEndOfBlock);
    const Bytes stream = w.Done();
    Bytes expected(1 + c.length, 'a');
    expected.push_back('b');
    for (const std::size_t piece : {std::size_t{1}, kInputBlockSize}) {
      const Decoded d = Decode(stream, InflateFormat::kDeflate64, piece);
      EXPECT_EQ(d.result, DecodeResult::kOk);
      EXPECT_EQ(d.data, expected);
    }
    // In deflate the code means 258 without extra bits, so the same bits decode to something else.
    const Decoded plain = Decode(stream, InflateFormat::kDeflate);
    EXPECT_FALSE(plain.result == DecodeResult::kOk && plain.data == expected);
  }
}

// 70000 bytes of history in stored blocks, then matches through distance codes 29, 30 and 31 up to the
// farthest distance, 65536.
TEST(Deflate64, DistanceCodes30And31ReachSixtyFourKiB) {
  const Bytes history = test::RandomBytes(70000, 9);
  BitWriter w;
  w.Stored(Bytes(history.begin(), history.begin() + 40000), false);
  w.Stored(Bytes(history.begin() + 40000, history.end()), false);
  w.Bits(1, 1);
  w.Bits(deflate::kBlockFixed, 2);
  Bytes expected = history;
  struct Match64 {
    int code;
    std::uint32_t extra;
    int extra_bits;
    std::size_t distance;
  } matches[] = {
      {29, 8191, 13, 32768}, {30, 0, 14, 32769}, {30, 16383, 14, 49152}, {31, 0, 14, 49153}, {31, 16383, 14, 65536}};
  for (const Match64& m : matches) {
    w.FixedSymbol(264);  // length 10
    w.Code(m.code, 5);
    w.Bits(m.extra, m.extra_bits);
    Match(expected, m.distance, 10);
  }
  w.FixedSymbol(deflate::kEndOfBlock);
  const Bytes stream = w.Done();
  for (const std::size_t piece : {std::size_t{1}, std::size_t{1000}, kInputBlockSize}) {
    const Decoded d = Decode(stream, InflateFormat::kDeflate64, piece);
    EXPECT_EQ(d.result, DecodeResult::kOk) << piece;
    EXPECT_EQ(d.data, expected) << piece;
  }
  EXPECT_EQ(Decode(stream, InflateFormat::kDeflate).result, DecodeResult::kDataError);
}

TEST(Deflate64, DistanceBeyondTheOutputIsRejected) {
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(deflate::kBlockFixed, 2);
  for (int i = 0; i < 100; ++i) w.FixedSymbol('x');
  w.FixedSymbol(257);
  w.Code(30, 5);
  w.Bits(0, 14);
  w.FixedSymbol(deflate::kEndOfBlock);
  EXPECT_EQ(Decode(w.Done(), InflateFormat::kDeflate64).result, DecodeResult::kDataError);
}

// A dynamic block may declare all 32 distance codes; deflate allows 30.
TEST(Deflate64, DynamicBlockWithThirtyTwoDistanceCodes) {
  // Literals 9 bits, end of block and 285 five bits, the other 28 length codes six bits: a complete code.
  std::vector<int> lit(286, 9);
  lit[256] = 5;
  lit[285] = 5;
  for (int s = 257; s < 285; ++s) lit[s] = 6;
  const std::vector<int> dist(32, 5);
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(deflate::kBlockDynamic, 2);
  w.Bits(286 - 257, 5);
  w.Bits(32 - 1, 5);
  w.Bits(19 - 4, 4);
  // The code-length code gives each length 0-15 a 4-bit code (code = length).
  for (int i = 0; i < 19; ++i) w.Bits(deflate::kCodeLengthOrder[i] < 16 ? 4 : 0, 3);
  for (int l : lit) w.Code(l, 4);
  for (int l : dist) w.Code(l, 4);
  // Canonical codes: 256 and 285 get 00000 and 00001, the length codes 000100 to 011111, and the literals
  // the 9-bit codes from (4 + 28) << 3 = 0x100 on.
  w.Code(0x100 + 'k', 9);
  w.Code(0, 5);  // end of block
  const Bytes stream = w.Done();
  const Decoded d = Decode(stream, InflateFormat::kDeflate64);
  EXPECT_EQ(d.result, DecodeResult::kOk);
  EXPECT_EQ(d.data, Bytes{'k'});
  EXPECT_EQ(Decode(stream, InflateFormat::kDeflate).result, DecodeResult::kDataError);
}

TEST(Deflate64, CallbackErrors) {
  BitWriter w;
  w.Stored(test::RandomBytes(50000, 4), true);
  const Bytes stream = w.Done();
  TInflater inflater(InflateFormat::kDeflate64);
  std::size_t pos = 0;
  const InputFn input = [&](std::uint8_t* buffer, std::size_t max) {
    const std::size_t n = std::min(max, stream.size() - pos);
    std::memcpy(buffer, stream.data() + pos, n);
    pos += n;
    return n;
  };
  const auto fails_with = [](auto error) { return [error](const std::uint8_t*, std::size_t) { throw error; }; };
  // Conditions of the entry's data end the entry.
  EXPECT_EQ(inflater.Inflate([](std::uint8_t*, std::size_t) -> std::size_t { throw EFatalUnzipError(); },
                             [](const std::uint8_t*, std::size_t) {}),
            DecodeResult::kDataError);
  pos = 0;
  EXPECT_EQ(inflater.Inflate(input, fails_with(EBiggerThanUncompressed())), DecodeResult::kDataError);
  // A failing device and a cancel are not bad data.
  pos = 0;
  EXPECT_THROW(inflater.Inflate(input, fails_with(ECantWriteUCF())), ECantWriteUCF);
  pos = 0;
  EXPECT_THROW(inflater.Inflate(input, fails_with(EUserCanceled())), EUserCanceled);
  // The decoder is good for the next entry.
  pos = 0;
  Bytes out;
  EXPECT_EQ(inflater.Inflate(input, [&](const std::uint8_t* b, std::size_t n) { out.insert(out.end(), b, b + n); }),
            DecodeResult::kOk);
  EXPECT_EQ(out.size(), 50000u);
}

// Data whose repeats lie up to 64 KiB back and run long, so that 7-Zip uses what only Deflate64 has.
Bytes FarRepeats(std::size_t size) {
  const Bytes noise = test::RandomBytes(65536, 12);
  Bytes out(noise.begin(), noise.end());
  std::uint32_t x = 3;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    const std::size_t back = 32768 + (x >> 8) % 32768;
    const std::size_t length = (x >> 28) < 2 ? 3000 + (x >> 4) % 5000 : 20 + (x >> 20) % 200;
    for (std::size_t i = 0; i < length; ++i) out.push_back(out[out.size() - back]);
    out.insert(out.end(), noise.begin() + (x >> 12) % 60000, noise.begin() + (x >> 12) % 60000 + (x & 63));
  }
  out.resize(size);
  return out;
}

// The compressed bytes of an archive's only entry, which must use method.
Bytes OnlyEntryData(const std::string& archive, std::uint16_t method) {
  TVCLUnZip reader;
  reader.SetZipName(archive);
  reader.ReadZip();
  EXPECT_EQ(reader.Count(), 1);
  if (reader.Count() != 1) return {};
  const TZipHeaderInfo& entry = reader.EntryInfo(0);
  EXPECT_EQ(entry.CompressionMethod(), method);
  const Bytes zip = test::ReadFileBytes(archive);
  const std::size_t local = static_cast<std::size_t>(entry.LocalHeaderOffset());
  const std::size_t start =
      local + kLocalHeaderSize + GetU16(zip.data() + local + 26) + GetU16(zip.data() + local + 28);
  return Bytes(zip.begin() + static_cast<std::ptrdiff_t>(start),
               zip.begin() + static_cast<std::ptrdiff_t>(start + static_cast<std::size_t>(entry.CompressedSize())));
}

TEST(Deflate64, SevenZipEntries) {
  if (!test::HaveTool("7zz")) GTEST_SKIP() << "7zz not installed";
  test::ScratchDir dir;
  const Bytes data = FarRepeats(600000);
  test::WriteFileBytes(dir / "input.bin", data);
  for (const int level : {1, 5, 9}) {
    SCOPED_TRACE(level);
    const std::string zip = dir / ("d64-" + std::to_string(level) + ".zip");
    std::string log;
    const std::string command = "cd " + test::ShellQuote(dir.Path()) + " && 7zz a -tzip -bso0 -bsp0 " +
                                "-mm=Deflate64 -mx=" + std::to_string(level) + " " + test::ShellQuote(zip) +
                                " input.bin";
    ASSERT_EQ(test::RunCommand(command, &log), 0) << log;
    const Bytes stream = OnlyEntryData(zip, kMethodDeflate64);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{4093}, kInputBlockSize}) {
      const Decoded d = Decode(stream, InflateFormat::kDeflate64, piece);
      EXPECT_EQ(d.result, DecodeResult::kOk) << piece;
      EXPECT_TRUE(d.data == data) << piece;
    }
    // The entry uses what only Deflate64 has: read as deflate it fails.
    const Decoded plain = Decode(stream, InflateFormat::kDeflate);
    EXPECT_FALSE(plain.result == DecodeResult::kOk && plain.data == data);
    // Cut short anywhere, the entry fails.
    for (const std::size_t keep : {stream.size() / 3, stream.size() - 1}) {
      const Decoded d =
          Decode(Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(keep)), InflateFormat::kDeflate64);
      EXPECT_EQ(d.result, DecodeResult::kDataError) << keep;
    }
  }
}

}  // namespace
}  // namespace kzb::zip
