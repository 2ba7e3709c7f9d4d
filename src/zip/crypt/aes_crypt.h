// WinZip AES encryption of entries: key derivation, the counter mode the format fixes, and the
// authentication code; the cipher, HMAC-SHA1 and PBKDF2 themselves come from the system's cryptography
// library (crypto_primitives.h).
//
// One entry, with a key of 128, 192 or 256 bits (strength 1, 2, 3):
//   - a random salt of half the key length (8, 12 or 16 bytes) is stored first;
//   - PBKDF2-HMAC-SHA1 over the password and that salt, 1000 iterations, yields 2 * key length + 2 bytes:
//     the AES key, then the HMAC key, then a 2-byte password verifier, stored after the salt;
//   - the compressed bytes are encrypted with AES in counter mode: key-stream block i (from 0) is the
//     AES encryption of the counter value i + 1 written as a 16-byte little-endian number; a short last
//     block uses the front of its key-stream block;
//   - HMAC-SHA1 with the HMAC key over the encrypted bytes (not the salt or verifier), cut to its first
//     10 bytes, is stored after the data.
// A wrong password is caught by the verifier before any data is read, except once in 65536 tries; those,
// and any change to the stored bytes, are caught by the authentication code at the end. Nothing here
// decides what to do about that: the caller keeps or deletes its output.
//
// Every entry needs its own salt: the counter starts at 1 for every entry, so two entries under the same
// key would share their key stream.
//
// Speed: the key stream is made in batches of counter blocks with one ECB call (AES-NI pipelines them),
// then XORed in. Key derivation (2000 SHA-1 compressions per 20 bytes of keys) costs far more than a small
// entry's data; it is done once per entry.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "zip/crypt/crypto_primitives.h"

namespace kzb::zip {

// Key sizes, by the strength byte of the AES extra block.
enum class TAesStrength : std::uint8_t { kAes128 = 1, kAes192 = 2, kAes256 = 3 };

int AesKeyLength(TAesStrength strength);   // 16, 24, 32
int AesSaltLength(TAesStrength strength);  // 8, 12, 16
// Salt and verifier in front of the data plus the authentication code behind it.
int AesOverhead(TAesStrength strength);

// The format's iteration count of PBKDF2.
inline constexpr int kAesKeyIterations = 1000;

struct TAesKeys {
  TAesStrength strength = TAesStrength::kAes256;
  std::array<std::uint8_t, 32> encryption_key{};
  std::array<std::uint8_t, 32> mac_key{};
  std::array<std::uint8_t, 2> verifier{};
};
// Derives the keys of one entry from the password and its salt (AesSaltLength bytes).
TAesKeys DeriveAesKeys(std::string_view password, const std::uint8_t* salt, TAesStrength strength);

// AES in the format's counter mode. Apply XORs the key stream into the bytes, continuing where the last
// call stopped; the same call encrypts and decrypts.
class TAesCtr {
 public:
  TAesCtr();
  ~TAesCtr();
  TAesCtr(const TAesCtr&) = delete;
  TAesCtr& operator=(const TAesCtr&) = delete;

  void Init(const std::uint8_t* key, int key_length);
  // in and out may be the same buffer.
  void Apply(const std::uint8_t* in, std::uint8_t* out, std::size_t count);

 private:
  void Refill();

  // Key-stream blocks made per ECB call: large enough to keep the AES pipeline full, small enough to stay
  // in the first-level cache.
  static constexpr std::size_t kBatchBlocks = 256;

  TAesEcb ecb_;
  std::uint64_t counter_low_ = 0;  // the counter of the last block made, low and high 64 bits
  std::uint64_t counter_high_ = 0;
  std::array<std::uint8_t, kBatchBlocks * 16> counters_{};
  std::array<std::uint8_t, kBatchBlocks * 16> stream_{};
  std::size_t stream_used_ = 0;
  std::size_t stream_size_ = 0;
};

// The writing side of one entry.
class TAesEncryptor {
 public:
  // Salt (at most 16 bytes) and verifier.
  static constexpr int kAesPreambleMax = 18;

  // Derives the keys from password and salt (AesSaltLength bytes, from the system's random source).
  // preamble receives salt and verifier, the bytes stored in front of the data; returns their count.
  int Begin(std::string_view password, TAesStrength strength, const std::uint8_t* salt,
            std::uint8_t preamble[kAesPreambleMax]);
  // The same with keys already derived from the salt.
  int Begin(const TAesKeys& keys, const std::uint8_t* salt, std::uint8_t preamble[kAesPreambleMax]);
  // Encrypts count bytes from in to out (may be the same buffer).
  void Encrypt(const std::uint8_t* in, std::uint8_t* out, std::size_t count);
  // The authentication code stored behind the data.
  std::array<std::uint8_t, 10> Finish();

 private:
  TAesCtr ctr_;
  THmacSha1 mac_;
};

// The reading side of one entry.
class TAesDecryptor {
 public:
  // Derives the keys from password and the stored salt; false when the stored verifier does not match
  // (a wrong password), and then nothing is ready to decrypt.
  bool Begin(std::string_view password, TAesStrength strength, const std::uint8_t* salt,
             const std::uint8_t verifier[2]);
  // Authenticates and decrypts count bytes in place.
  void Decrypt(std::uint8_t* data, std::size_t count);
  // Authenticates bytes that are not needed in plain form (what a decoder left unread).
  void Authenticate(const std::uint8_t* data, std::size_t count);
  // Compares the stored authentication code with the one computed over every byte passed in (in constant
  // time); true when the entry is intact.
  bool Verify(const std::uint8_t code[10]);

 private:
  TAesCtr ctr_;
  THmacSha1 mac_;
};

}  // namespace kzb::zip
