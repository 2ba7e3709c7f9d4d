// Tests of the inflater: streams written by zlib (every level and strategy) and by 7-Zip decode byte for
// byte; hand-made streams pin down each block type and each check on bad data; cut-off and damaged
// streams always end with kDataError and never with a crash; output is handed over in 32 KiB blocks; the
// callbacks' errors are swallowed except the cancel.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/test_support.h"
#include "zip/decompress/inflate.h"
#include "zip/decompress/inflate_buffer.h"
#include "zip/deflate/deflate_buffer.h"
#include "zip/records/deflate_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes SampleData(std::size_t size) {
  Bytes out;
  const Bytes noise = test::RandomBytes(8192, 3);
  std::uint32_t x = 17;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    switch ((x >> 28) % 4) {
      case 0: {
        const char* text = "Kestrova ZIP Backup keeps the last archives of every project.\n";
        out.insert(out.end(), text, text + std::strlen(text));
        break;
      }
      case 1:
        out.insert(out.end(), noise.begin() + (x % 8000), noise.begin() + (x % 8000) + 1 + (x >> 8) % 150);
        break;
      case 2:
        out.insert(out.end(), 1 + (x >> 4) % 300, static_cast<std::uint8_t>(x >> 16));
        break;
      default:
        if (out.size() > 40000) {
          const std::size_t back = 1 + (x >> 3) % 32768;
          const std::size_t start = out.size() - back;
          for (std::size_t i = 0; i < 40; ++i) out.push_back(out[start + i]);
        }
        break;
    }
  }
  out.resize(size);
  return out;
}

Bytes ZlibDeflate(const Bytes& data, int level, int strategy = Z_DEFAULT_STRATEGY, int window_bits = 15,
                  int mem_level = 8) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, level, Z_DEFLATED, -window_bits, mem_level, strategy), Z_OK);
  Bytes out(deflateBound(&s, static_cast<uLong>(data.size())) + 64);
  s.next_in = const_cast<Bytef*>(data.data());
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(::deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}

// zlib's raw inflate as the oracle: true and the output when the stream ends properly within limit bytes.
bool ZlibInflateRaw(const Bytes& stream, Bytes& out, std::size_t limit) {
  z_stream s{};
  if (inflateInit2(&s, -15) != Z_OK) return false;
  out.assign(limit + 1, 0);
  s.next_in = const_cast<Bytef*>(stream.data());
  s.avail_in = static_cast<uInt>(stream.size());
  s.next_out = out.data();
  s.avail_out = static_cast<uInt>(out.size());
  const int status = ::inflate(&s, Z_FINISH);
  out.resize(s.total_out);
  inflateEnd(&s);
  return status == Z_STREAM_END && out.size() <= limit;
}

DecodeResult InflateInto(const Bytes& stream, Bytes& out, std::size_t chunk = kInputBlockSize) {
  return InflateBuffer(stream, out, std::numeric_limits<std::size_t>::max(), chunk);
}

// ---------------------------------------------------------------------------------------------------
// Streams written by other programs.

TEST(Inflate, ZlibEveryLevelAndStrategy) {
  const Bytes data = SampleData(300000);
  struct Setting {
    int strategy;
    int window_bits;
    int mem_level;
  };
  const Setting settings[] = {
      {Z_DEFAULT_STRATEGY, 15, 8}, {Z_FILTERED, 15, 8}, {Z_HUFFMAN_ONLY, 15, 8}, {Z_RLE, 15, 8}, {Z_FIXED, 15, 8},
      {Z_DEFAULT_STRATEGY, 9, 1},  // small window, tiny blocks
      {Z_DEFAULT_STRATEGY, 15, 9},
  };
  for (const Setting& setting : settings) {
    for (int level = 0; level <= 9; ++level) {
      const Bytes stream = ZlibDeflate(data, level, setting.strategy, setting.window_bits, setting.mem_level);
      Bytes out;
      ASSERT_EQ(InflateInto(stream, out), DecodeResult::kOk)
          << "level " << level << " strategy " << setting.strategy << " mem " << setting.mem_level;
      ASSERT_EQ(out, data) << "level " << level << " strategy " << setting.strategy;
    }
  }
}

