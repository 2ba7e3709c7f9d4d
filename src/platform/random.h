// The system's random source, for salts and the random bytes of encryption headers.
//
// Bytes come from the system's cryptographic generator (getrandom on Linux, BCryptGenRandom on Windows), never from the
// clock or a seeded generator: a salt that repeats or can be guessed weakens every archive written with it.
#pragma once

#include <cstddef>
#include <stdexcept>

namespace kzb::platform {

// The random source could not deliver (the kernel refused, or the call is not available).
class ERandomError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Fills count bytes with unpredictable values; blocks only while the system's generator is not yet seeded
// (early boot). Raises ERandomError when the source fails; never returns fewer bytes.
void FillRandom(void* buffer, std::size_t count);

}  // namespace kzb::platform
