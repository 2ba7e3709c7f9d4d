// Tests of the legacy decoders (Unshrink, Unreduce, Explode): real archives made by PKZIP 1.x and
// friends decode byte for byte, hand-built streams pin down the format details the fixtures may not
// reach (all four implode flag combinations, every reduce factor, matches before the start of output,
// the LZW special case, code widening), and damaged input always ends with a result.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/decompress/decompress_io.h"
#include "zip/decompress/explode.h"
#include "zip/decompress/unreduce.h"
#include "zip/decompress/unshrink.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t Crc32(const Bytes& data) {
  static const std::array<std::uint32_t, 256> table = [] {
    std::array<std::uint32_t, 256> t{};
    for (std::uint32_t i = 0; i < 256; ++i) {
      std::uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::uint8_t b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

// ---------------------------------------------------------------------------------------------------
// Feeding a decoder.

// Hands out `data` in pieces of at most `chunk` bytes per call (0: as much as asked).
InputFn InputOver(const Bytes& data, std::size_t chunk = 0) {
  auto position = std::make_shared<std::size_t>(0);
  return [&data, chunk, position](std::uint8_t* buffer, std::size_t max) {
    std::size_t count = std::min(max, data.size() - *position);
    if (chunk > 0) count = std::min(count, chunk);
    if (count > 0) std::memcpy(buffer, data.data() + *position, count);
    *position += count;
    return count;
  };
}

struct Decoded {
  DecodeResult result = DecodeResult::kOk;
  Bytes bytes;
  std::vector<std::size_t> blocks;  // size of every block handed over
};

// Output that keeps everything, failing the test beyond `cap` bytes (a runaway decoder).
OutputBlockFn Collect(Decoded* out, std::size_t cap = 64u << 20) {
  return [out, cap](const std::uint8_t* data, std::size_t count) {
    EXPECT_GT(count, 0u);
    EXPECT_LE(count, kOutputBlockSize);
    out->blocks.push_back(count);
    if (out->bytes.size() + count > cap) throw std::length_error("runaway output");
    out->bytes.insert(out->bytes.end(), data, data + count);
  };
}

struct EntryData {
  std::string name;
  int method = 0;
  std::uint16_t flags = 0;
  std::uint32_t crc = 0;
  std::uint64_t uncompressed_size = 0;
  Bytes compressed;
};

// Decodes with the decoder of the entry's method.
Decoded DecodeEntry(const EntryData& entry, const Bytes& compressed, std::size_t chunk = 0,
                    std::uint64_t compressed_size_hint = 0, std::size_t cap = 64u << 20) {
  Decoded out;
  const InputFn input = InputOver(compressed, chunk);
  const OutputBlockFn output = Collect(&out, cap);
  if (entry.method == 1) {
    out.result = Unshrink(input, output);
  } else if (entry.method >= 2 && entry.method <= 5) {
    out.result = Unreduce(input, output, entry.method - 1, entry.uncompressed_size);
  } else if (entry.method == 6) {
    const std::uint64_t size = compressed_size_hint ? compressed_size_hint : compressed.size();
    out.result = Explode(input, output, entry.flags, size, entry.uncompressed_size);
  } else {
    ADD_FAILURE() << "not a legacy method: " << entry.method;
  }
  return out;
}

// ---------------------------------------------------------------------------------------------------
// A small central-directory walker: enough to find each entry's compressed bytes in the fixtures
// (sizes come from the central directory, as some archives leave them out of the local headers).

std::uint32_t Le16(const Bytes& b, std::size_t at) {
  return b.at(at) | (b.at(at + 1) << 8);
}
std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return Le16(b, at) | (Le16(b, at + 2) << 16);
}

std::vector<EntryData> ReadLegacyEntries(const Bytes& archive) {
  std::vector<EntryData> entries;
  if (archive.size() < 22) return entries;
  std::size_t eocd = archive.size() - 22;
  while (Le32(archive, eocd) != 0x06054b50) {
    if (eocd == 0) return entries;
    --eocd;
  }
  const std::uint32_t count = Le16(archive, eocd + 10);
  std::size_t at = Le32(archive, eocd + 16);
  for (std::uint32_t i = 0; i < count; ++i) {
    if (Le32(archive, at) != 0x02014b50) break;
    EntryData entry;
    entry.flags = static_cast<std::uint16_t>(Le16(archive, at + 8));
    entry.method = static_cast<int>(Le16(archive, at + 10));
    entry.crc = Le32(archive, at + 16);
    const std::uint32_t compressed_size = Le32(archive, at + 20);
    entry.uncompressed_size = Le32(archive, at + 24);
    const std::uint32_t name_length = Le16(archive, at + 28);
    const std::uint32_t extra_length = Le16(archive, at + 30);
    const std::uint32_t comment_length = Le16(archive, at + 32);
    const std::uint32_t local = Le32(archive, at + 42);
    entry.name.assign(archive.begin() + at + 46, archive.begin() + at + 46 + name_length);
    at += 46 + name_length + extra_length + comment_length;

    const std::size_t data = local + 30 + Le16(archive, local + 26) + Le16(archive, local + 28);
    entry.compressed.assign(archive.begin() + data, archive.begin() + data + compressed_size);
    if (entry.method >= 1 && entry.method <= 6) entries.push_back(std::move(entry));
  }
  return entries;
}

// The expected file of an entry: the file under expected/<fixture>/ with the entry's size and CRC.
// (Matching by content sidesteps the code-page names of these old archives.)
bool FindExpected(const std::string& dir, const EntryData& entry, Bytes* expected) {
  if (!std::filesystem::is_directory(dir)) return false;
  for (const auto& item : std::filesystem::recursive_directory_iterator(dir)) {
    if (!item.is_regular_file() || item.file_size() != entry.uncompressed_size) continue;
    Bytes bytes = kzb::test::ReadFileBytes(item.path().string());
    if (Crc32(bytes) == entry.crc) {
      *expected = std::move(bytes);
      return true;
    }
  }
  return false;
}

struct FixtureCase {
  const char* test_name;
  const char* fixture;
  std::vector<int> methods;  // legacy methods the fixture must contain
};

void PrintTo(const FixtureCase& c, std::ostream* os) {
  *os << c.fixture;
}

class LegacyFixtureTest : public ::testing::TestWithParam<FixtureCase> {
 protected:
  // Loads the fixture's legacy entries, or skips when the fixtures are not there.
  bool Load(std::vector<EntryData>* entries) {
    fixtures_ = kzb::test::FixturesDir();
    if (fixtures_.empty()) return false;
    const std::string path = fixtures_ + GetParam().fixture;
    if (!std::filesystem::exists(path)) return false;
    *entries = ReadLegacyEntries(kzb::test::ReadFileBytes(path));
    return true;
  }
  std::string ExpectedDir() const {
    std::string name = GetParam().fixture;
    return fixtures_ + "expected/" + name.substr(0, name.size() - 4);
  }
  std::string fixtures_;
};

const FixtureCase kFixtureCases[] = {
    {"ShrinkPartialClear", "shrink-partialclear-sharpcompress.zip", {1}},
    {"ShrinkSmall", "shrink-small-commons.zip", {1}},
    {"ShrinkWidthIncrease", "shrink-zip2.zip", {1}},
    {"ReduceFactor1", "reduce1-sharpcompress.zip", {1, 2}},
    {"ReduceFactor2", "reduce2-sharpcompress.zip", {1, 3}},
    {"ReduceFactor3", "reduce3-sharpcompress.zip", {1, 4}},
    {"ReduceFactor4", "reduce4-sharpcompress.zip", {1, 5}},
    {"ReduceFactor4Text", "reduce4-zip2.zip", {5}},
    {"Implode4kTwoTrees", "implode-4k-2trees-commons.zip", {6}},
    {"Implode8kThreeTrees", "implode-8k-3trees-commons.zip", {6}},
    {"ImplodeMixed", "implode-mixed-sharpcompress.zip", {6}},
    {"Implode8kThreeTreesText", "implode-8k-3trees-zip2.zip", {6}},
};

TEST_P(LegacyFixtureTest, DecodesEveryEntryByteIdentically) {
  std::vector<EntryData> entries;
  if (!Load(&entries)) GTEST_SKIP() << "fixture " << GetParam().fixture << " not available";
  ASSERT_FALSE(entries.empty());
  for (int method : GetParam().methods) {
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [&](const EntryData& e) { return e.method == method; }))
        << "no entry of method " << method;
  }
  for (const EntryData& entry : entries) {
    SCOPED_TRACE(entry.name);
    Bytes expected;
    ASSERT_TRUE(FindExpected(ExpectedDir(), entry, &expected)) << "no expected file";
    const Decoded out = DecodeEntry(entry, entry.compressed);
    EXPECT_EQ(out.result, DecodeResult::kOk);
    ASSERT_EQ(out.bytes.size(), expected.size());
    EXPECT_TRUE(out.bytes == expected);
    EXPECT_EQ(Crc32(out.bytes), entry.crc);
    // Full blocks and one shorter last block.
    for (std::size_t i = 0; i + 1 < out.blocks.size(); ++i) EXPECT_EQ(out.blocks[i], kOutputBlockSize);
    if (!out.blocks.empty()) {
      EXPECT_GT(out.blocks.back(), 0u);
    }
  }
}