// Input delivered in small or odd pieces exercises the careful path at every buffer end.
TEST(Inflate, InputInSmallPiecesDecodesTheSame) {
  const Bytes data = SampleData(120000);
  const Bytes stream = ZlibDeflate(data, 6);
  for (std::size_t chunk : {1, 2, 7, 31, 33, 1000, 32767}) {
    Bytes out;
    ASSERT_EQ(InflateInto(stream, out, chunk), DecodeResult::kOk) << chunk;
    ASSERT_EQ(out, data) << chunk;
  }
}

// The deflate data of the only entry of a ZIP file written by 7-Zip, read through its local header.
Bytes FirstEntryData(const Bytes& zip) {
  auto u16 = [&](std::size_t at) { return static_cast<unsigned>(zip.at(at) | zip.at(at + 1) << 8); };
  auto u32 = [&](std::size_t at) { return u16(at) | static_cast<std::uint32_t>(u16(at + 2)) << 16; };
  EXPECT_EQ(u32(0), 0x04034b50u);
  EXPECT_EQ(u16(8), 8u) << "method";
  const std::size_t start = 30 + u16(26) + u16(28);
  return Bytes(zip.begin() + static_cast<std::ptrdiff_t>(start),
               zip.begin() + static_cast<std::ptrdiff_t>(start + u32(18)));
}

TEST(Inflate, SevenZipDeflateEntries) {
  if (!test::HaveTool("7zz")) GTEST_SKIP() << test::MissingTools("7zz");
  test::ScratchDir dir;
  const Bytes data = SampleData(400000);
  test::WriteFileBytes(dir / "input.bin", data);
  for (int mx : {1, 5, 9}) {
    const std::string zip = dir / ("out" + std::to_string(mx) + ".zip");
    std::string log;
    ASSERT_EQ(test::RunCommand("cd " + test::ShellQuote(dir.Path()) + " && 7zz a -tzip -mm=Deflate -mx=" +
                                   std::to_string(mx) + " " + test::ShellQuote(zip) + " input.bin",
                               &log),
              0)
        << log;
    Bytes out;
    ASSERT_EQ(InflateInto(FirstEntryData(test::ReadFileBytes(zip)), out), DecodeResult::kOk) << mx;
    EXPECT_EQ(out, data) << mx;
  }
}

// ---------------------------------------------------------------------------------------------------
// Hand-made streams.

// Writes bits least significant first, as deflate streams are laid out.
class BitWriter {
 public:
  void Bits(std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
  }
  // A Huffman code, most significant bit first.
  void Code(std::uint32_t code, int length) {
    for (int i = length - 1; i >= 0; --i) Bit((code >> i) & 1);
  }
  void Align() {
    while (used_ != 0) Bit(0);
  }
  void Byte(std::uint8_t b) { Bits(b, 8); }
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

// Canonical codes (MSB first) of a set of code lengths.
std::vector<std::uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
  std::vector<int> count(16, 0);
  for (int l : lengths) ++count[l];
  count[0] = 0;
  std::vector<std::uint32_t> next(16, 0);
  std::uint32_t code = 0;
  for (int l = 1; l < 16; ++l) {
    code = (code + count[l - 1]) << 1;
    next[l] = code;
  }
  std::vector<std::uint32_t> codes(lengths.size(), 0);
  for (std::size_t s = 0; s < lengths.size(); ++s) {
    if (lengths[s] != 0) codes[s] = next[lengths[s]]++;
  }
  return codes;
}

void FixedLiteral(BitWriter& w, int c) {
  if (c < 144)
    w.Code(0x30 + c, 8);
  else
    w.Code(0x190 + c - 144, 9);
}
// Fixed code of length 3 to 10 (symbols 257-264) and distance code d (no extra bits: d < 4).
void FixedMatch(BitWriter& w, int length, int distance_code) {
  w.Code(length - 3 + 1, 7);
  w.Code(distance_code, 5);
}
void FixedEnd(BitWriter& w) {
  w.Code(0, 7);
}

