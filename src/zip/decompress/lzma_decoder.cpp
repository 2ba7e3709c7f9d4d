// LZMA and XZ entries through liblzma. The library does the decoding (and, for XZ, the integrity
// checks); this file reads the ZIP form of an LZMA entry's header, chooses the decoder's options, moves
// bytes between the library and the entry (codec_stream.h) and turns the library's return codes into the
// decompressor contract.
//
// An LZMA entry is decoded with the LZMA1EXT filter in one of two ways, chosen by general purpose bit 1:
// with the bit, the uncompressed size is left unknown to the library and the stream must end with its end
// marker (the declared size still limits the output, in codec_stream.h); without it, the library is told
// the uncompressed size, decodes exactly that much and refuses an end marker. liblzma can also accept an
// optional marker after a known size (LZMA_LZMA1EXT_ALLOW_EOPM), but the version in Debian 12 then fails
// valid streams whose marker arrives split across two input blocks, so that mode is not used.
#include "zip/decompress/lzma_decoder.h"

#include <lzma.h>

#include <algorithm>
#include <new>

#include "zip/decompress/codec_stream.h"
#include "zip/records/zip_format.h"

namespace kzb::zip {

namespace {

// One liblzma stream, ended however the decoder is left.
class LzmaStream {
 public:
  LzmaStream() = default;
  ~LzmaStream() { lzma_end(&stream_); }
  LzmaStream(const LzmaStream&) = delete;
  LzmaStream& operator=(const LzmaStream&) = delete;
  lzma_stream* get() { return &stream_; }

 private:
  lzma_stream stream_ = LZMA_STREAM_INIT;
};

// Runs an initialised decoder over the entry.
DecodeResult Pump(lzma_stream* stream, CodecStream& io) {
  for (;;) {
    const bool more_input = io.InputLeft();
    stream->next_in = io.InNext();
    stream->avail_in = io.InAvail();
    stream->next_out = io.OutNext();
    stream->avail_out = io.OutRoom();
    const std::size_t in_avail = stream->avail_in;
    const std::size_t out_room = stream->avail_out;
    const lzma_ret rc = lzma_code(stream, more_input ? LZMA_RUN : LZMA_FINISH);
    const std::size_t consumed = in_avail - stream->avail_in;
    const std::size_t produced = out_room - stream->avail_out;
    io.Consumed(consumed);
    io.Produced(produced);
    if (io.OverDeclared()) return DecodeResult::kDataError;
    if (rc == LZMA_MEM_ERROR) throw std::bad_alloc();
    if (rc == LZMA_STREAM_END) break;
    // Everything else but LZMA_OK is about the stream: bad data, a truncated stream (LZMA_BUF_ERROR),
    // unsupported options or checks, a memory demand beyond the limit.
    if (rc != LZMA_OK) return DecodeResult::kDataError;
    if (consumed == 0 && produced == 0 && !more_input) return DecodeResult::kDataError;  // cut short
  }
  io.Finish();
  return io.AtDeclared() ? DecodeResult::kOk : DecodeResult::kDataError;
}

// Reads count bytes of the entry's header; false when the entry ends first.
bool ReadHeader(CodecStream& io, std::uint8_t* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (!io.InputLeft()) return false;
    bytes[i] = *io.InNext();
    io.Consumed(1);
  }
  return true;
}

// Smallest dictionary liblzma works with.
constexpr std::uint32_t kMinDictionary = 4096;

DecodeResult UnLzma(const InputFn& input, const OutputBlockFn& output, std::uint16_t general_flags,
                    std::uint64_t uncompressed_size) {
  CodecStream io(input, output, uncompressed_size);
  std::uint8_t header[kLzmaHeaderSize + kLzmaPropertiesSize];
  if (!ReadHeader(io, header, kLzmaHeaderSize)) return DecodeResult::kDataError;
  if (GetU16(header + 2) != kLzmaPropertiesSize) return DecodeResult::kDataError;
  if (!ReadHeader(io, header + kLzmaHeaderSize, kLzmaPropertiesSize)) return DecodeResult::kDataError;
  const std::uint8_t* const properties = header + kLzmaHeaderSize;

  // Properties byte: (pb * 5 + lp) * 9 + lc.
  unsigned value = properties[0];
  if (value >= 9 * 5 * 5) return DecodeResult::kDataError;
  lzma_options_lzma options{};
  options.lc = value % 9;
  value /= 9;
  options.lp = value % 5;
  options.pb = value / 5;
  const std::uint32_t dictionary = GetU32(properties + 1);
  options.dict_size = static_cast<std::uint32_t>(
      std::min<std::uint64_t>(dictionary, std::max<std::uint64_t>(uncompressed_size, kMinDictionary)));
  options.dict_size = std::max(options.dict_size, kMinDictionary);
  options.ext_flags = 0;
  if ((general_flags & kFlagLzmaEndMarker) != 0) {
    options.ext_size_low = options.ext_size_high = UINT32_MAX;  // unknown: the end marker ends the stream
  } else {
    options.ext_size_low = static_cast<std::uint32_t>(uncompressed_size);
    options.ext_size_high = static_cast<std::uint32_t>(uncompressed_size >> 32);
  }

  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  LzmaStream stream;
  const lzma_ret rc = lzma_raw_decoder(stream.get(), filters);
  if (rc == LZMA_MEM_ERROR) throw std::bad_alloc();
  if (rc != LZMA_OK) return DecodeResult::kDataError;
  return Pump(stream.get(), io);
}

DecodeResult UnXz(const InputFn& input, const OutputBlockFn& output, std::uint64_t uncompressed_size) {
  CodecStream io(input, output, uncompressed_size);
  LzmaStream stream;
  const lzma_ret rc = lzma_stream_decoder(stream.get(), kXzMemoryLimit, LZMA_CONCATENATED);
  if (rc == LZMA_MEM_ERROR) throw std::bad_alloc();
  if (rc != LZMA_OK) return DecodeResult::kDataError;
  return Pump(stream.get(), io);
}

}  // namespace

DecodeResult DecodeLzma(const InputFn& input, const OutputBlockFn& output, std::uint16_t general_flags,
                        std::uint64_t uncompressed_size) {
  return DecodeGuarded([&] { return UnLzma(input, output, general_flags, uncompressed_size); });
}

DecodeResult DecodeXz(const InputFn& input, const OutputBlockFn& output, std::uint64_t uncompressed_size) {
  return DecodeGuarded([&] { return UnXz(input, output, uncompressed_size); });
}

}  // namespace kzb::zip
