// The decoders that run through Debian's libraries (BZip2, LZMA, XZ, Zstandard): streams made by the
// libraries' own encoders decode byte for byte whatever the input pieces; damaged, cut-off and wrongly
// sized streams end with kDataError and never hand over a byte beyond the declared size; a failing output
// device passes through; several streams or frames in one entry decode as one.
#include <gtest/gtest.h>

#if !KZB_LIBRARY_CODECS

TEST(LibraryDecoders, NeedTheLibraries) {
  GTEST_SKIP() << "built without libbz2, liblzma, libzstd (KZB_LIBRARY_CODECS=OFF)";
}

#else

#include <bzlib.h>
#include <lzma.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "zip/decompress/bzip2_decoder.h"
#include "zip/decompress/lzma_decoder.h"
#include "zip/decompress/zstd_decoder.h"
#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Text-like data with repeats near and far, so every encoder finds matches of all kinds.
Bytes SampleData(std::size_t size, std::uint32_t seed = 5) {
  const Bytes noise = test::RandomBytes(4096, seed);
  Bytes out;
  std::uint32_t x = seed;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    if ((x >> 29) == 0 && out.size() > 1000) {
      const std::size_t back = 1 + (x >> 8) % out.size();
      for (std::size_t i = 0; i < 30; ++i) out.push_back(out[out.size() - back]);
    } else {
      out.insert(out.end(), noise.begin() + (x >> 4) % 4000, noise.begin() + (x >> 4) % 4000 + (x >> 16) % 60);
    }
  }
  out.resize(size);
  return out;
}

// --- Encoders of the libraries, the oracles.

Bytes Bzip2Encode(const Bytes& data, int block_size_100k = 9) {
  auto bound = static_cast<unsigned>(data.size() + data.size() / 100 + 600);
  Bytes out(bound);
  char none = 0;  // libbz2 refuses a null source even for no bytes
  char* source = data.empty() ? &none : const_cast<char*>(reinterpret_cast<const char*>(data.data()));
  EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &bound, source,
                                     static_cast<unsigned>(data.size()), block_size_100k, 0, 0),
            BZ_OK);
  out.resize(bound);
  return out;
}

// The ZIP form of an LZMA entry: version, properties size, properties, raw stream (with or without the end
// marker).
Bytes LzmaEncode(const Bytes& data, bool end_marker) {
  lzma_options_lzma options;
  EXPECT_FALSE(lzma_lzma_preset(&options, 6));
  options.dict_size = 1 << 20;
  options.ext_flags = end_marker ? LZMA_LZMA1EXT_ALLOW_EOPM : 0;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  Bytes out(data.size() + data.size() / 2 + 1024);
  std::size_t pos = 9;
  EXPECT_EQ(lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), out.data(), &pos, out.size()), LZMA_OK);
  out.resize(pos);
  out[0] = 20;  // LZMA version 20.0
  out[1] = 0;
  PutU16(out.data() + 2, 5);
  out[4] = static_cast<std::uint8_t>((options.pb * 5 + options.lp) * 9 + options.lc);
  PutU32(out.data() + 5, options.dict_size);
  return out;
}

Bytes XzEncode(const Bytes& data) {
  Bytes out(lzma_stream_buffer_bound(data.size()));
  std::size_t pos = 0;
  EXPECT_EQ(
      lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, data.data(), data.size(), out.data(), &pos, out.size()),
      LZMA_OK);
  out.resize(pos);
  return out;
}

Bytes ZstdEncode(const Bytes& data, bool checksum = true) {
  ZSTD_CCtx* context = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, 5);
  ZSTD_CCtx_setParameter(context, ZSTD_c_checksumFlag, checksum ? 1 : 0);
  Bytes out(ZSTD_compressBound(data.size()));
  const std::size_t size = ZSTD_compress2(context, out.data(), out.size(), data.data(), data.size());
  ZSTD_freeCCtx(context);
  EXPECT_FALSE(ZSTD_isError(size));
  out.resize(size);
  return out;
}

struct Method {
  const char* name;
  std::uint16_t method;
  std::uint16_t flags;
  std::function<Bytes(const Bytes&)> encode;
  bool checked;  // the format carries a checksum, so any damage is found
};