// A dynamic block header whose code-length code gives every length 0-15 a 4-bit code, then the lengths.
// hlit_field / hdist_field are written as given (so tests can declare impossible counts).
void DynamicHeader(BitWriter& w, bool final, const std::vector<int>& lit, const std::vector<int>& dist,
                   int hlit_field = -1, int hdist_field = -1) {
  w.Bits(final ? 1 : 0, 1);
  w.Bits(deflate::kBlockDynamic, 2);
  w.Bits(hlit_field >= 0 ? hlit_field : static_cast<int>(lit.size()) - 257, 5);
  w.Bits(hdist_field >= 0 ? hdist_field : static_cast<int>(dist.size()) - 1, 5);
  w.Bits(19 - 4, 4);
  for (int i = 0; i < 19; ++i) w.Bits(deflate::kCodeLengthOrder[i] < 16 ? 4 : 0, 3);
  for (int l : lit) w.Code(l, 4);
  for (int l : dist) w.Code(l, 4);
}

struct Decoded {
  DecodeResult result;
  Bytes data;
};

// Decodes with TInflater::InflateInto into a buffer of exactly capacity plus the slack (so the sanitizer
// build sees any write past it), reading the stream in pieces of chunk bytes.
Decoded DecodeIntoBuffer(TInflater& inflater, const Bytes& stream, std::size_t capacity,
                         std::size_t chunk = kInputBlockSize) {
  Bytes buffer(capacity + kInflateIntoSlack);
  std::size_t produced = 0;
  Decoded d;
  d.result = InflateBufferInto(inflater, stream, buffer.data(), capacity, produced, chunk);
  d.data.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(produced));
  return d;
}

// Decodes a hand-made stream as the extraction run's thread does and also straight into a buffer of the
// output's size, as decoding ahead does: both must agree, and one byte less room is too little.
Decoded Decode(const Bytes& stream) {
  Decoded d;
  d.result = InflateInto(stream, d.data);
  static TInflater inflater;
  const bool ok = d.result == DecodeResult::kOk;
  const Decoded into = DecodeIntoBuffer(inflater, stream, ok ? d.data.size() : std::size_t{1} << 16);
  EXPECT_EQ(into.result, d.result);
  if (ok) {
    EXPECT_EQ(into.data, d.data);
    if (!d.data.empty()) {
      EXPECT_EQ(DecodeIntoBuffer(inflater, stream, d.data.size() - 1).result, DecodeResult::kDataError);
    }
  }
  return d;
}

TEST(Inflate, FinalStoredBlockOfLengthZeroGivesAnEmptyEntry) {
  int calls = 0;
  const Bytes stream = {0x01, 0x00, 0x00, 0xFF, 0xFF};
  std::size_t pos = 0;
  const DecodeResult r = Inflate(
      [&](std::uint8_t* buf, std::size_t max) {
        const std::size_t n = std::min(max, stream.size() - pos);
        std::memcpy(buf, stream.data() + pos, n);
        pos += n;
        return n;
      },
      [&](const std::uint8_t*, std::size_t) { ++calls; });
  EXPECT_EQ(r, DecodeResult::kOk);
  EXPECT_EQ(calls, 0);
}

TEST(Inflate, StoredBlocksAfterBitsAndAcrossBuffers) {
  // A fixed block ending mid-byte, then a stored block of 70000 bytes split in two (LEN is 16 bits).
  const Bytes payload = test::RandomBytes(70000, 8);
  BitWriter w;
  w.Bits(0, 1);
  w.Bits(deflate::kBlockFixed, 2);
  FixedLiteral(w, 'x');
  FixedEnd(w);
  for (int part = 0; part < 2; ++part) {
    const std::size_t begin = part == 0 ? 0 : 40000;
    const std::size_t end = part == 0 ? 40000 : payload.size();
    w.Bits(part == 1 ? 1 : 0, 1);
    w.Bits(deflate::kBlockStored, 2);
    w.Align();
    w.Bits(static_cast<std::uint32_t>(end - begin), 16);
    w.Bits(~static_cast<std::uint32_t>(end - begin) & 0xFFFF, 16);
    for (std::size_t i = begin; i < end; ++i) w.Byte(payload[i]);
  }
  const Bytes stream = w.Done();
  Bytes expected = {'x'};
  expected.insert(expected.end(), payload.begin(), payload.end());
  for (std::size_t chunk : {std::size_t{3}, kInputBlockSize}) {
    Bytes out;
    ASSERT_EQ(InflateInto(stream, out, chunk), DecodeResult::kOk);
    EXPECT_EQ(out, expected);
  }
}

