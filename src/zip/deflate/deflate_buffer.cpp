#include "zip/deflate/deflate_buffer.h"

#include <algorithm>
#include <cstring>

namespace kzb::zip {

CompressedBuffer DeflateBuffer(TDeflater& deflater, std::span<const std::uint8_t> input, int level,
                               std::size_t read_chunk) {
  CompressedBuffer out;
  std::size_t position = 0;
  const std::size_t chunk = std::max<std::size_t>(read_chunk, 1);
  auto read = [&](std::uint8_t* buffer, std::int64_t max) -> std::int64_t {
    const std::size_t n = std::min({static_cast<std::size_t>(max), input.size() - position, chunk});
    if (n > 0) std::memcpy(buffer, input.data() + position, n);
    position += n;
    return static_cast<std::int64_t>(n);
  };
  auto write = [&](const std::uint8_t* data, std::int64_t count) {
    out.data.insert(out.data.end(), data, data + count);
  };
  out.result = deflater.DeflateFile(level, read, write);
  return out;
}

CompressedBuffer DeflateBuffer(std::span<const std::uint8_t> input, int level, std::size_t read_chunk) {
  TDeflater deflater;
  return DeflateBuffer(deflater, input, level, read_chunk);
}

}  // namespace kzb::zip