TEST_P(LegacyFixtureTest, InputInSmallPiecesDecodesTheSame) {
  std::vector<EntryData> entries;
  if (!Load(&entries)) GTEST_SKIP() << "fixture " << GetParam().fixture << " not available";
  for (const EntryData& entry : entries) {
    SCOPED_TRACE(entry.name);
    const Decoded whole = DecodeEntry(entry, entry.compressed);
    const Decoded pieces = DecodeEntry(entry, entry.compressed, 7);
    EXPECT_EQ(pieces.result, whole.result);
    EXPECT_TRUE(pieces.bytes == whole.bytes);
  }
}

// Cut-off and damaged copies of real entries: every decoder returns, within the entry's size where it
// knows one.
TEST_P(LegacyFixtureTest, TruncatedAndDamagedEntriesEndWithAResult) {
  std::vector<EntryData> entries;
  if (!Load(&entries)) GTEST_SKIP() << "fixture " << GetParam().fixture << " not available";
  for (const EntryData& entry : entries) {
    SCOPED_TRACE(entry.name);
    const std::size_t size = entry.compressed.size();
    for (std::size_t cut : {std::size_t{0}, std::size_t{1}, std::size_t{2}, size / 3, size - 1}) {
      SCOPED_TRACE("cut at " + std::to_string(cut));
      const Bytes truncated(entry.compressed.begin(), entry.compressed.begin() + std::min(cut, size));
      const Decoded out = DecodeEntry(entry, truncated);
      if (entry.method == 1) continue;
      EXPECT_LE(out.bytes.size(), entry.uncompressed_size);
      // Without its last byte an entry may still complete (that byte can be mostly padding, and the
      // decoders read zero bits past the end); any bigger cut must fall short.
      if (cut < size - 1) {
        EXPECT_EQ(out.result, DecodeResult::kDataError);
        EXPECT_LT(out.bytes.size(), entry.uncompressed_size);
      }
    }
    for (std::uint32_t seed = 1; seed <= 3; ++seed) {
      Bytes damaged = entry.compressed;
      const Bytes noise = kzb::test::RandomBytes(64, seed);
      const std::size_t at = size * seed / 4;
      for (std::size_t i = 0; i < noise.size() && at + i < size; ++i) damaged[at + i] ^= noise[i];
      const Decoded out = DecodeEntry(entry, damaged);
      if (entry.method != 1) {
        EXPECT_LE(out.bytes.size(), entry.uncompressed_size);
      }
    }
  }
}