TEST(Inflate, FixedBlockWithLiteralsAndAMatch) {
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(deflate::kBlockFixed, 2);
  for (char c : std::string("abc")) FixedLiteral(w, c);
  FixedMatch(w, 5, 2);  // length 5, distance 3
  FixedLiteral(w, 200);
  FixedEnd(w);
  const Decoded d = Decode(w.Done());
  EXPECT_EQ(d.result, DecodeResult::kOk);
  EXPECT_EQ(d.data, (Bytes{'a', 'b', 'c', 'a', 'b', 'c', 'a', 'b', 200}));
}

// Literal/length lengths of a small dynamic code: 'a' and end of block 2 bits, length symbol 257 (3) 1 bit.
std::vector<int> SmallLitLengths() {
  std::vector<int> lit(258, 0);
  lit['a'] = 2;
  lit[256] = 2;
  lit[257] = 1;
  return lit;
}

// Writes 'a' then a match of 3 at distance code 0 (distance 1) then the end, with the small code above.
void SmallBlockData(BitWriter& w, const std::vector<int>& lit, const std::vector<int>& dist, int dist_symbol) {
  const auto lc = CanonicalCodes(lit);
  const auto dc = CanonicalCodes(dist);
  w.Code(lc['a'], lit['a']);
  w.Code(lc[257], lit[257]);
  w.Code(dc[dist_symbol], dist[dist_symbol]);
  w.Code(lc[256], lit[256]);
}

TEST(Inflate, DynamicBlockWithASingleOneBitDistanceCode) {
  // RFC 1951 allows one distance code of one bit (an incomplete set).
  const std::vector<int> lit = SmallLitLengths();
  const std::vector<int> dist = {1};
  BitWriter w;
  DynamicHeader(w, true, lit, dist);
  SmallBlockData(w, lit, dist, 0);
  const Decoded d = Decode(w.Done());
  EXPECT_EQ(d.result, DecodeResult::kOk);
  EXPECT_EQ(d.data, Bytes(4, 'a'));
}

TEST(Inflate, DynamicBlockWithoutDistanceCodes) {
  // One distance code of zero bits: the block holds only literals.
  std::vector<int> lit(257, 0);
  lit['a'] = 1;
  lit[256] = 1;
  BitWriter w;
  DynamicHeader(w, true, lit, {0});
  const auto lc = CanonicalCodes(lit);
  w.Code(lc['a'], 1);
  w.Code(lc['a'], 1);
  w.Code(lc[256], 1);
  const Decoded d = Decode(w.Done());
  EXPECT_EQ(d.result, DecodeResult::kOk);
  EXPECT_EQ(d.data, Bytes(2, 'a'));

  // A length symbol in such a block has no distance to go with it.
  std::vector<int> lit2 = SmallLitLengths();
  BitWriter w2;
  DynamicHeader(w2, true, lit2, {0});
  const auto lc2 = CanonicalCodes(lit2);
  w2.Code(lc2['a'], 2);
  w2.Code(lc2[257], 1);
  w2.Bits(0, 8);
  w2.Code(lc2[256], 2);
  EXPECT_EQ(Decode(w2.Done()).result, DecodeResult::kDataError);
}

