// Zstandard entries through libzstd's streaming decoder. The library does the decoding and verifies frame
// checksums; this file moves bytes between it and the entry (codec_stream.h) and turns its results into
// the decompressor contract. ZSTD_decompressStream returns 0 exactly when a frame is complete and all of
// its output has been delivered; a new frame may follow.
#include "zip/decompress/zstd_decoder.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <memory>
#include <new>

#include "zip/decompress/codec_stream.h"

namespace kzb::zip {

namespace {

struct FreeContext {
  void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

DecodeResult Unzstd(const InputFn& input, const OutputBlockFn& output, std::uint64_t uncompressed_size) {
  CodecStream io(input, output, uncompressed_size);
  const std::unique_ptr<ZSTD_DCtx, FreeContext> context(ZSTD_createDCtx());
  if (!context) throw std::bad_alloc();
  bool frame_open = false;  // input of a frame was taken and the frame has not ended yet
  for (;;) {
    const bool more_input = io.InputLeft();
    if (!more_input && !frame_open) break;
    ZSTD_inBuffer in{io.InNext(), io.InAvail(), 0};
    std::uint8_t* const out_next = io.OutNext();
    ZSTD_outBuffer out{out_next, io.OutRoom(), 0};
    const std::size_t rc = ZSTD_decompressStream(context.get(), &out, &in);
    io.Consumed(in.pos);
    io.Produced(out.pos);
    if (io.OverDeclared()) return DecodeResult::kDataError;
    if (ZSTD_isError(rc)) {
      if (ZSTD_getErrorCode(rc) == ZSTD_error_memory_allocation) throw std::bad_alloc();
      return DecodeResult::kDataError;
    }
    frame_open = rc != 0;
    // No progress: the input ended inside a frame (or the library is stuck, which is bad data too).
    if (in.pos == 0 && out.pos == 0 && frame_open && (!more_input || in.size != 0)) {
      return DecodeResult::kDataError;
    }
  }
  io.Finish();
  return io.AtDeclared() ? DecodeResult::kOk : DecodeResult::kDataError;
}

}  // namespace

DecodeResult DecodeZstd(const InputFn& input, const OutputBlockFn& output, std::uint64_t uncompressed_size) {
  return DecodeGuarded([&] { return Unzstd(input, output, uncompressed_size); });
}

}  // namespace kzb::zip