// The declared size is a hard limit: a smaller one cuts the output there, and the bytes that come out
// are the start of the real content.
TEST_P(LegacyFixtureTest, OutputStopsAtTheDeclaredSize) {
  std::vector<EntryData> entries;
  if (!Load(&entries)) GTEST_SKIP() << "fixture " << GetParam().fixture << " not available";
  for (EntryData entry : entries) {
    if (entry.method == 1) continue;
    SCOPED_TRACE(entry.name);
    const Decoded full = DecodeEntry(entry, entry.compressed);
    for (std::uint64_t size : {std::uint64_t{0}, std::uint64_t{1}, entry.uncompressed_size / 2}) {
      entry.uncompressed_size = size;
      const Decoded cut = DecodeEntry(entry, entry.compressed);
      EXPECT_EQ(cut.result, DecodeResult::kOk);
      ASSERT_EQ(cut.bytes.size(), size);
      EXPECT_TRUE(std::equal(cut.bytes.begin(), cut.bytes.end(), full.bytes.begin()));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, LegacyFixtureTest, ::testing::ValuesIn(kFixtureCases),
                         [](const ::testing::TestParamInfo<FixtureCase>& info) { return info.param.test_name; });

// Entries above 200000 compressed bytes use a wider first-level distance table; the output must not
// depend on it.
TEST(ExplodeTest, WideDistanceTableDecodesTheSame) {
  const std::string dir = kzb::test::FixturesDir();
  if (dir.empty()) GTEST_SKIP() << "fixtures not available";
  for (const char* fixture : {"implode-mixed-sharpcompress.zip", "implode-8k-3trees-commons.zip"}) {
    if (!std::filesystem::exists(dir + fixture)) GTEST_SKIP() << fixture << " not available";
    for (const EntryData& entry : ReadLegacyEntries(kzb::test::ReadFileBytes(dir + fixture))) {
      SCOPED_TRACE(entry.name);
      const Decoded narrow = DecodeEntry(entry, entry.compressed);
      const Decoded wide = DecodeEntry(entry, entry.compressed, 0, 300000);
      EXPECT_EQ(wide.result, DecodeResult::kOk);
      EXPECT_TRUE(wide.bytes == narrow.bytes);
      EXPECT_EQ(Crc32(wide.bytes), entry.crc);
    }
  }
}

// ---------------------------------------------------------------------------------------------------
// Hand-built streams.

// Writes bits least significant first, as the decoders read them.
class BitWriter {
 public:
  void Put(std::uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) Bit((value >> i) & 1);
  }
  // A Shannon-Fano code, most significant bit first.
  void Code(std::uint32_t code, int bits) {
    for (int i = bits - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  Bytes Finish() const { return bytes_; }

 private:
  void Bit(std::uint32_t bit) {
    if (used_ == 0) bytes_.push_back(0);
    bytes_.back() = static_cast<std::uint8_t>(bytes_.back() | (bit << used_));
    used_ = (used_ + 1) & 7;
  }
  Bytes bytes_;
  int used_ = 0;
};

// One literal or match, and what it adds to the output (bytes before the start read as zero).
struct Token {
  int literal = -1;
  std::uint32_t distance = 0;
  std::uint32_t length = 0;
};

Bytes Apply(const std::vector<Token>& tokens) {
  Bytes out;
  for (const Token& t : tokens) {
    if (t.literal >= 0) {
      out.push_back(static_cast<std::uint8_t>(t.literal));
      continue;
    }
    for (std::uint32_t i = 0; i < t.length; ++i) {
      out.push_back(t.distance <= out.size() ? out[out.size() - t.distance] : 0);
    }
  }
  return out;
}

// Literals 0..count-1 of a simple byte pattern.
std::vector<Token> PatternLiterals(int count) {
  std::vector<Token> tokens;
  for (int i = 0; i < count; ++i) tokens.push_back(Token{(i * 37 + 11) & 0xFF, 0, 0});
  return tokens;
}

// An imploded stream whose trees give every value the same bit length: 8 for the 256 literals, 6 for
// the 64 lengths and distances. With equal lengths the code numbering runs backwards from the last value
// (value v of n gets code n - 1 - v).
Bytes Implode(const std::vector<Token>& tokens, std::uint16_t flags) {
  const bool large = flags & 0x02;
  const bool three_trees = flags & 0x04;
  const int low_bits = large ? 7 : 6;
  const std::uint32_t minimum = three_trees ? 3 : 2;
  BitWriter w;
  auto uniform_tree = [&](int values, int length) {
    w.Put(values / 16 - 1, 8);
    for (int i = 0; i < values / 16; ++i) w.Put(0xF0 | (length - 1), 8);
  };
  if (three_trees) uniform_tree(256, 8);
  uniform_tree(64, 6);
  uniform_tree(64, 6);
  for (const Token& t : tokens) {
    if (t.literal >= 0) {
      w.Put(1, 1);
      if (three_trees) {
        w.Code(255 - t.literal, 8);
      } else {
        w.Put(t.literal, 8);
      }
      continue;
    }
    w.Put(0, 1);
    const std::uint32_t d = t.distance - 1;
    w.Put(d & ((1u << low_bits) - 1), low_bits);
    w.Code(63 - (d >> low_bits), 6);
    const std::uint32_t l = t.length - minimum;
    if (l >= 63) {
      w.Code(0, 6);
      w.Put(l - 63, 8);
    } else {
      w.Code(63 - l, 6);
    }
  }
  return w.Finish();
}

struct ImplodeCase {
  const char* name;
  std::uint16_t flags;
  std::uint32_t max_distance;
  std::uint32_t minimum_match;
};

class ExplodeFlagsTest : public ::testing::TestWithParam<ImplodeCase> {};

TEST_P(ExplodeFlagsTest, DecodesDictionaryAndTreeVariant) {
  const ImplodeCase& c = GetParam();
  std::vector<Token> tokens = PatternLiterals(300);
  tokens.push_back(Token{-1, 3, c.minimum_match});             // shortest match
  tokens.push_back(Token{-1, 150, 10});                        // uses the distance tree's upper bits
  tokens.push_back(Token{-1, 1, 63 + c.minimum_match});        // length 63 + minimum: extra byte 0
  tokens.push_back(Token{-1, 7, 63 + c.minimum_match + 255});  // longest match
  tokens.push_back(Token{0x90, 0, 0});
  tokens.push_back(Token{-1, c.max_distance, 20});         // the farthest reach: before the start, zeros
  tokens.push_back(Token{-1, 200, c.minimum_match + 62});  // longest match without the extra byte
  const Bytes expected = Apply(tokens);
  const Bytes stream = Implode(tokens, c.flags);

  Decoded out;
  out.result = Explode(InputOver(stream), Collect(&out), c.flags, stream.size(), expected.size());
  EXPECT_EQ(out.result, DecodeResult::kOk);
  EXPECT_TRUE(out.bytes == expected);

  // A match reaching exactly to the dictionary's far end, with enough output behind it to be real bytes.
  std::vector<Token> far = PatternLiterals(static_cast<int>(c.max_distance) + 5);
  far.push_back(Token{-1, c.max_distance, 8});
  const Bytes far_expected = Apply(far);
  const Bytes far_stream = Implode(far, c.flags);
  Decoded far_out;
  far_out.result = Explode(InputOver(far_stream), Collect(&far_out), c.flags, far_stream.size(), far_expected.size());
  EXPECT_EQ(far_out.result, DecodeResult::kOk);
  EXPECT_TRUE(far_out.bytes == far_expected);
}

INSTANTIATE_TEST_SUITE_P(AllFlagCombinations, ExplodeFlagsTest,
                         ::testing::Values(ImplodeCase{"Dict4kTwoTrees", 0x0000, 4096, 2},
                                           ImplodeCase{"Dict8kTwoTrees", 0x0002, 8192, 2},
                                           ImplodeCase{"Dict4kThreeTrees", 0x0004, 4096, 3},
                                           ImplodeCase{"Dict8kThreeTrees", 0x0006, 8192, 3}),
                         [](const ::testing::TestParamInfo<ImplodeCase>& info) { return info.param.name; });

// Output longer than one block goes out in 32 KiB blocks and a shorter last one.
TEST(ExplodeTest, HandsOverFullBlocksAndAShorterLastOne) {
  std::vector<Token> tokens = PatternLiterals(10);
  for (std::size_t size = 10; size < 100000; size += 63 + 3 + 255) tokens.push_back(Token{-1, 10, 63 + 3 + 255});
  const Bytes expected = Apply(tokens);
  const Bytes stream = Implode(tokens, 0x0006);
  Decoded out;
  out.result = Explode(InputOver(stream), Collect(&out), 0x0006, stream.size(), expected.size());
  EXPECT_EQ(out.result, DecodeResult::kOk);
  EXPECT_TRUE(out.bytes == expected);
  const std::size_t tail = expected.size() % kOutputBlockSize;
  std::vector<std::size_t> blocks(expected.size() / kOutputBlockSize, kOutputBlockSize);
  if (tail > 0) blocks.push_back(tail);
  EXPECT_EQ(out.blocks, blocks);
}

TEST(ExplodeTest, RejectsBadTreeDescriptions) {
  struct Case {
    const char* name;
    Bytes description;  // of the length tree; a valid distance tree follows
  };
  const Case cases[] = {
      {"TooManyValues", {0x04, 0xF5, 0xF5, 0xF5, 0xF5, 0x05}},  // 65 values
      {"TooFewValues", {0x02, 0xF5, 0xF5, 0xF5}},               // 48 values
      {"OverFull", {0x03, 0xF4, 0xF5, 0xF5, 0xF5}},             // 16 codes of 5 bits + 48 of 6
      {"PrefixClash", {0x04, 0x00, 0xF5, 0xF5, 0xF5, 0xE5}},    // a 1-bit code among 63 of 6 bits
      {"MissingInput", {0x03, 0xF5}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes stream = c.description;
    if (std::string(c.name) != "MissingInput") {
      for (std::uint8_t b : {0x03, 0xF5, 0xF5, 0xF5, 0xF5}) stream.push_back(b);
      stream.resize(stream.size() + 16, 0xAA);
    }
    Decoded out;
    out.result = Explode(InputOver(stream), Collect(&out), 0x0000, stream.size(), 100);
    EXPECT_EQ(out.result, DecodeResult::kDataError);
    EXPECT_TRUE(out.bytes.empty());
  }
}

// An incomplete tree is accepted; meeting one of its unused codes stops the entry.
TEST(ExplodeTest, UnusedCodeOfAnIncompleteTreeStopsTheEntry) {
  BitWriter w;
  // Length tree: 64 values of 7 bits (half the code space); distance tree: 64 of 6 bits.
  for (std::uint32_t b : {0x03u, 0xF6u, 0xF6u, 0xF6u, 0xF6u, 0x03u, 0xF5u, 0xF5u, 0xF5u, 0xF5u}) w.Put(b, 8);
  w.Put(1, 1);
  w.Put('A', 8);
  w.Put(0, 1);      // a match
  w.Put(0, 6);      // low distance bits
  w.Code(63, 6);    // distance code of value 0
  w.Code(0x7F, 7);  // length code in the unused upper half
  w.Put(0, 16);
  const Bytes stream = w.Finish();
  Decoded out;
  out.result = Explode(InputOver(stream), Collect(&out), 0x0000, stream.size(), 50);
  EXPECT_EQ(out.result, DecodeResult::kDataError);
  EXPECT_EQ(out.bytes, Bytes{'A'});
}

// A reduced stream with every follower set empty, so each stage-one byte is 8 plain bits.
Bytes ReduceWithoutFollowers(const Bytes& stage_one) {
  BitWriter w;
  for (int set = 0; set < 256; ++set) w.Put(0, 6);
  for (std::uint8_t b : stage_one) w.Put(b, 8);
  return w.Finish();
}

struct ReduceCase {
  const char* name;
  int factor;
  std::uint8_t length_mask;
};

class UnreduceFactorTest : public ::testing::TestWithParam<ReduceCase> {};

TEST_P(UnreduceFactorTest, ExpandsMatchesWithTheFactorsMaskAndShift) {
  const ReduceCase& c = GetParam();
  const int shift = 8 - c.factor;
  Bytes stage_one;
  std::vector<Token> tokens;
  for (const Token& t : PatternLiterals(400)) {
    if (t.literal == 144) continue;
    stage_one.push_back(static_cast<std::uint8_t>(t.literal));
    tokens.push_back(t);
  }
  stage_one.insert(stage_one.end(), {144, 0});  // DLE 0: a literal 144
  tokens.push_back(Token{144, 0, 0});
  // Length 2 + 3 from distance 1 * 256 + 4 + 1: the high bits of V give the distance's upper byte.
  stage_one.insert(stage_one.end(), {144, static_cast<std::uint8_t>((1 << shift) | 2), 4});
  tokens.push_back(Token{-1, 261, 5});
  // All length bits set: the next byte adds to the length; largest distance of the factor.
  const std::uint32_t high = (1u << c.factor) - 1;
  stage_one.insert(stage_one.end(), {144, static_cast<std::uint8_t>((high << shift) | c.length_mask), 200, 255});
  tokens.push_back(Token{-1, high * 256 + 256, c.length_mask + 200u + 3});
  // Shortest match, from 1 back.
  stage_one.insert(stage_one.end(), {144, 1, 0});
  tokens.push_back(Token{-1, 1, 4});
  const Bytes expected = Apply(tokens);
  const Bytes stream = ReduceWithoutFollowers(stage_one);

  Decoded out;
  out.result = Unreduce(InputOver(stream), Collect(&out), c.factor, expected.size());
  EXPECT_EQ(out.result, DecodeResult::kOk);
  EXPECT_TRUE(out.bytes == expected);
}

INSTANTIATE_TEST_SUITE_P(AllFactors, UnreduceFactorTest,
                         ::testing::Values(ReduceCase{"Factor1", 1, 0x7F}, ReduceCase{"Factor2", 2, 0x3F},
                                           ReduceCase{"Factor3", 3, 0x1F}, ReduceCase{"Factor4", 4, 0x0F}),
                         [](const ::testing::TestParamInfo<ReduceCase>& info) { return info.param.name; });

TEST(UnreduceTest, MatchBeforeTheStartGivesZeros) {
  // "AB", then 6 bytes from 4 back: two zeros before the start, then A B A B.
  const Bytes stream = ReduceWithoutFollowers({'A', 'B', 144, 3, 3});
  Decoded out;
  out.result = Unreduce(InputOver(stream), Collect(&out), 4, 8);
  EXPECT_EQ(out.result, DecodeResult::kOk);
  EXPECT_EQ(out.bytes, (Bytes{'A', 'B', 0, 0, 'A', 'B', 0, 0}));
}

TEST(UnreduceTest, FollowerSetIndexesUseTheFewestBits) {
  // Set 0 holds 'x', 'y', 'z' (2-bit indexes), set 'x' holds 'q' (1-bit index); all others are empty.
  BitWriter w;
  for (int set = 255; set >= 0; --set) {
    if (set == 0) {
      w.Put(3, 6);
      for (std::uint8_t b : {'x', 'y', 'z'}) w.Put(b, 8);
    } else if (set == 'x') {
      w.Put(1, 6);
      w.Put('q', 8);
    } else {
      w.Put(0, 6);
    }
  }
  w.Put(0, 1);
  w.Put(0, 2);  // after the start byte 0: member 0 of set 0, 'x'
  w.Put(0, 1);
  w.Put(0, 1);    // member 0 of set 'x', 'q'
  w.Put('y', 8);  // set 'q' is empty: 8 plain bits
  w.Put(1, 1);
  const Bytes stream = w.Finish();
  Decoded out;
  out.result = Unreduce(InputOver(stream), Collect(&out), 1, 3);
  EXPECT_EQ(out.result, DecodeResult::kOk);
  EXPECT_EQ(out.bytes, (Bytes{'x', 'q', 'y'}));
}

TEST(UnreduceTest, InvalidFactorDecodesNothing) {
  const Bytes stream = ReduceWithoutFollowers({'A'});
  for (int factor : {0, 5, -1}) {
    Decoded out;
    out.result = Unreduce(InputOver(stream), Collect(&out), factor, 1);
    EXPECT_EQ(out.result, DecodeResult::kDataError);
    EXPECT_TRUE(out.bytes.empty());
  }
}

// Shrink codes, each `width` bits.
Bytes ShrinkCodes(const std::vector<std::pair<std::uint32_t, int>>& codes) {
  BitWriter w;
  for (const auto& [code, width] : codes) w.Put(code, width);
  return w.Finish();
}

TEST(UnshrinkTest, CodeDefinedByItsOwnUse) {
  // 'a', then 257 before it is defined: "a" + "a" + 'a'; then 258 the same way: "aa" + 'a'.
  const Bytes stream = ShrinkCodes({{'a', 9}, {257, 9}, {258, 9}});
  Decoded out;
  out.result = Unshrink(InputOver(stream), Collect(&out));
  EXPECT_EQ(out.result, DecodeResult::kOk);
  EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.end()), "aaaaaa");
}

TEST(UnshrinkTest, WidthGrowsOnlyOnTheControlPair) {
  // 256,1 widens every later code immediately: 'x', 256, 1 at 9 bits, then 'y', 257 ("xy") at 10 bits.
  const Bytes stream = ShrinkCodes({{'x', 9}, {256, 9}, {1, 9}, {'y', 10}, {257, 10}});
  Decoded out;
  out.result = Unshrink(InputOver(stream), Collect(&out));
  EXPECT_EQ(out.result, DecodeResult::kOk);
  EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.end()), "xyxy");
}