// Codes of every length up to 15 bits, for literals, lengths and distances: the long ones go through the
// decoder's second-level tables.
TEST(Inflate, DynamicBlockWithCodesUpToFifteenBits) {
  std::vector<int> lit(258, 0);
  const int by_length[14] = {'a', 257, 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm'};
  for (int i = 0; i < 14; ++i) lit[by_length[i]] = i + 1;
  lit['n'] = 15;
  lit[256] = 15;
  std::vector<int> dist(16, 0);
  for (int d = 0; d < 14; ++d) dist[d] = d + 1;
  dist[14] = dist[15] = 15;
  const auto lc = CanonicalCodes(lit);
  const auto dc = CanonicalCodes(dist);

  BitWriter w;
  DynamicHeader(w, true, lit, dist);
  Bytes expected;
  for (int i = 0; i < 300; ++i) {
    w.Code(lc['a'], lit['a']);
    expected.push_back('a');
  }
  for (int d = 0; d < 16; ++d) {
    for (int c = 'b'; c <= 'n'; ++c) {
      w.Code(lc[c], lit[c]);
      expected.push_back(static_cast<std::uint8_t>(c));
    }
    w.Code(lc[257], lit[257]);  // length 3
    w.Code(dc[d], dist[d]);
    w.Bits(0, deflate::kDistExtraBits[d]);
    const std::size_t from = expected.size() - deflate::kDistBase[d];
    for (int k = 0; k < 3; ++k) expected.push_back(expected[from + k]);
  }
  w.Code(lc[256], lit[256]);
  const Decoded d = Decode(w.Done());
  EXPECT_EQ(d.result, DecodeResult::kOk);
  EXPECT_EQ(d.data, expected);
}

// Every way a stream can be bad ends the entry with kDataError.
TEST(Inflate, BadStreamsAreRejected) {
  struct Case {
    const char* name;
    Bytes stream;
  };
  std::vector<Case> cases;
  {
    BitWriter w;  // block type 3
    w.Bits(1, 1);
    w.Bits(3, 2);
    cases.push_back({"block type 3", w.Done()});
  }
  {
    BitWriter w;  // NLEN is not the complement of LEN
    w.Bits(1, 1);
    w.Bits(deflate::kBlockStored, 2);
    w.Align();
    w.Bits(5, 16);
    w.Bits(0xFFFA ^ 1, 16);
    for (int i = 0; i < 5; ++i) w.Byte('z');
    cases.push_back({"LEN/NLEN mismatch", w.Done()});
  }
  {
    BitWriter w;  // 287 literal/length codes declared
    DynamicHeader(w, true, SmallLitLengths(), {1}, 30);
    cases.push_back({"287 literal/length codes", w.Done()});
  }
  {
    BitWriter w;  // 288 literal/length codes declared
    DynamicHeader(w, true, SmallLitLengths(), {1}, 31);
    cases.push_back({"288 literal/length codes", w.Done()});
  }
  {
    BitWriter w;  // 31 distance codes declared
    std::vector<int> dist(31, 0);
    dist[0] = 1;
    DynamicHeader(w, true, SmallLitLengths(), dist);
    cases.push_back({"31 distance codes", w.Done()});
  }
  {
    BitWriter w;  // three one-bit literal/length codes
    std::vector<int> lit = SmallLitLengths();
    lit['a'] = 1;
    lit[256] = 1;
    DynamicHeader(w, true, lit, {1});
    cases.push_back({"over-subscribed literal/length code", w.Done()});
  }
  {
    BitWriter w;  // Kraft sum 3/4
    std::vector<int> lit(257, 0);
    lit['a'] = 2;
    lit[256] = 1;
    lit['b'] = 0;
    DynamicHeader(w, true, lit, {1});
    cases.push_back({"incomplete literal/length code", w.Done()});
  }
  {
    BitWriter w;  // two distance codes of two bits: incomplete, and not the single-code case
    DynamicHeader(w, true, SmallLitLengths(), {2, 2});
    cases.push_back({"incomplete distance code", w.Done()});
  }
  {
    BitWriter w;  // three one-bit distance codes
    DynamicHeader(w, true, SmallLitLengths(), {1, 1, 1});
    cases.push_back({"over-subscribed distance code", w.Done()});
  }
  {
    BitWriter w;  // code-length code over-subscribed: every one of the 19 symbols has 1 bit
    w.Bits(1, 1);
    w.Bits(deflate::kBlockDynamic, 2);
    w.Bits(0, 5);
    w.Bits(0, 5);
    w.Bits(15, 4);
    for (int i = 0; i < 19; ++i) w.Bits(1, 3);
    cases.push_back({"over-subscribed code-length code", w.Done()});
  }
  {
    BitWriter w;  // end of block has no code
    std::vector<int> lit(258, 0);
    lit['a'] = 1;
    lit[257] = 1;
    DynamicHeader(w, true, lit, {1});
    cases.push_back({"no end-of-block code", w.Done()});
  }
  {
    BitWriter w;  // repeat (16) as the very first code length
    w.Bits(1, 1);
    w.Bits(deflate::kBlockDynamic, 2);
    w.Bits(0, 5);
    w.Bits(0, 5);
    w.Bits(19 - 4, 4);
    // Code-length code: 16 and 0-15 ... use lengths: 16 -> 1 bit, 0 -> 2 bits, 1 -> 2 bits.
    for (int i = 0; i < 19; ++i) {
      const int sym = deflate::kCodeLengthOrder[i];
      w.Bits(sym == 16 ? 1 : (sym == 0 || sym == 1) ? 2 : 0, 3);
    }
    w.Code(0, 1);  // symbol 16 (shortest code)
    w.Bits(0, 2);
    cases.push_back({"repeat without a previous length", w.Done()});
  }
  {
    BitWriter w;  // 18 repeating zeros past HLIT + HDIST
    w.Bits(1, 1);
    w.Bits(deflate::kBlockDynamic, 2);
    w.Bits(0, 5);
    w.Bits(0, 5);
    w.Bits(19 - 4, 4);
    for (int i = 0; i < 19; ++i) {
      const int sym = deflate::kCodeLengthOrder[i];
      w.Bits(sym == 18 ? 1 : (sym == 0 || sym == 1) ? 2 : 0, 3);
    }
    // canonical: 18 -> "0", 0 -> "10", 1 -> "11"
    w.Code(0, 1);
    w.Bits(127, 7);  // 138 zeros
    w.Code(0, 1);
    w.Bits(127, 7);  // 138 more: 276 <= 258 fails
    cases.push_back({"code lengths run past the end", w.Done()});
  }
  {
    BitWriter w;  // distance 2 after one byte of output
    w.Bits(1, 1);
    w.Bits(deflate::kBlockFixed, 2);
    FixedLiteral(w, 'q');
    FixedMatch(w, 3, 1);
    FixedEnd(w);
    cases.push_back({"distance too far back", w.Done()});
  }
  {
    BitWriter w;  // a match before any output
    w.Bits(1, 1);
    w.Bits(deflate::kBlockFixed, 2);
    FixedMatch(w, 3, 0);
    FixedEnd(w);
    cases.push_back({"match at the start", w.Done()});
  }
  {
    BitWriter w;  // fixed literal/length symbol 286 and distance symbol 30 do not exist
    w.Bits(1, 1);
    w.Bits(deflate::kBlockFixed, 2);
    w.Code(0xC0 + 286 - 280, 8);
    cases.push_back({"fixed symbol 286", w.Done()});
  }
  {
    BitWriter w;
    w.Bits(1, 1);
    w.Bits(deflate::kBlockFixed, 2);
    FixedLiteral(w, 'a');
    FixedLiteral(w, 'a');
    w.Code(1, 7);   // length 3
    w.Code(30, 5);  // distance symbol 30
    FixedEnd(w);
    cases.push_back({"fixed distance symbol 30", w.Done()});
  }
  cases.push_back({"no input at all", {}});
  {
    BitWriter w;  // a non-final block, then nothing
    w.Bits(0, 1);
    w.Bits(deflate::kBlockFixed, 2);
    FixedLiteral(w, 'a');
    FixedEnd(w);
    cases.push_back({"no final block", w.Done()});
  }
  for (const Case& c : cases) {
    EXPECT_EQ(Decode(c.stream).result, DecodeResult::kDataError) << c.name;
  }
}

// Every prefix of a valid stream is cut off: decoding ends with kDataError (never kOk, never a crash);
// what was handed over is a prefix of the real data.
TEST(Inflate, TruncatedStreamsFail) {
  const Bytes data = SampleData(70000);
  TInflater inflater;
  for (const Bytes& stream : {ZlibDeflate(data, 6), ZlibDeflate(data, 1, Z_FIXED), ZlibDeflate(data, 0)}) {
    for (std::size_t cut = 0; cut < stream.size(); cut += (cut < 200 ? 1 : 97)) {
      const Bytes prefix(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(cut));
      Bytes out;
      ASSERT_EQ(InflateInto(prefix, out, 1 + cut % 5000), DecodeResult::kDataError) << cut;
      ASSERT_EQ(DecodeIntoBuffer(inflater, prefix, data.size(), 1 + cut % 5000).result, DecodeResult::kDataError)
          << cut;
      ASSERT_LE(out.size(), data.size());
      ASSERT_TRUE(std::equal(out.begin(), out.end(), data.begin())) << cut;
    }
  }
}

// Flipped bits anywhere: any result is fine as long as decoding ends without a crash and without
// overrunning anything (the sanitizer build checks the latter).
// Streams with flipped bits end: with kDataError where zlib finds an error too, or with the very output
// zlib produces where the damage still makes a valid stream; never past the output limit.
TEST(Inflate, DamagedStreamsEnd) {
  const Bytes data = SampleData(50000);
  const Bytes stream = ZlibDeflate(data, 9);
  constexpr std::size_t kLimit = 1 << 20;
  TInflater inflater;
  std::uint32_t x = 99;
  int errors = 0;
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE(trial);
    Bytes bad = stream;
    for (int k = 0; k < 1 + trial % 4; ++k) {
      x = x * 1103515245u + 12345u;
      bad[(x >> 8) % bad.size()] ^= static_cast<std::uint8_t>(1u << (x >> 28) % 8);
    }
    Bytes out;
    const DecodeResult result = InflateBuffer(bad, out, kLimit);
    const Decoded into = DecodeIntoBuffer(inflater, bad, kLimit);
    EXPECT_EQ(into.result, result);
    if (result == DecodeResult::kOk) {
      EXPECT_EQ(into.data, out);
    }
    Bytes expected;
    const bool zlib_ok = ZlibInflateRaw(bad, expected, kLimit);
    EXPECT_LE(out.size(), kLimit);
    if (zlib_ok) {
      EXPECT_EQ(result, DecodeResult::kOk);
      EXPECT_EQ(out, expected);
    } else {
      EXPECT_EQ(result, DecodeResult::kDataError);
      ++errors;
    }
  }
  EXPECT_GT(errors, 0);  // some of the damage is of the kind that breaks the stream
}

