// BZip2 entries through libbz2's streaming decoder. The library does all the decoding and checks the
// block and stream CRCs; this file only moves bytes between it and the entry (codec_stream.h) and turns
// its return codes into the decompressor contract.
#include "zip/decompress/bzip2_decoder.h"

#include <bzlib.h>

#include <climits>
#include <new>

#include "zip/decompress/codec_stream.h"

namespace kzb::zip {

namespace {

// One libbz2 decompression stream, ended however the decoder is left.
class Bzip2Stream {
 public:
  Bzip2Stream() { Start(); }
  ~Bzip2Stream() { BZ2_bzDecompressEnd(&stream_); }
  Bzip2Stream(const Bzip2Stream&) = delete;
  Bzip2Stream& operator=(const Bzip2Stream&) = delete;

  // Starts decoding the next concatenated stream.
  void Restart() {
    BZ2_bzDecompressEnd(&stream_);
    Start();
  }
  bz_stream* operator->() { return &stream_; }
  bz_stream* get() { return &stream_; }

 private:
  void Start() {
    stream_ = bz_stream{};
    // verbosity 0; small 0: the faster decoder (about 3.6 MB for a 900k block size).
    if (BZ2_bzDecompressInit(&stream_, 0, 0) != BZ_OK) throw std::bad_alloc();
  }

  bz_stream stream_{};
};

DecodeResult Bunzip2(const InputFn& input, const OutputBlockFn& output, std::uint64_t uncompressed_size) {
  CodecStream io(input, output, uncompressed_size);
  Bzip2Stream bz;
  for (;;) {
    const bool more_input = io.InputLeft();
    std::uint8_t* const out = io.OutNext();
    const auto in_avail = static_cast<unsigned>(std::min<std::size_t>(io.InAvail(), UINT_MAX));
    const auto out_room = static_cast<unsigned>(io.OutRoom());
    bz->next_in = const_cast<char*>(reinterpret_cast<const char*>(io.InNext()));
    bz->avail_in = in_avail;
    bz->next_out = reinterpret_cast<char*>(out);
    bz->avail_out = out_room;
    const int rc = BZ2_bzDecompress(bz.get());
    const unsigned consumed = in_avail - bz->avail_in;
    const unsigned produced = out_room - bz->avail_out;
    io.Consumed(consumed);
    io.Produced(produced);
    if (io.OverDeclared()) return DecodeResult::kDataError;
    if (rc == BZ_MEM_ERROR) throw std::bad_alloc();
    if (rc == BZ_STREAM_END) {
      if (!io.InputLeft()) break;
      bz.Restart();  // another stream follows
      continue;
    }
    if (rc != BZ_OK) return DecodeResult::kDataError;
    // No progress: the input ended inside a stream (or the library is stuck, which is bad data too).
    if (consumed == 0 && produced == 0 && (!more_input || in_avail != 0)) return DecodeResult::kDataError;
  }
  io.Finish();
  return io.AtDeclared() ? DecodeResult::kOk : DecodeResult::kDataError;
}

}  // namespace

DecodeResult DecodeBzip2(const InputFn& input, const OutputBlockFn& output, std::uint64_t uncompressed_size) {
  return DecodeGuarded([&] { return Bunzip2(input, output, uncompressed_size); });
}

}  // namespace kzb::zip