TEST(UnshrinkTest, PartialClearFreesLeavesLowestFirst) {
  // a, b, 257 define 257 = "ab" and 258 = "ba"; 'c' defines 259 = "abc". 256,2 frees the leaves 258 and
  // 259 but keeps 257, the parent of 259. Then 257 is still "ab" and defines 258 = "ca" (lowest free),
  // which the last code uses.
  const Bytes stream = ShrinkCodes({{'a', 9}, {'b', 9}, {257, 9}, {'c', 9}, {256, 9}, {2, 9}, {257, 9}, {258, 9}});
  Decoded out;
  out.result = Unshrink(InputOver(stream), Collect(&out));
  EXPECT_EQ(out.result, DecodeResult::kOk);
  EXPECT_EQ(std::string(out.bytes.begin(), out.bytes.end()),
            "ab"
            "ab"
            "c"
            "ab"
            "ca");
}

TEST(UnshrinkTest, UndefinedCodeStopsTheEntry) {
  for (const auto& codes : std::vector<std::vector<std::pair<std::uint32_t, int>>>{
           {{300, 9}},                      // nothing before it
           {{'a', 9}, {400, 9}, {'b', 9}},  // not the next code to be defined
           // The clear frees 257, the previous code, so the next code defines 257 as its own parent;
           // using it must end, not loop.
           {{'a', 9}, {'b', 9}, {'c', 9}, {257, 9}, {256, 9}, {2, 9}, {'d', 9}, {257, 9}},
           // The clear frees 257, the previous code, and the next code is the free 257 itself: the string
           // it would extend is gone (walking it once read past the table).
           {{'a', 9}, {'b', 9}, {257, 9}, {256, 9}, {2, 9}, {257, 9}}}) {
    const Bytes stream = ShrinkCodes(codes);
    Decoded out;
    out.result = Unshrink(InputOver(stream), Collect(&out));
    EXPECT_EQ(out.result, DecodeResult::kDataError);
    EXPECT_LE(out.bytes.size(), 6u);
  }
}