const Method kMethods[] = {
    {"bzip2", kMethodBzip2, 0, [](const Bytes& d) { return Bzip2Encode(d, 1); }, true},
    {"lzma-marker", kMethodLzma, kFlagLzmaEndMarker, [](const Bytes& d) { return LzmaEncode(d, true); }, false},
    {"lzma-no-marker", kMethodLzma, 0, [](const Bytes& d) { return LzmaEncode(d, false); }, false},
    {"xz", kMethodXz, 0, XzEncode, true},
    {"zstd", kMethodZstd, 0, [](const Bytes& d) { return ZstdEncode(d); }, true},
};

// The library decoder of a method, called as the extraction run calls it.
DecodeResult DecodeWith(std::uint16_t method, std::uint16_t flags, const InputFn& input, const OutputBlockFn& output,
                        std::uint64_t declared) {
  switch (method) {
    case kMethodBzip2:
      return DecodeBzip2(input, output, declared);
    case kMethodLzma:
      return DecodeLzma(input, output, flags, declared);
    case kMethodXz:
      return DecodeXz(input, output, declared);
    case kMethodZstd:
      return DecodeZstd(input, output, declared);
    default:
      ADD_FAILURE() << "no library decoder for method " << method;
      return DecodeResult::kDataError;
  }
}

struct Result {
  DecodeResult result = DecodeResult::kOk;
  Bytes data;
  std::vector<std::size_t> blocks;
  std::size_t input_calls = 0;
};

// Decodes stream as an entry of the method with the declared size; input comes in pieces of at most piece
// bytes. Checks on every call that no byte beyond the declared size is handed over.
Result DecodeAs(std::uint16_t method, const Bytes& stream, std::uint64_t declared, std::size_t piece = kInputBlockSize,
                std::uint16_t flags = 0) {
  Result r;
  std::size_t pos = 0;
  const InputFn input = [&](std::uint8_t* buffer, std::size_t max) {
    ++r.input_calls;
    const std::size_t n = std::min({max, piece, stream.size() - pos});
    if (n > 0) std::memcpy(buffer, stream.data() + pos, n);
    pos += n;
    return n;
  };
  const OutputBlockFn output = [&](const std::uint8_t* data, std::size_t count) {
    r.blocks.push_back(count);
    r.data.insert(r.data.end(), data, data + count);
    EXPECT_LE(r.data.size(), declared) << "handed over beyond the declared size";
  };
  r.result = DecodeWith(method, flags, input, output, declared);
  return r;
}

TEST(LibraryDecoders, StreamsOfTheLibrariesDecode) {
  for (const Method& m : kMethods) {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{70000}, std::size_t{300001}}) {
      const Bytes data = SampleData(size);
      const Bytes stream = m.encode(data);
      for (const std::size_t piece : {std::size_t{1}, std::size_t{4093}, kInputBlockSize}) {
        if (piece == 1 && size > 70000) continue;  // byte by byte is slow and shows nothing new
        SCOPED_TRACE(std::string(m.name) + " size " + std::to_string(size) + " piece " + std::to_string(piece));
        const Result r = DecodeAs(m.method, stream, size, piece, m.flags);
        ASSERT_EQ(r.result, DecodeResult::kOk);
        EXPECT_EQ(r.data, data);
        // Blocks of 32 KiB and a shorter last one; none for an empty entry.
        for (std::size_t i = 0; i + 1 < r.blocks.size(); ++i) EXPECT_EQ(r.blocks[i], kOutputBlockSize);
        if (!r.blocks.empty()) {
          EXPECT_GT(r.blocks.back(), 0u);
          EXPECT_LE(r.blocks.back(), kOutputBlockSize);
        }
      }
    }
  }
}

TEST(LibraryDecoders, CutOffStreamsFail) {
  const Bytes data = SampleData(150000);
  for (const Method& m : kMethods) {
    const Bytes stream = m.encode(data);
    for (const std::size_t keep :
         {std::size_t{0}, std::size_t{3}, std::size_t{10}, stream.size() / 2, stream.size() - 1}) {
      SCOPED_TRACE(std::string(m.name) + " keeps " + std::to_string(keep) + " of " + std::to_string(stream.size()));
      const Result r = DecodeAs(m.method, Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(keep)),
                                data.size(), kInputBlockSize, m.flags);
      EXPECT_EQ(r.result, DecodeResult::kDataError);
    }
  }
}