// Decoding straight into a buffer of the declared size: every kind of stream, read whole or in small
// pieces, into exactly enough room or more; too little room ends the entry; the same decoder then
// streams again as before.
TEST(Inflate, DecodingIntoABufferOfTheDeclaredSize) {
  const Bytes data = SampleData(100000);
  const Bytes streams[] = {ZlibDeflate(data, 0),
                           ZlibDeflate(data, 1),
                           ZlibDeflate(data, 6),
                           ZlibDeflate(data, 9),
                           ZlibDeflate(data, 6, Z_FIXED),
                           ZlibDeflate(data, 6, Z_RLE),
                           ZlibDeflate(data, 6, Z_DEFAULT_STRATEGY, 9, 1)};
  struct Room {
    std::size_t capacity;
    DecodeResult result;
  };
  const Room rooms[] = {{data.size(), DecodeResult::kOk},
                        {data.size() + 1, DecodeResult::kOk},
                        {data.size() + 5000, DecodeResult::kOk},
                        {data.size() - 1, DecodeResult::kDataError},
                        {data.size() / 2, DecodeResult::kDataError},
                        {0, DecodeResult::kDataError}};
  TInflater inflater;
  for (std::size_t s = 0; s < std::size(streams); ++s) {
    for (const Room& room : rooms) {
      for (std::size_t chunk : {kInputBlockSize, std::size_t{7}}) {
        SCOPED_TRACE(testing::Message() << "stream " << s << " capacity " << room.capacity << " chunk " << chunk);
        const Decoded d = DecodeIntoBuffer(inflater, streams[s], room.capacity, chunk);
        ASSERT_EQ(d.result, room.result);
        if (room.result == DecodeResult::kOk) {
          ASSERT_EQ(d.data, data);
        }
      }
    }
  }
  Bytes out;
  EXPECT_EQ(InflateBuffer(inflater, streams[2], out), DecodeResult::kOk);
  EXPECT_EQ(out, data);
  TInflater deflate64(InflateFormat::kDeflate64);
  EXPECT_EQ(DecodeIntoBuffer(deflate64, streams[2], data.size()).result, DecodeResult::kUnsupportedMethod);
}

