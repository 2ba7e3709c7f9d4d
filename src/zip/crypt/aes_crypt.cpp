#include "zip/crypt/aes_crypt.h"

#include <algorithm>

namespace kzb::zip {

int AesKeyLength(TAesStrength strength) {
  return 8 + 8 * static_cast<int>(strength);
}

int AesSaltLength(TAesStrength strength) {
  return AesKeyLength(strength) / 2;
}

int AesOverhead(TAesStrength strength) {
  return AesSaltLength(strength) + 2 + 10;
}

TAesKeys DeriveAesKeys(std::string_view password, const std::uint8_t* salt, TAesStrength strength) {
  const int key_length = AesKeyLength(strength);
  std::uint8_t derived[2 * 32 + 2];
  const std::size_t derived_length = static_cast<std::size_t>(2 * key_length + 2);
  Pbkdf2HmacSha1(password, salt, static_cast<std::size_t>(AesSaltLength(strength)), kAesKeyIterations, derived,
                 derived_length);
  TAesKeys keys;
  keys.strength = strength;
  std::copy(derived, derived + key_length, keys.encryption_key.begin());
  std::copy(derived + key_length, derived + 2 * key_length, keys.mac_key.begin());
  keys.verifier = {derived[2 * key_length], derived[2 * key_length + 1]};
  WipeBytes(derived, sizeof derived);
  return keys;
}

// --- Counter mode ---------------------------------------------------------------------------------------

TAesCtr::TAesCtr() = default;

TAesCtr::~TAesCtr() {
  WipeBytes(stream_.data(), stream_.size());
}

void TAesCtr::Init(const std::uint8_t* key, int key_length) {
  ecb_.SetKey(key, key_length);
  counter_low_ = 0;
  counter_high_ = 0;
  stream_used_ = 0;
  stream_size_ = 0;
}

void TAesCtr::Refill() {
  // The counter is a 128-bit little-endian number starting at 1.
  for (std::size_t b = 0; b < kBatchBlocks; ++b) {
    if (++counter_low_ == 0) ++counter_high_;
    std::uint8_t* block = counters_.data() + 16 * b;
    for (int i = 0; i < 8; ++i) {
      block[i] = static_cast<std::uint8_t>(counter_low_ >> (8 * i));
      block[8 + i] = static_cast<std::uint8_t>(counter_high_ >> (8 * i));
    }
  }
  ecb_.EncryptBlocks(counters_.data(), stream_.data(), counters_.size());
  stream_used_ = 0;
  stream_size_ = stream_.size();
}

void TAesCtr::Apply(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  while (count > 0) {
    if (stream_used_ == stream_size_) Refill();
    const std::size_t n = std::min(count, stream_size_ - stream_used_);
    const std::uint8_t* k = stream_.data() + stream_used_;
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(in[i] ^ k[i]);
    stream_used_ += n;
    in += n;
    out += n;
    count -= n;
  }
}

// --- One entry ------------------------------------------------------------------------------------------

int TAesEncryptor::Begin(std::string_view password, TAesStrength strength, const std::uint8_t* salt,
                         std::uint8_t preamble[kAesPreambleMax]) {
  TAesKeys keys = DeriveAesKeys(password, salt, strength);
  const int length = Begin(keys, salt, preamble);
  WipeBytes(&keys, sizeof keys);
  return length;
}

int TAesEncryptor::Begin(const TAesKeys& keys, const std::uint8_t* salt, std::uint8_t preamble[kAesPreambleMax]) {
  const int key_length = AesKeyLength(keys.strength);
  ctr_.Init(keys.encryption_key.data(), key_length);
  mac_.Init(keys.mac_key.data(), static_cast<std::size_t>(key_length));
  const int salt_length = AesSaltLength(keys.strength);
  std::copy(salt, salt + salt_length, preamble);
  preamble[salt_length] = keys.verifier[0];
  preamble[salt_length + 1] = keys.verifier[1];
  return salt_length + 2;
}

void TAesEncryptor::Encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  ctr_.Apply(in, out, count);
  mac_.Update(out, count);
}

std::array<std::uint8_t, 10> TAesEncryptor::Finish() {
  const auto full = mac_.Final();
  std::array<std::uint8_t, 10> code{};
  std::copy(full.begin(), full.begin() + 10, code.begin());
  return code;
}

bool TAesDecryptor::Begin(std::string_view password, TAesStrength strength, const std::uint8_t* salt,
                          const std::uint8_t verifier[2]) {
  TAesKeys keys = DeriveAesKeys(password, salt, strength);
  const bool match = keys.verifier[0] == verifier[0] && keys.verifier[1] == verifier[1];
  if (match) {
    const int key_length = AesKeyLength(strength);
    ctr_.Init(keys.encryption_key.data(), key_length);
    mac_.Init(keys.mac_key.data(), static_cast<std::size_t>(key_length));
  }
  WipeBytes(&keys, sizeof keys);
  return match;
}

void TAesDecryptor::Decrypt(std::uint8_t* data, std::size_t count) {
  mac_.Update(data, count);
  ctr_.Apply(data, data, count);
}

void TAesDecryptor::Authenticate(const std::uint8_t* data, std::size_t count) {
  mac_.Update(data, count);
}

bool TAesDecryptor::Verify(const std::uint8_t code[10]) {
  const auto full = mac_.Final();
  return EqualInConstantTime(full.data(), code, 10);
}

}  // namespace kzb::zip
