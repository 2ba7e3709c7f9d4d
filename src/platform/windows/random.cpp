// The system's random source on Windows: BCryptGenRandom with the system-preferred generator.
#include "platform/random.h"
#include "platform/windows/win_util.h"

// After windows.h, which it needs.
#include <bcrypt.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace kzb::platform {

void FillRandom(void* buffer, std::size_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    const auto chunk = static_cast<ULONG>(std::min<std::size_t>(count - done, 1u << 30));
    const NTSTATUS status = BCryptGenRandom(nullptr, out + done, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    if (status < 0) {
      throw ERandomError("The system's random source failed: status " + std::to_string(static_cast<long>(status)));
    }
    done += chunk;
  }
}

}  // namespace kzb::platform
