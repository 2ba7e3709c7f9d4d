// Tests of the deflate compressor: every level round-trips awkward inputs through our inflater and
// through Python's zlib (an independent RFC 1951 decoder), the entry header results follow the level and
// the data (flag bits, text/binary, whole-file stored), the output does not depend on how the input is
// read or on the files compressed before, and errors of the output callback end the call.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/decompress/inflate.h"
#include "zip/decompress/inflate_buffer.h"
#include "zip/deflate/deflate_buffer.h"
#include "zip/deflate/deflate_file.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes TextBytes(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {"the ",     "archive ", "backup ", "file ",     "of ",       "and ",
                                       "deflate ", "window ",  "match ",  "to ",       "kestrova ", "zip\n",
                                       "block ",   "code ",    "length ", "distance\n"};
  Bytes out;
  out.reserve(size);
  std::uint32_t x = seed * 2654435761u + 1;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    const char* w = kWords[(x >> 16) % 16];
    for (const char* p = w; *p && out.size() < size; ++p) out.push_back(static_cast<std::uint8_t>(*p));
  }
  return out;
}

// Machine-code-like bytes: small values, repeated structures, some noise.
Bytes BinaryBytes(std::size_t size, std::uint32_t seed) {
  Bytes out;
  out.reserve(size);
  const Bytes noise = test::RandomBytes(4096, seed);
  std::uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1664525u + 1013904223u;
    switch ((x >> 24) % 4) {
      case 0:
        for (int i = 0; i < 16; ++i) out.push_back(static_cast<std::uint8_t>(i * (x >> 8)));
        break;
      case 1:
        out.insert(out.end(), 12, 0);
        break;
      case 2:
        out.insert(out.end(), noise.begin() + (x % 4000), noise.begin() + (x % 4000) + 24);
        break;
      default:
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<std::uint8_t>(0x48 + (i & 3)));
        break;
    }
  }
  out.resize(size);
  return out;
}

// Runs of varied lengths mixed with random stretches, long enough to slide the window several times, so
// matches and runs straddle every slide.
Bytes RunsAcrossSlides(std::size_t size) {
  Bytes out;
  const Bytes noise = test::RandomBytes(size, 77);
  std::size_t n = 0;
  std::uint32_t x = 5;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    const std::size_t run = 1 + (x >> 8) % 700;
    if ((x >> 20) & 1) {
      out.insert(out.end(), run, static_cast<std::uint8_t>(x >> 24));
    } else {
      out.insert(out.end(), noise.begin() + n, noise.begin() + std::min(size, n + run));
    }
    n = (n + run) % (size - 1000);
  }
  out.resize(size);
  return out;
}

Bytes MixedTextBinary(std::size_t size) {
  Bytes out;
  std::uint32_t seed = 1;
  while (out.size() < size) {
    const Bytes part = (seed % 3 == 0) ? BinaryBytes(70000, seed) : TextBytes(90000, seed);
    out.insert(out.end(), part.begin(), part.end());
    if (seed % 5 == 0) {
      const Bytes noise = test::RandomBytes(30000, seed);
      out.insert(out.end(), noise.begin(), noise.end());
    }
    ++seed;
  }
  out.resize(size);
  return out;
}

struct NamedInput {
  std::string name;
  Bytes data;
};

const std::vector<NamedInput>& EdgeInputs() {
  static const std::vector<NamedInput> inputs = [] {
    std::vector<NamedInput> v;
    v.push_back({"empty", {}});
    v.push_back({"one_byte", {0x41}});
    v.push_back({"random_100", test::RandomBytes(100, 1)});
    v.push_back({"same_100000", Bytes(100000, 0x5A)});
    v.push_back({"text_32768", TextBytes(32768, 2)});
    v.push_back({"binary_65536", BinaryBytes(65536, 3)});
    v.push_back({"random_65536", test::RandomBytes(65536, 4)});
    v.push_back({"runs_400000", RunsAcrossSlides(400000)});
    v.push_back({"mixed_2000000", MixedTextBinary(2000000)});
    return v;
  }();
  return inputs;
}

Bytes Inflated(const Bytes& stream) {
  Bytes out;
  EXPECT_EQ(InflateBuffer(stream, out), DecodeResult::kOk);
  return out;
}

// The entry data as an extractor sees it: stored bytes or a deflate stream.
Bytes Unpacked(const CompressedBuffer& c) {
  return c.result.stored ? c.data : Inflated(c.data);
}

class DeflateLevelTest : public ::testing::TestWithParam<int> {};

