// Traditional PKWARE encryption ("ZipCrypto") of entries: the three-key cipher, the 12-byte encryption
// header, and the password check.
//
// Three 32-bit keys start at 0x12345678, 0x23456789, 0x34567890 and are stirred by every password byte and
// then by every plaintext byte (CRC-32 table steps and a linear congruence). Each data byte is XORed with a
// key-stream byte taken from key 2. The header in front of an entry's data is 12 encrypted bytes: ten
// random bytes, then bits 16-23 and 24-31 of the entry's CRC-32; a reader checks the password by
// decrypting it and comparing the last byte (bits 8-15 of the DOS time instead of the CRC when the entry
// has a data descriptor). One byte of check means a wrong password passes about once in 256 tries; the
// CRC of the extracted data catches those.
//
// Random bytes of the header: ten bytes from the system's random source for every entry. (Readers only
// look at the check byte, so any bytes are compatible; predictable ones, such as a generator seeded from
// the clock, would give an attacker known plaintext for free.)
//
// Speed: the buffer routines keep the keys in locals and use the CRC table directly; nothing is allocated.
// The password is used byte for byte as held in memory (UTF-8 in this program).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "zip/stream/stream.h"

namespace kzb::zip {

class TZipHeaderInfo;

class TZipCrypt {
 public:
  // The published initial keys.
  static constexpr std::uint32_t kInitKey0 = 0x12345678;
  static constexpr std::uint32_t kInitKey1 = 0x23456789;
  static constexpr std::uint32_t kInitKey2 = 0x34567890;

  TZipCrypt() { InitKeys({}); }

  // Keys to their initial values, then UpdateKeys with each password byte.
  void InitKeys(std::string_view password);
  void UpdateKeys(std::uint8_t plain);
  // ((t * (t ^ 1)) >> 8) & 0xFF with t = (key2 & 0xFFFF) | 2; keys unchanged.
  std::uint8_t KeyStreamByte() const;
  // Returns plain ^ KeyStreamByte and updates the keys with plain.
  std::uint8_t EncryptByte(std::uint8_t plain);
  std::uint8_t DecryptByte(std::uint8_t cipher);
  // Decrypts in place.
  void DecryptBuffer(std::uint8_t* data, std::size_t count);
  // Encrypts count bytes from in to out (the same pointer is allowed; otherwise in stays plain).
  void EncryptBuffer(const std::uint8_t* in, std::uint8_t* out, std::size_t count);

  // Reads the 12-byte header from the stream, InitKeys(password), decrypts it and returns its last
  // plaintext byte; the keys are then ready for the entry's data. Returns -1 when fewer than 12 bytes
  // could be read. The caller reduces the entry's CompressedSize by 12.
  int CheckHeader(std::string_view password, TStream& stream);
  // The same on a header already in memory.
  std::uint8_t CheckHeaderBytes(std::string_view password, const std::uint8_t header[12]);

  // Builds the encrypted 12-byte header for an entry with this CRC from ten random bytes, and leaves the
  // keys ready to encrypt the entry's data.
  void MakeHeader(std::string_view password, std::uint32_t crc, const std::uint8_t random[10], std::uint8_t header[12]);
  // MakeHeader with ten bytes from the system's random source, written to the stream (ENotEnoughRoom when
  // the write is short).
  void WriteHeader(std::string_view password, std::uint32_t crc, TStream& stream);

  std::uint32_t Key0() const { return key0_; }
  std::uint32_t Key1() const { return key1_; }
  std::uint32_t Key2() const { return key2_; }

 private:
  std::uint32_t key0_ = kInitKey0;
  std::uint32_t key1_ = kInitKey1;
  std::uint32_t key2_ = kInitKey2;
};

// The byte a password check compares with: bits 8-15 of the DOS time when the entry has a data
// descriptor, else bits 24-31 of its CRC-32.
std::uint8_t ExpectedCheckByte(const TZipHeaderInfo& entry);

}  // namespace kzb::zip
