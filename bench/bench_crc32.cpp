// CRC-32 and ZipCrypto throughput: the engine's CRC-32 (dispatch and each implementation) against zlib's
// crc32 and libdeflate's libdeflate_crc32 on a 64 MiB buffer, and the traditional cipher's encrypt and
// decrypt loops. Each figure is the best of several runs; ratios are against zlib.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include "zip/crypt/zip_crypt.h"
#include "zip/records/crc32.h"

namespace {

double BestSeconds(int runs, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

volatile std::uint32_t g_sink;

}  // namespace

int main() {
  constexpr std::size_t kSize = 64u << 20;
  std::vector<std::uint8_t> data(kSize);
  std::mt19937_64 rng(42);
  for (std::size_t i = 0; i < kSize; i += 8) {
    const std::uint64_t v = rng();
    std::copy(reinterpret_cast<const std::uint8_t*>(&v), reinterpret_cast<const std::uint8_t*>(&v) + 8, &data[i]);
  }

  const auto zlib_crc = static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(kSize)));
  struct Row {
    const char* name;
    std::function<std::uint32_t()> fn;
    int runs;
  };
  const Row rows[] = {
      {"zlib crc32", [&] { return static_cast<std::uint32_t>(crc32(0, data.data(), static_cast<uInt>(kSize))); }, 5},
      {"libdeflate_crc32", [&] { return libdeflate_crc32(0, data.data(), kSize); }, 5},
      {"kzb UpdateCrc32", [&] { return kzb::zip::UpdateCrc32(0, data.data(), kSize); }, 5},
      {"kzb pclmul 128-bit", [&] { return kzb::zip::UpdateCrc32Clmul(0, data.data(), kSize); }, 5},
      {"kzb slicing-8", [&] { return kzb::zip::UpdateCrc32Slicing8(0, data.data(), kSize); }, 3},
      {"kzb bytewise", [&] { return kzb::zip::UpdateCrc32Bytewise(0, data.data(), kSize); }, 2},
  };
  std::printf("CRC-32 on %zu MiB (kzb dispatch: %s)\n", kSize >> 20, kzb::zip::Crc32Implementation());
  std::printf("%-20s %10s %10s %8s\n", "implementation", "GB/s", "vs zlib", "check");
  double zlib_seconds = 0;
  for (const auto& row : rows) {
    std::uint32_t result = 0;
    const double seconds = BestSeconds(row.runs, [&] { result = row.fn(); });
    if (zlib_seconds == 0) zlib_seconds = seconds;
    g_sink = result;
    std::printf("%-20s %10.2f %9.2fx %8s\n", row.name, kSize / seconds / 1e9, zlib_seconds / seconds,
                result == zlib_crc ? "ok" : "WRONG");
  }

  // The cipher over 16 MiB.
  constexpr std::size_t kCryptSize = 16u << 20;
  std::vector<std::uint8_t> out(kCryptSize);
  kzb::zip::TZipCrypt crypt;
  const double enc = BestSeconds(3, [&] {
    crypt.InitKeys("benchmark password");
    crypt.EncryptBuffer(data.data(), out.data(), kCryptSize);
  });
  const double dec = BestSeconds(3, [&] {
    crypt.InitKeys("benchmark password");
    crypt.DecryptBuffer(out.data(), kCryptSize);
  });
  g_sink = out[kCryptSize - 1];
  std::printf("\nZipCrypto on %zu MiB\n", kCryptSize >> 20);
  std::printf("%-20s %10.1f MB/s\n", "EncryptBuffer", kCryptSize / enc / 1e6);
  std::printf("%-20s %10.1f MB/s\n", "DecryptBuffer", kCryptSize / dec / 1e6);
  return 0;
}