// Every edge input at this level: our inflater gets the input back, and Python's zlib decodes the same
// streams (checked in one python run for all inputs of the level).
TEST_P(DeflateLevelTest, RoundTripsEdgeInputsThroughOursAndZlib) {
  const int level = GetParam();
  test::ScratchDir dir;
  TDeflater deflater;  // one compressor for all inputs, as in a writer run
  int streams = 0;
  for (const NamedInput& input : EdgeInputs()) {
    SCOPED_TRACE(input.name);
    const CompressedBuffer c = DeflateBuffer(deflater, input.data, level);
    EXPECT_EQ(c.result.compressed_size, static_cast<std::int64_t>(c.data.size()));
    EXPECT_EQ(c.result.general_flags, TDeflater::FlagBitsForLevel(level));
    ASSERT_EQ(Unpacked(c), input.data);
    if (!c.result.stored) {
      test::WriteFileBytes(dir / (input.name + ".deflate"), c.data);
      test::WriteFileBytes(dir / (input.name + ".raw"), input.data);
      ++streams;
    }
  }
  if (!test::HaveTool("python3")) GTEST_SKIP() << test::MissingTools("python3");
  const std::string script =
      "import sys, zlib, pathlib\n"
      "d = pathlib.Path(sys.argv[1]); n = 0\n"
      "for f in sorted(d.glob('*.deflate')):\n"
      "    raw = f.with_suffix('.raw').read_bytes()\n"
      "    if zlib.decompress(f.read_bytes(), -15) != raw: print('mismatch', f.name); sys.exit(1)\n"
      "    n += 1\n"
      "print('checked', n)\n";
  test::WriteFileText(dir / "check.py", script);
  std::string output;
  ASSERT_EQ(
      test::RunCommand("python3 " + test::ShellQuote(dir / "check.py") + " " + test::ShellQuote(dir.Path()), &output),
      0)
      << output;
  EXPECT_NE(output.find("checked " + std::to_string(streams)), std::string::npos) << output;
}

INSTANTIATE_TEST_SUITE_P(Levels, DeflateLevelTest, ::testing::Range(1, 10));

TEST(DeflateFile, EmptyFileIsStoredWithSizeZeroEvenAtLevel9) {
  for (int level : {1, 6, 9}) {
    const CompressedBuffer c = DeflateBuffer({}, level);
    EXPECT_TRUE(c.result.stored) << level;
    EXPECT_EQ(c.result.compressed_size, 0) << level;
    EXPECT_TRUE(c.data.empty()) << level;
  }
  EXPECT_EQ(DeflateBuffer({}, 9).result.general_flags, 2);
}

TEST(DeflateFile, HundredRandomBytesAreStoredWholeKeepingTheLevelFlags) {
  const Bytes data = test::RandomBytes(100, 9);
  for (int level = 1; level <= 9; ++level) {
    const CompressedBuffer c = DeflateBuffer(data, level);
    EXPECT_TRUE(c.result.stored) << level;
    EXPECT_EQ(c.result.compressed_size, 100) << level;
    EXPECT_EQ(c.data, data) << level;
    EXPECT_EQ(c.result.general_flags, TDeflater::FlagBitsForLevel(level)) << level;
  }
  EXPECT_EQ(DeflateBuffer(data, 9).result.general_flags, 2);
}

TEST(DeflateFile, FlagBitsPerLevel) {
  const std::uint16_t expected[10] = {4, 4, 4, 0, 0, 0, 0, 0, 2, 2};
  for (int level = 1; level <= 9; ++level) EXPECT_EQ(TDeflater::FlagBitsForLevel(level), expected[level]);
}

TEST(DeflateFile, HundredThousandSameBytesAtLevel1) {
  const CompressedBuffer c = DeflateBuffer(Bytes(100000, 'x'), 1);
  EXPECT_FALSE(c.result.stored);
  EXPECT_EQ(c.result.general_flags, 4);
  EXPECT_LT(c.result.compressed_size, 1000);
  EXPECT_EQ(Inflated(c.data), Bytes(100000, 'x'));
}

TEST(DeflateFile, TextAndBinaryAttribute) {
  struct Case {
    const char* name;
    Bytes data;
    std::uint16_t attribute;
  };
  Bytes many_high = TextBytes(20000, 5);
  for (std::size_t i = 0; i < many_high.size(); i += 3) many_high[i] = static_cast<std::uint8_t>(0x80 + i % 100);
  Bytes many_low = TextBytes(20000, 6);
  for (std::size_t i = 0; i < many_low.size(); i += 4) many_low[i] = static_cast<std::uint8_t>(i % 7);
  // The rule counts literals, not bytes: random letters stay literals, so a few accents among them do not
  // tip the balance.
  Bytes few_high = test::RandomBytes(20000, 7);
  for (std::size_t i = 0; i < few_high.size(); ++i) {
    few_high[i] = i % 50 == 0 ? 0xE9 : i % 61 == 0 ? '\n' : static_cast<std::uint8_t>('a' + few_high[i] % 26);
  }
  const Case cases[] = {
      {"letters and line ends", TextBytes(50000, 4), 1}, {"every third byte above 127", many_high, 0},
      {"every fourth byte below 7", many_low, 0},        {"random letters with an accent every 50 bytes", few_high, 1},
      {"machine code", BinaryBytes(50000, 8), 0},
  };
  for (const Case& c : cases) {
    for (int level : {1, 6, 9}) {
      EXPECT_EQ(DeflateBuffer(c.data, level).result.internal_attributes, c.attribute) << c.name << " " << level;
    }
  }
}

