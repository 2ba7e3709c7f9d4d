#include "zip/decompress/inflate_buffer.h"

#include <algorithm>
#include <cstring>

#include "zip/zip_errors.h"

namespace kzb::zip {

DecodeResult InflateBuffer(std::span<const std::uint8_t> input, std::vector<std::uint8_t>& output,
                           std::size_t output_limit, std::size_t input_chunk) {
  TInflater inflater;
  return InflateBuffer(inflater, input, output, output_limit, input_chunk);
}

namespace {

// Hands out input in pieces of at most chunk bytes.
class PieceReader {
 public:
  PieceReader(std::span<const std::uint8_t> input, std::size_t chunk)
      : input_(input), chunk_(std::max<std::size_t>(chunk, 1)) {}
  std::size_t operator()(std::uint8_t* buffer, std::size_t max) {
    const std::size_t n = std::min({max, input_.size() - position_, chunk_});
    if (n > 0) std::memcpy(buffer, input_.data() + position_, n);
    position_ += n;
    return n;
  }

 private:
  std::span<const std::uint8_t> input_;
  std::size_t chunk_;
  std::size_t position_ = 0;
};

}  // namespace

DecodeResult InflateBuffer(TInflater& inflater, std::span<const std::uint8_t> input, std::vector<std::uint8_t>& output,
                           std::size_t output_limit, std::size_t input_chunk) {
  output.clear();
  auto write = [&](const std::uint8_t* data, std::size_t count) {
    if (count > output_limit - output.size()) throw EBiggerThanUncompressed();
    output.insert(output.end(), data, data + count);
  };
  return inflater.Inflate(PieceReader(input, input_chunk), write);
}

DecodeResult InflateBufferInto(TInflater& inflater, std::span<const std::uint8_t> input, std::uint8_t* out,
                               std::size_t capacity, std::size_t& produced, std::size_t input_chunk) {
  return inflater.InflateInto(PieceReader(input, input_chunk), out, capacity, produced);
}

}  // namespace kzb::zip