TEST(Inflate, TrailingBytesAfterTheFinalBlockAreIgnored) {
  const Bytes data = SampleData(5000);
  Bytes stream = ZlibDeflate(data, 6);
  stream.insert(stream.end(), {0xDE, 0xAD, 0xBE, 0xEF});
  const Decoded d = Decode(stream);
  EXPECT_EQ(d.result, DecodeResult::kOk);
  EXPECT_EQ(d.data, data);
}

TEST(Inflate, LongestDistanceAndLongestMatch) {
  // 32768 random bytes, then the first 258 of them again: distance 32768, length 258.
  const Bytes head = test::RandomBytes(32768, 21);
  Bytes data = head;
  data.insert(data.end(), head.begin(), head.begin() + 258);
  BitWriter w;
  w.Bits(1, 1);
  w.Bits(deflate::kBlockFixed, 2);
  for (std::uint8_t b : head) FixedLiteral(w, b);
  w.Code(0xC0 + 285 - 280, 8);  // length 258
  w.Code(29, 5);                // distance 24577 + 13 extra bits
  w.Bits(32768 - 24577, 13);
  FixedEnd(w);
  const Decoded d = Decode(w.Done());
  EXPECT_EQ(d.result, DecodeResult::kOk);
  EXPECT_EQ(d.data, data);
}

