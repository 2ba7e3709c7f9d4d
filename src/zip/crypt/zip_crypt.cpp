#include "zip/crypt/zip_crypt.h"

#include "platform/random.h"
#include "zip/records/crc32.h"
#include "zip/records/zip_format.h"
#include "zip/records/zip_header_info.h"

namespace kzb::zip {

namespace {
constexpr std::uint32_t kKeyMultiplier = 134775813;  // 0x08088405

// The per-byte work on keys held in locals (the compiler keeps them in registers across a buffer).
inline void Stir(std::uint32_t& k0, std::uint32_t& k1, std::uint32_t& k2, std::uint8_t plain) {
  k0 = Crc32Step(k0, plain);
  k1 = (k1 + (k0 & 0xFF)) * kKeyMultiplier + 1;
  k2 = Crc32Step(k2, static_cast<std::uint8_t>(k1 >> 24));
}

inline std::uint8_t StreamByte(std::uint32_t k2) {
  const std::uint32_t t = (k2 & 0xFFFF) | 2;
  return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
}
}  // namespace

void TZipCrypt::InitKeys(std::string_view password) {
  key0_ = kInitKey0;
  key1_ = kInitKey1;
  key2_ = kInitKey2;
  for (char c : password) UpdateKeys(static_cast<std::uint8_t>(c));
}

void TZipCrypt::UpdateKeys(std::uint8_t plain) {
  Stir(key0_, key1_, key2_, plain);
}

std::uint8_t TZipCrypt::KeyStreamByte() const {
  return StreamByte(key2_);
}

std::uint8_t TZipCrypt::EncryptByte(std::uint8_t plain) {
  const std::uint8_t cipher = plain ^ StreamByte(key2_);
  Stir(key0_, key1_, key2_, plain);
  return cipher;
}

std::uint8_t TZipCrypt::DecryptByte(std::uint8_t cipher) {
  const std::uint8_t plain = cipher ^ StreamByte(key2_);
  Stir(key0_, key1_, key2_, plain);
  return plain;
}

void TZipCrypt::DecryptBuffer(std::uint8_t* data, std::size_t count) {
  std::uint32_t k0 = key0_, k1 = key1_, k2 = key2_;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t plain = data[i] ^ StreamByte(k2);
    data[i] = plain;
    Stir(k0, k1, k2, plain);
  }
  key0_ = k0;
  key1_ = k1;
  key2_ = k2;
}

void TZipCrypt::EncryptBuffer(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
  std::uint32_t k0 = key0_, k1 = key1_, k2 = key2_;
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t plain = in[i];
    out[i] = plain ^ StreamByte(k2);
    Stir(k0, k1, k2, plain);
  }
  key0_ = k0;
  key1_ = k1;
  key2_ = k2;
}

std::uint8_t TZipCrypt::CheckHeaderBytes(std::string_view password, const std::uint8_t header[12]) {
  InitKeys(password);
  std::uint8_t plain[kEncryptionHeaderSize];
  for (int i = 0; i < kEncryptionHeaderSize; ++i) plain[i] = header[i];
  DecryptBuffer(plain, kEncryptionHeaderSize);
  return plain[kEncryptionHeaderSize - 1];
}

int TZipCrypt::CheckHeader(std::string_view password, TStream& stream) {
  std::uint8_t header[kEncryptionHeaderSize];
  if (stream.Read(header, kEncryptionHeaderSize) != kEncryptionHeaderSize) return -1;
  return CheckHeaderBytes(password, header);
}

void TZipCrypt::MakeHeader(std::string_view password, std::uint32_t crc, const std::uint8_t random[10],
                           std::uint8_t header[12]) {
  InitKeys(password);
  for (int i = 0; i < 10; ++i) header[i] = EncryptByte(random[i]);
  header[10] = EncryptByte(static_cast<std::uint8_t>(crc >> 16));
  header[11] = EncryptByte(static_cast<std::uint8_t>(crc >> 24));
}

void TZipCrypt::WriteHeader(std::string_view password, std::uint32_t crc, TStream& stream) {
  std::uint8_t random[kEncryptionHeaderSize - 2];
  platform::FillRandom(random, sizeof random);
  std::uint8_t header[kEncryptionHeaderSize];
  MakeHeader(password, crc, random, header);
  stream.WriteBuffer(header, kEncryptionHeaderSize);
}

std::uint8_t ExpectedCheckByte(const TZipHeaderInfo& entry) {
  if (entry.HasDataDescriptor()) return static_cast<std::uint8_t>(entry.FileDateTime() >> 8);
  return static_cast<std::uint8_t>(entry.Crc32() >> 24);
}

}  // namespace kzb::zip