TEST(UnshrinkTest, EmptyInputGivesNothing) {
  const Bytes empty;
  Decoded out;
  out.result = Unshrink(InputOver(empty), Collect(&out));
  EXPECT_EQ(out.result, DecodeResult::kOk);
  EXPECT_TRUE(out.blocks.empty());
}

// ---------------------------------------------------------------------------------------------------
// Garbage, limits and callbacks that throw.

TEST(LegacyDecodersTest, GarbageEndsWithAResultWithinTheDeclaredSize) {
  for (std::uint32_t seed = 1; seed <= 24; ++seed) {
    const Bytes garbage = kzb::test::RandomBytes(seed * 97, seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    {
      Decoded out;
      Unshrink(InputOver(garbage), Collect(&out));
      EXPECT_LE(out.bytes.size(), garbage.size() * 8 * 8192 / 9);
    }
    for (int factor = 1; factor <= 4; ++factor) {
      Decoded out;
      Unreduce(InputOver(garbage), Collect(&out), factor, 1u << 20);
      EXPECT_LE(out.bytes.size(), 1u << 20);
    }
    for (std::uint16_t flags : {0x0000, 0x0002, 0x0004, 0x0006}) {
      Decoded out;
      Explode(InputOver(garbage), Collect(&out), flags, garbage.size(), 1u << 20);
      EXPECT_LE(out.bytes.size(), 1u << 20);
    }
  }
}

// A huge declared size on a few bytes of input ends when the input does, not after gigabytes of zeros.
TEST(LegacyDecodersTest, HugeDeclaredSizeEndsWithTheInput) {
  const std::uint64_t huge = std::uint64_t{1} << 40;
  const Bytes reduce_stream = ReduceWithoutFollowers({'A', 'B', 'C'});
  Decoded reduced;
  reduced.result = Unreduce(InputOver(reduce_stream), Collect(&reduced, 1u << 20), 2, huge);
  EXPECT_EQ(reduced.result, DecodeResult::kDataError);
  EXPECT_LE(reduced.bytes.size(), 16u);

  const Bytes implode_stream = Implode(PatternLiterals(3), 0x0006);
  Decoded exploded;
  exploded.result =
      Explode(InputOver(implode_stream), Collect(&exploded, 1u << 20), 0x0006, implode_stream.size(), huge);
  EXPECT_EQ(exploded.result, DecodeResult::kDataError);
  // The three literals, and at most the one longest match that the zero bits past the end spell.
  EXPECT_LE(exploded.bytes.size(), 3u + 63 + 3 + 255);
}

TEST(LegacyDecodersTest, ZeroDeclaredSizeProducesNoBlock) {
  const Bytes stream = ReduceWithoutFollowers({'A'});
  Decoded reduced;
  EXPECT_EQ(Unreduce(InputOver(stream), Collect(&reduced), 1, 0), DecodeResult::kOk);
  EXPECT_TRUE(reduced.blocks.empty());
  Decoded exploded;
  EXPECT_EQ(Explode(InputOver(stream), Collect(&exploded), 0, stream.size(), 0), DecodeResult::kOk);
  EXPECT_TRUE(exploded.blocks.empty());
}

// Errors of the run's input and output callbacks pass through the decoders (and leak nothing, which
// the sanitizer build checks).
// One rule for every decoder: the archive ending early and output past the declared size end the entry
// with kDataError; any other error of the callbacks (a failing output device) passes through.
TEST(LegacyDecodersTest, CallbackErrorsEndTheEntryOnlyForBadData) {
  std::vector<Token> tokens = PatternLiterals(10);
  for (int i = 0; i < 200; ++i) tokens.push_back(Token{-1, 10, 300});
  const Bytes implode_stream = Implode(tokens, 0x0002);
  const std::uint64_t implode_size = Apply(tokens).size();
  Bytes stage_one;
  for (int i = 0; i < 40000; ++i) stage_one.push_back(static_cast<std::uint8_t>('a' + i % 7));
  const Bytes reduce_stream = ReduceWithoutFollowers(stage_one);
  std::vector<std::pair<std::uint32_t, int>> codes;
  for (int i = 0; i < 40000; ++i) codes.push_back({static_cast<std::uint32_t>('a' + i % 5), 9});
  const Bytes shrink_stream = ShrinkCodes(codes);

  const OutputBlockFn oversize = [](const std::uint8_t*, std::size_t) { throw EBiggerThanUncompressed(); };
  EXPECT_EQ(Unshrink(InputOver(shrink_stream), oversize), DecodeResult::kDataError);
  EXPECT_EQ(Unreduce(InputOver(reduce_stream), oversize, 3, stage_one.size()), DecodeResult::kDataError);
  EXPECT_EQ(Explode(InputOver(implode_stream), oversize, 0x0002, implode_stream.size(), implode_size),
            DecodeResult::kDataError);

  const OutputBlockFn device_fails = [](const std::uint8_t*, std::size_t) {
    throw platform::EFileError("Cannot write file \"out\". Input/output error");
  };
  EXPECT_THROW(Unshrink(InputOver(shrink_stream), device_fails), platform::EFileError);
  EXPECT_THROW(Unreduce(InputOver(reduce_stream), device_fails, 3, stage_one.size()), platform::EFileError);
  EXPECT_THROW(Explode(InputOver(implode_stream), device_fails, 0x0002, implode_stream.size(), implode_size),
               platform::EFileError);

  // Input that fails after its first block of bytes: the archive ends inside the entry.
  auto failing_input = [](const Bytes& data) {
    auto calls = std::make_shared<int>(0);
    return InputFn([&data, calls](std::uint8_t* buffer, std::size_t max) -> std::size_t {
      if ((*calls)++ > 0) throw EFatalUnzipError();
      const std::size_t count = std::min<std::size_t>({max, data.size(), 100});
      std::memcpy(buffer, data.data(), count);
      return count;
    });
  };
  Decoded sink;
  EXPECT_EQ(Unshrink(failing_input(shrink_stream), Collect(&sink)), DecodeResult::kDataError);
  EXPECT_EQ(Unreduce(failing_input(reduce_stream), Collect(&sink), 3, stage_one.size()), DecodeResult::kDataError);
  EXPECT_EQ(Explode(failing_input(implode_stream), Collect(&sink), 0x0002, implode_stream.size(), implode_size),
            DecodeResult::kDataError);
}

}  // namespace
}  // namespace kzb::zip