// ---------------------------------------------------------------------------------------------------
// Hand-over and callbacks.

TEST(Inflate, OutputComesInBlocksOf32KiB) {
  const Bytes data = SampleData(3 * 32768 + 1000);
  const Bytes stream = ZlibDeflate(data, 6);
  std::vector<std::size_t> sizes;
  Bytes out;
  std::size_t pos = 0;
  const DecodeResult r = Inflate(
      [&](std::uint8_t* buf, std::size_t max) {
        const std::size_t n = std::min(max, stream.size() - pos);
        std::memcpy(buf, stream.data() + pos, n);
        pos += n;
        return n;
      },
      [&](const std::uint8_t* block, std::size_t n) {
        sizes.push_back(n);
        out.insert(out.end(), block, block + n);
      });
  EXPECT_EQ(r, DecodeResult::kOk);
  EXPECT_EQ(sizes, (std::vector<std::size_t>{32768, 32768, 32768, 1000}));
  EXPECT_EQ(out, data);
}

TEST(Inflate, OutputLimitStopsTheEntry) {
  const Bytes data = SampleData(200000);
  const Bytes stream = ZlibDeflate(data, 6);
  Bytes out;
  EXPECT_EQ(InflateBuffer(stream, out, 100000), DecodeResult::kDataError);
  EXPECT_LE(out.size(), 100000u);
  EXPECT_EQ(InflateBuffer(stream, out, 200000), DecodeResult::kOk);
  EXPECT_EQ(out, data);
}

// Only the conditions of bad data end the entry: the archive ending early and output past the declared
// size. A failing output device and a cancel pass through, so the run can stop with the device's error.
TEST(Inflate, CallbackErrorsEndTheEntryOnlyForBadData) {
  const Bytes data = SampleData(100000);
  const Bytes stream = ZlibDeflate(data, 6);
  TInflater inflater;
  std::size_t pos = 0;
  auto input = [&](std::uint8_t* buf, std::size_t max) {
    const std::size_t n = std::min(max, stream.size() - pos);
    std::memcpy(buf, stream.data() + pos, n);
    pos += n;
    return n;
  };
  auto short_archive = [&](std::uint8_t*, std::size_t) -> std::size_t { throw EFatalUnzipError(); };
  auto oversize = [](const std::uint8_t*, std::size_t) { throw EBiggerThanUncompressed(); };
  auto write_fails = [](const std::uint8_t*, std::size_t) { throw ECantWriteUCF(); };
  auto device_fails = [](const std::uint8_t*, std::size_t) {
    throw platform::EFileError("Cannot write file \"x\". No space left on device");
  };
  auto cancel = [](const std::uint8_t*, std::size_t) { throw EUserCanceled(); };
  auto ignore = [](const std::uint8_t*, std::size_t) {};
  EXPECT_EQ(inflater.Inflate(short_archive, ignore), DecodeResult::kDataError);
  pos = 0;
  EXPECT_EQ(inflater.Inflate(input, oversize), DecodeResult::kDataError);
  pos = 0;
  EXPECT_THROW(inflater.Inflate(input, write_fails), ECantWriteUCF);
  pos = 0;
  EXPECT_THROW(inflater.Inflate(input, device_fails), platform::EFileError);
  pos = 0;
  EXPECT_THROW(inflater.Inflate(input, cancel), EUserCanceled);
  // The decoder is still good for the next entry.
  pos = 0;
  Bytes out;
  EXPECT_EQ(inflater.Inflate(input, [&](const std::uint8_t* b, std::size_t n) { out.insert(out.end(), b, b + n); }),
            DecodeResult::kOk);
  EXPECT_EQ(out, data);
}

}  // namespace
}  // namespace kzb::zip
