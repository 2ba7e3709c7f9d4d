// The deflate compressor: DeflateFile turns the bytes of one file into the data of a ZIP entry.
//
// Contract with the archive writer:
// - The writer makes one TDeflater for a run (its work buffers, about 300 KiB, are allocated here once)
//   and calls DeflateFile once per file with PackLevel 1 to 9 (other values are clamped into that range;
//   level 0 is the writer's own stored copy and never reaches the compressor).
// - DeflateFile pulls the file from its current position to its end through read_input (which keeps the
//   CRC and the progress events) and pushes the entry data through write_output (which encrypts and
//   raises ENotEnoughRoom on a short write; any error from either callback ends the call and propagates).
//   Output is written in pieces of at most kDeflateOutputPiece bytes, except that the raw bytes of stored
//   blocks are handed over directly from the compressor's window. write_output must not modify the bytes
//   it is given (encrypt into a copy).
// - The result tells what goes into the entry's header:
//     GeneralFlags       |= result.general_flags (4 for levels 1 and 2, 2 for levels 8 and 9, else 0);
//     InternalAttributes  = result.internal_attributes (1 text, 0 binary) when the header still holds 2;
//     CompressedSize      = result.compressed_size (the bytes given to write_output);
//     CompressionMethod   = 0 when result.stored, else 8.
// - result.stored means the whole file was better left uncompressed and write_output received exactly the
//   file's bytes, with no deflate framing. This happens only for files that fit the compressor's window
//   (less than 64 KiB) and only when nothing has been written yet, so the writer never rewinds anything:
//   it just records method 0 (the level's flag bits stay). An empty file always ends up this way, with
//   compressed size 0.
// - Output depends only on the level and the file's bytes: no history is shared between files, and how
//   read_input splits the file into reads does not matter.
// - DeflateChunk compresses one piece of a larger file so that pieces compressed apart (on several threads)
//   join into one deflate stream: the piece starts with up to 32 KiB of the bytes before it as a preset
//   dictionary (matches may reach into it), and a piece that is not the last ends with an empty stored
//   block, which leaves the stream on a byte boundary without a final block. Its result is never stored:
//   the bytes are always deflate data.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace kzb::zip {

// Reads up to max bytes of the file into buffer; returns the count, 0 at the end of the file.
using ReadInputFn = std::function<std::int64_t(std::uint8_t* buffer, std::int64_t max)>;
// Takes count bytes of entry data.
using WriteOutputFn = std::function<void(const std::uint8_t* data, std::int64_t count)>;

// Largest piece of coded output handed to WriteOutputFn at once. Bigger pieces mean fewer calls into
// the writer's encryption and stream layers.
inline constexpr std::int64_t kDeflateOutputPiece = 1024;

struct DeflateResult {
  std::int64_t compressed_size = 0;
  std::uint16_t general_flags = 0;
  std::uint16_t internal_attributes = 1;
  bool stored = false;
};

class TDeflater {
 public:
  TDeflater();
  ~TDeflater();
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;

  DeflateResult DeflateFile(int pack_level, const ReadInputFn& read_input, const WriteOutputFn& write_output);
  // One piece of a stream: dictionary holds dictionary_size bytes (at most 32 KiB are used) that precede it.
  DeflateResult DeflateChunk(int pack_level, const std::uint8_t* dictionary, std::int64_t dictionary_size, bool last,
                             const ReadInputFn& read_input, const WriteOutputFn& write_output);

  // The general purpose flag bits a level sets: 4 for levels 1 and 2, 2 for 8 and 9, 0 otherwise.
  static std::uint16_t FlagBitsForLevel(int pack_level);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kzb::zip