// Damage anywhere: the checked formats always notice it; the others end with a data error or with output
// of the declared size (which the extraction run's CRC then judges), never beyond it.
TEST(LibraryDecoders, DamagedStreamsNeverPassTheLimit) {
  const Bytes data = SampleData(100000);
  for (const Method& m : kMethods) {
    const Bytes stream = m.encode(data);
    for (std::size_t i = 0; i < 40; ++i) {
      Bytes damaged = stream;
      const std::size_t at = (i * 7919 + 5) % damaged.size();
      damaged[at] ^= static_cast<std::uint8_t>(1 + i * 37);
      SCOPED_TRACE(std::string(m.name) + " byte " + std::to_string(at));
      const Result r = DecodeAs(m.method, damaged, data.size(), kInputBlockSize, m.flags);
      if (r.result == DecodeResult::kOk) {
        EXPECT_FALSE(m.checked) << "damage went unnoticed";
        EXPECT_EQ(r.data.size(), data.size());
      }
    }
  }
}

TEST(LibraryDecoders, OutputLongerOrShorterThanDeclaredFails) {
  const Bytes data = SampleData(100000);
  for (const Method& m : kMethods) {
    const Bytes stream = m.encode(data);
    for (const std::uint64_t declared :
         {std::uint64_t{0}, std::uint64_t{99999}, std::uint64_t{65536}, std::uint64_t{100001}}) {
      SCOPED_TRACE(std::string(m.name) + " declared " + std::to_string(declared));
      const Result r = DecodeAs(m.method, stream, declared, kInputBlockSize, m.flags);
      EXPECT_EQ(r.result, DecodeResult::kDataError);
      EXPECT_LE(r.data.size(), declared);
    }
  }
}

// A short archive and output beyond the declared size end the entry as bad data; a failing output device
// and a cancel are not bad data and pass through, for the extraction run to end the run.
TEST(LibraryDecoders, CallbackErrors) {
  const Bytes data = SampleData(100000);
  for (const Method& m : kMethods) {
    SCOPED_TRACE(m.name);
    const Bytes stream = m.encode(data);
    std::size_t pos = 0;
    const InputFn input = [&](std::uint8_t* buffer, std::size_t max) {
      const std::size_t n = std::min(max, stream.size() - pos);
      std::memcpy(buffer, stream.data() + pos, n);
      pos += n;
      return n;
    };
    const auto fails_with = [](auto error) {
      return OutputBlockFn([error](const std::uint8_t*, std::size_t) { throw error; });
    };
    const InputFn short_archive = [](std::uint8_t*, std::size_t) -> std::size_t { throw EFatalUnzipError(); };
    EXPECT_EQ(DecodeWith(
                  m.method, m.flags, short_archive, [](const std::uint8_t*, std::size_t) {}, data.size()),
              DecodeResult::kDataError);
    EXPECT_EQ(DecodeWith(m.method, m.flags, input, fails_with(EBiggerThanUncompressed()), data.size()),
              DecodeResult::kDataError);
    pos = 0;
    EXPECT_THROW(DecodeWith(m.method, m.flags, input, fails_with(ECantWriteUCF()), data.size()), ECantWriteUCF);
    pos = 0;
    EXPECT_THROW(DecodeWith(m.method, m.flags, input, fails_with(EUserCanceled()), data.size()), EUserCanceled);
  }
}