// Incompressible data larger than a block stays a deflate stream (method 8) made of stored blocks: a few
// bytes per block, never more than 0.1 % over the input.
TEST(DeflateFile, IncompressibleDataLargerThanABlockUsesStoredBlocks) {
  const Bytes data = test::RandomBytes(300000, 10);
  for (int level : {1, 6, 9}) {
    const CompressedBuffer c = DeflateBuffer(data, level);
    EXPECT_FALSE(c.result.stored);
    ASSERT_FALSE(c.data.empty());
    EXPECT_EQ((c.data[0] >> 1) & 3, 0) << "first block is stored";
    EXPECT_LE(c.data.size(), data.size() + data.size() / 1000) << level;
    EXPECT_EQ(Inflated(c.data), data);
  }
}

// The output depends only on the bytes and the level: not on how reads are split, not on the files the
// compressor handled before.
TEST(DeflateFile, OutputIsDeterministic) {
  const Bytes a = MixedTextBinary(300000);
  const Bytes b = RunsAcrossSlides(150000);
  Bytes short_tail = TextBytes(1000, 11);  // ends early in a window still holding the previous file
  for (int level : {1, 4, 9}) {
    const Bytes fresh_b = DeflateBuffer(b, level).data;
    const Bytes fresh_tail = DeflateBuffer(short_tail, level).data;
    EXPECT_EQ(DeflateBuffer(b, level, 1).data, fresh_b) << "byte-wise reads, level " << level;
    EXPECT_EQ(DeflateBuffer(b, level, 4099).data, fresh_b) << "odd reads, level " << level;
    TDeflater reused;
    DeflateBuffer(reused, a, level);
    EXPECT_EQ(DeflateBuffer(reused, b, level).data, fresh_b) << "after another file, level " << level;
    EXPECT_EQ(DeflateBuffer(reused, short_tail, level).data, fresh_tail) << level;
  }
}

TEST(DeflateFile, LevelsOutsideOneToNineAreClamped) {
  const Bytes data = TextBytes(40000, 12);
  EXPECT_EQ(DeflateBuffer(data, 0).data, DeflateBuffer(data, 1).data);
  EXPECT_EQ(DeflateBuffer(data, -3).result.general_flags, 4);
  EXPECT_EQ(DeflateBuffer(data, 12).data, DeflateBuffer(data, 9).data);
}

// Coded output reaches the writer in pieces of at most kDeflateOutputPiece bytes; only the raw bytes of
// stored blocks come in bigger pieces.
TEST(DeflateFile, OutputPiecesAreBounded) {
  const Bytes data = MixedTextBinary(500000);
  std::size_t pos = 0;
  std::int64_t largest = 0;
  std::int64_t total = 0;
  int raw_pieces = 0;
  TDeflater deflater;
  const DeflateResult r = deflater.DeflateFile(
      6,
      [&](std::uint8_t* buf, std::int64_t max) {
        const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(max), data.size() - pos);
        std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(pos), n, buf);
        pos += n;
        return static_cast<std::int64_t>(n);
      },
      [&](const std::uint8_t* piece, std::int64_t count) {
        EXPECT_GT(count, 0);
        total += count;
        // Only the raw bytes of a stored block come in bigger pieces (the noise in the input).
        if (count > kDeflateOutputPiece) {
          EXPECT_NE(std::search(data.begin(), data.end(), piece, piece + count), data.end());
          ++raw_pieces;
          return;
        }
        largest = std::max(largest, count);
      });
  EXPECT_EQ(total, r.compressed_size);
  EXPECT_LE(largest, kDeflateOutputPiece);
  EXPECT_LE(raw_pieces, 2);
}

// A short write raises in WriteOutput; the error ends the call and reaches the writer unchanged, and the
// compressor is fit for the next file.
TEST(DeflateFile, WriteErrorPropagatesAndTheCompressorStaysUsable) {
  const Bytes data = MixedTextBinary(400000);
  TDeflater deflater;
  std::size_t pos = 0;
  std::int64_t written = 0;
  auto read = [&](std::uint8_t* buf, std::int64_t max) {
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(max), data.size() - pos);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(pos), n, buf);
    pos += n;
    return static_cast<std::int64_t>(n);
  };
  auto write = [&](const std::uint8_t*, std::int64_t count) {
    written += count;
    if (written > 20000) throw ENotEnoughRoom();
  };
  EXPECT_THROW(deflater.DeflateFile(6, read, write), ENotEnoughRoom);
  EXPECT_EQ(DeflateBuffer(deflater, data, 6).data, DeflateBuffer(data, 6).data);
}

}  // namespace
}  // namespace kzb::zip
