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

DecodeResult InflateBuffer(TInflater& inflater, std::span<const std::uint8_t> input, std::vector<std::uint8_t>& output,
                           std::size_t output_limit, std::size_t input_chunk) {
  output.clear();
  std::size_t position = 0;
  const std::size_t chunk = std::max<std::size_t>(input_chunk, 1);
  auto read = [&](std::uint8_t* buffer, std::size_t max) -> std::size_t {
    const std::size_t n = std::min({max, input.size() - position, chunk});
    if (n > 0) std::memcpy(buffer, input.data() + position, n);
    position += n;
    return n;
  };
  auto write = [&](const std::uint8_t* data, std::size_t count) {
    if (count > output_limit - output.size()) throw EBiggerThanUncompressed();
    output.insert(output.end(), data, data + count);
  };
  return inflater.Inflate(read, write);
}

}  // namespace kzb::zip