TEST(LibraryDecoders, ConcatenatedStreamsAreOneEntry) {
  const Bytes a = SampleData(50000, 1);
  const Bytes b = SampleData(40000, 2);
  Bytes both = a;
  both.insert(both.end(), b.begin(), b.end());
  const auto concat = [](Bytes x, const Bytes& y) {
    x.insert(x.end(), y.begin(), y.end());
    return x;
  };
  // A skippable frame (magic 0x184D2A50, 4-byte length) between two Zstandard frames.
  const Bytes skippable = {0x50, 0x2A, 0x4D, 0x18, 3, 0, 0, 0, 'k', 'z', 'b'};
  struct Case {
    const char* name;
    std::uint16_t method;
    Bytes stream;
  } cases[] = {
      {"bzip2", kMethodBzip2, concat(Bzip2Encode(a), Bzip2Encode(b))},
      {"xz", kMethodXz, concat(XzEncode(a), XzEncode(b))},
      {"zstd", kMethodZstd, concat(concat(ZstdEncode(a), skippable), ZstdEncode(b, false))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Result r = DecodeAs(c.method, c.stream, both.size(), 1000);
    EXPECT_EQ(r.result, DecodeResult::kOk);
    EXPECT_EQ(r.data, both);
    // Bytes after the last stream that are not another stream are damage.
    const Bytes junk_after = concat(c.stream, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
    const Result junk = DecodeAs(c.method, junk_after, both.size());
    EXPECT_EQ(junk.result, DecodeResult::kDataError);
  }
}

// The LZMA header of a ZIP entry and bit 1 of the flags, which says whether the stream ends with a marker.
// A header that declares other properties, or impossible ones, is bad data; a dictionary larger than the
// entry decodes without being allocated in full.
TEST(LibraryDecoders, LzmaHeaderAndEndMarker) {
  const Bytes data = SampleData(80000);
  for (const bool marker : {false, true}) {
    for (const std::uint16_t flags : {std::uint16_t{0}, kFlagLzmaEndMarker}) {
      SCOPED_TRACE("marker " + std::to_string(marker) + " flags " + std::to_string(flags));
      const Result r = DecodeAs(kMethodLzma, LzmaEncode(data, marker), data.size(), kInputBlockSize, flags);
      const bool agree = marker == (flags == kFlagLzmaEndMarker);
      EXPECT_EQ(r.result, agree ? DecodeResult::kOk : DecodeResult::kDataError);
      if (agree) {
        EXPECT_EQ(r.data, data);
      }
    }
  }
  const Bytes good = LzmaEncode(data, true);
  struct Case {
    const char* name;
    std::function<void(Bytes&)> change;
    DecodeResult expected;
  } cases[] = {
      {"properties size 4", [](Bytes& s) { PutU16(s.data() + 2, 4); }, DecodeResult::kDataError},
      {"properties size 6", [](Bytes& s) { PutU16(s.data() + 2, 6); }, DecodeResult::kDataError},
      {"properties byte 225", [](Bytes& s) { s[4] = 225; }, DecodeResult::kDataError},
      {"other version",
       [](Bytes& s) {
         s[0] = 9;
         s[1] = 38;
       },
       DecodeResult::kOk},
      {"4 GiB dictionary", [](Bytes& s) { PutU32(s.data() + 5, 0xFFFFFFFF); }, DecodeResult::kOk},
      {"header only", [](Bytes& s) { s.resize(9); }, DecodeResult::kDataError},
      {"half a header", [](Bytes& s) { s.resize(6); }, DecodeResult::kDataError},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes stream = good;
    c.change(stream);
    const Result r = DecodeAs(kMethodLzma, stream, data.size(), kInputBlockSize, kFlagLzmaEndMarker);
    EXPECT_EQ(r.result, c.expected);
    if (c.expected == DecodeResult::kOk) {
      EXPECT_EQ(r.data, data);
    }
  }
}

// An XZ block that asks for a 4 GiB dictionary is refused before anything is allocated.
TEST(LibraryDecoders, XzMemoryDemandBeyondTheLimitIsRefused) {
  const Bytes data = SampleData(5000);
  Bytes stream = XzEncode(data);
  // The first block header follows the 12-byte stream header: its size (byte * 4 + 4), flags, sizes,
  // the LZMA2 filter flags (id 0x21, 1 property byte: the dictionary size), padding, CRC-32.
  const std::size_t start = 12;
  const std::size_t header_size = (stream[start] + 1u) * 4u;
  std::size_t filter = start + 2;
  while (filter + 2 < start + header_size - 4 && !(stream[filter] == 0x21 && stream[filter + 1] == 0x01)) ++filter;
  ASSERT_LT(filter + 2, start + header_size - 4);
  stream[filter + 2] = 40;  // 4 GiB - 1
  PutU32(stream.data() + start + header_size - 4,
         static_cast<std::uint32_t>(crc32(0, stream.data() + start, static_cast<uInt>(header_size - 4))));
  EXPECT_EQ(DecodeAs(kMethodXz, stream, data.size()).result, DecodeResult::kDataError);
}

}  // namespace
}  // namespace kzb::zip

#endif  // KZB_LIBRARY_CODECS
