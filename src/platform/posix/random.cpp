// The system's random source on Linux: getrandom.
#include "platform/random.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include <sys/random.h>

namespace kzb::platform {

void FillRandom(void* buffer, std::size_t count) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < count) {
    // getrandom returns at most 32 MiB per call and may be cut short by a signal; go on until all is there.
    const ssize_t got = ::getrandom(out + done, count - done, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw ERandomError(std::string("The system's random source failed: ") + std::strerror(errno));
    }
    done += static_cast<std::size_t>(got);
  }
}

}  // namespace kzb::platform
