#include "zip/crypt/aes_entry_input.h"

#include <algorithm>
#include <array>
#include <utility>

#include "zip/records/zip_format.h"
#include "zip/zip_errors.h"

namespace kzb::zip {

TAesEntryInput::BeginResult TAesEntryInput::Begin(std::string_view password, TAesStrength strength,
                                                  std::int64_t stored_size, RawReadFn raw) {
  raw_ = std::move(raw);
  remaining_ = 0;
  const int salt_length = AesSaltLength(strength);
  if (stored_size < AesOverhead(strength)) return BeginResult::kDamaged;
  std::uint8_t preamble[kAesMaxSaltSize + kAesVerifierSize];
  const std::int64_t want = salt_length + kAesVerifierSize;
  if (raw_(preamble, want) != want) return BeginResult::kDamaged;
  if (!decryptor_.Begin(password, strength, preamble, preamble + salt_length)) return BeginResult::kBadPassword;
  remaining_ = stored_size - AesOverhead(strength);
  return BeginResult::kOk;
}

std::size_t TAesEntryInput::Read(std::uint8_t* buffer, std::size_t max) {
  if (remaining_ <= 0 || max == 0) return 0;
  const std::int64_t want = std::min<std::int64_t>(static_cast<std::int64_t>(max), remaining_);
  const std::int64_t got = raw_(buffer, want);
  if (got != want) {
    remaining_ = 0;
    throw EFatalUnzipError("Premature end of file reached");
  }
  decryptor_.Decrypt(buffer, static_cast<std::size_t>(got));
  remaining_ -= got;
  return static_cast<std::size_t>(got);
}

bool TAesEntryInput::Finish() {
  std::array<std::uint8_t, kSkipBlockSize> block;
  while (remaining_ > 0) {
    const std::int64_t want = std::min<std::int64_t>(static_cast<std::int64_t>(block.size()), remaining_);
    if (raw_(block.data(), want) != want) {
      remaining_ = 0;
      return false;
    }
    decryptor_.Authenticate(block.data(), static_cast<std::size_t>(want));
    remaining_ -= want;
  }
  std::uint8_t code[kAesAuthCodeSize];
  if (raw_(code, kAesAuthCodeSize) != kAesAuthCodeSize) return false;
  return decryptor_.Verify(code);
}

}  // namespace kzb::zip
